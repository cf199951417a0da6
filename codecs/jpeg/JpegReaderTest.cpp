#include "codecs/jpeg/JpegReader.h"

#include "codecs/jpeg/ExifReader.h"
#include "codecs/jpeg/JpegErrorManager.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include <jpeglib.h>

namespace {

using testsupport::RgbImage;

// ---- A small libjpeg encoder, so each case controls exactly what the file holds.

struct TEncode {
    int Width = 16, Height = 16;
    J_COLOR_SPACE In = JCS_RGB;      // what Pixel delivers
    J_COLOR_SPACE Coded = JCS_YCbCr; // what the file holds
    bool Jfif = true;                // libjpeg's own APP0
    bool Adobe = true;               // libjpeg's own APP14 where the colour space calls for one
    int DensityUnit = 0, XDensity = 1, YDensity = 1;
    bool Progressive = false;
    int Quality = 100;
    std::vector<TIEMarker> Markers; // written after the JFIF header, in order
    std::function<std::uint8_t(int x, int y, int c)> Pixel = [](int x, int y, int c) {
        return std::uint8_t((x * 13 + y * 7 + c * 50) & 0xFF);
    };
};

int ComponentsOf(J_COLOR_SPACE cs) {
    return cs == JCS_GRAYSCALE ? 1 : cs == JCS_CMYK ? 4 : 3;
}

void SetUpCompressor(jpeg_compress_struct& c, const TEncode& e) {
    c.image_width = JDIMENSION(e.Width);
    c.image_height = JDIMENSION(e.Height);
    c.input_components = ComponentsOf(e.In);
    c.in_color_space = e.In;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, e.Coded);
    for (int i = 0; i < c.num_components; ++i)
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_set_quality(&c, e.Quality, TRUE);
    c.write_JFIF_header = e.Jfif ? TRUE : FALSE;
    if (!e.Adobe) c.write_Adobe_marker = FALSE;
    c.density_unit = UINT8(e.DensityUnit);
    c.X_density = UINT16(e.XDensity);
    c.Y_density = UINT16(e.YDensity);
    if (e.Progressive) jpeg_simple_progression(&c);
}

void WriteRows(jpeg_compress_struct& c, const TEncode& e) {
    const int n = ComponentsOf(e.In);
    std::vector<JSAMPLE> row(std::size_t(e.Width) * n);
    while (c.next_scanline < c.image_height) {
        const int y = int(c.next_scanline);
        for (int x = 0; x < e.Width; ++x)
            for (int k = 0; k < n; ++k) row[std::size_t(x) * n + k] = e.Pixel(x, y, k);
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
}

std::vector<std::uint8_t> Encode(const TEncode& e) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    SetUpCompressor(c, e);
    jpeg_start_compress(&c, TRUE);
    for (const TIEMarker& m : e.Markers)
        jpeg_write_marker(&c, m.Code, m.Data.data(), unsigned(m.Data.size()));
    WriteRows(c, e);
    jpeg_finish_compress(&c);
    std::vector<std::uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// The same image as a tables-only stream and an abbreviated image stream.
void EncodeAbbreviated(const TEncode& e, std::vector<std::uint8_t>& tables,
                       std::vector<std::uint8_t>& image) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    SetUpCompressor(c, e);
    c.write_JFIF_header = FALSE;
    jpeg_write_tables(&c);
    tables.assign(out, out + size);
    std::free(out);
    out = nullptr;
    size = 0;
    jpeg_mem_dest(&c, &out, &size);
    jpeg_start_compress(&c, FALSE);
    WriteRows(c, e);
    jpeg_finish_compress(&c);
    image.assign(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
}

TIEMarker Marker(std::uint8_t code, const std::string& text) {
    return TIEMarker{code, std::vector<std::uint8_t>(text.begin(), text.end())};
}
std::vector<std::uint8_t> JfifPayload(int unit, int x, int y) {
    return {'J',
            'F',
            'I',
            'F',
            0,
            1,
            1,
            std::uint8_t(unit),
            std::uint8_t(x >> 8),
            std::uint8_t(x),
            std::uint8_t(y >> 8),
            std::uint8_t(y),
            0,
            0};
}

// ---- Reading

struct TRead {
    bool Aborting = false;
    TIOParamsVals Params;
    TIEBitmap Bitmap;
    std::vector<int> Percents;
    TIELoadOutcome Outcome;
};

void Read(TRead& r, const std::vector<std::uint8_t>& bytes, bool headerOnly = false, bool raw = false,
          const std::vector<std::uint8_t>* tables = nullptr) {
    TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
    TReadOnlyMemoryStream t(tables ? tables->data() : nullptr, tables ? std::int64_t(tables->size()) : 0);
    TIEProgressRecord progress([&r](void*, int p) { r.Percents.push_back(p); }, nullptr, r.Aborting);
    ReadJpegStream(s, tables ? &t : nullptr, r.Bitmap, r.Params, progress, headerOnly, raw);
    r.Outcome = progress.Outcome;
}

RgbImage ToRgb(TIEBitmap& b) {
    RgbImage img;
    img.Width = b.Width();
    img.Height = b.Height();
    img.Pixels.resize(std::size_t(img.Width) * img.Height * 3);
    for (int y = 0; y < img.Height; ++y) {
        const std::uint8_t* row = b.RowPointer(y);
        for (int x = 0; x < img.Width; ++x) {
            std::uint8_t* p = &img.Pixels[(std::size_t(y) * img.Width + x) * 3];
            p[0] = row[x * 3 + 2];
            p[1] = row[x * 3 + 1];
            p[2] = row[x * 3];
        }
    }
    return img;
}

std::array<int, 3> RgbAt(TIEBitmap& b, int x, int y) {
    const std::uint8_t* p = b.RowPointer(y) + x * 3;
    return {p[2], p[1], p[0]};
}

// ---- Start of data

TEST(FindJpegStart, LooksAtOneHundredPositionsAndRestoresThePosition) {
    const std::vector<std::uint8_t> jpeg = Encode({});
    for (int junk : {0, 1, 98, 99, 100, 150}) {
        std::vector<std::uint8_t> bytes(std::size_t(junk + 5), 0xAA);
        bytes.insert(bytes.begin() + 5 + junk, jpeg.begin(), jpeg.end());
        TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
        s.SetPosition(5);
        EXPECT_EQ(FindJpegStart(s), junk < 100 ? 5 + junk : -1) << junk;
        EXPECT_EQ(s.Position(), 5);
        EXPECT_EQ(IsJpegStream(s), junk < 100);
    }
    const std::uint8_t shortData[] = {0xFF, 0xD8};
    TReadOnlyMemoryStream s(shortData, 2);
    EXPECT_EQ(FindJpegStart(s), -1);
}

TEST(ReadJpegStream, NinetyNineJunkBytesLoadAndOneHundredAbortAtOnce) {
    const std::vector<std::uint8_t> jpeg = Encode({});
    TRead plain;
    Read(plain, jpeg);
    ASSERT_FALSE(plain.Aborting);
    for (int junk : {99, 100}) {
        std::vector<std::uint8_t> bytes(std::size_t(junk), 0x00);
        bytes.insert(bytes.end(), jpeg.begin(), jpeg.end());
        TRead r;
        r.Params.ImageWidth = 777;
        r.Params.JpegWarningCount = 5;
        Read(r, bytes);
        EXPECT_EQ(r.Aborting, junk == 100);
        EXPECT_EQ(r.Params.JpegWarningCount, 0);
        if (junk == 99) {
            EXPECT_EQ(testsupport::MaxDifference(ToRgb(r.Bitmap), ToRgb(plain.Bitmap)), 0);
        } else {
            EXPECT_EQ(r.Params.ImageWidth, 777); // nothing else touched
            EXPECT_TRUE(r.Params.JpegMarkers.empty());
        }
    }
}

TEST(ReadJpegStream, EmptyAndHeaderlessStreamsAbort) {
    const std::pair<std::vector<std::uint8_t>, const char*> cases[] = {
        {{}, "not a JPEG file"},
        {{0xFF, 0xD8, 0xFF}, "data ends before the first row"},
        {{0xFF, 0xD8, 0xFF, 0xD9}, "no image in the file"},
    };
    for (const auto& [bytes, reason] : cases) {
        TRead r;
        Read(r, bytes);
        EXPECT_TRUE(r.Aborting);
        EXPECT_EQ(r.Outcome.Refusal, reason);
    }
}

// ---- Colour spaces

TEST(ReadJpegStream, GreyscaleLoadsAsEqualBytes) {
    TEncode e;
    e.In = e.Coded = JCS_GRAYSCALE;
    e.Width = 13;
    e.Height = 9;
    TRead r;
    Read(r, Encode(e));
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.PixelType(), ie24Rgb);
    EXPECT_EQ(r.Params.SamplesPerPixel, 1);
    EXPECT_EQ(r.Params.BitsPerSample, 8);
    EXPECT_EQ(r.Params.JpegColorSpace, 1);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x) {
            const auto p = RgbAt(r.Bitmap, x, y);
            EXPECT_EQ(p[0], p[1]);
            EXPECT_EQ(p[1], p[2]);
            EXPECT_NEAR(p[0], e.Pixel(x, y, 0), 2);
        }
}

// Each 8 x 8 block is flat, so quality 100 stores the values exactly.
std::uint8_t CmykBlockValue(int x, int c) {
    static const std::uint8_t kBlocks[3][4] = {{255, 255, 255, 255}, {0, 100, 200, 255}, {10, 20, 30, 128}};
    return kBlocks[std::min(x / 8, 2)][c];
}

// With an Adobe marker the stored inks are inverted; without one (TIFF's JPEG data) they are the
// inks themselves. The same colours must come out either way.
class CmykInkTest : public testing::TestWithParam<bool> {};
TEST_P(CmykInkTest, InkFormulaOnEveryColumn) {
    const bool adobe = GetParam();
    TEncode e;
    e.In = e.Coded = JCS_CMYK;
    e.Jfif = false;
    e.Adobe = adobe;
    e.Width = 17; // the last block is one column wide
    e.Height = 8;
    e.Pixel = [adobe](int x, int, int c) {
        const std::uint8_t v = CmykBlockValue(x, c);
        return adobe ? v : std::uint8_t(255 - v);
    };
    TRead r;
    Read(r, Encode(e));
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.JpegColorSpace, 3);
    EXPECT_EQ(r.Params.SamplesPerPixel, 4);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(RgbAt(r.Bitmap, x, y), (std::array<int, 3>{255, 255, 255}));
        for (int x = 8; x < 16; ++x) EXPECT_EQ(RgbAt(r.Bitmap, x, y), (std::array<int, 3>{0, 100, 200}));
        // 10 * 128 / 255 = 5.02, 20 * 128 / 255 = 10.04, 30 * 128 / 255 = 15.06: rounded down
        EXPECT_EQ(RgbAt(r.Bitmap, 16, y), (std::array<int, 3>{5, 10, 15}));
    }
}
INSTANTIATE_TEST_SUITE_P(ReadJpegStream, CmykInkTest, testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "AdobeInverted" : "Straight");
});

TEST(ReadJpegStream, YcckIsConvertedThroughCmyk) {
    TEncode e;
    e.In = JCS_CMYK;
    e.Coded = JCS_YCCK;
    e.Jfif = false;
    e.Width = 17;
    e.Height = 8;
    e.Pixel = [](int x, int, int c) { return CmykBlockValue(x, c); };
    TRead r;
    Read(r, Encode(e));
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.JpegColorSpace, 4);
    EXPECT_EQ(r.Params.SamplesPerPixel, 4);
    const auto mid = RgbAt(r.Bitmap, 12, 4);
    EXPECT_NEAR(mid[0], 0, 3);
    EXPECT_NEAR(mid[1], 100, 3);
    EXPECT_NEAR(mid[2], 200, 3);
}

TEST(ReadJpegStream, RgbCodedDataComesOutBlueGreenRed) {
    TEncode e;
    e.Coded = JCS_RGB;
    e.Jfif = false;
    e.Pixel = [](int, int, int c) { return std::uint8_t(c == 0 ? 200 : c == 1 ? 100 : 50); };
    TRead r;
    Read(r, Encode(e));
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.JpegColorSpace, 0);
    EXPECT_EQ(RgbAt(r.Bitmap, 5, 5), (std::array<int, 3>{200, 100, 50}));
    const std::uint8_t* row = r.Bitmap.RowPointer(5);
    EXPECT_EQ(row[5 * 3], 50); // blue first in memory
}

TEST(ReadJpegStream, RawComponentsDeliverTheCodedYCbCr) {
    TEncode e;
    e.Pixel = [](int, int, int c) { return std::uint8_t(c == 0 ? 200 : c == 1 ? 100 : 50); };
    TRead r;
    Read(r, Encode(e), false, true);
    ASSERT_FALSE(r.Aborting);
    const std::uint8_t* p = r.Bitmap.RowPointer(3) + 3 * 3;
    // JFIF YCbCr of (200, 100, 50)
    EXPECT_NEAR(p[0], 0.299 * 200 + 0.587 * 100 + 0.114 * 50, 1.5);
    EXPECT_NEAR(p[1], 128 - 0.168736 * 200 - 0.331264 * 100 + 0.5 * 50, 1.5);
    EXPECT_NEAR(p[2], 128 + 0.5 * 200 - 0.418688 * 100 - 0.081312 * 50, 1.5);

    e.Coded = JCS_RGB; // RGB-coded data comes through in its coded order
    e.Jfif = false;
    TRead rgb;
    Read(rgb, Encode(e), false, true);
    ASSERT_FALSE(rgb.Aborting);
    const std::uint8_t* q = rgb.Bitmap.RowPointer(3) + 3 * 3;
    EXPECT_EQ((std::array<int, 3>{q[0], q[1], q[2]}), (std::array<int, 3>{200, 100, 50}));

    e.In = e.Coded = JCS_GRAYSCALE; // cannot be delivered as YCbCr
    TRead grey;
    Read(grey, Encode(e), false, true);
    EXPECT_TRUE(grey.Aborting);
}

// ---- Resolution

struct TDensityCase {
    const char* Name;
    bool Jfif;
    int Unit, X, Y;
    int ExpectH, ExpectV;
};
const TDensityCase kDensityCases[] = {
    {"CentimetresTruncated", true, 2, 118, 28, 299, 71},
    {"AspectOneToOne", true, 0, 1, 1, 1, 1},
    {"AspectRatioAsItStands", true, 0, 2, 3, 2, 3},
    {"Inches", true, 1, 72, 300, 72, 300},
    {"NoJfifMarker", false, 0, 0, 0, 1, 1},
    {"UnknownUnitLeavesFields", true, 3, 50, 50, 555, 666},
};
class JpegDensity : public ::testing::TestWithParam<TDensityCase> {};
TEST_P(JpegDensity, SetsResolution) {
    const TDensityCase& c = GetParam();
    TEncode e;
    e.Jfif = false;
    if (c.Jfif) e.Markers.push_back({0xE0, JfifPayload(c.Unit, c.X, c.Y)});
    TRead r;
    r.Params.HorizontalDpi = 555;
    r.Params.VerticalDpi = 666;
    Read(r, Encode(e), true);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.HorizontalDpi, c.ExpectH);
    EXPECT_EQ(r.Params.VerticalDpi, c.ExpectV);
}
INSTANTIATE_TEST_SUITE_P(Units, JpegDensity, ::testing::ValuesIn(kDensityCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Scale

struct TScaleCase {
    const char* Name;
    int Scale, WantW, WantH;
    int Denominator, Width, Height;
};
const TScaleCase kScaleCases[] = {
    {"AutoEighth", 0, 100, 100, 8, 200, 150},
    {"AutoNoRequest", 0, 0, 0, 1, 1600, 1200},
    {"AutoQuarter", 0, 201, 100, 4, 400, 300},
    {"AutoExactHalf", 0, 800, 600, 2, 800, 600},
    {"AutoNoneFits", 0, 2000, 10, 1, 1600, 1200},
    {"AutoNegative", 0, -5, 100, 1, 1600, 1200},
    {"Full", 1, 0, 0, 1, 1600, 1200},
    {"Half", 2, 0, 0, 2, 800, 600},
    {"Quarter", 3, 0, 0, 4, 400, 300},
    {"Eighth", 4, 0, 0, 8, 200, 150},
    {"OtherValueKeepsDefault", 9, 0, 0, 1, 1600, 1200},
};
class JpegScale : public ::testing::TestWithParam<TScaleCase> {};
TEST_P(JpegScale, ChoosesTheDenominator) {
    const TScaleCase& c = GetParam();
    static const std::vector<std::uint8_t> big = [] {
        TEncode e;
        e.In = e.Coded = JCS_GRAYSCALE;
        e.Width = 1600;
        e.Height = 1200;
        e.Quality = 50;
        e.Pixel = [](int x, int y, int) { return std::uint8_t((x / 100 + y / 100) * 16); };
        return Encode(e);
    }();
    TRead r;
    r.Params.JpegScale = std::uint8_t(c.Scale);
    r.Params.ImageWidth = c.WantW;
    r.Params.ImageHeight = c.WantH;
    Read(r, big, c.Denominator == 1); // the reduced sizes are decoded in full
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.JpegScaleUsed, c.Denominator);
    EXPECT_EQ(r.Params.ImageWidth, c.Width);
    EXPECT_EQ(r.Params.ImageHeight, c.Height);
    EXPECT_EQ(r.Params.UnscaledWidth, 1600);
    EXPECT_EQ(r.Params.UnscaledHeight, 1200);
    if (c.Denominator != 1) {
        EXPECT_EQ(r.Bitmap.Width(), c.Width);
        EXPECT_EQ(r.Bitmap.Height(), c.Height);
    }
}
INSTANTIATE_TEST_SUITE_P(Scales, JpegScale, ::testing::ValuesIn(kScaleCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Markers

struct TMarkerCase {
    const char* Name;
    bool Jfif;
    std::vector<TIEMarker> Written;
    std::vector<std::uint8_t> Expected; // codes
};
TEST(ReadJpegStream, MarkerListDropsOnlyALeadingApp0) {
    const TMarkerCase cases[] = {
        {"JfifThenExif", true, {Marker(0xE1, "Exif")}, {0xE1}},
        {"CommentBeforeApp0", false, {Marker(0xFE, "hello"), {0xE0, JfifPayload(0, 1, 1)}}, {0xFE, 0xE0}},
        {"LaterApp0Kept", true, {Marker(0xE1, "x"), {0xE0, JfifPayload(0, 1, 1)}}, {0xE1, 0xE0}},
        {"AllApplicationMarkers",
         false,
         {Marker(0xE2, "a"), Marker(0xEF, "b"), Marker(0xFE, "c")},
         {0xE2, 0xEF, 0xFE}},
    };
    for (const TMarkerCase& c : cases) {
        TEncode e;
        e.Jfif = c.Jfif;
        e.Markers = c.Written;
        TRead r;
        r.Params.JpegMarkers.push_back(Marker(0xE5, "stale"));
        Read(r, Encode(e), true);
        ASSERT_FALSE(r.Aborting) << c.Name;
        std::vector<std::uint8_t> codes;
        for (const TIEMarker& m : r.Params.JpegMarkers) codes.push_back(m.Code);
        EXPECT_EQ(codes, c.Expected) << c.Name;
    }
}

TEST(ReadJpegStream, MarkersAreKeptWhole) {
    TEncode e;
    std::string big(65533, 'x'); // the largest payload a segment can hold
    big[0] = 'A';
    big.back() = 'Z';
    e.Markers = {Marker(0xE2, big), Marker(0xFE, "comment")};
    TRead r;
    Read(r, Encode(e));
    ASSERT_FALSE(r.Aborting);
    ASSERT_EQ(r.Params.JpegMarkers.size(), 2u);
    EXPECT_EQ(r.Params.JpegMarkers[0].Data, std::vector<std::uint8_t>(big.begin(), big.end()));
    EXPECT_EQ(std::string(r.Params.JpegMarkers[1].Data.begin(), r.Params.JpegMarkers[1].Data.end()),
              "comment");
}

// ---- Whole reads

TEST(ReadJpegStream, ProgressiveDecodesFully) {
    TEncode e;
    e.Width = 40;
    e.Height = 30;
    e.Quality = 90;
    TRead baseline;
    Read(baseline, Encode(e));
    e.Progressive = true;
    TRead r;
    Read(r, Encode(e));
    ASSERT_FALSE(r.Aborting);
    EXPECT_TRUE(r.Params.JpegProgressive);
    EXPECT_FALSE(baseline.Params.JpegProgressive);
    EXPECT_EQ(r.Params.JpegWarningCount, 0);
    EXPECT_GE(testsupport::Psnr(ToRgb(r.Bitmap), ToRgb(baseline.Bitmap)), 40.0);
}

TEST(ReadJpegStream, HeaderOnlyLeavesTheBitmapAlone) {
    TEncode e;
    e.Width = 64;
    e.Height = 48;
    e.Markers = {Marker(0xFE, "c")};
    e.DensityUnit = 1;
    e.XDensity = e.YDensity = 96;
    TRead r;
    r.Bitmap.Reallocate(3, 3, ie8Gray);
    r.Params.JpegScale = 2;
    Read(r, Encode(e), true);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.Width(), 3);
    EXPECT_EQ(r.Bitmap.PixelType(), ie8Gray);
    EXPECT_EQ(r.Params.ImageWidth, 32);
    EXPECT_EQ(r.Params.ImageHeight, 24);
    EXPECT_EQ(r.Params.UnscaledWidth, 64);
    EXPECT_EQ(r.Params.JpegColorSpace, 2);
    EXPECT_EQ(r.Params.HorizontalDpi, 96);
    EXPECT_EQ(r.Params.JpegMarkers.size(), 1u);
    EXPECT_TRUE(r.Percents.empty());
}

TEST(ReadJpegStream, TruncatedDataDeliversEveryRowWithAWarning) {
    TEncode e;
    e.Width = 64;
    e.Height = 64;
    std::vector<std::uint8_t> bytes = Encode(e);
    bytes.resize(bytes.size() / 2);
    TRead r;
    Read(r, bytes);
    EXPECT_FALSE(r.Aborting);
    EXPECT_GE(r.Params.JpegWarningCount, 1);
    EXPECT_NE(r.Params.JpegWarningCode, 0);
    EXPECT_EQ(r.Bitmap.Height(), 64);
    EXPECT_EQ(r.Percents.back(), 100);
}

// ---- A cut file keeps the rows its data reached and names the rows the decoder only padded.

struct TCutCase {
    const char* Name;
    bool Progressive;
    int Percent; // of the file kept
};

class JpegCut : public ::testing::TestWithParam<TCutCase> {};

TEST_P(JpegCut, NamesTheRowsItPadded) {
    const TCutCase& c = GetParam();
    TEncode e;
    e.Width = 48;
    e.Height = 96;
    e.Progressive = c.Progressive;
    const std::vector<std::uint8_t> whole = Encode(e);
    TRead full;
    Read(full, whole);
    ASSERT_FALSE(full.Aborting);
    EXPECT_FALSE(full.Outcome.DataEndsEarly);

    std::vector<std::uint8_t> bytes = whole;
    bytes.resize(bytes.size() * std::size_t(c.Percent) / 100);
    TRead r;
    Read(r, bytes);
    ASSERT_FALSE(r.Aborting) << r.Outcome.Refusal;
    EXPECT_TRUE(r.Outcome.DataEndsEarly);
    if (c.Progressive) { // every scan covers the whole image: no run of rows is missing
        EXPECT_FALSE(r.Outcome.MissingRowsKnown());
        return;
    }
    ASSERT_TRUE(r.Outcome.MissingRowsKnown());
    EXPECT_EQ(r.Outcome.LastMissingRow, 95);
    // The rows before the gap come from the file: the same as in the whole file's decode.
    const int first = r.Outcome.FirstMissingRow;
    EXPECT_GT(first, 96 * (c.Percent - 25) / 100);
    EXPECT_LT(first, 96 * c.Percent / 100);
    const RgbImage a = ToRgb(r.Bitmap), b = ToRgb(full.Bitmap);
    EXPECT_EQ(std::memcmp(a.Pixels.data(), b.Pixels.data(), std::size_t(first) * 48 * 3), 0);
}

INSTANTIATE_TEST_SUITE_P(Reader, JpegCut,
                         ::testing::Values(TCutCase{"Baseline40", false, 40},
                                           TCutCase{"Baseline70", false, 70},
                                           TCutCase{"Baseline95", false, 95},
                                           TCutCase{"Progressive70", true, 70}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ReadJpegStream, CutBeforeTheFirstRowGivesNoImage) {
    TEncode e;
    e.Width = 48;
    e.Height = 96;
    std::vector<std::uint8_t> bytes = Encode(e);
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) // just after the start of scan header
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) {
            bytes.resize(i + 2 + (std::size_t(bytes[i + 2]) << 8 | bytes[i + 3]) + 8);
            break;
        }
    TRead r;
    Read(r, bytes);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, "data ends before the first row");
}

// A stream that raises on a read starting at or past Limit (and gives at most the bytes up to it): the
// failure comes from inside a library call, and the read ends as for damaged data, keeping its rows.
class TRaisingReadStream : public TReadOnlyMemoryStream {
public:
    TRaisingReadStream(const std::vector<std::uint8_t>& bytes, std::int64_t limit)
        : TReadOnlyMemoryStream(bytes.data(), std::int64_t(bytes.size())), Limit(limit) {}
    std::int64_t Read(void* buffer, std::int64_t count) override {
        if (Position() >= Limit) throw std::runtime_error("device gone");
        return TReadOnlyMemoryStream::Read(buffer, std::min(count, Limit - Position()));
    }
    std::int64_t Limit;
};
struct TRaisingReadCase {
    const char* Name;
    std::int64_t Limit;
    const char* Refusal;
    bool KeepsFirstRow;
};
const TRaisingReadCase kRaisingReadCases[] = {
    {"InTheHeader", 200, "damaged JPEG header", false}, // the tables alone take more bytes
    {"InTheRows", 65536 + 100, "damaged JPEG data", true},
};
class JpegRaisingRead : public ::testing::TestWithParam<TRaisingReadCase> {};
TEST_P(JpegRaisingRead, EndsAsDamagedData) {
    const TRaisingReadCase& c = GetParam();
    TEncode e;
    e.Width = e.Height = 256;
    e.Pixel = [](int x, int y, int ch) {
        return std::uint8_t((x * 2654435761u ^ y * 40503u ^ ch * 977u) >> 3);
    };
    const std::vector<std::uint8_t> bytes = Encode(e);
    ASSERT_GT(bytes.size(), std::size_t(2 * 65536)); // the rows need a second buffer fill
    TRead clean;
    Read(clean, bytes);
    ASSERT_FALSE(clean.Aborting);

    TRead r;
    TRaisingReadStream s(bytes, c.Limit);
    TIEProgressRecord progress(r.Aborting);
    ReadJpegStream(s, nullptr, r.Bitmap, r.Params, progress, false, false);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(progress.Outcome.Refusal, c.Refusal);
    if (c.KeepsFirstRow) {
        ASSERT_EQ(r.Bitmap.Height(), 256);
        EXPECT_EQ(std::memcmp(r.Bitmap.RowPointer(0), clean.Bitmap.RowPointer(0), 256 * 3), 0);
        EXPECT_NE(std::memcmp(r.Bitmap.RowPointer(255), clean.Bitmap.RowPointer(255), 256 * 3), 0);
    }
}
INSTANTIATE_TEST_SUITE_P(Reader, JpegRaisingRead, ::testing::ValuesIn(kRaisingReadCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ReadJpegStream, ProgressReachesOneHundredAndAnAbortStopsTheRows) {
    TEncode e;
    e.Height = 40;
    const std::vector<std::uint8_t> bytes = Encode(e);
    TRead r;
    Read(r, bytes);
    ASSERT_FALSE(r.Aborting);
    ASSERT_EQ(r.Percents.size(), 40u);
    EXPECT_EQ(r.Percents.front(), 2);
    EXPECT_EQ(r.Percents.back(), 100);

    bool aborting = false;
    int calls = 0;
    TIOParamsVals params;
    TIEBitmap bitmap;
    TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
    TIEProgressRecord progress(
        [&](void*, int) {
            ++calls;
            aborting = true;
        },
        nullptr, aborting);
    ReadJpegStream(s, nullptr, bitmap, params, progress, false);
    EXPECT_TRUE(aborting);
    EXPECT_EQ(calls, 1);
    // Rows never decoded are black, not left as they were.
    for (int y = 1; y < 40; ++y) EXPECT_EQ(RgbAt(bitmap, 7, y), (std::array<int, 3>{0, 0, 0}));
}

TEST(ReadJpegStream, TablesStreamCompletesAnAbbreviatedImage) {
    TEncode e;
    e.Width = 24;
    e.Height = 16;
    std::vector<std::uint8_t> tables, image;
    EncodeAbbreviated(e, tables, image);
    TRead full;
    Read(full, Encode(e));

    TRead r;
    Read(r, image, false, false, &tables);
    ASSERT_FALSE(r.Aborting);
    EXPECT_GE(testsupport::Psnr(ToRgb(r.Bitmap), ToRgb(full.Bitmap)), 40.0);

    TRead missing; // without the quantisation tables the image cannot decode
    Read(missing, image);
    EXPECT_TRUE(missing.Aborting);

    // A failure in the tables stream itself leaves the read as the library's exception.
    const std::vector<std::uint8_t> garbage = {0x00, 0x11, 0x22, 0x33}; // no start-of-image marker
    TRead bad;
    EXPECT_THROW(Read(bad, image, false, false, &garbage), EIEJpegException);
    EXPECT_TRUE(bad.Aborting);
}

TEST(ReadJpegStream, StatedSizeFarBeyondTheDataIsRefused) {
    TEncode e;
    e.In = e.Coded = JCS_GRAYSCALE;
    std::vector<std::uint8_t> bytes = Encode(e);
    // Patch the frame header to 60000 x 60000.
    for (std::size_t i = 0; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = bytes[i + 7] = 60000 >> 8;
            bytes[i + 6] = bytes[i + 8] = 60000 & 0xFF;
            break;
        }
    }
    TRead r;
    Read(r, bytes);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, "image larger than the file can hold");
    EXPECT_EQ(r.Params.UnscaledWidth, 60000);
}

// ---- EXIF and IPTC blocks

// A TIFF-structured block in either byte order: entries first, then their out-of-line values.
class TExifBuilder {
public:
    explicit TExifBuilder(bool bigEndian) : Big(bigEndian) {}
    struct TEntry {
        std::uint16_t Tag, Type;
        std::uint32_t Count;
        std::vector<std::uint8_t> Value; // in file order; > 4 bytes goes out of line
        std::int64_t ForcedOffset = -1;
    };
    std::vector<TEntry> Entries;
    int ClaimedCount = -1;

    std::vector<std::uint8_t> U16(std::uint32_t v) const {
        return Big ? std::vector<std::uint8_t>{std::uint8_t(v >> 8), std::uint8_t(v)}
                   : std::vector<std::uint8_t>{std::uint8_t(v), std::uint8_t(v >> 8)};
    }
    std::vector<std::uint8_t> U32(std::uint32_t v) const {
        auto hi = U16(v >> 16), lo = U16(v & 0xFFFF);
        if (Big)
            hi.insert(hi.end(), lo.begin(), lo.end());
        else
            lo.insert(lo.end(), hi.begin(), hi.end());
        return Big ? hi : lo;
    }
    std::vector<std::uint8_t> Rational(std::uint32_t n, std::uint32_t d) const {
        auto v = U32(n), dv = U32(d);
        v.insert(v.end(), dv.begin(), dv.end());
        return v;
    }
    std::vector<std::uint8_t> Build() const {
        std::vector<std::uint8_t> out = {std::uint8_t(Big ? 'M' : 'I'), std::uint8_t(Big ? 'M' : 'I')};
        const auto put = [&out](const std::vector<std::uint8_t>& v) {
            out.insert(out.end(), v.begin(), v.end());
        };
        put(U16(42));
        put(U32(8));
        put(U16(ClaimedCount >= 0 ? std::uint32_t(ClaimedCount) : std::uint32_t(Entries.size())));
        std::uint32_t extra = std::uint32_t(8 + 2 + 12 * Entries.size() + 4);
        std::vector<std::uint8_t> tail;
        for (const TEntry& e : Entries) {
            put(U16(e.Tag));
            put(U16(e.Type));
            put(U32(e.Count));
            if (e.Value.size() <= 4 && e.ForcedOffset < 0) {
                std::vector<std::uint8_t> v = e.Value;
                v.resize(4);
                put(v);
            } else {
                put(U32(e.ForcedOffset >= 0 ? std::uint32_t(e.ForcedOffset)
                                            : extra + std::uint32_t(tail.size())));
                tail.insert(tail.end(), e.Value.begin(), e.Value.end());
            }
        }
        put(U32(0));
        put(tail);
        return out;
    }

private:
    bool Big;
};

TEST(ExifReader, ReadsTheFirstDirectoryInBothByteOrders) {
    for (bool big : {false, true}) {
        TExifBuilder b(big);
        b.Entries = {
            {0x011A, 5, 1, b.Rational(600, 2)},
            {0x011B, 5, 1, b.Rational(72, 0)}, // zero denominator reads 0
            {0x0128, 3, 1, b.U16(3)},
            {0x0112, 3, 1, b.U16(6)},
            {0x010F, 2, 4, {'C', 'a', 'm', 0}},
            {0x0110, 2, 6, {'M', 'o', 'd', 'e', 'l', 0}},
            {0x0131, 2, 0xFFFFFFFF, {'x'}, 4},            // a count no block can hold
            {0x0132, 2, 20, {'2', '0', '2', '4'}, 60000}, // an offset past the end
        };
        std::vector<std::uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
        const std::vector<std::uint8_t> block = b.Build();
        app1.insert(app1.end(), block.begin(), block.end());
        TIOParamsVals p;
        p.ExifSoftware = "stale";
        ASSERT_TRUE(ReadExifApp1(app1.data(), app1.size(), p)) << big;
        EXPECT_TRUE(p.HasExifData);
        EXPECT_EQ(p.ExifXResolution, 300.0);
        EXPECT_EQ(p.ExifYResolution, 0.0);
        EXPECT_EQ(p.ExifResolutionUnit, 3);
        EXPECT_EQ(p.ExifOrientation, 6);
        EXPECT_EQ(p.ExifMake, "Cam");
        EXPECT_EQ(p.ExifModel, "Model");
        EXPECT_EQ(p.ExifSoftware, "");
        EXPECT_EQ(p.ExifDateTime, "");
        EXPECT_EQ(p.ExifData, block);
    }
}

TEST(ExifReader, RefusesBadHeadersAndKeepsEntriesBeforeACut) {
    TExifBuilder b(false);
    b.Entries = {{0x0112, 3, 1, b.U16(8)}};
    b.ClaimedCount = 5000; // the directory claims far more entries than the block holds
    std::vector<std::uint8_t> block = b.Build();
    TIOParamsVals p;
    ASSERT_TRUE(ReadExifTiffBlock(block.data(), block.size(), p));
    EXPECT_EQ(p.ExifOrientation, 8);

    const std::vector<std::vector<std::uint8_t>> refused = {
        {},
        {'I', 'I', 42, 0, 0xFF, 0, 0, 0},    // directory offset past the end
        {'I', 'M', 42, 0, 8, 0, 0, 0, 0, 0}, // no byte-order mark
        {'M', 'M', 0, 43, 0, 0, 0, 8, 0, 0}, // wrong magic number
    };
    for (const auto& bad : refused) {
        TIOParamsVals q;
        EXPECT_FALSE(ReadExifTiffBlock(bad.data(), bad.size(), q));
        EXPECT_FALSE(q.HasExifData);
    }
    const std::uint8_t notExif[] = {'E', 'x', 'i', 'f', 0, 1, 'I', 'I', 42, 0, 8, 0, 0, 0};
    TIOParamsVals q;
    EXPECT_FALSE(ReadExifApp1(notExif, sizeof notExif, q));
}

TEST(ExifReader, IptcDatasetsFromPhotoshopResources) {
    std::vector<std::uint8_t> iptc = {0x1C, 2, 5,   0,    3,  'a', 'b', 'c',      // title
                                      0x1C, 2, 120, 0x80, 2,  0,   2,   'h', 'i', // extended length
                                      0x1C, 2, 25,  0,    50, 'x'};               // cut short: dropped
    std::vector<std::uint8_t> app13 = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0};
    const auto resource = [&app13](std::uint16_t id, const std::vector<std::uint8_t>& data) {
        const std::uint8_t head[] = {
            '8', 'B', 'I', 'M', std::uint8_t(id >> 8),          std::uint8_t(id),
            0,   0,   0,   0,   std::uint8_t(data.size() >> 8), std::uint8_t(data.size())};
        app13.insert(app13.end(), std::begin(head), std::end(head));
        app13.insert(app13.end(), data.begin(), data.end());
        if (data.size() & 1) app13.push_back(0);
    };
    resource(0x03ED, {1, 2, 3});
    resource(0x0404, iptc);
    TIEMarkerList markers = {{0xED, app13}, {0xE1, app13}};
    TIEIPTCInfoList list;
    EXPECT_EQ(ReadIptcFromMarkers(markers, list), 2u);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], (std::vector<std::uint8_t>{2, 5, 'a', 'b', 'c'}));
    EXPECT_EQ(list[1], (std::vector<std::uint8_t>{2, 120, 'h', 'i'}));

    // A resource whose stated size runs past the marker is not read.
    markers[0].Data.resize(markers[0].Data.size() - 4);
    list.clear();
    EXPECT_EQ(ReadIptcFromMarkers(markers, list), 0u);
}

// EXIF fields and IPTC datasets of every corpus file, checked against Pillow's reading of them.
TEST(ExifReader, CorpusMetadataMatchesPillow) {
    FOLIANTO_REQUIRE_CORPUS();
    if (!testsupport::ToolAvailable("/usr/bin/python3")) GTEST_SKIP() << "python3 missing";
    testsupport::TempDir dir;
    const std::string script = dir.File("meta.py");
    testsupport::WriteFileBytes(script, [] {
        const std::string s = R"(import sys, warnings
warnings.simplefilter('ignore')
from PIL import Image, IptcImagePlugin
def num(ex, tag):
    v = ex.get(tag)
    if v is None: return '0'
    try: return repr(float(v))
    except Exception: return '-'
for p in sys.argv[1:]:
    try:
        im = Image.open(p)
        ex = im.getexif()
        d = IptcImagePlugin.getiptcinfo(im) or {}
    except Exception:
        continue
    n = sum(len(v) if isinstance(v, list) else 1 for v in d.values())
    make = str(ex.get(271, '')).rstrip('\0')
    print('\t'.join([p, '1' if len(ex) else '0', num(ex, 282), num(ex, 283), num(ex, 296), num(ex, 274), make, str(n)]))
)";
        return std::vector<std::uint8_t>(s.begin(), s.end());
    }());
    std::string command = "/usr/bin/python3 " + testsupport::ShellQuote(script);
    std::map<std::string, std::string> paths;
    for (const auto& e : testsupport::CorpusFiles("jpeg")) {
        if (e.IsBad()) continue;
        const std::string path = testsupport::CorpusDir() + "/" + e.Path;
        command += " " + testsupport::ShellQuote(path);
    }
    std::string output;
    ASSERT_EQ(testsupport::RunCommand(command + " 2>/dev/null", &output), 0);
    std::istringstream lines(output);
    std::string line;
    int compared = 0, withExif = 0, withIptc = 0;
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::istringstream cols(line);
        for (std::string c; std::getline(cols, c, '\t');) f.push_back(c);
        ASSERT_EQ(f.size(), 8u) << line;
        TRead r;
        Read(r, testsupport::ReadFileBytes(f[0]), true);
        TIOParamsVals& p = r.Params;
        ReadExifFromMarkers(p.JpegMarkers, p);
        TIEIPTCInfoList iptc;
        ReadIptcFromMarkers(p.JpegMarkers, iptc);
        SCOPED_TRACE(f[0]);
        EXPECT_TRUE(p.HasExifData || f[1] == "0"); // a block without a readable tag still counts here
        const auto same = [](const std::string& ref, double ours) {
            if (ref != "-") {
                EXPECT_DOUBLE_EQ(std::stod(ref), ours);
            }
        };
        same(f[2], p.ExifXResolution);
        same(f[3], p.ExifYResolution);
        same(f[4], p.ExifResolutionUnit);
        same(f[5], p.ExifOrientation);
        EXPECT_EQ(p.ExifMake, f[6]);
        EXPECT_EQ(iptc.size(), std::stoul(f[7]));
        ++compared;
        withExif += p.HasExifData;
        withIptc += !iptc.empty();
    }
    EXPECT_GT(compared, 100);
    EXPECT_GT(withExif, 30);
    EXPECT_GT(withIptc, 3);
}

// ---- Corpus

// Data this libjpeg build does not decode (12-bit samples, lossless frames): the read must abort.
bool Unsupported(const std::string& path) {
    return path.find("monkey12") != std::string::npos || path.find("/lossless/") != std::string::npos;
}

class JpegCorpus : public ::testing::TestWithParam<testsupport::CorpusEntry> {};
TEST_P(JpegCorpus, MatchesReferenceOrFailsCleanly) {
    FOLIANTO_REQUIRE_CORPUS();
    const auto& entry = GetParam();
    const std::string path = testsupport::CorpusDir() + "/" + entry.Path;
    const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(path);
    TRead r;
    Read(r, bytes);
    ReadExifFromMarkers(r.Params.JpegMarkers, r.Params);
    TIEIPTCInfoList iptc;
    ReadIptcFromMarkers(r.Params.JpegMarkers, iptc);
    if (entry.IsBad()) return; // reaching here without a crash or hang is the test

    TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
    if (FindJpegStart(s) < 0 || Unsupported(entry.Path)) {
        EXPECT_TRUE(r.Aborting);
        return;
    }
    ASSERT_FALSE(r.Aborting);
    if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    RgbImage ref;
    ASSERT_TRUE(testsupport::DecodeWithImageMagick(path, ref));
    const RgbImage ours = ToRgb(r.Bitmap);
    EXPECT_GE(testsupport::Psnr(ours, ref), 35.0);
}
INSTANTIATE_TEST_SUITE_P(Corpus, JpegCorpus, ::testing::ValuesIn(testsupport::CorpusCases("jpeg")),
                         [](const auto& info) {
                             std::string n = std::to_string(info.index) + "_" + info.param.Path;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

} // namespace
