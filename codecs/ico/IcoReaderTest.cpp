#include "codecs/ico/IcoReader.h"

#include "codecs/bmp/DibTestSupport.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using dibtest::Bytes;
using dibtest::Put16;
using dibtest::Put32;

namespace {

const TIERgbTriple kRedT = CreateRGB(255, 0, 0), kGreenT = CreateRGB(0, 255, 0),
                   kBlueT = CreateRGB(0, 0, 255), kWhiteT = CreateRGB(255, 255, 255),
                   kBlackT = CreateRGB(0, 0, 0);

// One directory entry with its image: a 40-byte (or longer) info header, colour table, colour rows and
// AND rows, or raw bytes (a PNG stream).
struct TEntry {
    int Width = 2, Height = 2, ColorCount = 0, Reserved = 0;
    int PlanesOrHotX = 1, BitsOrHotY = 0;
    std::int32_t InfoWidth = 2, InfoHeight = 4;
    int InfoBits = 8;
    std::uint32_t InfoSize = 40;
    std::vector<TIERgbTriple> Table;
    Bytes Colour, And;
    Bytes Raw;

    Bytes Image() const {
        if (!Raw.empty()) return Raw;
        Bytes b;
        Put32(b, InfoSize);
        Put32(b, std::uint32_t(InfoWidth));
        Put32(b, std::uint32_t(InfoHeight));
        Put16(b, 1);
        Put16(b, std::uint32_t(InfoBits));
        b.resize(InfoSize, 0);
        for (const auto& c : Table) dibtest::Append(b, {c.b, c.g, c.r, 0});
        dibtest::Append(b, Colour);
        dibtest::Append(b, And);
        return b;
    }
};

Bytes Directory(const std::vector<TEntry>& entries, int type = 1) {
    Bytes b;
    Put16(b, 0);
    Put16(b, std::uint32_t(type));
    Put16(b, std::uint32_t(entries.size()));
    std::uint32_t offset = 6 + 16 * std::uint32_t(entries.size());
    Bytes images;
    for (const auto& e : entries) {
        const Bytes img = e.Image();
        dibtest::Append(b, {std::uint8_t(e.Width), std::uint8_t(e.Height), std::uint8_t(e.ColorCount),
                            std::uint8_t(e.Reserved)});
        Put16(b, std::uint32_t(e.PlanesOrHotX));
        Put16(b, std::uint32_t(e.BitsOrHotY));
        Put32(b, std::uint32_t(img.size()));
        Put32(b, offset);
        offset += std::uint32_t(img.size());
        dibtest::Append(images, img);
    }
    dibtest::Append(b, images);
    return b;
}

struct TLoad {
    TIOParamsVals Params;
    TIEBitmap Bitmap;
    std::unique_ptr<TIEMask> Mask;
    bool Aborting = false;
    TIELoadOutcome Outcome;

    void Read(const Bytes& file, bool cursor = false, bool headerOnly = false) {
        TReadOnlyMemoryStream s(file.data(), std::int64_t(file.size()));
        TIEProgressRecord progress(Aborting);
        if (cursor) {
            ReadCurStream(s, Bitmap, Params, Mask, progress, headerOnly);
        } else {
            ReadIcoStream(s, Bitmap, Params, Mask, progress, headerOnly);
        }
        Outcome = progress.Outcome;
    }
    TIERgbTriple Pixel(int x, int y) {
        const auto img = dibtest::ToRgb(Bitmap);
        const std::uint8_t* p = img.At(x, y);
        return CreateRGB(p[0], p[1], p[2]);
    }
    int Alpha(int x, int y) const { return Mask ? Mask->GetPixel(x, y) : -1; }
};

// A 2 x 2 image whose AND bitmap marks the top-left pixel (stored last, rows bottom-up).
TEntry TwoByTwo(int bits) {
    TEntry e;
    e.InfoBits = bits;
    e.BitsOrHotY = bits;
    e.And = {0, 0, 0, 0, 0x80, 0, 0, 0};
    switch (bits) {
    case 1: // bottom row 1 0, top row 0 1
        e.Table = {kBlackT, kWhiteT};
        e.Colour = {0x80, 0, 0, 0, 0x40, 0, 0, 0};
        break;
    case 4: // bottom row green blue, top row red green
        e.Table = {kRedT, kGreenT, kBlueT};
        e.Table.resize(16);
        e.Colour = {0x12, 0, 0, 0, 0x01, 0, 0, 0};
        break;
    case 8:
        e.Table = {kRedT, kGreenT, kBlueT};
        e.Table.resize(256);
        e.Colour = {1, 2, 0, 0, 0, 1, 0, 0};
        break;
    case 24:
        e.Colour = {0, 255, 0, 255, 0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};
        break;
    default:
        break;
    }
    return e;
}

// ---- Transparent pixels take the background colour and mask 0; the others keep their colour.

struct TBackgroundCase {
    const char* Name;
    int Bits;
    TIERgbTriple Background;
    TIERgbTriple Transparent; // pixel (0, 0)
    TIERgbTriple Opaque;      // pixel (1, 0)
};

class IcoBackground : public ::testing::TestWithParam<TBackgroundCase> {};

TEST_P(IcoBackground, ColoursTransparentPixels) {
    const auto& c = GetParam();
    TLoad l;
    l.Params.IconBackgroundColor = c.Background;
    l.Read(Directory({TwoByTwo(c.Bits)}));
    ASSERT_FALSE(l.Aborting);
    EXPECT_EQ(l.Bitmap.PixelType(), c.Bits == 1 ? ie1Bit : ie24Rgb);
    EXPECT_EQ(l.Pixel(0, 0), c.Transparent);
    EXPECT_EQ(l.Pixel(1, 0), c.Opaque);
    EXPECT_EQ(l.Alpha(0, 0), 0);
    EXPECT_EQ(l.Alpha(1, 0), 255);
    EXPECT_EQ(l.Alpha(0, 1), 255);
    EXPECT_FALSE(l.Mask->FullyOpaque);
}

const TBackgroundCase kBackgroundCases[] = {
    {"FourBitRed", 4, kRedT, kRedT, kGreenT},
    {"EightBitWhite", 8, kWhiteT, kWhiteT, kGreenT},
    {"TwentyFourBitRed", 24, kRedT, kRedT, kGreenT},
    {"OneBitWhiteFlipsTheBit", 1, kWhiteT, kWhiteT, kWhiteT},
    {"OneBitOtherKeepsTheBit", 1, kRedT, kBlackT, kWhiteT},
};
INSTANTIATE_TEST_SUITE_P(Table, IcoBackground, ::testing::ValuesIn(kBackgroundCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(IcoReader, ThirtyTwoBitAlphaGoesToTheMask) {
    TEntry e;
    e.Width = 2;
    e.Height = 1;
    e.InfoHeight = 2;
    e.InfoBits = 32;
    e.Colour = {1, 2, 3, 255, 4, 5, 6, 7};
    e.And = {0xC0, 0, 0, 0}; // ignored: the alpha bytes rule
    TLoad l;
    l.Read(Directory({e}));
    EXPECT_EQ(l.Pixel(0, 0), CreateRGB(3, 2, 1));
    EXPECT_EQ(l.Pixel(1, 0), CreateRGB(6, 5, 4));
    EXPECT_EQ(l.Alpha(0, 0), 255);
    EXPECT_EQ(l.Alpha(1, 0), 7);
    EXPECT_EQ(l.Params.BitsPerSample, 8);
    EXPECT_EQ(l.Params.SamplesPerPixel, 4);
}

// ---- Sizes: the info header wins over a disagreeing entry only below 2048 (icons only).

struct TSizeCase {
    const char* Name;
    bool Cursor;
    int EntryW, EntryH;
    std::int32_t InfoW, InfoH;
    int W, H;
};

class IcoSize : public ::testing::TestWithParam<TSizeCase> {};

TEST_P(IcoSize, ChoosesTheSize) {
    const auto& c = GetParam();
    TEntry e;
    e.Width = c.EntryW;
    e.Height = c.EntryH;
    e.InfoWidth = c.InfoW;
    e.InfoHeight = c.InfoH;
    TLoad l;
    l.Read(Directory({e}, c.Cursor ? 2 : 1), c.Cursor, true);
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Params.ImageWidth, c.W);
    EXPECT_EQ(l.Params.ImageHeight, c.H);
}

const TSizeCase kSizeCases[] = {
    {"InfoHeaderWins", false, 32, 32, 48, 96, 48, 48},
    {"ZeroEntryTakesTheInfoHeader", false, 0, 0, 256, 512, 256, 256},
    {"InfoHeaderAt2048Loses", false, 32, 32, 2048, 4096, 32, 32},
    {"DoubledHeightAt2048Loses", false, 32, 32, 1024, 2048, 32, 32},
    {"DoubledHeightBelow2048Wins", false, 32, 32, 1023, 2046, 1023, 1023},
    {"ZeroInfoWidthLoses", false, 16, 16, 0, 0, 16, 16},
    {"CursorKeepsItsEntry", true, 32, 32, 48, 96, 32, 32},
    {"CursorZeroEntryTakesTheInfoHeader", true, 0, 0, 48, 96, 48, 48},
};
INSTANTIATE_TEST_SUITE_P(Table, IcoSize, ::testing::ValuesIn(kSizeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(IcoReader, InfoHeaderSizeWinsForTheWholeLoad) {
    TEntry e = TwoByTwo(8);
    e.Width = 1;
    e.Height = 1; // the directory disagrees with the 2 x 2 image
    TLoad l;
    l.Read(Directory({e}));
    EXPECT_EQ(l.Bitmap.Width(), 2);
    EXPECT_EQ(l.Bitmap.Height(), 2);
    EXPECT_EQ(l.Pixel(1, 1), kBlueT);
}

// ---- Cursor colour tables: 0 means 2^bits entries, 255 means 256.

struct TCursorColoursCase {
    const char* Name;
    int ColorCount;
    int Bits;
    int PaletteCount;
};

class CurColours : public ::testing::TestWithParam<TCursorColoursCase> {};

TEST_P(CurColours, ReadsTheTable) {
    const auto& c = GetParam();
    TEntry e;
    e.ColorCount = c.ColorCount;
    e.InfoBits = c.Bits;
    e.PlanesOrHotX = 5;
    e.BitsOrHotY = 7;
    e.Table.assign(std::size_t(c.PaletteCount), kBlueT);
    TLoad l;
    l.Read(Directory({e}, 2), true, true);
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Params.PaletteCount, c.PaletteCount);
    EXPECT_EQ(l.Params.BitsPerSample, c.Bits);
    EXPECT_EQ(l.Params.SamplesPerPixel, 1);
    EXPECT_EQ(l.Params.CursorHotSpotX, 5);
    EXPECT_EQ(l.Params.CursorHotSpotY, 7);
}

const TCursorColoursCase kCursorColoursCases[] = {
    {"Count255Means256", 255, 8, 256},
    {"Count0MeansFullTable", 0, 4, 16},
    {"CountIsTaken", 2, 1, 2},
    {"ShortTableForEightBits", 16, 8, 16},
};
INSTANTIATE_TEST_SUITE_P(Table, CurColours, ::testing::ValuesIn(kCursorColoursCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(CurReader, ShortTableGivesBlackAndTwoColoursAtEightBitsStayColour) {
    TEntry e = TwoByTwo(8);
    e.ColorCount = 2; // indexes 2 are beyond the table
    e.Table.resize(2);
    TLoad l;
    l.Params.CursorBackgroundColor = kBlueT;
    l.Read(Directory({e}, 2), true);
    ASSERT_FALSE(l.Aborting);
    EXPECT_EQ(l.Bitmap.PixelType(), ie24Rgb);
    EXPECT_EQ(l.Pixel(0, 0), kBlueT); // transparent
    EXPECT_EQ(l.Pixel(1, 0), kGreenT);
    EXPECT_EQ(l.Pixel(1, 1), kBlackT);
}

TEST(CurReader, ThirtyTwoBitsDecodeLikeIcons) {
    TEntry e;
    e.Width = 1;
    e.Height = 1;
    e.InfoHeight = 2;
    e.InfoBits = 32;
    e.Colour = {10, 20, 30, 40};
    TLoad l;
    l.Read(Directory({e}, 2), true);
    EXPECT_EQ(l.Pixel(0, 0), CreateRGB(30, 20, 10));
    EXPECT_EQ(l.Alpha(0, 0), 40);
}

// ---- Directory handling.

TEST(IcoReader, IndexOutsideTheDirectoryChangesNothing) {
    for (const int index : {1, -1}) {
        for (const bool headerOnly : {true, false}) {
            TLoad l;
            l.Params.IconImageIndex = index;
            l.Params.ImageWidth = 77;
            l.Read(Directory({TwoByTwo(8)}), false, headerOnly);
            // A load that finds no image must not leave the bitmap to stand in for one.
            EXPECT_EQ(l.Aborting, !headerOnly);
            EXPECT_EQ(l.Outcome.Refusal, headerOnly ? "" : "no image in the icon directory");
            EXPECT_EQ(l.Params.ImageWidth, 77);
            EXPECT_EQ(l.Bitmap.PixelType(), ieNone);
            EXPECT_FALSE(l.Mask);
        }
    }
}

// ---- Images this reader cannot decode give no image and say why; nothing is allocated.

// A 53-byte icon whose directory and cut info header claim 18 x 1,048,580 pixels: it gave a page of
// that many points. Also a seed of the fuzz target.
Bytes ClaimsAMillionRows() {
    return testsupport::ReadFileBytes(std::string(FOLIANTO_TESTDATA_DIR) + "/million-rows.ico");
}

struct TRefusalCase {
    const char* Name;
    Bytes File;
    bool Cursor;
    const char* Reason;
};

class IcoRefusal : public ::testing::TestWithParam<TRefusalCase> {};

TEST_P(IcoRefusal, SaysWhyAndAllocatesNothing) {
    const auto& c = GetParam();
    TLoad l;
    l.Read(c.File, c.Cursor);
    EXPECT_TRUE(l.Aborting);
    EXPECT_EQ(l.Outcome.Refusal, c.Reason);
    EXPECT_EQ(l.Bitmap.PixelType(), ieNone);
}

TEntry WithBits(int bits) {
    TEntry e = TwoByTwo(8);
    e.InfoBits = e.BitsOrHotY = bits;
    return e;
}

// The first entry's image offset, or its info header's size field, replaced.
Bytes WithOffset(Bytes file, std::uint32_t offset) {
    for (int i = 0; i < 4; ++i) file[std::size_t(6 + 12 + i)] = std::uint8_t(offset >> (8 * i));
    return file;
}
Bytes WithInfoSize(Bytes file, std::uint32_t size) {
    for (int i = 0; i < 4; ++i) file[std::size_t(6 + 16 + i)] = std::uint8_t(size >> (8 * i));
    return file;
}
Bytes Cut(Bytes file, std::size_t size) {
    file.resize(size);
    return file;
}

const TRefusalCase kRefusalCases[] = {
    // A cursor file without cursor entries gave a 1 x 1 page.
    {"CursorWithoutEntries", Directory({}, 2), true, "no image in the cursor directory"},
    {"IconWithoutEntries", Directory({}, 1), false, "no image in the icon directory"},
    {"ClaimsAMillionRows", ClaimsAMillionRows(), false, "the image header runs past the end of the file"},
    {"SevenBits", Directory({WithBits(7)}), false, "unsupported bit depth 7"},
    {"DirectoryEndsEarly", Bytes{0, 0, 1, 0, 1, 0, 16, 16, 0, 0}, false, "the directory ends early"},
    // Offsets and header sizes that do not fit the file: refused, not a blank page.
    {"OffsetPastTheEnd", WithOffset(Directory({TwoByTwo(8)}), 5000), false,
     "the image offset lies past the end of the file"},
    {"CursorOffsetPastTheEnd", WithOffset(Directory({TwoByTwo(8)}, 2), 0x7FFFFFFF), true,
     "the image offset lies past the end of the file"},
    {"InfoHeaderPastTheEnd", Cut(Directory({TwoByTwo(8)}), 6 + 16 + 30), false,
     "the image header runs past the end of the file"},
    {"InfoSizePastTheEnd", WithInfoSize(Directory({TwoByTwo(8)}), 100000), false,
     "the image header runs past the end of the file"},
};
INSTANTIATE_TEST_SUITE_P(Table, IcoRefusal, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- A cut image keeps its rows; stored bottom-up, it lacks its top rows.

struct TIcoCutCase {
    const char* Name;
    std::size_t ColourBytes, AndBytes; // of 8 each
    bool DataEndsEarly;
    int FirstMissing, LastMissing;
};

class IcoCut : public ::testing::TestWithParam<TIcoCutCase> {};

TEST_P(IcoCut, ReportsTheMissingRows) {
    const auto& c = GetParam();
    TEntry e = TwoByTwo(8);
    e.Colour.resize(c.ColourBytes);
    e.And.resize(c.AndBytes);
    TLoad l;
    l.Read(Directory({e}));
    if (c.FirstMissing == 0 && c.LastMissing == 1) { // no row at all: no image
        EXPECT_TRUE(l.Aborting);
        EXPECT_EQ(l.Outcome.Refusal, "data ends before the first row");
        return;
    }
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Outcome.DataEndsEarly, c.DataEndsEarly);
    EXPECT_EQ(l.Outcome.FirstMissingRow, c.FirstMissing);
    EXPECT_EQ(l.Outcome.LastMissingRow, c.LastMissing);
    if (c.ColourBytes >= 2) {
        EXPECT_EQ(l.Pixel(0, 1), kGreenT); // the bottom row was read
    }
}

const TIcoCutCase kIcoCutCases[] = {
    {"Whole", 8, 8, false, -1, -1},          {"WithoutTheLastRowsPadding", 8, 5, false, -1, -1},
    {"InTheTopRow", 5, 0, true, 0, 0},       {"AfterTheBottomRow", 4, 0, true, 0, 0},
    {"TransparencyCut", 8, 3, true, -1, -1}, {"NoPixels", 0, 0, true, 0, 1},
};
INSTANTIATE_TEST_SUITE_P(Table, IcoCut, ::testing::ValuesIn(kIcoCutCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Writers that leave the fourth byte of 32-bit pixels unused mark transparency in the AND bitmap
// alone; taking the zeros as alpha made such icons blank.
TEST(IcoReader, ThirtyTwoBitsWithoutAlphaUseTheAndBitmap) {
    TEntry e;
    e.Width = 2;
    e.Height = 1;
    e.InfoHeight = 2;
    e.InfoBits = 32;
    e.Colour = {1, 2, 3, 0, 4, 5, 6, 0};
    e.And = {0x40, 0, 0, 0}; // the second pixel is transparent
    TLoad l;
    l.Read(Directory({e}));
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Pixel(0, 0), CreateRGB(3, 2, 1));
    EXPECT_EQ(l.Alpha(0, 0), 255);
    EXPECT_EQ(l.Alpha(1, 0), 0);
    e.And.clear(); // without an AND bitmap every pixel is opaque, and the image is whole
    TLoad m;
    m.Read(Directory({e}));
    EXPECT_EQ(m.Alpha(1, 0), 255);
    EXPECT_FALSE(m.Outcome.DataEndsEarly);
}

TEST(IcoReader, PicksTheIndexedEntry) {
    TEntry second = TwoByTwo(4);
    second.Width = second.Height = 0;
    TLoad l;
    l.Params.IconImageIndex = 1;
    l.Read(Directory({TwoByTwo(8), second}));
    EXPECT_EQ(l.Params.BitsPerSample, 4);
    EXPECT_EQ(l.Pixel(1, 1), kBlueT);
}

TEST(IcoReader, MissingBitDepthAborts) {
    TEntry e = TwoByTwo(8);
    e.InfoBits = 0;
    e.BitsOrHotY = 0;
    TLoad l;
    l.Read(Directory({e}));
    EXPECT_TRUE(l.Aborting);
    e.ColorCount = 16; // the colour count stands in: 4 bits
    TLoad m;
    m.Read(Directory({e}), false, true);
    EXPECT_FALSE(m.Aborting);
    EXPECT_EQ(m.Params.BitsPerSample, 4);
}

TEST(IcoReader, FillsTheSizeAndDepthTables) {
    std::vector<TEntry> entries(17, TwoByTwo(8));
    entries[1].Width = 0;
    entries[1].BitsOrHotY = 0;
    entries[1].ColorCount = 16;
    entries[2].BitsOrHotY = 0;
    entries[16].Width = 99;
    TLoad l;
    l.Read(Directory(entries), false, true);
    EXPECT_EQ(l.Params.IconSizes[0], (std::array<std::int32_t, 2>{2, 2}));
    EXPECT_EQ(l.Params.IconSizes[1], (std::array<std::int32_t, 2>{0, 2}));
    EXPECT_EQ(l.Params.IconBitDepths[0], 8);
    EXPECT_EQ(l.Params.IconBitDepths[1], 4);
    EXPECT_EQ(l.Params.IconBitDepths[2], 24);
    EXPECT_EQ(l.Params.IconSizes[15], (std::array<std::int32_t, 2>{2, 2}));

    TLoad one;
    one.Params.IconBitDepths[3] = 42;
    one.Read(Directory({TwoByTwo(8)}), false, true);
    EXPECT_EQ(one.Params.IconSizes[3], (std::array<std::int32_t, 2>{0, 0}));
    EXPECT_EQ(one.Params.IconBitDepths[3], 42); // beyond the directory: left as it was
}

TEST(IcoReader, BitmapFileIsReadAsABitmap) {
    Bytes bmp{'B', 'M'};
    Put32(bmp, 58);
    Put32(bmp, 0);
    Put32(bmp, 54);
    Put32(bmp, 40);
    Put32(bmp, 1);
    Put32(bmp, 1);
    Put16(bmp, 1);
    Put16(bmp, 24);
    bmp.resize(54, 0);
    dibtest::Append(bmp, {0, 0, 255, 0});
    TLoad l;
    l.Read(bmp);
    ASSERT_FALSE(l.Aborting);
    EXPECT_EQ(l.Pixel(0, 0), kRedT);
    EXPECT_FALSE(l.Mask);
}

TEST(IcoReader, LargerInfoHeaderIsSkippedWhole) {
    TEntry e = TwoByTwo(24);
    e.InfoSize = 124;
    TLoad l;
    l.Read(Directory({e}));
    EXPECT_EQ(l.Pixel(1, 0), kGreenT);
    EXPECT_EQ(l.Pixel(1, 1), kBlueT);
}

TEST(IcoReader, TruncatedImageStaysBlackAndOpaque) {
    TEntry e = TwoByTwo(8);
    e.Colour.resize(5); // bottom row and one pixel of the top row
    e.And.clear();
    TLoad l;
    l.Read(Directory({e}));
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Pixel(0, 0), kRedT);
    EXPECT_EQ(l.Pixel(1, 0), kBlackT);
    EXPECT_EQ(l.Alpha(0, 0), 255);
    EXPECT_EQ(l.Outcome.FirstMissingRow, 0); // the top row: its caller makes it paper
    EXPECT_EQ(l.Outcome.LastMissingRow, 0);
}

TEST(IcoReader, ImpossibleSizesAbort) {
    for (const auto& [w, h] : {std::pair{0, -8}, std::pair{-5, 8}, std::pair{200000, 400000}}) {
        TEntry e = TwoByTwo(8);
        e.Width = e.Height = 0;
        e.InfoWidth = w;
        e.InfoHeight = h;
        TLoad l;
        l.Read(Directory({e}));
        EXPECT_TRUE(l.Aborting) << w << "x" << h;
        EXPECT_EQ(l.Bitmap.PixelType(), ieNone);
    }
}

TEST(IcoReader, PngEntryIsDecodedWithItsAlpha) {
    if (!testsupport::ToolAvailable("/usr/bin/python3")) GTEST_SKIP() << "Pillow missing";
    testsupport::TempDir dir;
    const std::string png = dir.File("e.png");
    const std::string script = "import sys\nfrom PIL import Image\nim = Image.new('RGBA', (2, 1))\n"
                               "im.putdata([(255, 0, 0, 255), (0, 0, 255, 64)])\nim.save(sys.argv[1])\n";
    ASSERT_EQ(testsupport::RunCommand("/usr/bin/python3 -c " + testsupport::ShellQuote(script) + " " +
                                      testsupport::ShellQuote(png)),
              0);
    TEntry e;
    e.Raw = testsupport::ReadFileBytes(png);
    TLoad l;
    l.Read(Directory({e}));
    ASSERT_FALSE(l.Aborting);
    EXPECT_EQ(l.Params.ImageWidth, 2);
    EXPECT_EQ(l.Pixel(0, 0), kRedT);
    EXPECT_EQ(l.Pixel(1, 0), kBlueT);
    EXPECT_EQ(l.Alpha(1, 0), 64);
}

// ---- Content checks.

struct TCheckCase {
    const char* Name;
    int Type;
    int Reserved;
    bool Icon, Cursor;
};

class IcoCheck : public ::testing::TestWithParam<TCheckCase> {};

TEST_P(IcoCheck, TellsDirectories) {
    const auto& c = GetParam();
    TEntry e = TwoByTwo(8);
    e.Reserved = c.Reserved;
    Bytes file = Directory({e}, c.Type);
    Bytes prefixed{9, 9, 9};
    dibtest::Append(prefixed, file);
    TReadOnlyMemoryStream s(prefixed.data(), std::int64_t(prefixed.size()));
    s.SetPosition(3);
    EXPECT_EQ(IsIcoStream(s), c.Icon);
    EXPECT_EQ(s.Position(), 3);
    EXPECT_EQ(IsCurStream(s), c.Cursor);
    EXPECT_EQ(s.Position(), 3);
    EXPECT_EQ(GetIcoImageCount(s), 1);
    EXPECT_EQ(s.Position(), 3);
}

const TCheckCase kCheckCases[] = {
    {"Icon", 1, 0, true, false},
    {"Cursor", 2, 0, false, true},
    {"OtherType", 3, 0, false, false},
    {"ReservedByteSet", 1, 1, false, false},
};
INSTANTIATE_TEST_SUITE_P(Table, IcoCheck, ::testing::ValuesIn(kCheckCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(IcoCheck, RejectsShortStreamsAndOffsetsIntoTheDirectory) {
    Bytes small = Directory({TwoByTwo(8)});
    small.resize(22);
    TReadOnlyMemoryStream s(small.data(), std::int64_t(small.size()));
    EXPECT_FALSE(IsIcoStream(s));

    Bytes inside = Directory({TwoByTwo(8)});
    inside[18] = 10; // image offset 10 lies within the entry
    TReadOnlyMemoryStream t(inside.data(), std::int64_t(inside.size()));
    EXPECT_FALSE(IsIcoStream(t));
}

// ---- Corpus: entry 0 matches Pillow's decode of that entry (the cursor's own image for cursors).

struct TIconExpectation {
    const char* File;
    bool ColourOnly; // false: nothing compared
    const char* Why;
};
const TIconExpectation kIconExpectations[] = {
    {"lenient-bpp.ico", false, "1-bit PNG entry: bits are delivered as stored, the palette is not applied"},
    {"hopper_unexpected.ico", false,
     "the info header (16 x 32) disagrees with the entry; the image's own wins"},
    {"bmp_v5_with_icc.ico", true, "its ICC profile sits where the AND bitmap belongs: any mask is a guess"},
};

class IcoCorpus : public ::testing::TestWithParam<testsupport::CorpusEntry> {};

TEST_P(IcoCorpus, MatchesPillowOrFailsCleanly) {
    FOLIANTO_REQUIRE_CORPUS();
    const auto& e = GetParam();
    const std::string path = testsupport::CorpusDir() + "/" + e.Path;
    const bool cursor = e.Format == "cur";
    TLoad l;
    {
        TFileStream s(path, fmOpenRead);
        TIEProgressRecord progress(l.Aborting);
        if (cursor) {
            ReadCurStream(s, l.Bitmap, l.Params, l.Mask, progress, false);
        } else {
            ReadIcoStream(s, l.Bitmap, l.Params, l.Mask, progress, false);
        }
    }
    if (e.IsBad()) {
        if (l.Bitmap.PixelType() != ieNone) {
            EXPECT_LE(std::int64_t(l.Bitmap.RowStride()) * l.Bitmap.Height(), std::int64_t(64) << 20);
        }
        return;
    }
    const std::string name = std::filesystem::path(e.Path).filename().string();
    bool colourOnly = false;
    for (const auto& x : kIconExpectations) {
        if (name != x.File) continue;
        if (!x.ColourOnly) return;
        colourOnly = true;
    }
    ASSERT_FALSE(l.Aborting);
    ASSERT_NE(l.Bitmap.PixelType(), ieNone);
    if (!testsupport::ToolAvailable("/usr/bin/python3")) GTEST_SKIP() << "Pillow missing";
    testsupport::RgbImage ref;
    Bytes refAlpha;
    ASSERT_TRUE(dibtest::DecodeWithPillow(path, ref, refAlpha, cursor ? -1 : 0));

    testsupport::RgbImage got = dibtest::ToRgb(l.Bitmap);
    if (l.Bitmap.PixelType() == ie1Bit && l.Params.PaletteCount == 2) { // bits are table indexes
        for (std::size_t p = 0; p < got.Pixels.size(); p += 3) {
            const TIERgbTriple c = l.Params.Palette[got.Pixels[p] ? 1 : 0];
            got.Pixels[p] = c.r, got.Pixels[p + 1] = c.g, got.Pixels[p + 2] = c.b;
        }
    }
    const Bytes alpha = dibtest::MaskValues(*l.Mask);
    // Pillow leaves a cursor's AND bitmap alone, so cursors compare the opaque pixels only.
    Bytes shown = refAlpha;
    for (std::size_t p = 0; p < shown.size() && p < alpha.size(); ++p)
        if (alpha[p] == 0 || colourOnly) shown[p] = alpha[p];
    EXPECT_EQ(dibtest::MaxVisibleDifference(got, ref, shown), 0);
    if (!colourOnly && (!cursor || l.Params.SamplesPerPixel == 4)) {
        EXPECT_EQ(alpha, refAlpha);
    }
}

std::vector<testsupport::CorpusEntry> IconAndCursorFiles() {
    auto files = testsupport::CorpusCases("ico");
    const auto cur = testsupport::CorpusFiles("cur");
    files.insert(files.end(), cur.begin(), cur.end());
    return files;
}

INSTANTIATE_TEST_SUITE_P(Corpus, IcoCorpus, ::testing::ValuesIn(IconAndCursorFiles()), [](const auto& info) {
    std::string n = std::to_string(info.index) + "_" + std::filesystem::path(info.param.Path).stem().string();
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});

} // namespace
