#include "codecs/wbmp/WbmpReader.h"

#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

struct TRead {
    bool Aborting = false;
    TIOParamsVals Params;
    TIEBitmap Bitmap;
    std::vector<int> Percents;
    TIELoadOutcome Outcome;
};

void Read(TRead& r, const std::vector<std::uint8_t>& bytes, bool headerOnly = false) {
    TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
    TIEProgressRecord progress([&r](void*, int p) { r.Percents.push_back(p); }, nullptr, r.Aborting);
    ReadWbmpStream(s, r.Bitmap, r.Params, headerOnly, progress);
    r.Outcome = progress.Outcome;
}

bool White(TIEBitmap& b, int x, int y) {
    return (b.RowPointer(y)[x >> 3] >> (7 - (x & 7))) & 1;
}

TEST(ReadWbmpStream, WidthTwelveReadsTwoBytesPerRow) {
    TRead r;
    Read(r, {0, 0, 12, 2, 0b10000000, 0b00010000, 0b01111111, 0b11110000});
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.PixelType(), ie1Bit);
    EXPECT_EQ(r.Params.ImageWidth, 12);
    EXPECT_EQ(r.Params.BitsPerSample, 1);
    EXPECT_EQ(r.Params.SamplesPerPixel, 1);
    EXPECT_EQ(r.Params.HorizontalDpi, DefaultDpiX);
    for (int x = 0; x < 12; ++x) {
        EXPECT_EQ(White(r.Bitmap, x, 0), x == 0 || x == 11) << x;
        EXPECT_EQ(White(r.Bitmap, x, 1), x != 0) << x;
    }
    EXPECT_EQ(r.Percents, (std::vector<int>{0, 50}));
}

TEST(ReadWbmpStream, SizesOf128AndMoreAreMultiByteIntegers) {
    // Width 300 = 0x82 0x2C, height 128 = 0x81 0x00.
    std::vector<std::uint8_t> bytes = {0, 0, 0x82, 0x2C, 0x81, 0x00};
    for (int y = 0; y < 128; ++y)
        for (int i = 0; i < 38; ++i) bytes.push_back(std::uint8_t(y == 5 && i == 37 ? 0x10 : 0));
    TRead r;
    Read(r, bytes);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.ImageWidth, 300);
    EXPECT_EQ(r.Params.ImageHeight, 128);
    EXPECT_TRUE(White(r.Bitmap, 299, 5));
    EXPECT_FALSE(White(r.Bitmap, 298, 5));
    EXPECT_FALSE(White(r.Bitmap, 299, 127));
}

TEST(ReadWbmpStream, BadHeadersAbortAndShortDataStaysWhite) {
    constexpr const char* kNotWbmp = "not a WBMP image of type 0";
    const std::tuple<const char*, std::vector<std::uint8_t>, const char*> bad[] = {
        {"TypeOne", {1, 0, 8, 1, 0}, kNotWbmp},
        {"ExtensionHeaders", {0, 0x80, 8, 1, 0}, kNotWbmp},
        {"ZeroWidth", {0, 0, 0, 1}, kNotWbmp},
        {"ZeroHeight", {0, 0, 8, 0}, kNotWbmp},
        {"CutInsideTheSize", {0, 0, 0x81}, kNotWbmp},
        {"SizeBeyond32Bits", {0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 1}, kNotWbmp},
        {"FarMoreThanTheStreamHolds",
         {0, 0, 0x87, 0xFF, 0x7F, 0x87, 0xFF, 0x7F, 0},
         "image larger than the file can hold"},
        {"CutInsideTheFirstRow", {0, 0, 16, 3, 0x00}, "data ends before the first row"},
    };
    for (const auto& [name, bytes, reason] : bad) {
        TRead r;
        Read(r, bytes);
        EXPECT_TRUE(r.Aborting) << name;
        EXPECT_EQ(r.Outcome.Refusal, reason) << name;
    }
    TRead r;
    Read(r, {0, 0, 16, 3, 0x00, 0x0F});
    ASSERT_FALSE(r.Aborting);
    EXPECT_FALSE(White(r.Bitmap, 0, 0));
    EXPECT_TRUE(White(r.Bitmap, 15, 0));
    EXPECT_TRUE(White(r.Bitmap, 0, 2));
    EXPECT_EQ(r.Outcome.FirstMissingRow, 1);
    EXPECT_EQ(r.Outcome.LastMissingRow, 2);

    TRead header;
    header.Bitmap.Reallocate(2, 2, ie8Gray);
    Read(header, {0, 0, 16, 3}, true);
    EXPECT_FALSE(header.Aborting);
    EXPECT_EQ(header.Params.ImageHeight, 3);
    EXPECT_EQ(header.Bitmap.Width(), 2);
}

TEST(IsWbmpStream, NeedsAValidHeaderAndTheRows) {
    const std::pair<std::vector<std::uint8_t>, bool> cases[] = {
        {{0, 0, 12, 1, 0xFF, 0xF0}, true},
        {{0, 0, 12, 1, 0xFF}, false},
        {{1, 0, 8, 1, 0}, false},
        {{0, 0, 0, 1}, false},
        {{}, false},
    };
    for (const auto& [bytes, expected] : cases) {
        TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
        EXPECT_EQ(IsWbmpStream(s), expected);
        EXPECT_EQ(s.Position(), 0);
    }
}

class WbmpCorpus : public ::testing::TestWithParam<testsupport::CorpusEntry> {};
TEST_P(WbmpCorpus, MatchesImageMagick) {
    FOLIANTO_REQUIRE_CORPUS();
    const auto& entry = GetParam();
    const std::string path = testsupport::CorpusDir() + "/" + entry.Path;
    TRead r;
    Read(r, testsupport::ReadFileBytes(path));
    if (entry.IsBad()) return;
    ASSERT_FALSE(r.Aborting);
    if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    testsupport::RgbImage ref;
    ASSERT_TRUE(testsupport::DecodeWithImageMagick(path, ref));
    ASSERT_EQ(r.Bitmap.Width(), ref.Width);
    ASSERT_EQ(r.Bitmap.Height(), ref.Height);
    int mismatches = 0;
    for (int y = 0; y < ref.Height; ++y)
        for (int x = 0; x < ref.Width; ++x)
            mismatches += (White(r.Bitmap, x, y) ? 255 : 0) != ref.At(x, y)[0];
    EXPECT_EQ(mismatches, 0);
}
INSTANTIATE_TEST_SUITE_P(Corpus, WbmpCorpus, ::testing::ValuesIn(testsupport::CorpusCases("wbmp")),
                         [](const auto& info) {
                             std::string n = std::to_string(info.index) + "_" + info.param.Path;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

} // namespace
