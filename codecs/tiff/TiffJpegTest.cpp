// JPEG data inside TIFF files on hand-made files: which CMYK data is stored inverted, and the old form's
// streams wherever writers put them.
//
// testdata: cmyk-adobe.jpg is written by ImageMagick (an Adobe marker with the YCCK transform, inks stored
// inverted); cmyk-jpeg-adobe-tables.tif splits it into JPEGTables (with the marker) and a strip without it,
// the way some writers keep the marker with the tables; cmyk-jpeg-plain.tif holds plain inks and no
// marker. The .ppm files are the reference decodes: ImageMagick's of the standalone JPEG, tiff2rgba's of
// the plain file.
#include "codecs/tiff/TiffTestHelpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace tifftest;
using B = TTiffBuilder;

const std::string kData = FOLIANTO_TESTDATA_DIR;

constexpr std::uint16_t kCompressionJpeg = 7, kCompressionOldJpeg = 6, kSeparated = 5;
constexpr std::uint16_t tagInterchangeFormat = 513, tagInterchangeFormatLength = 514;

// The standalone CMYK JPEG as a TIFF: one strip, or the old form's interchange stream.
std::vector<std::uint8_t> WrapCmykJpeg(const std::vector<std::uint8_t>& jpeg, bool oldForm) {
    B b;
    auto& d = b.AddDirectory();
    B::Image(d, 32, 24, 8, 4, kSeparated, oldForm ? kCompressionOldJpeg : kCompressionJpeg, 24, {jpeg});
    if (oldForm) {
        // The strip is the stream: point the interchange tags at it (the builder puts it at offset 8).
        B::Long(d, tagInterchangeFormat, 8);
        B::Long(d, tagInterchangeFormatLength, std::uint32_t(jpeg.size()));
    }
    return b.Build();
}

struct TCmykCase {
    const char* Name;
    std::vector<std::uint8_t> (*File)();
    const char* Reference;
};

const TCmykCase kCmykCases[] = {
    {"AdobeMarkerInTheTables",
     [] { return testsupport::ReadFileBytes(kData + "/cmyk-jpeg-adobe-tables.tif"); },
     "cmyk-jpeg-adobe-tables.ppm"},
    {"AdobeMarkerInTheStrip",
     [] { return WrapCmykJpeg(testsupport::ReadFileBytes(kData + "/cmyk-adobe.jpg"), false); },
     "cmyk-jpeg-adobe-tables.ppm"},
    {"AdobeMarkerInTheOldFormStream",
     [] { return WrapCmykJpeg(testsupport::ReadFileBytes(kData + "/cmyk-adobe.jpg"), true); },
     "cmyk-jpeg-adobe-tables.ppm"},
    // The old form with JPEGInterchangeFormat three bytes past the marker and a length past the file.
    {"OldFormOffsetAndLengthOff",
     [] { return testsupport::ReadFileBytes(kData + "/old-jpeg-offset-off.tif"); },
     "cmyk-jpeg-adobe-tables.ppm"},
    {"NoMarkerPlainInks", [] { return testsupport::ReadFileBytes(kData + "/cmyk-jpeg-plain.tif"); },
     "cmyk-jpeg-plain.ppm"},
};

void PrintTo(const TCmykCase& c, std::ostream* os) {
    *os << c.Name;
}

class TiffCmykJpegTest : public testing::TestWithParam<TCmykCase> {};

TEST_P(TiffCmykJpegTest, InvertsOnlyMarkedData) {
    const TCmykCase& c = GetParam();
    const auto r = ReadBytes(c.File());
    ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
    testsupport::RgbImage reference;
    ASSERT_TRUE(testsupport::ReadPnm(kData + "/" + c.Reference, reference));
    const auto img = ToRgb(r->Bitmap);
    // Different IDCTs and colour conversions: close, not identical. Inverted inks would be far off.
    EXPECT_GT(testsupport::Psnr(img, reference), 35.0);
    EXPECT_LE(testsupport::MaxDifference(img, reference), 12);
}

INSTANTIATE_TEST_SUITE_P(Files, TiffCmykJpegTest, testing::ValuesIn(kCmykCases),
                         [](const testing::TestParamInfo<TCmykCase>& i) {
                             return std::string(i.param.Name);
                         });

// ---- The old form's stream wherever writers left it.

std::vector<std::uint8_t> CmykJpeg() {
    return testsupport::ReadFileBytes(kData + "/cmyk-adobe.jpg");
}

struct TOldFormCase {
    const char* Name;
    std::size_t Junk;         // bytes before the stream in the first strip
    std::int64_t OffsetShift; // JPEGInterchangeFormat relative to the stream (-1: tag absent)
    std::uint32_t Length;     // JPEGInterchangeFormatLength (0: tag absent)
    std::size_t Split;        // the stream cut into two strips at this byte (0: one strip)
    const char* Refusal;      // empty: decodes like the standalone stream
};

constexpr std::uint32_t kHugeLength = 0x7FFFFFF0;

const TOldFormCase kOldFormCases[] = {
    {"OffsetRight", 0, 0, 0, 0, ""},
    {"OffsetAFewBytesEarly", 6, -6, 0, 0, ""},
    {"OffsetAFewBytesLate", 6, 4, 0, 0, ""},
    {"LengthPastTheFile", 0, 0, kHugeLength, 0, ""},
    {"NoInterchangeTagStreamInTheStrips", 0, -1, 0, 400, ""},
    {"NoInterchangeTagOneStrip", 0, -1, 0, 0, ""},
    // Coded data alone in the strips and no tables in tags or anywhere else.
    {"NoInterchangeTagNoStream", 0, -1, 0, 0, "unsupported: old-style JPEG without an interchange stream"},
};

void PrintTo(const TOldFormCase& c, std::ostream* os) {
    *os << c.Name;
}

class TiffOldJpegTest : public testing::TestWithParam<TOldFormCase> {};

TEST_P(TiffOldJpegTest, FindsTheStream) {
    const TOldFormCase& c = GetParam();
    std::vector<std::uint8_t> jpeg = CmykJpeg();
    ASSERT_GT(jpeg.size(), 500u);
    if (*c.Refusal) { // coded data alone: no tables anywhere
        std::size_t at = 2;
        const auto length = [&](std::size_t i) { return std::size_t(jpeg[i + 2]) << 8 | jpeg[i + 3]; };
        while (at + 4 <= jpeg.size() && jpeg[at + 1] != 0xDA) at += 2 + length(at);
        ASSERT_LT(at + 4, jpeg.size());
        jpeg.erase(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(at + 2 + length(at)));
    }
    std::vector<std::uint8_t> first(c.Junk, 0x55);
    std::vector<std::vector<std::uint8_t>> strips;
    if (c.Split) {
        first.insert(first.end(), jpeg.begin(), jpeg.begin() + std::ptrdiff_t(c.Split));
        strips = {first, std::vector<std::uint8_t>(jpeg.begin() + std::ptrdiff_t(c.Split), jpeg.end())};
    } else {
        first.insert(first.end(), jpeg.begin(), jpeg.end());
        strips = {first};
    }
    B b;
    auto& d = b.AddDirectory();
    B::Image(d, 32, 24, 8, 4, kSeparated, kCompressionOldJpeg, c.Split ? 12 : 24, strips);
    if (c.OffsetShift >= 0 || c.OffsetShift < -1) // the first strip starts at offset 8
        B::Long(d, tagInterchangeFormat, std::uint32_t(8 + std::int64_t(c.Junk) + c.OffsetShift));
    if (c.Length) B::Long(d, tagInterchangeFormatLength, c.Length);
    const auto r = ReadBytes(b.Build());
    if (*c.Refusal) {
        EXPECT_TRUE(r->Aborted);
        EXPECT_EQ(r->Outcome.Refusal, c.Refusal);
        return;
    }
    ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
    testsupport::RgbImage reference;
    ASSERT_TRUE(testsupport::ReadPnm(kData + "/cmyk-jpeg-adobe-tables.ppm", reference));
    EXPECT_GT(testsupport::Psnr(ToRgb(r->Bitmap), reference), 35.0);
}

INSTANTIATE_TEST_SUITE_P(Files, TiffOldJpegTest, testing::ValuesIn(kOldFormCases),
                         [](const testing::TestParamInfo<TOldFormCase>& i) {
                             return std::string(i.param.Name);
                         });

} // namespace
