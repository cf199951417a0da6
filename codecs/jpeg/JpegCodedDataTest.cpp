// Which JPEG data can be carried unchanged: built marker by marker, so each case changes one thing.
#include "codecs/jpeg/JpegCodedData.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
using Bytes = std::vector<std::uint8_t>;

void Segment(Bytes& out, std::uint8_t marker, const Bytes& payload) {
    out.push_back(0xFF);
    out.push_back(marker);
    const std::size_t length = payload.size() + 2;
    out.push_back(std::uint8_t(length >> 8));
    out.push_back(std::uint8_t(length));
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes Frame(std::uint8_t precision, int width, int height, const Bytes& ids) {
    Bytes p = {precision,           std::uint8_t(height >> 8), std::uint8_t(height), std::uint8_t(width >> 8),
               std::uint8_t(width), std::uint8_t(ids.size())};
    for (const std::uint8_t id : ids) p.insert(p.end(), {id, 0x11, 0});
    return p;
}

const Bytes kJfif = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
const Bytes kAdobe = {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 2};

struct ProbeCase {
    const char* Name;
    std::uint8_t Sof;
    std::uint8_t Precision;
    Bytes Ids;
    bool Jfif, Adobe;
    bool Carriable;
    TJpegCodedColours Colours;
    int Height = 48;
};
class JpegCodedDataTest : public testing::TestWithParam<ProbeCase> {};

TEST_P(JpegCodedDataTest, CarriesWhatPdfDecodersRead) {
    const ProbeCase& c = GetParam();
    Bytes data = {0xFF, 0xD8};
    if (c.Jfif) Segment(data, 0xE0, kJfif);
    Segment(data, 0xFE, {'h', 'i'});
    if (c.Adobe) Segment(data, 0xEE, kAdobe);
    data.push_back(0xFF); // a fill byte before a marker is allowed
    Segment(data, c.Sof, Frame(c.Precision, 64, c.Height, c.Ids));
    Segment(data, 0xDA, {1, 1, 0, 0, 63, 0});
    data.insert(data.end(), {0x12, 0x34, 0xFF, 0xD9});
    const TJpegCodedInfo info = ProbeJpegCodedData(data);
    EXPECT_EQ(info.Carriable, c.Carriable) << info.Refusal;
    EXPECT_EQ(info.Refusal.empty(), c.Carriable);
    if (!c.Carriable) return;
    EXPECT_EQ(info.Width, 64);
    EXPECT_EQ(info.Height, c.Height);
    EXPECT_EQ(info.Components, int(c.Ids.size()));
    EXPECT_EQ(info.Colours, c.Colours);
    EXPECT_EQ(info.Progressive, c.Sof == 0xC2);
    EXPECT_EQ(info.AdobeMarker, c.Adobe);
}
using C = TJpegCodedColours;
const ProbeCase kProbeCases[] = {
    {"BaselineYCbCr", 0xC0, 8, {1, 2, 3}, true, false, true, C::YCbCrOrRgb},
    {"ExtendedSequential", 0xC1, 8, {1, 2, 3}, true, false, true, C::YCbCrOrRgb},
    {"Progressive", 0xC2, 8, {1, 2, 3}, true, false, true, C::YCbCrOrRgb},
    {"Grey", 0xC0, 8, {1}, true, false, true, C::Gray},
    {"AdobeCmyk", 0xC0, 8, {1, 2, 3, 4}, false, true, true, C::Cmyk},
    {"PlainCmyk", 0xC0, 8, {1, 2, 3, 4}, false, false, true, C::Cmyk},
    {"AdobeRgb", 0xC0, 8, {'R', 'G', 'B'}, false, true, true, C::YCbCrOrRgb},
    {"RgbIdsWithoutMarker", 0xC0, 8, {'R', 'G', 'B'}, false, false, false, C::YCbCrOrRgb},
    {"Arithmetic", 0xC9, 8, {1, 2, 3}, true, false, false, C::YCbCrOrRgb},
    {"ArithmeticProgressive", 0xCA, 8, {1, 2, 3}, true, false, false, C::YCbCrOrRgb},
    {"Lossless", 0xC3, 8, {1}, true, false, false, C::Gray},
    {"Hierarchical", 0xC5, 8, {1}, true, false, false, C::Gray},
    {"TwelveBit", 0xC1, 12, {1, 2, 3}, true, false, false, C::YCbCrOrRgb},
    {"TwoComponents", 0xC0, 8, {1, 2}, true, false, false, C::YCbCrOrRgb},
    {"HeightFromDnl", 0xC0, 8, {1}, true, false, false, C::Gray, 0},
};
INSTANTIATE_TEST_SUITE_P(Frames, JpegCodedDataTest, testing::ValuesIn(kProbeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Cut or malformed marker sequences are refused, never read past.
TEST(JpegCodedDataTest, DamagedMarkersAreRefused) {
    Bytes good = {0xFF, 0xD8};
    Segment(good, 0xC0, Frame(8, 8, 8, {1}));
    Segment(good, 0xDA, {1, 1, 0, 0, 63, 0});
    ASSERT_TRUE(ProbeJpegCodedData(good).Carriable);
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(ProbeJpegCodedData(std::span(good).first(cut)).Carriable) << cut;
    Bytes shortLength = good;
    shortLength[4] = 0;
    shortLength[5] = 1; // a length below its own two bytes
    EXPECT_FALSE(ProbeJpegCodedData(shortLength).Carriable);
    Bytes noFrame = {0xFF, 0xD8};
    Segment(noFrame, 0xDA, {1, 1, 0, 0, 63, 0});
    EXPECT_FALSE(ProbeJpegCodedData(noFrame).Carriable);
    Bytes late = {0, 0xFF, 0xD8}; // the reader finds this start, but the file's bytes are more than the JPEG
    late.insert(late.end(), good.begin() + 2, good.end());
    EXPECT_FALSE(ProbeJpegCodedData(late).Carriable);
}
} // namespace
