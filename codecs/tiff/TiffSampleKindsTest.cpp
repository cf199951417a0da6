// Sample kinds beyond plain unsigned bytes, on hand-made files: wide integers and floats narrowed to
// bytes, the floating-point predictor, signed samples in every layout, and alpha samples wherever the
// file puts them.
#include "codecs/tiff/TiffSamples.h"
#include "codecs/tiff/TiffTestHelpers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace tifftest;
using B = TTiffBuilder;

std::vector<std::uint8_t> FloatBytes(std::initializer_list<float> values, bool bigEndian) {
    std::vector<std::uint8_t> out;
    for (float f : values) {
        std::uint32_t v;
        std::memcpy(&v, &f, 4);
        for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (bigEndian ? 24 - 8 * i : 8 * i)));
    }
    return out;
}

std::vector<std::uint8_t> DoubleBytes(std::initializer_list<double> values) {
    std::vector<std::uint8_t> out;
    for (double d : values) {
        std::uint64_t v;
        std::memcpy(&v, &d, 8);
        for (int i = 0; i < 8; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
    }
    return out;
}

// ---- One-sample grey of every width and format: four pixels, black, a quarter, a half, white.

struct TGreyCase {
    const char* Name;
    bool BigEndian;
    std::uint32_t Bits, SampleFormat;
    std::vector<std::uint8_t> Strip;
    std::vector<int> Expected;
};

const TGreyCase kGreyCases[] = {
    {"Float32", false, 32, 3, FloatBytes({0.0f, 0.25f, 0.5f, 1.0f}, false), {0, 64, 128, 255}},
    {"Float32BigEndian", true, 32, 3, FloatBytes({0.0f, 0.25f, 0.5f, 1.0f}, true), {0, 64, 128, 255}},
    // Out of 0..1 is clamped; not-a-number is black.
    {"Float32OutOfRange", false, 32, 3, FloatBytes({-3.0f, 7.0f, NAN, 0.2f}, false), {0, 255, 0, 51}},
    {"Float64", false, 64, 3, DoubleBytes({0.0, 0.25, 0.5, 1.0}), {0, 64, 128, 255}},
    // Half floats: 0, 0.25 (0x3400), 0.5 (0x3800), 1 (0x3C00).
    {"Float16", false, 16, 3, {0, 0, 0x00, 0x34, 0x00, 0x38, 0x00, 0x3C}, {0, 64, 128, 255}},
    {"Unsigned32",
     false,
     32,
     1,
     {0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF},
     {0, 64, 128, 255}},
    // Signed: the most negative value black, zero mid-grey.
    {"Signed32",
     true,
     32,
     2,
     {0x80, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF},
     {0, 64, 128, 255}},
};

class TiffGreyKindTest : public testing::TestWithParam<TGreyCase> {};

TEST_P(TiffGreyKindTest, NarrowsToBytes) {
    const TGreyCase& c = GetParam();
    B b(c.BigEndian);
    auto& d = b.AddDirectory();
    B::Image(d, 4, 1, c.Bits, 1, 1, 1, 1, {c.Strip});
    B::Short(d, 339, c.SampleFormat);
    const auto r = ReadBytes(b.Build());
    ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
    const auto img = ToRgb(r->Bitmap);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(img.At(x, 0)[0], c.Expected[std::size_t(x)]) << x;
}

INSTANTIATE_TEST_SUITE_P(Samples, TiffGreyKindTest, testing::ValuesIn(kGreyCases),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(TiffSampleKindsTest, FloatPredictorUndoesByteDifferencing) {
    // Two RGB pixels of 32-bit floats: the bytes of the row sorted by significance (most significant
    // first), then each byte differenced with the one three places (one pixel) before.
    const std::vector<float> values = {1.0f, 0.5f, 0.0f, 0.25f, 1.0f, 0.75f};
    std::vector<std::uint8_t> planes(24);
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::uint32_t v;
        std::memcpy(&v, &values[i], 4);
        for (int k = 0; k < 4; ++k) planes[std::size_t(k) * 6 + i] = std::uint8_t(v >> (24 - 8 * k));
    }
    std::vector<std::uint8_t> stored = planes;
    for (std::size_t i = 3; i < stored.size(); ++i) stored[i] = std::uint8_t(planes[i] - planes[i - 3]);
    for (const bool big : {false, true}) {
        std::vector<std::uint8_t> row = stored, out(24);
        tiff::UndoFloatPredictor(row.data(), 6, 4, 3, big, out.data());
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::uint32_t v = 0;
            for (int k = 0; k < 4; ++k)
                v |= std::uint32_t(out[i * 4 + std::size_t(k)]) << (big ? 24 - 8 * k : 8 * k);
            float f;
            std::memcpy(&f, &v, 4);
            EXPECT_EQ(f, values[i]) << big << " " << i;
        }
    }
}

// Float and 32-bit files recompressed by libtiff with each predictor read like the uncompressed file.
TEST(TiffSampleKindsTest, PredictorsOnWideSamplesMatchTheUncompressedFile) {
    if (!HaveTools()) GTEST_SKIP() << "tiffcp missing";
    testsupport::TempDir dir;
    struct TSource {
        const char* Name;
        std::uint32_t Format;
    };
    for (const TSource src : {TSource{"float", 3}, TSource{"int", 1}}) {
        std::vector<std::uint8_t> strip;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 13 * 3; ++x) {
                const float f = float((x * 7 + y * 11) % 97) / 96.0f;
                const std::uint32_t v = src.Format == 3 ? 0 : std::uint32_t(f * 4294967295.0);
                std::uint32_t bits = v;
                if (src.Format == 3) std::memcpy(&bits, &f, 4);
                for (int k = 0; k < 4; ++k) strip.push_back(std::uint8_t(bits >> (8 * k)));
            }
        B b;
        auto& d = b.AddDirectory();
        B::Image(d, 13, 9, 32, 3, 2, 1, 9, {strip});
        B::Short(d, 339, src.Format);
        const auto plain = b.Build();
        testsupport::WriteFileBytes(dir.File("plain.tif"), plain);
        const auto expected = ToRgb(ReadBytes(plain)->Bitmap);
        const std::vector<std::string> options =
            src.Format == 3 ? std::vector<std::string>{"zip:3", "lzw:3", "zstd:3", "-B -c zip:2", "zip:2"}
                            : std::vector<std::string>{"zip:2", "lzw:2", "-B -c lzma:2"};
        for (const std::string& o : options) {
            const std::string args = o.rfind("-", 0) == 0 ? o : "-c " + o;
            ASSERT_TRUE(Shell("tiffcp -r 4 " + args + " " + dir.File("plain.tif") + " " + dir.File("p.tif")));
            const auto r = ReadFile(dir.File("p.tif"));
            ASSERT_FALSE(r->Aborted) << src.Name << " " << o << ": " << r->Outcome.Refusal;
            EXPECT_EQ(testsupport::MaxDifference(ToRgb(r->Bitmap), expected), 0) << src.Name << " " << o;
        }
    }
}

// ---- Signed 8-bit samples in every layout: -128 black, 0 mid-grey, 127 white.

struct TSignedLayoutCase {
    const char* Name;
    int Photometric;
    std::uint32_t Samples, Planar;
    std::vector<std::uint8_t> Strip; // three pixels: -128, 0, 127 in every colour sample
    std::vector<int> Red;
};

const TSignedLayoutCase kSignedLayouts[] = {
    {"Grey", 1, 1, 1, {0x80, 0x00, 0x7F}, {0, 128, 255}},
    {"GreyWhiteIsZero", 0, 1, 1, {0x80, 0x00, 0x7F}, {255, 127, 0}},
    {"Rgb", 2, 3, 1, {0x80, 0x80, 0x80, 0x00, 0x00, 0x00, 0x7F, 0x7F, 0x7F}, {0, 128, 255}},
    {"RgbPlanar", 2, 3, 2, {0x80, 0x00, 0x7F, 0x80, 0x00, 0x7F, 0x80, 0x00, 0x7F}, {0, 128, 255}},
    {"GreyAndAlpha", 1, 2, 1, {0x80, 0x7F, 0x00, 0x7F, 0x7F, 0x7F}, {0, 128, 255}},
};

class TiffSignedLayoutTest : public testing::TestWithParam<TSignedLayoutCase> {};

TEST_P(TiffSignedLayoutTest, RangeLaidOntoGreys) {
    const TSignedLayoutCase& c = GetParam();
    B b;
    auto& d = b.AddDirectory();
    if (c.Planar == 2) {
        B::Image(d, 3, 1, 8, c.Samples, c.Photometric, 1, 1, {});
        for (std::uint32_t p = 0; p < c.Samples; ++p)
            d.Strips.push_back(
                std::vector<std::uint8_t>(c.Strip.begin() + 3 * p, c.Strip.begin() + 3 * p + 3));
        B::Short(d, 284, 2);
    } else {
        B::Image(d, 3, 1, 8, c.Samples, c.Photometric, 1, 1, {c.Strip});
    }
    B::Set(d, 339, 3, std::vector<std::uint32_t>(c.Samples, 2));
    const auto r = ReadBytes(b.Build());
    ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
    const auto img = ToRgb(r->Bitmap);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(img.At(x, 0)[0], c.Red[std::size_t(x)]) << x;
}

INSTANTIATE_TEST_SUITE_P(Layouts, TiffSignedLayoutTest, testing::ValuesIn(kSignedLayouts),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(TiffSampleKindsTest, SignedPaletteIndexesAreIndexes) {
    // The colour map is looked up with the index as stored, not shifted by half the range.
    B b;
    auto& d = b.AddDirectory();
    B::Image(d, 2, 1, 8, 1, 3, 1, 1, {{1, 0x81}});
    std::vector<std::uint32_t> map(768, 0);
    map[1] = 0x1100;
    map[0x81] = 0x9900;
    B::Set(d, 320, 3, map);
    B::Short(d, 339, 2);
    const auto img = ToRgb(ReadBytes(b.Build())->Bitmap);
    EXPECT_EQ(img.At(0, 0)[0], 0x11);
    EXPECT_EQ(img.At(1, 0)[0], 0x99);
}

// ---- Alpha samples wherever the file declares them.

struct TAlphaLayoutCase {
    const char* Name;
    int Photometric;
    std::uint32_t Bits, Samples;
    std::vector<std::uint32_t> Extra; // ExtraSamples
    std::vector<std::uint8_t> Strip;  // one pixel
    int Red, Alpha;                   // -1: no mask
};

const TAlphaLayoutCase kAlphaLayouts[] = {
    // CMYK and unassociated alpha: no ink is white.
    {"CmykAlpha", 5, 8, 5, {2}, {0, 0, 0, 0, 77}, 255, 77},
    // RGB, alpha, then an unspecified sample.
    {"RgbAlphaExtra", 2, 8, 5, {2, 0}, {200, 10, 20, 90, 33}, 200, 90},
    // The alpha need not be the first extra sample.
    {"RgbExtraThenAlpha", 2, 8, 5, {0, 2}, {200, 10, 20, 90, 33}, 200, 33},
    // Unspecified extras are not opacity (two of them: no guessing).
    {"RgbTwoUnspecified", 2, 8, 5, {0, 0}, {200, 10, 20, 90, 33}, 200, -1},
    // 4-bit RGBA (two pixels in two bytes: 15, 0, 0, 8 and 0, 0, 0, 0): alpha 8 of 15.
    {"FourBitRgba", 2, 4, 4, {2}, {0xF0, 0x08, 0x00, 0x00}, 255, 136},
    // 4-bit grey and alpha: grey 12, alpha 5 of 15.
    {"FourBitGreyAlpha", 1, 4, 2, {2}, {0xC5}, 204, 85},
    // 16-bit RGBA: the high bytes.
    {"SixteenBitRgba", 2, 16, 4, {2}, {0x00, 0xC8, 0, 0, 0, 0, 0x00, 0x80}, 200, 128},
    // Associated 16-bit alpha: colour divided by opacity before narrowing (0x3000 / 0x6000 is half).
    {"SixteenBitAssociated", 2, 16, 4, {1}, {0x00, 0x30, 0, 0, 0, 0, 0x00, 0x60}, 128, 96},
};

class TiffAlphaLayoutTest : public testing::TestWithParam<TAlphaLayoutCase> {};

TEST_P(TiffAlphaLayoutTest, MaskFromTheDeclaredSample) {
    const TAlphaLayoutCase& c = GetParam();
    B b;
    auto& d = b.AddDirectory();
    const std::uint32_t width = c.Bits == 4 && c.Samples == 4 ? 2 : 1;
    B::Image(d, width, 1, c.Bits, c.Samples, c.Photometric, 1, 1, {c.Strip});
    B::Set(d, 338, 3, c.Extra);
    const auto r = ReadBytes(b.Build());
    ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
    EXPECT_EQ(ToRgb(r->Bitmap).At(0, 0)[0], c.Red);
    if (c.Alpha < 0) {
        EXPECT_FALSE(r->Mask);
    } else {
        ASSERT_TRUE(r->Mask);
        EXPECT_EQ(r->Mask->GetPixel(0, 0), c.Alpha);
    }
    EXPECT_FALSE(ReadBytes(b.Build(), {.IgnoreAlpha = true})->Mask);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TiffAlphaLayoutTest, testing::ValuesIn(kAlphaLayouts),
                         [](const auto& i) { return std::string(i.param.Name); });

} // namespace

namespace {

using namespace tifftest;
using B = TTiffBuilder;

// ---- YCbCr data units outside JPEG, against libtiff's own rendering (tiff2rgba).

struct TYCbCrCase {
    const char* Name;
    std::uint32_t H, V, Compression, RowsPerStrip;
    bool Tiles;
};

const TYCbCrCase kYCbCrCases[] = {
    {"TwoByTwo", 2, 2, 1, 6, false},
    {"TwoByOne", 2, 1, 1, 3, false},
    {"FourByTwo", 4, 2, 1, 4, false},
    {"OneByOneLzw", 1, 1, 5, 12, false},
    {"TwoByTwoPackBits", 2, 2, 32773, 4, false},
};

class TiffYCbCrTest : public testing::TestWithParam<TYCbCrCase> {};

TEST_P(TiffYCbCrTest, MatchesLibtiff) {
    if (!testsupport::ToolAvailable("tiff2rgba") || !HaveTools()) GTEST_SKIP() << "libtiff tools missing";
    const TYCbCrCase& c = GetParam();
    const std::uint32_t w = 13, h = 11; // neither a multiple of the units
    B b;
    auto& d = b.AddDirectory();
    B::Image(d, w, h, 8, 3, 6, 1, c.RowsPerStrip, {});
    B::Set(d, 530, 3, {c.H, c.V});
    // Units row by row, strip by strip: luma ramps, chroma swinging both ways.
    const std::uint32_t across = (w + c.H - 1) / c.H;
    for (std::uint32_t top = 0; top < h; top += c.RowsPerStrip) {
        std::vector<std::uint8_t> strip;
        const std::uint32_t rows = std::min(c.RowsPerStrip, h - top);
        for (std::uint32_t uy = 0; uy < (rows + c.V - 1) / c.V; ++uy)
            for (std::uint32_t ux = 0; ux < across; ++ux) {
                for (std::uint32_t i = 0; i < c.H * c.V; ++i)
                    strip.push_back(std::uint8_t(16 + (ux * 37 + (top + uy) * 19 + i * 5) % 220));
                strip.push_back(std::uint8_t(128 + int((ux * 29) % 100) - 50));
                strip.push_back(std::uint8_t(128 - int(((top + uy) * 31) % 100) + 50));
            }
        if (c.Compression == 32773) { // PackBits literal runs of up to 128 bytes
            std::vector<std::uint8_t> packed;
            for (std::size_t i = 0; i < strip.size(); i += 128) {
                const std::size_t n = std::min<std::size_t>(128, strip.size() - i);
                packed.push_back(std::uint8_t(n - 1));
                packed.insert(packed.end(), strip.begin() + std::ptrdiff_t(i),
                              strip.begin() + std::ptrdiff_t(i + n));
            }
            strip = packed;
        }
        d.Strips.push_back(strip);
    }
    if (c.Compression == 32773) B::Short(d, 259, 32773);
    testsupport::TempDir dir;
    testsupport::WriteFileBytes(dir.File("plain.tif"), b.Build());
    std::string file = dir.File("plain.tif");
    if (c.Compression == 5) {
        // tiffcp recompresses YCbCr without subsampling only.
        ASSERT_TRUE(Shell("tiffcp -c lzw " + file + " " + dir.File("c.tif")));
        file = dir.File("c.tif");
    }
    ASSERT_TRUE(Shell("tiff2rgba " + file + " " + dir.File("rgba.tif")));
    testsupport::RgbImage reference;
    ASSERT_TRUE(testsupport::DecodeWithImageMagick(dir.File("rgba.tif"), reference));
    const auto r = ReadFile(file);
    ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
    EXPECT_LE(testsupport::MaxDifference(ToRgb(r->Bitmap), reference), 2);
}

INSTANTIATE_TEST_SUITE_P(Units, TiffYCbCrTest, testing::ValuesIn(kYCbCrCases),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(TiffSampleKindsTest, YCbCrRefusalsSayWhy) {
    B planar;
    auto& p = planar.AddDirectory();
    B::Image(p, 4, 2, 8, 3, 6, 1, 2, {std::vector<std::uint8_t>(8, 1), {1, 1}, {1, 1}});
    B::Short(p, 284, 2);
    EXPECT_EQ(ReadBytes(planar.Build())->Outcome.Refusal, "unsupported: YCbCr in separate planes");
    B odd;
    auto& o = odd.AddDirectory();
    B::Image(o, 4, 2, 8, 3, 6, 1, 2, {std::vector<std::uint8_t>(24, 1)});
    B::Set(o, 530, 3, {3, 1});
    EXPECT_EQ(ReadBytes(odd.Build())->Outcome.Refusal, "unsupported: YCbCr subsampling 3 x 1");
}

} // namespace
