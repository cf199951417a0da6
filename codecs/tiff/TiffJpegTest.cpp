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

} // namespace
