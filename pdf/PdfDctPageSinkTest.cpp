// A photo's encoding taken over by a helper thread part way gives the page the sink makes alone,
// byte for byte, whenever the helper comes; a helper that comes too late is turned away.
#include "pdf/PdfDctPageSink.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {
constexpr int kWidth = 97;
constexpr int kHeight = 420;

std::vector<std::uint8_t> Picture() {
    std::vector<std::uint8_t> bgr(std::size_t(kWidth) * kHeight * 3);
    for (std::size_t i = 0; i < bgr.size(); ++i) bgr[i] = std::uint8_t((i * 37) ^ (i >> 9));
    return bgr;
}

void SetPage(TIOParamsVals& params) {
    params.SamplesPerPixel = 3;
    params.PdfPaperWidth = 595;
    params.PdfPaperHeight = 842;
}

std::vector<std::uint8_t> ImageBytes(TIEPDFEncodedPage& page) {
    TMemoryStream out;
    if (page.Image) page.Image->WriteTo(out);
    return out.Bytes();
}

struct THelpCase {
    const char* Name;
    int AskAt;      // rows given before the helper asks; -1: before Begin
    int StopAt;     // rows given in all: fewer than kHeight leaves the page incomplete
    bool Answer;    // what AskForHelp says
    bool HelpsLate; // Help is called only once the rows have ended
};

class DctPageSinkHelp : public ::testing::TestWithParam<THelpCase> {};

TEST_P(DctPageSinkHelp, TheHelpedPageIsTheSame) {
    const THelpCase& c = GetParam();
    const std::vector<std::uint8_t> picture = Picture();
    const auto row = [&](int y) { return picture.data() + std::size_t(y) * kWidth * 3; };

    TIOParamsVals alone;
    SetPage(alone);
    TDctPageSink single;
    ASSERT_TRUE(single.Begin(alone, kWidth, kHeight));
    for (int y = 0; y < kHeight; ++y) single.Row(row(y));
    TIEPDFEncodedPage expected = single.Finish(alone);
    ASSERT_TRUE(expected.Image);

    TIOParamsVals params;
    SetPage(params);
    std::optional<TDctPageSink> sink(std::in_place);
    std::jthread helper;
    const auto ask = [&] {
        EXPECT_EQ(sink->AskForHelp(), c.Answer);
        if (c.Answer && !c.HelpsLate) {
            helper = std::jthread([&] { sink->Help(); });
            // Gives the helper time to be ready, so that the next row hands over.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    if (c.AskAt < 0) ask();
    ASSERT_TRUE(sink->Begin(params, kWidth, kHeight));
    for (int y = 0; y < c.StopAt; ++y) {
        if (y == c.AskAt) ask();
        sink->Row(row(y));
    }
    if (c.Answer && c.HelpsLate) helper = std::jthread([&] { sink->Help(); });
    if (c.StopAt < kHeight) {
        sink.reset(); // a load that failed part way: the sink goes, and waits for its helper
        return;
    }
    sink->Settle();
    EXPECT_EQ(sink->Helped(), c.Answer && !c.HelpsLate);
    EXPECT_TRUE(sink->Complete());
    TIEPDFEncodedPage page = sink->Finish(params);
    EXPECT_TRUE(ImageBytes(page) == ImageBytes(expected));
    EXPECT_FALSE(sink->AskForHelp()); // a finished page takes no help
}

const THelpCase kHelpCases[] = {
    {"before the rows begin", -1, kHeight, false, false},
    {"at the first row", 0, kHeight, true, false},
    {"mid-batch", 133, kHeight, true, false},
    {"with few rows left", kHeight - 100, kHeight, false, false},
    {"after the rows ended", 200, kHeight, true, true},
    {"and the load fails", 40, 300, true, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, DctPageSinkHelp, ::testing::ValuesIn(kHelpCases), [](const auto& info) {
    std::string name = info.param.Name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});
} // namespace
