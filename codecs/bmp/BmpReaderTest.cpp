#include "codecs/bmp/BmpReader.h"

#include "codecs/bmp/DibTestSupport.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>

using dibtest::Bytes;
using dibtest::Put16;
using dibtest::Put32;

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00,
                        kBlue = 0x0000FF;

// A bitmap file put together field by field.
struct TBmp {
    std::uint32_t HeaderSize = 40;
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    std::uint16_t Bits = 8;
    std::uint32_t Compression = 0;
    std::vector<std::uint32_t> Table; // 0xRRGGBB
    std::vector<std::uint32_t> Masks; // inside headers of 52 bytes and more, else after the header
    std::int32_t PelsPerMetre = 0;
    Bytes Pixels;

    Bytes Build() const {
        const bool core = HeaderSize == 12;
        const bool masksInside = HeaderSize >= 52;
        const std::uint32_t entry = core ? 3 : 4;
        const std::uint32_t offset = 14 + HeaderSize + (masksInside ? 0 : 4 * std::uint32_t(Masks.size())) +
                                     entry * std::uint32_t(Table.size());
        Bytes b{'B', 'M'};
        Put32(b, offset + std::uint32_t(Pixels.size()));
        Put32(b, 0);
        Put32(b, offset);
        Put32(b, HeaderSize);
        if (core) {
            Put16(b, std::uint32_t(Width));
            Put16(b, std::uint32_t(Height));
            Put16(b, 1);
            Put16(b, Bits);
        } else {
            Put32(b, std::uint32_t(Width));
            Put32(b, std::uint32_t(Height));
            Put16(b, 1);
            Put16(b, Bits);
            Put32(b, Compression);
            Put32(b, std::uint32_t(Pixels.size()));
            Put32(b, std::uint32_t(PelsPerMetre));
            Put32(b, std::uint32_t(PelsPerMetre));
            Put32(b, std::uint32_t(Table.size()));
            Put32(b, 0);
            if (masksInside)
                for (std::uint32_t m : Masks) Put32(b, m);
            b.resize(14 + HeaderSize, 0);
            if (!masksInside)
                for (std::uint32_t m : Masks) Put32(b, m);
        }
        for (std::uint32_t c : Table) {
            b.push_back(std::uint8_t(c));
            b.push_back(std::uint8_t(c >> 8));
            b.push_back(std::uint8_t(c >> 16));
            if (!core) b.push_back(0);
        }
        dibtest::Append(b, Pixels);
        return b;
    }
};

struct TLoad {
    TIOParamsVals Params;
    TIEBitmap Bitmap;
    std::unique_ptr<TIEMask> Mask;
    bool Aborting = false;
    TIELoadOutcome Outcome;
    int LastPercent = -1;
    int AbortAtPercentCalls = -1; // the handler sets the flag on this call
    int Calls = 0;

    void Read(const Bytes& file, bool headerOnly = false, std::int64_t dataSize = 0) {
        TReadOnlyMemoryStream s(file.data(), std::int64_t(file.size()));
        TIEProgressRecord progress(
            [this](void*, int percent) {
                LastPercent = percent;
                if (Calls++ == AbortAtPercentCalls) Aborting = true;
            },
            nullptr, Aborting);
        ReadBmpStream(s, Bitmap, dataSize, headerOnly, progress, Params, Mask);
        Outcome = progress.Outcome;
    }
    TIERgbTriple Pixel(int x, int y) {
        const auto img = dibtest::ToRgb(Bitmap);
        const std::uint8_t* p = img.At(x, y);
        return CreateRGB(p[0], p[1], p[2]);
    }
};

TIERgbTriple Rgb(std::uint32_t c) {
    return CreateRGB(std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c));
}

// ---- 1-bit images: a black and white table stays bilevel (a (white, black) table is turned around
// so that 1 stays white); any other pair of colours is shown as those colours.

struct TOneBitCase {
    const char* Name;
    std::vector<std::uint32_t> Table;
    TIEPixelFormat Type;
    std::uint8_t Expected;                // ie1Bit: top three bits of the row, stored as 101
    std::vector<std::uint32_t> Colours{}; // the three pixels, left to right
};

class BmpOneBit : public ::testing::TestWithParam<TOneBitCase> {};

TEST_P(BmpOneBit, KeepsInvertsOrColoursTheBits) {
    const auto& c = GetParam();
    TBmp bmp;
    bmp.Width = 3;
    bmp.Bits = 1;
    bmp.Table = c.Table;
    bmp.Pixels = {0xA0, 0, 0, 0};
    TLoad l;
    l.Read(bmp.Build());
    ASSERT_FALSE(l.Aborting);
    ASSERT_EQ(l.Bitmap.PixelType(), c.Type);
    if (c.Type == ie1Bit) {
        EXPECT_EQ(l.Bitmap.RowPointer(0)[0] & 0xE0, c.Expected);
    }
    for (std::size_t x = 0; x < c.Colours.size(); ++x) EXPECT_EQ(l.Pixel(int(x), 0), Rgb(c.Colours[x])) << x;
    EXPECT_EQ(l.Params.BitsPerSample, 1);
    EXPECT_EQ(l.Params.SamplesPerPixel, 1);
}

const TOneBitCase kOneBitCases[] = {
    {"WhiteBlackIsInverted", {kWhite, kBlack}, ie1Bit, 0x40},
    {"BlackWhiteIsKept", {kBlack, kWhite}, ie1Bit, 0xA0},
    {"SingleWhiteEntryIsKept", {kWhite}, ie1Bit, 0xA0},
    {"ColouredPairShowsItsColours", {kRed, kBlue}, ie24Rgb, 0, {kBlue, kRed, kBlue}},
    {"GreyPairShowsItsGreys", {0x202020, 0xC0C0C0}, ie24Rgb, 0, {0xC0C0C0, 0x202020, 0xC0C0C0}},
    {"BlackOnColour", {kBlack, kGreen}, ie24Rgb, 0, {kGreen, kBlack, kGreen}},
};
INSTANTIATE_TEST_SUITE_P(Table, BmpOneBit, ::testing::ValuesIn(kOneBitCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Row order and impossible dimensions.

TEST(BmpReader, TopDownPutsTheFirstStoredRowAtTheTop) {
    for (const std::int32_t height : {2, -2}) {
        TBmp bmp;
        bmp.Height = height;
        bmp.Table = {kRed, kGreen};
        bmp.Pixels = {0, 0, 0, 0, 1, 0, 0, 0};
        TLoad l;
        l.Read(bmp.Build());
        EXPECT_EQ(l.Params.ImageHeight, 2);
        EXPECT_EQ(l.Pixel(0, 0), Rgb(height < 0 ? kRed : kGreen)) << height;
        EXPECT_EQ(l.Pixel(0, 1), Rgb(height < 0 ? kGreen : kRed)) << height;
    }
}

TEST(BmpReader, ImpossibleDimensionsAbortWithoutAllocating) {
    for (const auto& [w, h] : {std::pair{1, INT_MIN}, std::pair{-127, 64}}) {
        TBmp bmp;
        bmp.Width = w;
        bmp.Height = h;
        TLoad l;
        l.Read(bmp.Build());
        EXPECT_TRUE(l.Aborting) << w << "x" << h;
        EXPECT_EQ(l.Bitmap.PixelType(), ieNone);
    }
}

TEST(BmpReader, HugeSizeTheStreamCannotBackAborts) {
    for (const std::uint32_t compression : {0u, 1u}) {
        TBmp bmp;
        bmp.Width = 100000;
        bmp.Height = 100000;
        bmp.Bits = compression ? 8 : 24;
        bmp.Compression = compression;
        bmp.Pixels.assign(64, 0);
        TLoad l;
        l.Read(bmp.Build());
        EXPECT_TRUE(l.Aborting) << compression;
        EXPECT_EQ(l.Bitmap.PixelType(), ieNone);
        EXPECT_EQ(l.Params.ImageWidth, 100000); // the parameters still describe the file
    }
}

TEST(BmpReader, ZeroWidthFillsTheParametersButGivesNoImage) {
    TBmp bmp;
    bmp.Width = 0;
    bmp.Height = 5;
    for (const bool headerOnly : {true, false}) {
        TLoad l;
        l.Bitmap.Reallocate(3, 3, ie24Rgb);
        l.Read(bmp.Build(), headerOnly);
        EXPECT_EQ(l.Aborting, !headerOnly);
        EXPECT_EQ(l.Outcome.Refusal, headerOnly ? "" : "image of width or height 0");
        EXPECT_EQ(l.Bitmap.Width(), 3);
        EXPECT_EQ(l.Params.ImageWidth, 0);
        EXPECT_EQ(l.Params.ImageHeight, 5);
    }
}

// ---- Files this reader cannot decode give no image and say why; the bitmap stays as it was.

struct TRefusalCase {
    const char* Name;
    TBmp Bmp;
    std::size_t CutTo; // 0: the whole file
    const char* Reason;
};

class BmpRefusal : public ::testing::TestWithParam<TRefusalCase> {};

TEST_P(BmpRefusal, LeavesTheBitmapAndSaysWhy) {
    const auto& c = GetParam();
    Bytes file = c.Bmp.Build();
    if (c.CutTo) file.resize(c.CutTo);
    TLoad l;
    l.Bitmap.Reallocate(2, 2, ie1Bit);
    l.Read(file);
    EXPECT_TRUE(l.Aborting);
    EXPECT_EQ(l.Outcome.Refusal, c.Reason);
    EXPECT_EQ(l.Bitmap.Width(), 2);
    EXPECT_EQ(l.Bitmap.PixelType(), ie1Bit);
}

TBmp Shaped(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression,
            Bytes pixels) {
    TBmp b;
    b.Width = width;
    b.Height = height;
    b.Bits = bits;
    b.Compression = compression;
    b.Pixels = std::move(pixels);
    return b;
}

TBmp WithTable(TBmp b, std::vector<std::uint32_t> table) {
    b.Table = std::move(table);
    return b;
}

// Red, green, blue and alpha fields inside a header of headerSize bytes.
TBmp WithMasks(TBmp b, std::uint32_t headerSize) {
    b.HeaderSize = headerSize;
    b.Masks = {0x00ff0000, 0x0000ff00, 0x000000ff, 0xff000000};
    return b;
}

const TRefusalCase kRefusalCases[] = {
    // bmpsuite's badbitcount.bmp: an all-black page until now.
    {"BitCount30000", Shaped(1, 1, 30000, 0, Bytes(16, 0x55)), 0, "unsupported bit depth 30000"},
    {"EmbeddedJpeg", Shaped(2, 1, 24, 4, Bytes(16, 0x55)), 0, "unsupported compression 4 for 24-bit pixels"},
    {"Rle8WithFourBits", Shaped(1, 1, 4, 1, {0, 1}), 0, "unsupported compression 1 for 4-bit pixels"},
    {"NegativeWidth", Shaped(-4, 1, 8, 0, {}), 0, "invalid image size"},
    {"NotABitmap", Shaped(1, 1, 8, 0, {}), 1, "not a BMP file"},
    // Header fields that do not fit the file: refused, not shown as a black page.
    {"PixelOffsetPastTheEnd", WithTable(Shaped(1, 1, 1, 0, {0, 0, 0, 0}), {kRed, kBlue}), 60,
     "the pixel data offset lies past the end of the file"},
    {"InfoHeaderPastTheEnd", Shaped(1, 1, 24, 0, {1, 2, 3, 0}), 30,
     "the image header runs past the end of the file"},
    // 18 bytes of pixels cannot fill 30000 x 30000: nothing of that size is allocated.
    {"HugeSizeWithoutData", Shaped(30000, 30000, 24, 0, Bytes(18, 0)), 0,
     "image larger than the file can hold"},
    // Found by fuzzing: the bitmap and its alpha mask together overflowed a 64-bit byte count.
    {"HugeSizeWithAlphaMask", WithMasks(Shaped(0x63cf0010, 0x60700002, 32, 3, Bytes(16, 0)), 124), 0,
     "image larger than the file can hold"},
};
INSTANTIATE_TEST_SUITE_P(Table, BmpRefusal, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- A file cut short keeps the rows it holds and says which rows its data did not reach.

struct TCutCase {
    const char* Name;
    bool TopDown;
    std::size_t PixelBytes; // of the 4 rows of 8 bytes each (two 24-bit pixels and padding)
    int FirstMissing, LastMissing;
};

class BmpCut : public ::testing::TestWithParam<TCutCase> {};

TEST_P(BmpCut, ReportsTheMissingRows) {
    const auto& c = GetParam();
    TBmp bmp;
    bmp.Width = 2;
    bmp.Height = c.TopDown ? -4 : 4;
    bmp.Bits = 24;
    for (int i = 0; i < 32; ++i) bmp.Pixels.push_back(std::uint8_t(0x80 + i));
    Bytes file = bmp.Build();
    file.resize(file.size() - 32 + c.PixelBytes);
    TLoad l;
    l.Read(file);
    if (c.FirstMissing == 0 && c.LastMissing == 3) { // no row at all: no image
        EXPECT_TRUE(l.Aborting);
        EXPECT_EQ(l.Outcome.Refusal, "data ends before the first row");
        return;
    }
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Outcome.DataEndsEarly, c.FirstMissing >= 0);
    EXPECT_EQ(l.Outcome.FirstMissingRow, c.FirstMissing);
    EXPECT_EQ(l.Outcome.LastMissingRow, c.LastMissing);
    // The first stored row is there whenever any row is.
    if (c.PixelBytes >= 8) {
        EXPECT_EQ(l.Pixel(0, c.TopDown ? 0 : 3), CreateRGB(0x82, 0x81, 0x80));
    }
}

const TCutCase kCutCases[] = {
    {"Whole", false, 32, -1, -1},
    {"LastRowWithoutItsPadding", false, 30, -1, -1},
    {"BottomUpAfterOneRow", false, 8, 0, 2},
    {"BottomUpInTheThirdRow", false, 20, 0, 1},
    {"BottomUpInTheLastPixel", false, 29, 0, 0},
    {"TopDownAfterOneRow", true, 8, 1, 3},
    {"TopDownInTheSecondRow", true, 9, 1, 3},
    {"NoPixelsAtAll", false, 0, 0, 3},
};
INSTANTIATE_TEST_SUITE_P(Table, BmpCut, ::testing::ValuesIn(kCutCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(BmpReader, NotABitmapAbortsAndChangesNothing) {
    Bytes file = TBmp{}.Build();
    file[0] = 'X';
    TLoad l;
    l.Params.ImageWidth = 77;
    l.Read(file);
    EXPECT_TRUE(l.Aborting);
    EXPECT_EQ(l.Params.ImageWidth, 77);
}

// ---- Colour tables: indexes beyond the table and truncated data give black (white at 1 bit).

TEST(BmpReader, IndexBeyondTheTableIsBlack) {
    TBmp bmp;
    bmp.Width = 2;
    bmp.Table = {kRed, kGreen};
    bmp.Pixels = {1, 200, 0, 0};
    TLoad l;
    l.Read(bmp.Build());
    EXPECT_EQ(l.Pixel(0, 0), Rgb(kGreen));
    EXPECT_EQ(l.Pixel(1, 0), Rgb(kBlack));
}

TEST(BmpReader, PixelsTruncatedDataDoesNotReachAreBlank) {
    TBmp bmp;
    bmp.Width = 2;
    bmp.Height = 2;
    bmp.Table = {kRed, kGreen};
    bmp.Pixels = {1, 1, 0, 0, 1}; // the top row holds one pixel
    TLoad l;
    l.Read(bmp.Build());
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Pixel(0, 1), Rgb(kGreen));
    EXPECT_EQ(l.Pixel(0, 0), Rgb(kGreen));
    EXPECT_EQ(l.Pixel(1, 0), Rgb(kBlack)); // index 0 would be red

    TBmp mono;
    mono.Bits = 1;
    mono.Height = 2;
    mono.Table = {kBlack, kWhite};
    mono.Pixels = {0, 0, 0, 0};
    TLoad m;
    m.Read(mono.Build());
    EXPECT_EQ(m.Pixel(0, 1), Rgb(kBlack));
    EXPECT_EQ(m.Pixel(0, 0), Rgb(kWhite));
}

TEST(BmpReader, NativeEightBitKeepsIndexesWithA256EntryPalette) {
    TBmp bmp;
    bmp.Width = 2;
    bmp.Table = {kRed, kGreen};
    bmp.Pixels = {1, 9, 0, 0};
    TLoad l;
    l.Params.NativePixelFormat = true;
    l.Read(bmp.Build());
    ASSERT_EQ(l.Bitmap.PixelType(), ie8Palette);
    EXPECT_EQ(l.Bitmap.PaletteLength(), 256);
    EXPECT_EQ(l.Bitmap.RowPointer(0)[1], 9);
    EXPECT_EQ(l.Bitmap.PaletteEntry(1), Rgb(kGreen));
    EXPECT_EQ(l.Bitmap.PaletteEntry(9), Rgb(kBlack));
}

// ---- 16- and 32-bit pixels: default layouts and bit fields, wherever the masks are stored.

struct TFieldsCase {
    const char* Name;
    std::uint32_t HeaderSize;
    std::uint16_t Bits;
    std::uint32_t Compression;
    std::vector<std::uint32_t> Masks;
    std::vector<std::uint32_t> Table;
    std::uint32_t Pixel;
    std::uint32_t Expected;
};

class BmpFields : public ::testing::TestWithParam<TFieldsCase> {};

TEST_P(BmpFields, ExtractsChannels) {
    const auto& c = GetParam();
    TBmp bmp;
    bmp.HeaderSize = c.HeaderSize;
    bmp.Bits = c.Bits;
    bmp.Compression = c.Compression;
    bmp.Masks = c.Masks;
    bmp.Table = c.Table;
    Put32(bmp.Pixels, c.Pixel);
    TLoad l;
    l.Read(bmp.Build());
    ASSERT_FALSE(l.Aborting);
    EXPECT_EQ(l.Pixel(0, 0), Rgb(c.Expected));
    EXPECT_EQ(l.Params.BitsPerSample, c.Bits == 16 ? 5 : 8);
}

const std::vector<std::uint32_t> k565 = {0xF800, 0x07E0, 0x001F};
const TFieldsCase kFieldsCases[] = {
    // Narrow channels reach the full range: v * 255 / (2^bits - 1), rounded.
    {"Default555White", 40, 16, 0, {}, {}, 0x7FFF, 0xFFFFFF},
    {"Default555Red", 40, 16, 0, {}, {}, 0x7C00, 0xFF0000},
    {"Default555Middle", 40, 16, 0, {}, {}, (16 << 10) | (1 << 5) | 15, 0x84087B},
    {"Masks565Red", 40, 16, 3, k565, {}, 0xF800, 0xFF0000},
    {"Masks565Green", 40, 16, 3, k565, {}, 0x07E0, 0x00FF00},
    {"Masks565Blue", 40, 16, 3, k565, {}, 0x001F, 0x0000FF},
    {"Masks565Middle", 40, 16, 3, k565, {}, (16 << 11) | (32 << 5) | 1, 0x848208},
    {"MasksInsideV4Header", 108, 16, 3, k565, {}, 0x07E0, 0x00FF00},
    {"MasksBeforeColourTable", 40, 16, 3, k565, {kRed, kBlue}, 0x07E0, 0x00FF00},
    {"MasksOf4444", 56, 16, 3, {0x0F00, 0x00F0, 0x000F}, {}, 0x0F80, 0xFF8800},
    {"Default32", 40, 32, 0, {}, {}, 0x00112233, 0x112233},
    {"Swapped32", 40, 32, 3, {0xFF, 0xFF00, 0xFF0000}, {}, 0x00112233, 0x332211},
    {"HighBits32", 124, 32, 3, {0xFF000000, 0xFF0000, 0xFF00}, {}, 0x11223344, 0x112233},
    {"ZeroMasksFallBackToDefault", 40, 32, 3, {0, 0, 0}, {}, 0x00112233, 0x112233},
};
INSTANTIATE_TEST_SUITE_P(Table, BmpFields, ::testing::ValuesIn(kFieldsCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Run-length data: each case lists the expected palette index per pixel, top row first, -1 black.

struct TRleCase {
    const char* Name;
    std::uint16_t Bits;
    int Width, Height;
    Bytes Data;
    std::vector<int> Expected;
    int FirstMissing = -1, LastMissing = -1; // rows the data did not reach
};

class BmpRunLength : public ::testing::TestWithParam<TRleCase> {};

TEST_P(BmpRunLength, DecodesCodes) {
    const auto& c = GetParam();
    TBmp bmp;
    bmp.Bits = c.Bits;
    bmp.Compression = c.Bits == 8 ? 1 : 2;
    bmp.Width = c.Width;
    bmp.Height = c.Height;
    for (std::uint32_t i = 0; i < 16; ++i) bmp.Table.push_back((16 * i + 1) * 0x010101);
    bmp.Pixels = c.Data;
    TLoad l;
    l.Read(bmp.Build());
    ASSERT_FALSE(l.Aborting);
    EXPECT_TRUE(l.Params.BmpRunLength);
    const auto img = dibtest::ToRgb(l.Bitmap);
    std::vector<int> got;
    for (int y = 0; y < c.Height; ++y)
        for (int x = 0; x < c.Width; ++x)
            got.push_back(img.At(x, y)[0] == 0 ? -1 : (img.At(x, y)[0] - 1) / 16);
    EXPECT_EQ(got, c.Expected);
    EXPECT_EQ(l.Outcome.DataEndsEarly, c.FirstMissing >= 0);
    EXPECT_EQ(l.Outcome.FirstMissingRow, c.FirstMissing);
    EXPECT_EQ(l.Outcome.LastMissingRow, c.LastMissing);
}

const TRleCase kRleCases[] = {
    // Rows are stored bottom-up: the first line of codes fills the bottom row.
    {"Rle8EncodedRuns", 8, 4, 2, {3, 5, 1, 6, 0, 0, 4, 7, 0, 1}, {7, 7, 7, 7, 5, 5, 5, 6}},
    {"Rle8AbsoluteRunOfThreeTakesSixBytes", 8, 4, 1, {0, 3, 1, 2, 3, 0, 1, 9, 0, 1}, {1, 2, 3, 9}},
    {"Rle8AbsoluteRunOfFourTakesSixBytes", 8, 5, 1, {0, 4, 1, 2, 3, 4, 1, 9, 0, 1}, {1, 2, 3, 4, 9}},
    {"Rle8DeltaSkipsPixels", 8, 4, 2, {0, 2, 2, 1, 1, 4, 0, 1}, {-1, -1, 4, -1, -1, -1, -1, -1}},
    {"Rle8DeltaPastTheLastRowStops", 8, 2, 1, {1, 3, 0, 2, 0, 5, 1, 4, 0, 1}, {3, -1}},
    {"Rle8EndsWhenDataRunsOut", 8, 3, 2, {2, 3, 0, 0, 2, 4}, {4, 4, -1, 3, 3, -1}, 0, 0},
    {"Rle8EndsAfterTheLastRow", 8, 1, 2, {1, 1, 0, 0, 1, 2, 0, 0, 1, 3}, {2, 1}},
    {"Rle8LastRowWithoutItsEndCodes", 8, 2, 2, {2, 3, 0, 0, 2, 4}, {4, 4, 3, 3}},
    {"Rle8CutAfterALineEnd", 8, 2, 3, {2, 3, 0, 0}, {-1, -1, -1, -1, 3, 3}, 0, 1},
    {"Rle8TruncatedAbsoluteRun", 8, 4, 2, {4, 9, 0, 0, 0, 10, 1, 2}, {1, 2, -1, -1, 9, 9, 9, 9}, 0, 0},
    {"Rle8RunPastTheEdgeIsDropped", 8, 4, 1, {4, 1, 2, 2, 0, 1}, {1, 1, 1, 1}},
    // Common encoders pad runs to an even count: an odd width must not lose its last column.
    {"Rle8OddWidthPaddedRun", 8, 3, 2, {2, 5, 2, 6, 0, 0, 4, 7, 0, 1}, {7, 7, 7, 5, 5, 6}},
    {"Rle8OddWidthAbsoluteRun", 8, 3, 1, {0, 4, 1, 2, 3, 4, 0, 1}, {1, 2, 3}},
    {"Rle4EncodedRunAlternatesNibbles", 4, 5, 1, {5, 0x12, 0, 1}, {1, 2, 1, 2, 1}},
    {"Rle4AbsoluteRunOfThreeTakesFourBytes", 4, 5, 1, {0, 3, 0x12, 0x30, 1, 0x77, 0, 1}, {1, 2, 3, 7, -1}},
    {"Rle4AbsoluteRunOfFiveTakesSixBytes",
     4,
     6,
     1,
     {0, 5, 0x12, 0x34, 0x50, 0, 1, 0x90, 0, 1},
     {1, 2, 3, 4, 5, 9}},
    {"Rle4AbsoluteRunOfEightTakesSixBytes",
     4,
     9,
     1,
     {0, 8, 0x12, 0x34, 0x56, 0x78, 1, 0x90, 0, 1},
     {1, 2, 3, 4, 5, 6, 7, 8, 9}},
    {"Rle4RunPastTheEdgeIsDropped", 4, 3, 2, {5, 0x12, 0, 0, 1, 0x30}, {3, -1, -1, 1, 2, 1}, 0, 0},
};
INSTANTIATE_TEST_SUITE_P(Table, BmpRunLength, ::testing::ValuesIn(kRleCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- What run-length codes do not paint (skipped by a delta, an early end of line or end of
// bitmap) is transparent; a file whose codes paint every pixel needs no mask.

struct TPaintCase {
    const char* Name;
    int Width, Height;
    Bytes Data;
    std::vector<int> Alpha; // top row first; empty: no mask
};

class BmpRunLengthPaint : public ::testing::TestWithParam<TPaintCase> {};

TEST_P(BmpRunLengthPaint, UnpaintedPixelsAreTransparent) {
    const auto& c = GetParam();
    TBmp bmp;
    bmp.Compression = 1;
    bmp.Width = c.Width;
    bmp.Height = c.Height;
    bmp.Table = {kRed, kGreen};
    bmp.Pixels = c.Data;
    TLoad l;
    l.Read(bmp.Build());
    ASSERT_FALSE(l.Aborting);
    ASSERT_EQ(l.Mask != nullptr, !c.Alpha.empty());
    if (!l.Mask) return;
    EXPECT_FALSE(l.Mask->FullyOpaque);
    std::vector<int> got;
    for (int y = 0; y < c.Height; ++y)
        for (int x = 0; x < c.Width; ++x) got.push_back(l.Mask->GetPixel(x, y));
    EXPECT_EQ(got, c.Alpha);
}

const TPaintCase kPaintCases[] = {
    {"EveryPixelPainted", 2, 2, {2, 1, 0, 0, 2, 0, 0, 1}, {}},
    {"DeltaSkipsPixels", 4, 2, {0, 2, 2, 1, 1, 1, 0, 1}, {0, 0, 255, 0, 0, 0, 0, 0}},
    {"EarlyEndOfLine", 3, 2, {1, 1, 0, 0, 3, 0, 0, 1}, {255, 255, 255, 255, 0, 0}},
    {"EarlyEndOfBitmap", 2, 2, {2, 1, 0, 1}, {0, 0, 255, 255}},
    {"AbsoluteRunThenDelta", 4, 1, {0, 3, 1, 0, 1, 0, 0, 2, 1, 0, 0, 1}, {255, 255, 255, 0}},
};
INSTANTIATE_TEST_SUITE_P(Table, BmpRunLengthPaint, ::testing::ValuesIn(kPaintCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Bit fields with an alpha mask (in V4 and V5 headers, or after an info header with
// compression 6) give alpha; all-zero alpha means none.

struct TAlphaCase {
    const char* Name;
    std::uint32_t HeaderSize;
    std::uint16_t Bits;
    std::uint32_t Compression;
    std::vector<std::uint32_t> Masks;
    std::vector<std::uint32_t> Pixels; // one row
    std::vector<int> Alpha;            // empty: no mask
};

class BmpAlpha : public ::testing::TestWithParam<TAlphaCase> {};

TEST_P(BmpAlpha, AlphaMaskGoesToTheMask) {
    const auto& c = GetParam();
    TBmp bmp;
    bmp.HeaderSize = c.HeaderSize;
    bmp.Bits = c.Bits;
    bmp.Compression = c.Compression;
    bmp.Masks = c.Masks;
    bmp.Width = int(c.Pixels.size());
    for (std::uint32_t p : c.Pixels) {
        if (c.Bits == 16)
            Put16(bmp.Pixels, p);
        else
            Put32(bmp.Pixels, p);
    }
    while (bmp.Pixels.size() % 4) bmp.Pixels.push_back(0);
    TLoad l;
    l.Read(bmp.Build());
    ASSERT_FALSE(l.Aborting) << l.Outcome.Refusal;
    ASSERT_EQ(l.Mask != nullptr, !c.Alpha.empty());
    if (c.Bits == 32) {
        EXPECT_EQ(l.Pixel(0, 0), Rgb(c.Pixels[0] & 0xFFFFFF));
    }
    if (!l.Mask) return;
    std::vector<int> got;
    for (int x = 0; x < bmp.Width; ++x) got.push_back(l.Mask->GetPixel(x, 0));
    EXPECT_EQ(got, c.Alpha);
}

const std::vector<std::uint32_t> kArgb = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
const TAlphaCase kAlphaCases[] = {
    {"V4", 108, 32, 3, kArgb, {0x80112233, 0x00445566, 0xFF778899}, {128, 0, 255}},
    {"V5", 124, 32, 3, kArgb, {0x80112233, 0x00445566, 0xFF778899}, {128, 0, 255}},
    {"V3AlphaHeader", 56, 32, 3, kArgb, {0x01112233, 0x00445566}, {1, 0}},
    {"AlphaBitFieldsAfterInfoHeader", 40, 32, 6, kArgb, {0x40112233, 0xC0445566}, {64, 192}},
    {"AllZeroAlphaMeansNone", 108, 32, 3, kArgb, {0x00112233, 0x00445566}, {}},
    {"NoAlphaMask", 108, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0}, {0x80112233}, {}},
    {"Rgb32IgnoresTheByte", 40, 32, 0, {}, {0x80112233}, {}},
    {"Sixteen1555", 108, 16, 3, {0x7C00, 0x03E0, 0x001F, 0x8000}, {0x8000, 0x0000}, {255, 0}},
};
INSTANTIATE_TEST_SUITE_P(Table, BmpAlpha, ::testing::ValuesIn(kAlphaCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(BmpReader, ImpossibleHeaderSizesAreRefused) {
    for (const std::uint32_t size : {0u, 8u, 11u, 100000u}) {
        Bytes file = TBmp{}.Build();
        for (int i = 0; i < 4; ++i) file[std::size_t(14 + i)] = std::uint8_t(size >> (8 * i));
        TLoad l;
        l.Read(file);
        EXPECT_TRUE(l.Aborting) << size;
        EXPECT_EQ(l.Outcome.Refusal, size < 12 ? "invalid header size " + std::to_string(size)
                                               : "the image header runs past the end of the file");
        EXPECT_EQ(l.Bitmap.PixelType(), ieNone);
    }
}

// ---- Parameters.

struct THeaderCase {
    const char* Name;
    std::uint32_t HeaderSize;
    std::int32_t PelsPerMetre;
    int Kind;
    int Dpi;
};

class BmpHeader : public ::testing::TestWithParam<THeaderCase> {};

TEST_P(BmpHeader, SetsKindAndResolution) {
    const auto& c = GetParam();
    TBmp bmp;
    bmp.HeaderSize = c.HeaderSize;
    bmp.PelsPerMetre = c.PelsPerMetre;
    bmp.Table = {kRed};
    if (c.HeaderSize == 12) bmp.Table.resize(256);
    bmp.Pixels = {0, 0, 0, 0};
    TLoad l;
    l.Read(bmp.Build(), true);
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Params.BmpHeaderKind, c.Kind);
    EXPECT_EQ(l.Params.HorizontalDpi, c.Dpi);
    EXPECT_EQ(l.Params.VerticalDpi, c.Dpi);
    EXPECT_EQ(l.Params.Palette.at(0), Rgb(kRed));
    EXPECT_EQ(l.Bitmap.PixelType(), ieNone); // header only
}

const THeaderCase kHeaderCases[] = {
    {"CoreHeaderTakesTheDefaults", 12, 0, 2, 300},  {"InfoHeader72Dpi", 40, 2835, 1, 72},
    {"InfoHeaderWithoutResolution", 40, 0, 1, 300}, {"Os2Header", 64, 11811, 3, 300},
    {"V5HeaderIsOther", 124, 3937, 0, 100},         {"NegativeResolution", 40, -2835, 1, 300},
};
INSTANTIATE_TEST_SUITE_P(Table, BmpHeader, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(BmpReader, ReportsProgressAndStopsWhenAborted) {
    TBmp bmp;
    bmp.Height = 4;
    bmp.Table = {kRed};
    bmp.Pixels.assign(16, 0);
    TLoad l;
    l.AbortAtPercentCalls = 1; // abort while reporting the second row
    l.Read(bmp.Build());
    EXPECT_TRUE(l.Aborting);
    EXPECT_EQ(l.LastPercent, 25);
    EXPECT_EQ(l.Pixel(0, 3), Rgb(kRed));   // the first stored row was decoded
    EXPECT_EQ(l.Pixel(0, 2), Rgb(kBlack)); // the rest stays blank
}

// ---- Corpus: good files match the suite's reference PNG (or Pillow, or ImageMagick).

constexpr int kNotCompared = -1;
struct TCorpusExpectation {
    const char* File;
    int DropBits; // low bits of each channel not compared; kNotCompared: pixels not compared
    int Tolerance;
    const char* Reference; // another reference file, relative to the corpus
    const char* Why;
};

const TCorpusExpectation kCorpusExpectations[] = {
    {"rgb16.bmp", 3, 0, nullptr, "5-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgb16bfdef.bmp", 3, 0, nullptr,
     "5-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgb16-565.bmp", 3, 0, nullptr,
     "5- and 6-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgb16-565pal.bmp", 3, 0, nullptr,
     "5- and 6-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgb16faketrns.bmp", 3, 0, nullptr,
     "5-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgba16-5551.bmp", 3, 0, nullptr,
     "5-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"Info_X1_R5_G5_B5.bmp", 3, 0, nullptr,
     "5-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"Info_X1_R5_G5_B5_Top_Down.bmp", 3, 0, nullptr,
     "5-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"V3_R5_G6_B5.bmp", 3, 0, nullptr,
     "5- and 6-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"V3_R5_G6_B5_Top_Down.bmp", 3, 0, nullptr,
     "5- and 6-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"V4_R5_G6_B5.bmp", 3, 0, nullptr,
     "5- and 6-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"V5_A1_R5_G5_B5.bmp", 3, 0, nullptr,
     "5-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"V3_X4_R4_G4_B4.bmp", 4, 0, nullptr,
     "4-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"V3_X4_R4_G4_B4_Top_Down.bmp", 4, 0, nullptr,
     "4-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgba16-4444.bmp", 4, 0, nullptr,
     "4-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgb16-231.bmp", 7, 0, nullptr,
     "1- to 3-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgba16-1924.bmp", 7, 0, nullptr,
     "1- to 9-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgb16-3103.bmp", 5, 0, nullptr,
     "3-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgba32-61754.bmp", 3, 0, nullptr,
     "5- and 6-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgb32-7187.bmp", 1, 0, nullptr,
     "7-bit channels: the reference repeats bits, ours rounds v * 255 / max"},
    {"rgba32-1010102.bmp", 0, 1, nullptr, "10-bit channels are truncated, the reference rounds"},
    {"pal8oversizepal.bmp", 0, 0, "bmp/bmpsuite/ref/pal8.png", "no decoder takes 300 colours; same picture"},
    {"pal2.bmp", kNotCompared, 0, nullptr, "2-bit images are not decoded: the bitmap stays black"},
    {"pal2color.bmp", kNotCompared, 0, nullptr, "2-bit images are not decoded: the bitmap stays black"},
    {"rgba64.bmp", kNotCompared, 0, nullptr, "64-bit images are not decoded: the bitmap stays black"},
    {"pal1huffmsb.bmp", kNotCompared, 0, nullptr, "Huffman data is not decoded: the bitmap stays white"},
    {"rgb24jpeg.bmp", kNotCompared, 0, nullptr, "embedded JPEG is not decoded: the bitmap stays black"},
    {"rgb24png.bmp", kNotCompared, 0, nullptr, "embedded PNG is not decoded: the bitmap stays black"},
    {"rgb24rle24.bmp", kNotCompared, 0, nullptr, "24-bit rows are read as stored, whatever the compression"},
    {"rle_overflow.bmp", kNotCompared, 0, nullptr, "no reference; a run past the edge is only not to crash"},
    {"windows_dibv5_dump.dib", kNotCompared, 0, nullptr, "no file header: refused like every non-BM stream"},
    {"clipboard.dib", kNotCompared, 0, nullptr, "no file header: refused like every non-BM stream"},
};

const TCorpusExpectation* ExpectationFor(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    for (const auto& e : kCorpusExpectations)
        if (name == e.File) return &e;
    return nullptr;
}

// A 1-bit result shows the file's colours: bit b is table entry b, unless the reader turned a
// (white, black) table around.
testsupport::RgbImage Colours(TLoad& l) {
    testsupport::RgbImage img = dibtest::ToRgb(l.Bitmap);
    if (l.Bitmap.PixelType() != ie1Bit || l.Params.PaletteCount < 1) return img;
    const bool inverted = l.Params.PaletteCount == 2 && l.Params.Palette[0] == CreateRGB(255, 255, 255) &&
                          l.Params.Palette[1] == CreateRGB(0, 0, 0);
    if (inverted) return img;
    for (std::size_t p = 0; p < img.Pixels.size(); p += 3) {
        const unsigned bit = img.Pixels[p] ? 1 : 0;
        const TIERgbTriple c = bit < unsigned(l.Params.PaletteCount) ? l.Params.Palette[bit] : TIERgbTriple{};
        img.Pixels[p] = c.r;
        img.Pixels[p + 1] = c.g;
        img.Pixels[p + 2] = c.b;
    }
    return img;
}

std::string ReferenceFor(const testsupport::CorpusEntry& e, const TCorpusExpectation* x) {
    const std::string dir = testsupport::CorpusDir() + "/";
    if (x && x->Reference) return dir + x->Reference;
    const std::filesystem::path p(e.Path);
    // Identical files are stored once, so a suite's reference may belong to a file kept in another suite.
    for (const std::string& ref : {dir + "bmp/bmpsuite/ref/" + p.stem().string() + ".png",
                                   dir + p.parent_path().string() + "/ref/" + p.filename().string() + ".png",
                                   dir + "bmp/image-rs/ref/" + p.filename().string() + ".png"})
        if (e.Path.rfind("bmp/", 0) == 0 && std::filesystem::exists(ref)) return ref;
    return dir + e.Path; // decoded by Pillow itself
}

class BmpCorpus : public ::testing::TestWithParam<testsupport::CorpusEntry> {};

TEST_P(BmpCorpus, MatchesReferenceOrFailsCleanly) {
    FOLIANTO_REQUIRE_CORPUS();
    const auto& e = GetParam();
    const std::string path = testsupport::CorpusDir() + "/" + e.Path;
    TLoad l;
    {
        TFileStream s(path, fmOpenRead);
        TIEProgressRecord progress(l.Aborting);
        ReadBmpStream(s, l.Bitmap, s.Size(), false, progress, l.Params, l.Mask);
    }
    if (e.IsBad()) {
        // Refused, or decoded partially into a bitmap no larger than the allocation guard allows.
        if (l.Bitmap.PixelType() != ieNone) {
            EXPECT_LE(std::int64_t(l.Bitmap.RowStride()) * l.Bitmap.Height(), std::int64_t(64) << 20);
        }
        return;
    }
    const TCorpusExpectation* x = ExpectationFor(e.Path);
    if (x && x->DropBits == kNotCompared) return;
    ASSERT_FALSE(l.Aborting);
    if (!testsupport::ToolAvailable("/usr/bin/python3")) GTEST_SKIP() << "Pillow missing";
    testsupport::RgbImage ref;
    Bytes alpha;
    if (!dibtest::DecodeWithPillow(ReferenceFor(e, x), ref, alpha)) {
        alpha.clear();
        ASSERT_TRUE(testsupport::DecodeWithImageMagick(path, ref)) << "no reference decoder takes it";
    }
    testsupport::RgbImage got = Colours(l);
    if (x && x->DropBits > 0) {
        for (auto* img : {&got, &ref})
            for (auto& v : img->Pixels) v = std::uint8_t(v & (0xFF << x->DropBits));
    }
    const int diff = dibtest::MaxVisibleDifference(got, ref, alpha);
    EXPECT_GE(diff, 0) << "size differs";
    EXPECT_LE(diff, x ? x->Tolerance : 0);
}

std::vector<testsupport::CorpusEntry> BmpAndDibFiles() {
    auto files = testsupport::CorpusCases("bmp");
    const auto dib = testsupport::CorpusFiles("dib");
    files.insert(files.end(), dib.begin(), dib.end());
    return files;
}

INSTANTIATE_TEST_SUITE_P(Corpus, BmpCorpus, ::testing::ValuesIn(BmpAndDibFiles()), [](const auto& info) {
    std::string n = std::to_string(info.index) + "_" + std::filesystem::path(info.param.Path).stem().string();
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});

} // namespace
