#include "codecs/png/PngReader.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <csetjmp>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include <png.h>
#include <sys/resource.h>
#include <zlib.h>

namespace {

using testsupport::CorpusDir;
using Rgb = std::array<std::uint8_t, 3>;

// ---- A small PNG writer for hand-made cases (libpng's writer, into memory) ----

struct PngShape {
    int Width = 4, Height = 2, Depth = 8, ColorType = PNG_COLOR_TYPE_RGB;
    bool Interlace = false;
    std::vector<png_color> Palette;
    std::vector<std::uint8_t> PaletteAlpha;           // tRNS for palette images
    std::optional<png_color_16> Transparent;          // tRNS for grey and RGB images
    std::optional<png_color_16> Background;           // bKGD
    std::optional<std::array<std::uint32_t, 3>> Phys; // x, y, unit
    std::vector<std::uint8_t> Rows;                   // rows as the file stores them, tightly packed
};

int SamplesOf(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

std::size_t RowBytesOf(const PngShape& s) {
    return (std::size_t(s.Width) * SamplesOf(s.ColorType) * s.Depth + 7) / 8;
}

void Append(png_structp png, png_bytep data, std::size_t n) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

std::vector<std::uint8_t> EncodePng(const PngShape& s) {
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the test image";
        return {};
    }
    png_set_write_fn(png, &out, Append, nullptr);
    png_set_IHDR(png, info, png_uint_32(s.Width), png_uint_32(s.Height), s.Depth, s.ColorType,
                 s.Interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!s.Palette.empty()) png_set_PLTE(png, info, s.Palette.data(), int(s.Palette.size()));
    if (!s.PaletteAlpha.empty())
        png_set_tRNS(png, info, s.PaletteAlpha.data(), int(s.PaletteAlpha.size()), nullptr);
    if (s.Transparent) {
        png_color_16 t = *s.Transparent;
        png_set_tRNS(png, info, nullptr, 0, &t);
    }
    if (s.Background) {
        png_color_16 b = *s.Background;
        png_set_bKGD(png, info, &b);
    }
    if (s.Phys) png_set_pHYs(png, info, (*s.Phys)[0], (*s.Phys)[1], int((*s.Phys)[2]));
    png_write_info(png, info);
    std::vector<std::uint8_t> rows = s.Rows;
    rows.resize(RowBytesOf(s) * std::size_t(s.Height));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < s.Height; ++y) pointers.push_back(rows.data() + RowBytesOf(s) * std::size_t(y));
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// ---- Reading ----

struct Loaded {
    TIEBitmap Bitmap;
    TIOParamsVals Params;
    std::unique_ptr<TIEMask> Mask;
    bool Aborting = false;
    int Calls = 0;
    int LastPercent = -1;
    int Counter = 0;
    TIELoadOutcome Outcome;
};

struct ReadOptions {
    bool Native = false;
    bool ApplyBackground = false;
    bool HeaderOnly = false;
    TIERgbTriple Background{};
    int AbortAtCall = 0; // the progress handler asks to stop at this call (0: never)
};

void Load(const std::vector<std::uint8_t>& bytes, Loaded& r, const ReadOptions& o = {}) {
    r.Bitmap.SetLocation(ieHeap);
    r.Params.NativePixelFormat = o.Native;
    r.Params.PngBackgroundColor = o.Background;
    TReadOnlyMemoryStream stream(bytes.data(), std::int64_t(bytes.size()));
    TIEProgressRecord progress(
        [&r, &o](void*, int percent) {
            ++r.Calls;
            r.LastPercent = percent;
            if (o.AbortAtCall && r.Calls == o.AbortAtCall) r.Aborting = true;
        },
        nullptr, r.Aborting);
    ReadPngStream(stream, r.Bitmap, r.Params, o.ApplyBackground, r.Mask, o.HeaderOnly, progress);
    r.Counter = progress.ProgressCounter;
    r.Outcome = progress.Outcome;
}

Rgb PixelOf(TIEBitmap& b, int x, int y) {
    const std::uint8_t* row = b.RowPointer(y);
    switch (b.PixelType()) {
    case ie1Bit: {
        const std::uint8_t v = (row[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
        return {v, v, v};
    }
    case ie8Gray:
        return {row[x], row[x], row[x]};
    case ie8Palette: {
        const TIERgbTriple t = b.PaletteEntry(row[x]);
        return {t.r, t.g, t.b};
    }
    case ie24Rgb:
        return {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
    default:
        return {0, 0, 0};
    }
}

png_color C(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return png_color{r, g, b};
}
png_color_16 Grey16(std::uint16_t v) {
    png_color_16 c{};
    c.gray = v;
    return c;
}
png_color_16 Rgb16(std::uint16_t r, std::uint16_t g, std::uint16_t b) {
    png_color_16 c{};
    c.red = r;
    c.green = g;
    c.blue = b;
    return c;
}

// ---- Content check ----

struct SignatureCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    bool Expected;
};

class PngSignature : public testing::TestWithParam<SignatureCase> {};

TEST_P(PngSignature, ChecksFirstFourBytesAndRestoresPosition) {
    std::vector<std::uint8_t> bytes = {0x00};
    bytes.insert(bytes.end(), GetParam().Bytes.begin(), GetParam().Bytes.end());
    TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
    s.SetPosition(1);
    EXPECT_EQ(IsPngStream(s), GetParam().Expected);
    EXPECT_EQ(s.Position(), 1);
}

const SignatureCase kSignatures[] = {
    {"FullSignature", {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}, true},
    {"DamagedSecondHalf", {0x89, 0x50, 0x4E, 0x47, 0x00, 0x00, 0x00, 0x00}, true},
    {"FourBytesOnly", {0x89, 0x50, 0x4E, 0x47}, true},
    {"WrongFourthByte", {0x89, 0x50, 0x4E, 0x46, 0x0D, 0x0A, 0x1A, 0x0A}, false},
    {"TooShort", {0x89, 0x50, 0x4E}, false},
    {"Empty", {}, false},
};
INSTANTIATE_TEST_SUITE_P(Png, PngSignature, testing::ValuesIn(kSignatures),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(PngReader, DamagedSignatureRestFailsInDecoder) {
    PngShape s;
    std::vector<std::uint8_t> bytes = EncodePng(s);
    bytes[5] = 0x00;
    Loaded r;
    Load(bytes, r);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, "not a PNG file");
}

// ---- One-bit images ----

struct OneBitCase {
    const char* Name;
    int ColorType;
    std::vector<png_color> Palette;
    bool Interlace;
    TIEPixelFormat Format;
    Rgb Zero, One; // the colours of stored bits 0 and 1
};

class PngOneBit : public testing::TestWithParam<OneBitCase> {};

TEST_P(PngOneBit, KeepsColoursOfStoredBits) {
    const OneBitCase& c = GetParam();
    PngShape s;
    s.Width = 11; // not a whole number of bytes
    s.Height = 9;
    s.Depth = 1;
    s.ColorType = c.ColorType;
    s.Palette = c.Palette;
    s.Interlace = c.Interlace;
    s.Rows.resize(RowBytesOf(s) * std::size_t(s.Height));
    for (std::size_t i = 0; i < s.Rows.size(); ++i) s.Rows[i] = std::uint8_t(i * 37 + 11);
    Loaded r;
    Load(EncodePng(s), r);
    ASSERT_FALSE(r.Aborting);
    ASSERT_EQ(r.Bitmap.PixelType(), c.Format);
    EXPECT_EQ(r.Params.BitsPerSample, 1);
    EXPECT_EQ(r.Params.SamplesPerPixel, 1);
    EXPECT_EQ(r.Params.PaletteCount, int(c.Palette.size()));
    for (int y = 0; y < s.Height; ++y)
        for (int x = 0; x < s.Width; ++x) {
            const bool bit = s.Rows[RowBytesOf(s) * std::size_t(y) + std::size_t(x / 8)] & (0x80 >> (x % 8));
            ASSERT_EQ(PixelOf(r.Bitmap, x, y), bit ? c.One : c.Zero) << x << "," << y;
        }
    if (c.Format == ie1Bit && c.ColorType == PNG_COLOR_TYPE_PALETTE && c.Palette[0].red == 0) {
        // Black then white: the stored bytes are the bitmap's bytes.
        EXPECT_EQ(r.Bitmap.RowPointer(0)[0], s.Rows[0]);
    }
}

const OneBitCase kOneBit[] = {
    {"Grey", PNG_COLOR_TYPE_GRAY, {}, false, ie1Bit, {0, 0, 0}, {255, 255, 255}},
    {"BlackWhitePalette",
     PNG_COLOR_TYPE_PALETTE,
     {C(0, 0, 0), C(255, 255, 255)},
     false,
     ie1Bit,
     {0, 0, 0},
     {255, 255, 255}},
    {"WhiteBlackPalette",
     PNG_COLOR_TYPE_PALETTE,
     {C(255, 255, 255), C(0, 0, 0)},
     false,
     ie1Bit,
     {255, 255, 255},
     {0, 0, 0}},
    {"WhiteBlackPaletteInterlaced",
     PNG_COLOR_TYPE_PALETTE,
     {C(255, 255, 255), C(0, 0, 0)},
     true,
     ie1Bit,
     {255, 255, 255},
     {0, 0, 0}},
    {"TwoColourPalette",
     PNG_COLOR_TYPE_PALETTE,
     {C(200, 10, 20), C(5, 6, 250)},
     false,
     ie24Rgb,
     {200, 10, 20},
     {5, 6, 250}},
    {"TwoColourPaletteInterlaced",
     PNG_COLOR_TYPE_PALETTE,
     {C(200, 10, 20), C(5, 6, 250)},
     true,
     ie24Rgb,
     {200, 10, 20},
     {5, 6, 250}},
    {"BlackBlackPalette",
     PNG_COLOR_TYPE_PALETTE,
     {C(0, 0, 0), C(0, 0, 0)},
     false,
     ie24Rgb,
     {0, 0, 0},
     {0, 0, 0}},
};
INSTANTIATE_TEST_SUITE_P(Png, PngOneBit, testing::ValuesIn(kOneBit),
                         [](const auto& i) { return std::string(i.param.Name); });

// ---- Transparency ----

struct TransparencyCase {
    const char* Name;
    int ColorType, Depth;
    bool Native;
    TIEPixelFormat Format;
    bool HasAlpha; // the mask carries the tRNS alphas; otherwise it is all 255 and marked so
};

class PngTransparency : public testing::TestWithParam<TransparencyCase> {};

TEST_P(PngTransparency, MaskFollowsExpansion) {
    const TransparencyCase& c = GetParam();
    PngShape s;
    s.Width = 4;
    s.Height = 1;
    s.Depth = c.Depth;
    s.ColorType = c.ColorType;
    if (c.ColorType == PNG_COLOR_TYPE_PALETTE) {
        s.Palette = {C(10, 20, 30), C(40, 50, 60), C(70, 80, 90), C(100, 110, 120)};
        s.PaletteAlpha = {0, 128, 255};
        s.Rows = c.Depth == 8 ? std::vector<std::uint8_t>{0, 1, 2, 3} : std::vector<std::uint8_t>{0x1B, 0};
    } else {
        s.Transparent = Grey16(1);
        s.Rows = c.Depth == 8 ? std::vector<std::uint8_t>{0, 1, 2, 3} : std::vector<std::uint8_t>{0x01, 0x23};
    }
    Loaded r;
    Load(EncodePng(s), r, {.Native = c.Native});
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.PixelType(), c.Format);
    ASSERT_TRUE(r.Mask);
    ASSERT_EQ(r.Mask->Width, 4);
    ASSERT_EQ(r.Mask->BitsPerPixel, 8);
    const std::uint8_t* m = r.Mask->RowPointer(0);
    const std::vector<int> expected = c.ColorType == PNG_COLOR_TYPE_PALETTE
                                          ? std::vector<int>{0, 128, 255, 255}
                                          : std::vector<int>{255, 0, 255, 255};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(m[x], c.HasAlpha ? expected[std::size_t(x)] : 255) << x;
    EXPECT_EQ(r.Mask->FullyOpaque, !c.HasAlpha);
}

const TransparencyCase kTransparency[] = {
    {"Palette8", PNG_COLOR_TYPE_PALETTE, 8, false, ie24Rgb, true},
    {"Palette8Native", PNG_COLOR_TYPE_PALETTE, 8, true, ie8Palette, false},
    {"Palette2", PNG_COLOR_TYPE_PALETTE, 2, false, ie24Rgb, true},
    {"Palette2NativeStillExpands", PNG_COLOR_TYPE_PALETTE, 2, true, ie24Rgb, true},
    {"Grey8", PNG_COLOR_TYPE_GRAY, 8, false, ie24Rgb, false},
    {"Grey8Native", PNG_COLOR_TYPE_GRAY, 8, true, ie8Gray, false},
    {"Grey4", PNG_COLOR_TYPE_GRAY, 4, false, ie24Rgb, true},
};
INSTANTIATE_TEST_SUITE_P(Png, PngTransparency, testing::ValuesIn(kTransparency),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(PngReader, NativePaletteKeepsIndexesAndPalette) {
    PngShape s;
    s.ColorType = PNG_COLOR_TYPE_PALETTE;
    s.Width = 3;
    s.Height = 1;
    s.Palette = {C(1, 2, 3), C(4, 5, 6), C(7, 8, 9)};
    s.Rows = {2, 0, 1};
    Loaded r;
    Load(EncodePng(s), r, {.Native = true});
    ASSERT_EQ(r.Bitmap.PixelType(), ie8Palette);
    EXPECT_EQ(r.Bitmap.PaletteLength(), 256);
    EXPECT_EQ(r.Bitmap.RowPointer(0)[0], 2);
    EXPECT_EQ(PixelOf(r.Bitmap, 0, 0), (Rgb{7, 8, 9}));
    ASSERT_EQ(r.Params.PaletteCount, 3);
    EXPECT_EQ(r.Params.Palette[1], CreateRGB(4, 5, 6));
}

TEST(PngReader, SixteenBitRgbaKeepsHighBytes) {
    PngShape s;
    s.ColorType = PNG_COLOR_TYPE_RGB_ALPHA;
    s.Depth = 16;
    s.Width = 2;
    s.Height = 1;
    s.Rows = {0x12, 0xFF, 0x34, 0x00, 0x56, 0x80, 0x9A, 0x01, //
              0xFE, 0x7F, 0x01, 0x80, 0x00, 0xFF, 0x00, 0xFF};
    Loaded r;
    Load(EncodePng(s), r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.BitsPerSample, 16);
    EXPECT_EQ(r.Params.SamplesPerPixel, 4);
    ASSERT_EQ(r.Bitmap.PixelType(), ie24Rgb);
    EXPECT_EQ(PixelOf(r.Bitmap, 0, 0), (Rgb{0x12, 0x34, 0x56}));
    EXPECT_EQ(PixelOf(r.Bitmap, 1, 0), (Rgb{0xFE, 0x01, 0x00}));
    ASSERT_TRUE(r.Mask);
    EXPECT_EQ(r.Mask->RowPointer(0)[0], 0x9A);
    EXPECT_EQ(r.Mask->RowPointer(0)[1], 0x00);
    EXPECT_FALSE(r.Mask->FullyOpaque);
}

// ---- Resolution ----

struct PhysCase {
    const char* Name;
    std::optional<std::array<std::uint32_t, 3>> Phys;
    int X, Y;
};

class PngResolution : public testing::TestWithParam<PhysCase> {};

TEST_P(PngResolution, PixelsPerMetreToDpi) {
    PngShape s;
    s.Phys = GetParam().Phys;
    Loaded r;
    Load(EncodePng(s), r, {.HeaderOnly = true});
    EXPECT_EQ(r.Params.HorizontalDpi, GetParam().X);
    EXPECT_EQ(r.Params.VerticalDpi, GetParam().Y);
}

const PhysCase kPhys[] = {
    {"Ppm2835", std::array<std::uint32_t, 3>{2835, 2835, 1}, 72, 72},
    {"Ppm11811", std::array<std::uint32_t, 3>{11811, 11811, 1}, 300, 300},
    {"Different", std::array<std::uint32_t, 3>{2835, 11811, 1}, 72, 300},
    {"HalfRoundsToEvenUp", std::array<std::uint32_t, 3>{2500, 2500, 1}, 64, 64},     // 63.5
    {"HalfRoundsToEvenDown", std::array<std::uint32_t, 3>{7500, 7500, 1}, 190, 190}, // 190.5
    {"UnitUnknown", std::array<std::uint32_t, 3>{2835, 2835, 0}, 300, 300},
    {"BelowHalfADotIsDefault", std::array<std::uint32_t, 3>{10, 10, 1}, 300, 300},
    {"None", std::nullopt, 300, 300},
};
INSTANTIATE_TEST_SUITE_P(Png, PngResolution, testing::ValuesIn(kPhys),
                         [](const auto& i) { return std::string(i.param.Name); });

// ---- Interlace ----

PngShape RampImage(int colorType, bool interlace) {
    PngShape s;
    s.ColorType = colorType;
    s.Width = 13;
    s.Height = 11;
    s.Interlace = interlace;
    s.Rows.resize(RowBytesOf(s) * std::size_t(s.Height));
    for (std::size_t i = 0; i < s.Rows.size(); ++i) s.Rows[i] = std::uint8_t(i * 7 + i / 13);
    return s;
}

struct InterlaceCase {
    const char* Name;
    int ColorType;
};
class PngInterlace : public testing::TestWithParam<InterlaceCase> {};

TEST_P(PngInterlace, PassesCombineToTheWholeImage) {
    Loaded plain, laced;
    Load(EncodePng(RampImage(GetParam().ColorType, false)), plain);
    Load(EncodePng(RampImage(GetParam().ColorType, true)), laced);
    ASSERT_FALSE(laced.Aborting);
    EXPECT_FALSE(plain.Params.PngInterlaced);
    EXPECT_TRUE(laced.Params.PngInterlaced);
    EXPECT_EQ(plain.Counter, 11);
    EXPECT_EQ(laced.Counter, 7 * 11);
    EXPECT_EQ(laced.Calls, 7 * 11);
    EXPECT_EQ(laced.LastPercent, 100);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 13; ++x) {
            ASSERT_EQ(PixelOf(laced.Bitmap, x, y), PixelOf(plain.Bitmap, x, y)) << x << "," << y;
            ASSERT_EQ(laced.Mask->RowPointer(y)[x], plain.Mask->RowPointer(y)[x]) << x << "," << y;
        }
}

const InterlaceCase kInterlace[] = {{"Rgb", PNG_COLOR_TYPE_RGB},
                                    {"Rgba", PNG_COLOR_TYPE_RGB_ALPHA},
                                    {"GreyAlpha", PNG_COLOR_TYPE_GRAY_ALPHA}};
INSTANTIATE_TEST_SUITE_P(Png, PngInterlace, testing::ValuesIn(kInterlace),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(PngReader, AbortFromProgressStopsAfterThatRow) {
    Loaded r;
    Load(EncodePng(RampImage(PNG_COLOR_TYPE_RGB, false)), r, {.AbortAtCall = 3});
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Calls, 3);
    EXPECT_EQ(r.Counter, 3);
    EXPECT_EQ(PixelOf(r.Bitmap, 0, 5), (Rgb{0, 0, 0}));
}

// ---- Background ----

TEST(PngReader, HeaderOnlyReportsFileBackground) {
    PngShape s;
    s.Depth = 16;
    s.Background = Rgb16(0xFF00, 0x8000, 0x0000);
    Loaded r;
    Load(EncodePng(s), r, {.ApplyBackground = true, .HeaderOnly = true});
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.PngBackgroundColor, CreateRGB(255, 128, 0));
    EXPECT_EQ(r.Params.ImageWidth, 4);
    EXPECT_EQ(r.Bitmap.PixelType(), ieNone);
    EXPECT_FALSE(r.Mask);
}

struct BackgroundCase {
    const char* Name;
    int ColorType, Depth;
    std::optional<png_color_16> FileBackground;
    TIERgbTriple Given;    // PngBackgroundColor before the read
    Rgb Transparent;       // what a fully transparent pixel becomes
    TIERgbTriple Reported; // PngBackgroundColor afterwards
};

class PngBackground : public testing::TestWithParam<BackgroundCase> {};

TEST_P(PngBackground, TransparencyIsComposited) {
    const BackgroundCase& c = GetParam();
    PngShape s;
    s.ColorType = c.ColorType;
    s.Depth = c.Depth;
    s.Width = 2;
    s.Height = 1;
    s.Background = c.FileBackground;
    const int bytes = SamplesOf(c.ColorType) * c.Depth / 8;
    // Pixel 0 opaque mid grey, pixel 1 fully transparent.
    s.Rows.assign(std::size_t(bytes) * 2, 0x80);
    for (int i = bytes - c.Depth / 8; i < bytes; ++i) s.Rows[std::size_t(i)] = 0xFF;
    for (int i = 2 * bytes - c.Depth / 8; i < 2 * bytes; ++i) s.Rows[std::size_t(i)] = 0x00;
    Loaded r;
    Load(EncodePng(s), r, {.ApplyBackground = true, .Background = c.Given});
    ASSERT_FALSE(r.Aborting);
    EXPECT_FALSE(r.Mask);
    ASSERT_EQ(r.Bitmap.PixelType(), ie24Rgb);
    EXPECT_EQ(PixelOf(r.Bitmap, 0, 0), (Rgb{0x80, 0x80, 0x80}));
    EXPECT_EQ(PixelOf(r.Bitmap, 1, 0), c.Transparent);
    EXPECT_EQ(r.Params.PngBackgroundColor, c.Reported);
}

const BackgroundCase kBackground[] = {
    {"GivenColour",
     PNG_COLOR_TYPE_RGB_ALPHA,
     8,
     std::nullopt,
     CreateRGB(10, 200, 30),
     {10, 200, 30},
     CreateRGB(10, 200, 30)},
    {"GivenColour16",
     PNG_COLOR_TYPE_RGB_ALPHA,
     16,
     std::nullopt,
     CreateRGB(10, 200, 30),
     {10, 200, 30},
     CreateRGB(10, 200, 30)},
    {"GivenColourGreyAlpha",
     PNG_COLOR_TYPE_GRAY_ALPHA,
     8,
     std::nullopt,
     CreateRGB(10, 200, 30),
     {10, 200, 30},
     CreateRGB(10, 200, 30)},
    {"FileColour8",
     PNG_COLOR_TYPE_RGB_ALPHA,
     8,
     Rgb16(250, 5, 90),
     CreateRGB(1, 2, 3),
     {250, 5, 90},
     CreateRGB(250, 5, 90)},
    {"FileColour16",
     PNG_COLOR_TYPE_RGB_ALPHA,
     16,
     Rgb16(0xFF00, 0x8000, 0),
     CreateRGB(1, 2, 3),
     {255, 128, 0},
     CreateRGB(255, 128, 0)},
    {"FileGrey",
     PNG_COLOR_TYPE_GRAY_ALPHA,
     8,
     Grey16(77),
     CreateRGB(1, 2, 3),
     {77, 77, 77},
     CreateRGB(77, 77, 77)},
};
INSTANTIATE_TEST_SUITE_P(Png, PngBackground, testing::ValuesIn(kBackground),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(PngReader, BackgroundModeCompositesPaletteTransparency) {
    PngShape s;
    s.ColorType = PNG_COLOR_TYPE_PALETTE;
    s.Width = 2;
    s.Height = 1;
    s.Palette = {C(10, 20, 30), C(40, 50, 60)};
    s.PaletteAlpha = {0};
    s.Rows = {0, 1};
    Loaded r;
    Load(EncodePng(s), r, {.ApplyBackground = true, .Background = CreateRGB(0, 0, 255)});
    EXPECT_EQ(PixelOf(r.Bitmap, 0, 0), (Rgb{0, 0, 255}));
    EXPECT_EQ(PixelOf(r.Bitmap, 1, 0), (Rgb{40, 50, 60}));
}

// ---- Bad data ----

// Noise barely compresses, so a cut at a fraction of the file is near the same fraction of the rows.
PngShape NoiseImage(bool interlace) {
    PngShape s = RampImage(PNG_COLOR_TYPE_RGB, interlace);
    s.Width = 64;
    s.Height = 64;
    s.Rows.assign(RowBytesOf(s) * 64, 0);
    for (std::size_t i = 0; i < s.Rows.size(); ++i) s.Rows[i] = std::uint8_t((i * 2654435761u) >> 13);
    return s;
}

struct TCutCase {
    const char* Name;
    bool Interlace;
    int Percent; // of the file kept
};
class PngCut : public testing::TestWithParam<TCutCase> {};

// libpng reads ahead and is handed zeros past the end: the rows kept must be the file's own.
TEST_P(PngCut, KeepsTheRowsTheFileHolds) {
    const TCutCase& c = GetParam();
    const std::vector<std::uint8_t> whole = EncodePng(NoiseImage(c.Interlace));
    Loaded full;
    Load(whole, full);
    ASSERT_FALSE(full.Aborting);
    std::vector<std::uint8_t> bytes = whole;
    bytes.resize(bytes.size() * std::size_t(c.Percent) / 100);
    Loaded r;
    Load(bytes, r);
    ASSERT_FALSE(r.Aborting) << r.Outcome.Refusal;
    EXPECT_EQ(r.Params.ImageWidth, 64);
    EXPECT_TRUE(r.Outcome.DataEndsEarly);
    int kept = 0;
    if (c.Interlace) { // the passes are spread over the image: the mask says what is missing
        EXPECT_FALSE(r.Outcome.MissingRowsKnown());
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                if (r.Mask->RowPointer(y)[x] == 0) continue;
                ++kept;
                ASSERT_EQ(PixelOf(r.Bitmap, x, y), PixelOf(full.Bitmap, x, y)) << x << "," << y;
            }
        EXPECT_GT(kept, 0);
        EXPECT_LT(kept, 64 * 64);
        return;
    }
    ASSERT_TRUE(r.Outcome.MissingRowsKnown());
    EXPECT_EQ(r.Outcome.LastMissingRow, 63);
    kept = r.Outcome.FirstMissingRow;
    EXPECT_GT(kept, 0);
    for (int y = 0; y < kept; ++y)
        for (int x = 0; x < 64; ++x) ASSERT_EQ(PixelOf(r.Bitmap, x, y), PixelOf(full.Bitmap, x, y));
}

const TCutCase kCuts[] = {{"Quarter", false, 25},       {"Half", false, 50},
                          {"ThreeQuarters", false, 75}, {"InterlacedQuarter", true, 25},
                          {"InterlacedHalf", true, 50}, {"InterlacedThreeQuarters", true, 75}};
INSTANTIATE_TEST_SUITE_P(Png, PngCut, testing::ValuesIn(kCuts),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(PngReader, CutBeforeItsImageDataGivesNoImage) {
    std::vector<std::uint8_t> bytes = EncodePng(NoiseImage(false));
    bytes.resize(60); // the header chunk and a little of the data chunk's own header
    Loaded r;
    Load(bytes, r);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, "data ends before the first row");
}

TEST(PngReader, CutAfterItsImageDataIsWhole) {
    std::vector<std::uint8_t> bytes = EncodePng(NoiseImage(false));
    bytes.resize(bytes.size() - 12); // without the end chunk
    Loaded r;
    Load(bytes, r);
    EXPECT_FALSE(r.Aborting);
    EXPECT_FALSE(r.Outcome.DataEndsEarly);
}

TEST(PngReader, SizeTheDataCannotHoldIsRefused) {
    // A valid 2x2 image whose header is rewritten to claim 1,000,000 x 1,000,000 pixels.
    PngShape s;
    s.Width = 2;
    s.Height = 2;
    std::vector<std::uint8_t> bytes = EncodePng(s);
    const std::uint8_t big[8] = {0x00, 0x0F, 0x42, 0x40, 0x00, 0x0F, 0x42, 0x40};
    std::memcpy(&bytes[16], big, 8);
    const std::uint32_t crc = std::uint32_t(crc32(0, &bytes[12], 17));
    bytes[29] = std::uint8_t(crc >> 24);
    bytes[30] = std::uint8_t(crc >> 16);
    bytes[31] = std::uint8_t(crc >> 8);
    bytes[32] = std::uint8_t(crc);
    Loaded r;
    Load(bytes, r);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, "image larger than the file can hold");
    EXPECT_EQ(r.Params.ImageWidth, 1000000);
    EXPECT_EQ(r.Bitmap.PixelType(), ieNone);
}

TEST(PngReader, ReadsFromTheStreamPosition) {
    std::vector<std::uint8_t> bytes(7, 0xAA);
    const std::vector<std::uint8_t> png = EncodePng(RampImage(PNG_COLOR_TYPE_RGB, false));
    bytes.insert(bytes.end(), png.begin(), png.end());
    TReadOnlyMemoryStream stream(bytes.data(), std::int64_t(bytes.size()));
    stream.SetPosition(7);
    TIEBitmap bitmap;
    TIOParamsVals params;
    std::unique_ptr<TIEMask> mask;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    ReadPngStream(stream, bitmap, params, false, mask, false, progress);
    EXPECT_FALSE(aborting);
    EXPECT_EQ(bitmap.Width(), 13);
}

// Fuzzer finding: an iTXt chunk declaring 2 GiB in a file of a few hundred bytes made libpng
// allocate the whole chunk, and the zero fill past the stream's end touch it. The reader now skips
// the chunks it does not use and checks the fill before doing it.
TEST(PngReader, HugeTextChunkLengthTakesNoMemory) {
    const std::vector<std::uint8_t> png = EncodePng(RampImage(PNG_COLOR_TYPE_RGB, false));
    std::vector<std::uint8_t> bytes(png.begin(), png.begin() + 33); // signature and IHDR
    const std::uint8_t chunk[] = {0x7D, 0x00, 0x00, 0x74, 'i', 'T', 'X', 't', 'L', 'i', 'c', 0, 1, 0};
    bytes.insert(bytes.end(), std::begin(chunk), std::end(chunk));
    bytes.insert(bytes.end(), png.begin() + 33, png.end());
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    Loaded r;
    Load(bytes, r);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_TRUE(r.Aborting);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024); // kilobytes
}

// ---- Corpus against Pillow ----

// Writes, per readable file, <index>.rgb (colours with alpha dropped, 16-bit samples cut to their
// high byte) and, when the reader makes alpha from the file, <index>.a. Alpha comes from colour
// types 4 and 6, palette tRNS (except black/white one-bit palettes, which keep their bits) and
// grey tRNS at 2 and 4 bits; nothing else carries alpha.
const char* kPillowScript = R"PY(
import sys, struct
import numpy as np
from PIL import Image
out = sys.argv[1]
for line in sys.stdin:
    idx, path = line.rstrip("\n").split("\t", 1)
    try:
        with open(path, "rb") as f:
            head = f.read(33)
        depth, ctype = head[24], head[25]
        im = Image.open(path)
        im.load()
        mode = im.mode
        if mode in ("I", "I;16", "I;16B"):
            a = np.array(im).astype(np.uint32) >> 8
            rgb = np.stack([a, a, a], axis=-1).astype(np.uint8)
        else:
            rgb = np.array(im.convert("RGB"), dtype=np.uint8)
        alpha = None
        if ctype in (4, 6):
            alpha = np.array(im.getchannel("A") if mode in ("RGBA", "LA") else im.convert("RGBA").getchannel("A"), dtype=np.uint8)
        elif ctype == 3 and "transparency" in im.info:
            pal = im.getpalette()[:6]
            bw = depth == 1 and (pal[:3] in ([0, 0, 0], [255, 255, 255])) and (len(pal) < 6 or pal[3:6] == [255 - pal[0]] * 3)
            if not bw:
                alpha = np.array(im.convert("RGBA").getchannel("A"), dtype=np.uint8)
        elif ctype == 0 and depth in (2, 4) and "transparency" in im.info:
            # The key is compared with the stored sample, before Pillow widens it to 8 bits.
            key = im.info["transparency"] & ((1 << depth) - 1)
            scale = 255 // ((1 << depth) - 1)
            alpha = np.where(np.array(im.convert("L"), dtype=np.uint32) == key * scale, 0, 255).astype(np.uint8)
        with open(f"{out}/{idx}.rgb", "wb") as f:
            f.write(struct.pack("<ii", rgb.shape[1], rgb.shape[0]))
            f.write(rgb.tobytes())
        if alpha is not None:
            with open(f"{out}/{idx}.a", "wb") as f:
                f.write(alpha.tobytes())
    except Exception as e:
        print(idx, "unreadable:", e, file=sys.stderr)
)PY";

class PngCorpus : public testing::Test {
protected:
    static void SetUpTestSuite() {
        Files = testsupport::CorpusFiles("png");
        if (!testsupport::ToolAvailable("/usr/bin/python3")) return;
        Refs = std::make_unique<testsupport::TempDir>();
        std::ofstream(Refs->File("ref.py")) << kPillowScript;
        std::ostringstream list;
        for (std::size_t i = 0; i < Files.size(); ++i)
            if (!Files[i].IsBad()) list << i << "\t" << CorpusDir() << "/" << Files[i].Path << "\n";
        std::ofstream(Refs->File("list.txt")) << list.str();
        HaveRefs =
            testsupport::RunCommand("/usr/bin/python3 " + testsupport::ShellQuote(Refs->File("ref.py")) +
                                    " " + testsupport::ShellQuote(Refs->Path()) + " < " +
                                    testsupport::ShellQuote(Refs->File("list.txt")) + " 2>/dev/null") == 0;
    }
    static void TearDownTestSuite() { Refs.reset(); }

    static inline std::vector<testsupport::CorpusEntry> Files;
    static inline std::unique_ptr<testsupport::TempDir> Refs;
    static inline bool HaveRefs = false;
};

TEST_F(PngCorpus, GoodFilesMatchPillowAndBadFilesEndCleanly) {
    if (Files.empty()) GTEST_SKIP() << "no PNG corpus";
    if (!HaveRefs) GTEST_SKIP() << "python3 with Pillow is not available";
    int compared = 0;
    for (std::size_t i = 0; i < Files.size(); ++i) {
        const auto& e = Files[i];
        SCOPED_TRACE(e.Path);
        const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(CorpusDir() + "/" + e.Path);
        Loaded r;
        Load(bytes, r);
        if (e.IsBad()) {
            // Ended without a crash or a hang: that is all most bad files owe. PngSuite's x files
            // are broken in their structure (signature, header, checksums, missing data).
            if (e.Path.rfind("png/pngsuite/x", 0) == 0) {
                EXPECT_TRUE(r.Aborting);
            }
            continue;
        }
        const std::vector<std::uint8_t> ref =
            testsupport::ReadFileBytes(Refs->File(std::to_string(i) + ".rgb"));
        if (ref.empty()) {
            // Pillow refuses it; so must we.
            EXPECT_TRUE(r.Aborting);
            continue;
        }
        ASSERT_FALSE(r.Aborting);
        std::int32_t w = 0, h = 0;
        std::memcpy(&w, ref.data(), 4);
        std::memcpy(&h, ref.data() + 4, 4);
        ASSERT_EQ(r.Bitmap.Width(), w);
        ASSERT_EQ(r.Bitmap.Height(), h);
        ASSERT_EQ(ref.size(), 8 + std::size_t(w) * std::size_t(h) * 3);
        const std::vector<std::uint8_t> alpha =
            testsupport::ReadFileBytes(Refs->File(std::to_string(i) + ".a"));
        ASSERT_TRUE(r.Mask);
        EXPECT_EQ(r.Mask->FullyOpaque, alpha.empty());
        int colourDiffs = 0, alphaDiffs = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::size_t p = std::size_t(y) * std::size_t(w) + std::size_t(x);
                const Rgb want{ref[8 + p * 3], ref[8 + p * 3 + 1], ref[8 + p * 3 + 2]};
                if (PixelOf(r.Bitmap, x, y) != want) ++colourDiffs;
                const int a = alpha.empty() ? 255 : alpha[p];
                if (r.Mask->RowPointer(y)[x] != a) ++alphaDiffs;
            }
        EXPECT_EQ(colourDiffs, 0);
        EXPECT_EQ(alphaDiffs, 0);
        ++compared;
    }
    EXPECT_GT(compared, 200);
}

} // namespace
