#include "codecs/pcx/PcxReader.h"

#include "codecs/bmp/DibTestSupport.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using Bytes = std::vector<std::uint8_t>;

const TIERgbTriple kRed = CreateRGB(255, 0, 0), kGreen = CreateRGB(0, 255, 0), kBlue = CreateRGB(0, 0, 255),
                   kBlack = CreateRGB(0, 0, 0);

struct TPcx {
    std::uint8_t Manufacturer = 10, Version = 5, Encoding = 1, Bits = 8, Planes = 1;
    int XMin = 0, Width = 1, Height = 1, BytesPerLine = 2;
    int HDpi = 72, VDpi = 72;
    std::vector<TIERgbTriple> Palette16;  // header palette
    std::vector<TIERgbTriple> Palette256; // appended after the data (with its marker byte)
    Bytes Data;

    Bytes Build() const {
        Bytes b(128, 0);
        b[0] = Manufacturer;
        b[1] = Version;
        b[2] = Encoding;
        b[3] = Bits;
        auto put16 = [&](std::size_t at, int v) {
            b[at] = std::uint8_t(v);
            b[at + 1] = std::uint8_t(v >> 8);
        };
        put16(4, XMin);
        put16(6, 0);
        put16(8, XMin + Width - 1);
        put16(10, Height - 1);
        put16(12, HDpi);
        put16(14, VDpi);
        for (std::size_t i = 0; i < Palette16.size() && i < 16; ++i) {
            b[16 + 3 * i] = Palette16[i].r;
            b[17 + 3 * i] = Palette16[i].g;
            b[18 + 3 * i] = Palette16[i].b;
        }
        b[65] = Planes;
        put16(66, BytesPerLine);
        b.insert(b.end(), Data.begin(), Data.end());
        if (!Palette256.empty()) {
            b.push_back(12);
            for (std::size_t i = 0; i < 256; ++i) {
                const TIERgbTriple c = i < Palette256.size() ? Palette256[i] : TIERgbTriple{};
                b.insert(b.end(), {c.r, c.g, c.b});
            }
        }
        return b;
    }
};

struct TLoad {
    TIOParamsVals Params;
    TIEBitmap Bitmap;
    std::unique_ptr<TIEMask> Mask;
    bool Aborting = false;
    int AbortOnCall = -1;
    int Calls = 0;
    TIELoadOutcome Outcome;

    void Read(const Bytes& file, bool headerOnly = false) {
        TReadOnlyMemoryStream s(file.data(), std::int64_t(file.size()));
        TIEProgressRecord progress(
            [this](void*, int) {
                if (Calls++ == AbortOnCall) Aborting = true;
            },
            nullptr, Aborting);
        ReadPcxStream(s, Bitmap, Params, headerOnly, progress, std::int64_t(file.size()), Mask);
        Outcome = progress.Outcome;
    }
    TIERgbTriple Pixel(int x, int y) {
        const std::uint8_t* row = Bitmap.RowPointer(y);
        if (Bitmap.PixelType() == ie1Bit)
            return (row[x / 8] & (0x80 >> (x % 8))) ? CreateRGB(255, 255, 255) : kBlack;
        return {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
    }
    std::vector<TIERgbTriple> Pixels() {
        std::vector<TIERgbTriple> v;
        for (int y = 0; y < Bitmap.Height(); ++y)
            for (int x = 0; x < Bitmap.Width(); ++x) v.push_back(Pixel(x, y));
        return v;
    }
};

// ---- Header checks.

struct THeaderCase {
    const char* Name;
    std::uint8_t Manufacturer, Bits, Encoding;
    bool Aborts;
    const char* Reason = "";
};

class PcxHeader : public ::testing::TestWithParam<THeaderCase> {};

TEST_P(PcxHeader, RefusesWhatCannotBeRead) {
    const auto& c = GetParam();
    TPcx pcx;
    pcx.Manufacturer = c.Manufacturer;
    pcx.Bits = c.Bits;
    pcx.Encoding = c.Encoding;
    pcx.Data = {0, 0};
    pcx.Palette256 = {kRed};
    TLoad l;
    l.Params.ImageWidth = 77;
    l.Read(pcx.Build());
    EXPECT_EQ(l.Aborting, c.Aborts);
    EXPECT_EQ(l.Outcome.Refusal, c.Reason);
    EXPECT_EQ(l.Params.ImageWidth, c.Aborts ? 77 : 1);
}

const THeaderCase kHeaderCases[] = {
    {"WrongManufacturer", 9, 8, 1, true, "not a PCX file"},
    {"NineBitsPerPixel", 10, 9, 1, true, "unsupported bit depth 9"},
    {"EncodingTwo", 10, 8, 2, true, "unsupported encoding 2"},
    {"Uncompressed", 10, 8, 0, false},
    {"RunLength", 10, 8, 1, false},
};
INSTANTIATE_TEST_SUITE_P(Table, PcxHeader, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PcxReader, MissingResolutionGivesTheDefaultsForBoth) {
    TPcx pcx;
    pcx.HDpi = 0;
    pcx.VDpi = 150;
    pcx.Palette256 = {kRed};
    TLoad l;
    l.Read(pcx.Build(), true);
    EXPECT_EQ(l.Params.HorizontalDpi, 300);
    EXPECT_EQ(l.Params.VerticalDpi, 300);
    EXPECT_EQ(l.Bitmap.PixelType(), ieNone); // header only
    EXPECT_EQ(l.Params.PaletteCount, 256);
    EXPECT_EQ(l.Params.Palette[0], kRed);
}

TEST(PcxReader, EmptyOrHugeSizesAbort) {
    TPcx empty;
    empty.XMin = 5;
    empty.Width = 0;
    empty.Data = {0};
    empty.Palette256 = {kRed};
    TLoad l;
    l.Read(empty.Build());
    EXPECT_TRUE(l.Aborting);
    EXPECT_EQ(l.Outcome.Refusal, "image of width or height 0");

    TPcx huge;
    huge.Width = huge.Height = 65535;
    huge.Bits = 1;
    huge.Planes = 4;
    huge.BytesPerLine = 8192;
    huge.Data.assign(100, 0xC1);
    TLoad h;
    h.Read(huge.Build());
    EXPECT_TRUE(h.Aborting);
    EXPECT_EQ(h.Outcome.Refusal, "image larger than the file can hold");
    EXPECT_EQ(h.Bitmap.PixelType(), ieNone);
}

// Layouts without a conversion gave a black page; now they give none, and nothing is allocated.
TEST(PcxReader, UnconvertibleLayoutsAreRefused) {
    for (const auto& [bits, planes] : {std::pair{8, 5}, std::pair{8, 2}, std::pair{5, 1}, std::pair{2, 3}}) {
        TPcx pcx;
        pcx.Bits = std::uint8_t(bits);
        pcx.Planes = std::uint8_t(planes);
        pcx.Data.assign(32, 0x55);
        pcx.Palette256 = {kRed};
        TLoad l;
        l.Read(pcx.Build());
        EXPECT_TRUE(l.Aborting);
        EXPECT_EQ(l.Outcome.Refusal, "unsupported layout: " + std::to_string(planes) + " planes of " +
                                         std::to_string(bits) + " bits");
        EXPECT_EQ(l.Bitmap.PixelType(), ieNone);
    }
}

// ---- Layouts: each case gives the scan lines of a 3 x 2 image and the pixels expected.

struct TLayoutCase {
    const char* Name;
    std::uint8_t Bits, Planes;
    int BytesPerLine;
    Bytes Lines; // uncompressed, all scan lines in order
    std::vector<TIERgbTriple> Expected;
    int BitsPerSample, SamplesPerPixel;
};

// Run-length encodes data as one stream, so runs cross scan-line boundaries.
Bytes EncodeAcrossLines(const Bytes& data) {
    Bytes out;
    for (std::size_t i = 0; i < data.size();) {
        std::size_t n = 1;
        while (i + n < data.size() && data[i + n] == data[i] && n < 63) ++n;
        if (n > 1 || (data[i] & 0xC0) == 0xC0) out.push_back(std::uint8_t(0xC0 | n));
        out.push_back(data[i]);
        i += n;
    }
    return out;
}

// Run-length encodes each scan line on its own.
Bytes EncodePerLine(const Bytes& data, std::size_t lineLength) {
    Bytes out;
    for (std::size_t i = 0; i < data.size(); i += lineLength) {
        const Bytes line(data.begin() + std::ptrdiff_t(i),
                         data.begin() + std::ptrdiff_t(std::min(data.size(), i + lineLength)));
        const Bytes enc = EncodeAcrossLines(line);
        out.insert(out.end(), enc.begin(), enc.end());
    }
    return out;
}

class PcxLayout : public ::testing::TestWithParam<TLayoutCase> {};

TEST_P(PcxLayout, ConvertsTheSameWhateverTheEncoding) {
    const auto& c = GetParam();
    for (const int encoding : {0, 1, 2}) { // 2: runs cross scan lines
        TPcx pcx;
        pcx.Width = 3;
        pcx.Height = 2;
        pcx.Bits = c.Bits;
        pcx.Planes = c.Planes;
        pcx.BytesPerLine = c.BytesPerLine;
        pcx.Encoding = encoding == 0 ? 0 : 1;
        pcx.Data = encoding == 0   ? c.Lines
                   : encoding == 1 ? EncodePerLine(c.Lines, std::size_t(c.BytesPerLine))
                                   : EncodeAcrossLines(c.Lines);
        pcx.Palette16 = {kBlack, kRed, kGreen, kBlue};
        pcx.Palette16.resize(16, CreateRGB(1, 2, 3));
        if (c.Bits == 8 && c.Planes == 1) pcx.Palette256 = {kBlack, kRed, kGreen, kBlue};
        TLoad l;
        l.Read(pcx.Build());
        ASSERT_FALSE(l.Aborting) << encoding;
        EXPECT_EQ(l.Pixels(), c.Expected) << encoding;
        EXPECT_EQ(l.Params.BitsPerSample, c.BitsPerSample);
        EXPECT_EQ(l.Params.SamplesPerPixel, c.SamplesPerPixel);
        if (l.Bitmap.PixelType() == ie24Rgb) { // nothing written past the right edge
            for (int y = 0; y < 2; ++y)
                for (int i = 9; i < l.Bitmap.RowStride(); ++i) EXPECT_EQ(l.Bitmap.RowPointer(y)[i], 0) << y;
        }
    }
}

const TIERgbTriple kWhite = CreateRGB(255, 255, 255), kOther = CreateRGB(1, 2, 3);
const TLayoutCase kLayoutCases[] = {
    {"EightBitIndexes", 8, 1, 4, {1, 1, 1, 1, 1, 2, 3, 9}, {kRed, kRed, kRed, kRed, kGreen, kBlue}, 8, 1},
    {"RgbPlanes",
     8,
     3,
     4,
     {255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 255, 255},
     {kRed, kRed, kBlack, kGreen, kGreen, kBlue},
     8,
     3},
    {"OddWidthFourBits", 4, 1, 2, {0x12, 0x3F, 0x11, 0x1F}, {kRed, kGreen, kBlue, kRed, kRed, kRed}, 4, 1},
    {"FourOneBitPlanes",
     1,
     4,
     2,
     {0xA0, 0, 0x60, 0, 0, 0, 0, 0, 0xE0, 0, 0, 0, 0, 0, 0, 0},
     {kRed, kGreen, kBlue, kRed, kRed, kRed},
     4,
     1},
    {"TwoOneBitPlanes",
     1,
     2,
     2,
     {0x80, 0, 0x40, 0, 0xE0, 0, 0xE0, 0},
     {kRed, kGreen, kBlack, kBlue, kBlue, kBlue},
     1,
     2},
    {"RgbaPlanes",
     8,
     4,
     4,
     {255, 255, 0, 0, 0,   0,   0, 0, 0, 0, 0,   0,   0,   9,   255, 0,  // top row: red, green, blue, alpha
      0,   0,   0, 0, 255, 255, 0, 0, 0, 0, 255, 255, 255, 255, 128, 0}, // second row
     {kRed, kRed, kBlack, kGreen, kGreen, kBlue},
     8,
     4},
    {"TwoBitsPacked", 2, 1, 2, {0x6C, 0, 0xFF, 0xC0}, {kRed, kGreen, kBlue, kBlue, kBlue, kBlue}, 2, 1},
    // The header palette here starts black, red: two colours of the file's own.
    {"OneBitThroughTwoColours",
     1,
     1,
     2,
     {0xA0, 0xFF, 0x40, 0},
     {kRed, kBlack, kRed, kBlack, kRed, kBlack},
     1,
     1},
};
INSTANTIATE_TEST_SUITE_P(Table, PcxLayout, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Four 8-bit planes (written by common Qt-based tools): the fourth is alpha; zeros mean none.

// ---- 1-bit files: the header palette's first two colours, unless the writer left it unset.

struct TTwoColourCase {
    const char* Name;
    std::uint8_t Version;
    std::vector<TIERgbTriple> Palette16;
    bool Bilevel;                     // black and white as stored (ie1Bit)
    TIERgbTriple Zero = {}, One = {}; // otherwise the colours of 0 and 1 bits
};

const TTwoColourCase kTwoColourCases[] = {
    {"RedAndBlue", 5, {kRed, kBlue}, false, kRed, kBlue},
    {"WhiteAndBlackTurnsTheBitsAround", 5, {kWhite, kBlack}, false, kWhite, kBlack},
    {"VersionTwoHasAPalette", 2, {kGreen, kRed}, false, kGreen, kRed},
    {"BlackAndWhite", 5, {kBlack, kWhite}, true},
    {"AllZero", 5, {}, true},
    {"EqualEntries", 5, {CreateRGB(9, 9, 9), CreateRGB(9, 9, 9)}, true},
    {"StandardSixteenColours", 5, {kBlack, CreateRGB(0, 0, 0xAA), CreateRGB(0, 0xAA, 0)}, true},
    {"VersionWithoutPalette", 3, {kWhite, kRed}, true},
    {"VersionWithFixedPalette", 0, {kRed, kBlue}, true},
};

void PrintTo(const TTwoColourCase& c, std::ostream* os) {
    *os << c.Name;
}

class PcxTwoColour : public ::testing::TestWithParam<TTwoColourCase> {};

TEST_P(PcxTwoColour, ColoursOnlyWhereThePaletteHoldsThem) {
    const auto& c = GetParam();
    TPcx pcx;
    pcx.Version = c.Version;
    pcx.Bits = 1;
    pcx.Width = 4;
    pcx.BytesPerLine = 2;
    pcx.Encoding = 0;
    pcx.Palette16 = c.Palette16;
    pcx.Data = {0xA0, 0x00}; // 1, 0, 1, 0
    TLoad l;
    l.Read(pcx.Build());
    ASSERT_FALSE(l.Aborting) << l.Outcome.Refusal;
    EXPECT_EQ(l.Bitmap.PixelType(), c.Bilevel ? ie1Bit : ie24Rgb);
    const TIERgbTriple zero = c.Bilevel ? kBlack : c.Zero, one = c.Bilevel ? kWhite : c.One;
    EXPECT_EQ(l.Pixels(), (std::vector<TIERgbTriple>{one, zero, one, zero}));
    EXPECT_EQ(l.Params.PaletteCount, 2);
}

INSTANTIATE_TEST_SUITE_P(Table, PcxTwoColour, ::testing::ValuesIn(kTwoColourCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PcxReader, FourthPlaneOfFourIsAlpha) {
    const std::pair<Bytes, std::vector<int>> cases[] = {
        {{0, 9, 255, 0, 255, 255, 128, 0}, {0, 9, 255, 255, 255, 128}},
        {{0, 0, 0, 0, 0, 0, 0, 0}, {}}, // all zero: no alpha
    };
    for (const auto& [alphaLines, expected] : cases) {
        for (const int encoding : {0, 1}) {
            TPcx pcx;
            pcx.Width = 3;
            pcx.Height = 2;
            pcx.Planes = 4;
            pcx.BytesPerLine = 4;
            pcx.Encoding = std::uint8_t(encoding);
            Bytes lines;
            for (int y = 0; y < 2; ++y) {
                const Bytes colour = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};
                lines.insert(lines.end(), colour.begin(), colour.end());
                lines.insert(lines.end(), alphaLines.begin() + 4 * y, alphaLines.begin() + 4 * y + 4);
            }
            pcx.Data = encoding ? EncodePerLine(lines, 4) : lines;
            TLoad l;
            l.Read(pcx.Build());
            ASSERT_FALSE(l.Aborting) << l.Outcome.Refusal;
            EXPECT_EQ(l.Pixel(1, 1), CreateRGB(20, 50, 80));
            ASSERT_EQ(l.Mask != nullptr, !expected.empty()) << encoding;
            if (!l.Mask) continue;
            std::vector<int> got;
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 3; ++x) got.push_back(l.Mask->GetPixel(x, y));
            EXPECT_EQ(got, expected) << encoding;
        }
    }
}

TEST(PcxReader, RunCarriesIntoTheNextScanLine) {
    TPcx pcx;
    pcx.Width = 2;
    pcx.Height = 3;
    pcx.Bits = 8;
    pcx.Data = {0xC5, 2, 3}; // five bytes of index 2 fill two lines of 2 and the first byte of the third
    pcx.Palette256 = {kBlack, kRed, kGreen, kBlue};
    TLoad l;
    l.Read(pcx.Build());
    EXPECT_EQ(l.Pixels(), (std::vector<TIERgbTriple>{kGreen, kGreen, kGreen, kGreen, kGreen, kBlue}));
}

TEST(PcxReader, ShortFileLeavesBlankPixels) {
    TPcx pcx;
    pcx.Width = 2;
    pcx.Height = 2;
    pcx.Bits = 1;
    pcx.Encoding = 0;
    pcx.Data = {0};
    TLoad l;
    l.Read(pcx.Build());
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Pixels(), (std::vector<TIERgbTriple>{kBlack, kBlack, kWhite, kWhite}));
    EXPECT_EQ(l.Outcome.FirstMissingRow, 1);
    EXPECT_EQ(l.Outcome.LastMissingRow, 1);

    TPcx colour = pcx;
    colour.Bits = 8;
    colour.Planes = 3;
    colour.Data = {1, 1, 1, 1, 2, 2, 1}; // the second row's red line is cut after one byte
    TLoad c;
    c.Read(colour.Build());
    EXPECT_FALSE(c.Aborting);
    EXPECT_EQ(c.Pixels(),
              (std::vector<TIERgbTriple>{CreateRGB(1, 1, 2), CreateRGB(1, 1, 2), kBlack, kBlack}));
    EXPECT_EQ(c.Outcome.FirstMissingRow, 1);

    colour.Data.resize(5); // the first row's blue line is cut: no row at all
    TLoad none;
    none.Read(colour.Build());
    EXPECT_TRUE(none.Aborting);
    EXPECT_EQ(none.Outcome.Refusal, "data ends before the first row");
}

TEST(PcxReader, StopsWhenAborted) {
    TPcx pcx;
    pcx.Width = 1;
    pcx.Height = 3;
    pcx.Bits = 8;
    pcx.Encoding = 0;
    pcx.Data = {1, 0, 1, 0, 1, 0};
    pcx.Palette256 = {kBlack, kRed};
    TLoad l;
    l.AbortOnCall = 1;
    l.Read(pcx.Build());
    EXPECT_TRUE(l.Aborting);
    EXPECT_EQ(l.Pixels(), (std::vector<TIERgbTriple>{kRed, kBlack, kBlack}));
}

// Regressions found by fuzzing, each of which must end cleanly:
// zero-bytes-per-line.pcx, zero-bytes-per-line-1bit.pcx: 0 bytes per line left an empty scan-line
// buffer that was copied from.
TEST(PcxReader, RegressionFilesEndCleanly) {
    for (const auto& f : std::filesystem::directory_iterator(FOLIANTO_TESTDATA_DIR)) {
        TLoad l;
        l.Read(testsupport::ReadFileBytes(f.path().string()));
        SUCCEED() << f.path();
    }
}

struct TCheckCase {
    const char* Name;
    std::uint8_t First, Version;
    std::size_t Size;
    bool Expected;
};

class PcxCheck : public ::testing::TestWithParam<TCheckCase> {};

TEST_P(PcxCheck, TellsPcx) {
    const auto& c = GetParam();
    Bytes b(c.Size, 0);
    b[0] = c.First;
    b[1] = c.Version;
    TReadOnlyMemoryStream s(b.data(), std::int64_t(b.size()));
    EXPECT_EQ(IsPcxStream(s), c.Expected);
    EXPECT_EQ(s.Position(), 0);
}

const TCheckCase kCheckCases[] = {
    {"Version5", 10, 5, 129, true},
    {"Version6", 10, 6, 129, false},
    {"OtherManufacturer", 11, 5, 129, false},
    {"OnlyAHeader", 10, 5, 128, false},
};
INSTANTIATE_TEST_SUITE_P(Table, PcxCheck, ::testing::ValuesIn(kCheckCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Corpus: good files match ImageMagick exactly; 1-bit files match Pillow, which keeps the bits as
// stored as this reader does (ImageMagick applies the header palette).

struct TPcxExpectation {
    const char* File;
    const char* Why;
};
const TPcxExpectation kRefused[] = {
    {"1plane24bppCompressed.pcx", "more than 8 bits per plane is refused"},
    {"01r_00.pcx", "an 8-bit file too short to hold its 256-colour palette is refused"},
};

class PcxCorpus : public ::testing::TestWithParam<testsupport::CorpusEntry> {};

TEST_P(PcxCorpus, MatchesReferenceOrFailsCleanly) {
    FOLIANTO_REQUIRE_CORPUS();
    const auto& e = GetParam();
    const std::string path = testsupport::CorpusDir() + "/" + e.Path;
    TLoad l;
    {
        TFileStream s(path, fmOpenRead);
        TIEProgressRecord progress(l.Aborting);
        ReadPcxStream(s, l.Bitmap, l.Params, false, progress, s.Size(), l.Mask);
    }
    if (e.IsBad()) {
        if (l.Bitmap.PixelType() != ieNone) {
            EXPECT_LE(std::int64_t(l.Bitmap.RowStride()) * l.Bitmap.Height(), std::int64_t(64) << 20);
        }
        return;
    }
    const std::string name = std::filesystem::path(e.Path).filename().string();
    for (const auto& x : kRefused) {
        if (name == x.File) {
            EXPECT_TRUE(l.Aborting) << x.Why;
            return;
        }
    }
    ASSERT_FALSE(l.Aborting);
    testsupport::RgbImage ref;
    if (l.Bitmap.PixelType() == ie1Bit) {
        if (!testsupport::ToolAvailable("/usr/bin/python3")) GTEST_SKIP() << "Pillow missing";
        std::vector<std::uint8_t> alpha;
        ASSERT_TRUE(dibtest::DecodeWithPillow(path, ref, alpha));
    } else {
        if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
        ASSERT_TRUE(testsupport::DecodeWithImageMagick(path, ref));
    }
    testsupport::RgbImage got;
    got.Width = l.Bitmap.Width();
    got.Height = l.Bitmap.Height();
    for (const TIERgbTriple& c : l.Pixels()) got.Pixels.insert(got.Pixels.end(), {c.r, c.g, c.b});
    EXPECT_EQ(testsupport::MaxDifference(got, ref), 0);
}

INSTANTIATE_TEST_SUITE_P(Corpus, PcxCorpus, ::testing::ValuesIn(testsupport::CorpusCases("pcx")),
                         [](const auto& info) {
                             std::string n = std::to_string(info.index) + "_" +
                                             std::filesystem::path(info.param.Path).stem().string();
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

} // namespace
