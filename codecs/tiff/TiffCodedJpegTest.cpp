// Which TIFF JPEG pages carry their data into a PDF: hand-built directories, the joined stream's bytes.
#include "codecs/tiff/TiffCodedJpeg.h"

#include "codecs/tiff/TiffTestHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
using tifftest::TTiffBuilder;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kJpeg = 7, kOldJpeg = 6;
constexpr std::uint16_t kTagTables = 347, kTagPlanar = 284, kTagTileWidth = 322, kTagInkSet = 332;
const Bytes kStrip = {0xFF, 0xD8, 0xFF, 0xC0, 0xAA, 0xFF, 0xD9};
const Bytes kTables = {0xFF, 0xD8, 0xFF, 0xDB, 0x11, 0x22, 0xFF, 0xD9};

struct JpegCase {
    const char* Name;
    std::uint32_t Compression = kJpeg;
    int Photometric = 6;
    std::uint32_t Samples = 3;
    std::uint32_t RowsPerStrip = 8;
    std::vector<Bytes> Strips = {kStrip};
    Bytes Tables = {};
    std::uint16_t ExtraTag = 0; // set to ExtraValue when non-zero
    std::uint32_t ExtraValue = 0;
    bool CodedAsJpeg = true;
    bool Carriable = false;
    TTiffJpegColours Colours = TTiffJpegColours::YCbCr;
    Bytes Data = {}; // expected joined stream when carriable
};

class TiffCodedJpegTest : public testing::TestWithParam<JpegCase> {};

TEST_P(TiffCodedJpegTest, Directory) {
    const JpegCase& c = GetParam();
    TTiffBuilder b;
    auto& d = b.AddDirectory();
    TTiffBuilder::Image(d, 8, 8, 8, c.Samples, c.Photometric, c.Compression, c.RowsPerStrip, c.Strips);
    if (!c.Tables.empty()) d.Raw[kTagTables] = c.Tables;
    if (c.ExtraTag) TTiffBuilder::Short(d, c.ExtraTag, c.ExtraValue);
    const Bytes file = b.Build();
    TReadOnlyMemoryStream stream(file.data(), std::int64_t(file.size()));
    const TTiffCodedJpeg j = ProbeTiffJpegData(stream, 0);
    EXPECT_EQ(j.CodedAsJpeg, c.CodedAsJpeg) << j.Refusal;
    ASSERT_EQ(j.Carriable, c.Carriable) << j.Refusal;
    if (!c.Carriable) {
        EXPECT_FALSE(j.Refusal.empty());
        return;
    }
    EXPECT_EQ(j.Colours, c.Colours);
    EXPECT_EQ(j.Data, c.Data);
}

const Bytes kJoined = {0xFF, 0xD8, 0xFF, 0xDB, 0x11, 0x22, 0xFF, 0xC0, 0xAA, 0xFF, 0xD9};
// Tables written without their end-of-image marker still join.
const Bytes kOpenTables = {0xFF, 0xD8, 0xFF, 0xDB, 0x11, 0x22};

const JpegCase kCases[] = {
    {.Name = "StripAlone", .Carriable = true, .Data = kStrip},
    {.Name = "TablesBeforeTheFrame", .Tables = kTables, .Carriable = true, .Data = kJoined},
    {.Name = "TablesWithoutEnd", .Tables = kOpenTables, .Carriable = true, .Data = kJoined},
    {.Name = "Grey",
     .Photometric = 1,
     .Samples = 1,
     .Carriable = true,
     .Colours = TTiffJpegColours::Gray,
     .Data = kStrip},
    {.Name = "Rgb", .Photometric = 2, .Carriable = true, .Colours = TTiffJpegColours::Rgb, .Data = kStrip},
    {.Name = "Cmyk",
     .Photometric = 5,
     .Samples = 4,
     .Carriable = true,
     .Colours = TTiffJpegColours::Cmyk,
     .Data = kStrip},
    {.Name = "OtherInks", .Photometric = 5, .Samples = 4, .ExtraTag = kTagInkSet, .ExtraValue = 2},
    {.Name = "WhiteIsZero", .Photometric = 0, .Samples = 1},
    {.Name = "RgbWithAlpha", .Photometric = 2, .Samples = 4},
    {.Name = "SeveralStrips", .RowsPerStrip = 4, .Strips = {kStrip, kStrip}},
    {.Name = "SeparatePlanes", .ExtraTag = kTagPlanar, .ExtraValue = 2},
    {.Name = "Tiles", .ExtraTag = kTagTileWidth, .ExtraValue = 16},
    {.Name = "StripWithoutStartOfImage", .Strips = {{0x00, 0x00, 0xFF, 0xD9}}},
    {.Name = "TablesWithoutStartOfImage", .Tables = {0x00, 0xDB, 0xFF, 0xD9}},
    {.Name = "ShortStrip", .Strips = {{0xFF, 0xD8}}},
    {.Name = "OldForm", .Compression = kOldJpeg, .CodedAsJpeg = false},
    {.Name = "Fax", .Compression = 4, .Photometric = 0, .Samples = 1, .CodedAsJpeg = false},
};
INSTANTIATE_TEST_SUITE_P(Built, TiffCodedJpegTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
