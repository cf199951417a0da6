#include "codecs/tga/TgaReader.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/DateTime.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- building TGA files

struct TTga {
    int Type = 2, Depth = 24, Width = 2, Height = 2, Descriptor = 0x20;
    int MapType = 0, MapFirst = 0, MapLength = 0, MapBits = 0;
    int X = 0, Y = 0;
    std::string Id{};
    Bytes Map{}, Pixels{};

    Bytes Build() const {
        Bytes b = {std::uint8_t(Id.size()), std::uint8_t(MapType), std::uint8_t(Type)};
        for (int v : {MapFirst, MapLength}) Le16(b, v);
        b.push_back(std::uint8_t(MapBits));
        for (int v : {X, Y, Width, Height}) Le16(b, v);
        b.push_back(std::uint8_t(Depth));
        b.push_back(std::uint8_t(Descriptor));
        b.insert(b.end(), Id.begin(), Id.end());
        b.insert(b.end(), Map.begin(), Map.end());
        b.insert(b.end(), Pixels.begin(), Pixels.end());
        return b;
    }
    static void Le16(Bytes& b, int v) {
        b.push_back(std::uint8_t(v & 0xFF));
        b.push_back(std::uint8_t(v >> 8));
    }
};

struct TExtension {
    std::string Author{}, Job{};
    int Month = 0, Day = 0, Year = 0, Hour = 0, Minute = 0, Second = 0;
    std::uint8_t KeyR = 0, KeyG = 0, KeyB = 0;
    int AspectNum = 0, AspectDen = 0, GammaNum = 0, GammaDen = 0;
};

// Appends an extension area and the version 2 footer; Offset overrides the area's offset.
Bytes WithFooter(Bytes File, const TExtension& e, long Offset = -1) {
    const std::size_t at = File.size();
    Bytes ext(495, 0);
    ext[0] = 0xEF, ext[1] = 0x01;
    std::memcpy(&ext[2], e.Author.data(), std::min<std::size_t>(e.Author.size(), 41));
    std::memcpy(&ext[379], e.Job.data(), std::min<std::size_t>(e.Job.size(), 41));
    int pos = 367;
    for (int v : {e.Month, e.Day, e.Year, e.Hour, e.Minute, e.Second}) {
        ext[std::size_t(pos)] = std::uint8_t(v & 0xFF);
        ext[std::size_t(pos + 1)] = std::uint8_t(v >> 8);
        pos += 2;
    }
    ext[471] = e.KeyR, ext[472] = e.KeyG, ext[473] = e.KeyB;
    pos = 474;
    for (int v : {e.AspectNum, e.AspectDen, e.GammaNum, e.GammaDen}) {
        ext[std::size_t(pos)] = std::uint8_t(v & 0xFF);
        ext[std::size_t(pos + 1)] = std::uint8_t(v >> 8);
        pos += 2;
    }
    File.insert(File.end(), ext.begin(), ext.end());
    const std::uint32_t offset = Offset < 0 ? std::uint32_t(at) : std::uint32_t(Offset);
    for (int i = 0; i < 4; ++i) File.push_back(std::uint8_t(offset >> (8 * i)));
    for (int i = 0; i < 4; ++i) File.push_back(0);
    const char sig[] = "TRUEVISION-XFILE.";
    File.insert(File.end(), sig, sig + sizeof sig); // with its zero byte: 18 bytes
    return File;
}

// ---- running the reader

struct TTgaRead {
    TIEBitmap Bitmap;
    TIOParamsVals Params;
    std::unique_ptr<TIEMask> Mask;
    bool Aborting = false;
    TIELoadOutcome Outcome;

    TTgaRead& Run(const Bytes& File, bool HeaderOnly = false, bool IgnoreAlpha = false) {
        TReadOnlyMemoryStream s(File.data(), std::int64_t(File.size()));
        TIEProgressRecord progress(Aborting);
        ReadTgaStream(s, Bitmap, Params, IgnoreAlpha, Mask, HeaderOnly, progress);
        Outcome = progress.Outcome;
        return *this;
    }
    // Pixels as red-green-blue triples, rows from the top.
    Bytes Rgb() {
        Bytes out;
        for (int y = 0; y < Bitmap.Height(); ++y) {
            const std::uint8_t* row = Bitmap.RowPointer(y);
            for (int x = 0; x < Bitmap.Width(); ++x) {
                if (Bitmap.PixelType() == ie1Bit) {
                    const std::uint8_t v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
                    out.insert(out.end(), {v, v, v});
                } else {
                    out.insert(out.end(), {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});
                }
            }
        }
        return out;
    }
    Bytes Alpha() {
        Bytes out;
        for (int y = 0; y < Mask->Height; ++y)
            for (int x = 0; x < Mask->Width; ++x) out.push_back(std::uint8_t(Mask->GetPixel(x, y)));
        return out;
    }
};

// 24-bit pixels are stored blue, green, red.
Bytes Bgr(std::initializer_list<std::array<std::uint8_t, 3>> RgbPixels) {
    Bytes b;
    for (const auto& p : RgbPixels) b.insert(b.end(), {p[2], p[1], p[0]});
    return b;
}

const std::array<std::uint8_t, 3> kA = {10, 20, 30}, kB = {40, 50, 60}, kC = {70, 80, 90},
                                  kD = {100, 110, 120};

Bytes RgbOf(std::initializer_list<std::array<std::uint8_t, 3>> Pixels) {
    Bytes b;
    for (const auto& p : Pixels) b.insert(b.end(), p.begin(), p.end());
    return b;
}

Bytes Concat(std::initializer_list<Bytes> Parts) {
    Bytes b;
    for (const Bytes& p : Parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

// ---- footer and extension area

TEST(TgaFooter, WithoutFooterTheDefaultsStay) {
    TTgaRead r;
    r.Params.TgaAuthor = "old";
    r.Run(TTga{.Pixels = Bgr({kA, kB, kC, kD})}.Build());
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.TgaAuthor, "");
    EXPECT_DOUBLE_EQ(r.Params.TgaAspectRatio, 1.0);
    EXPECT_DOUBLE_EQ(r.Params.TgaGamma, 2.2);
    EXPECT_DOUBLE_EQ(r.Params.TgaDate, TodayAsDateTime());
}

struct TExtensionCase {
    const char* Name;
    TExtension Ext;
    long Offset; // -1: the real offset
    bool Read;   // the area's fields are taken
    bool DateTaken;
};

const TExtensionCase kExtensionCases[] = {
    {"FullArea", {"Ann", "Job7", 5, 17, 2020, 13, 45, 30, 1, 2, 3, 3, 2, 22, 10}, -1, true, true},
    {"InvalidDayOfMonth", {"Ann", "Job7", 2, 30, 2021, 1, 2, 3, 1, 2, 3, 3, 2, 22, 10}, -1, true, false},
    {"HourOutOfRange", {"Ann", "Job7", 1, 1, 2000, 24, 0, 0, 1, 2, 3, 3, 2, 22, 10}, -1, true, false},
    {"OffsetZeroMeansNoArea",
     {"Ann", "Job7", 5, 17, 2020, 13, 45, 30, 1, 2, 3, 3, 2, 22, 10},
     0,
     false,
     false},
    {"OffsetPastTheEnd",
     {"Ann", "Job7", 5, 17, 2020, 13, 45, 30, 1, 2, 3, 3, 2, 22, 10},
     100000,
     false,
     false},
    {"ZeroDenominatorsKeepDefaults",
     {"A", "B", 5, 17, 2020, 13, 45, 30, 0, 0, 0, 3, 0, 22, 0},
     -1,
     true,
     true},
};

class TgaExtension : public ::testing::TestWithParam<TExtensionCase> {};

TEST_P(TgaExtension, FillsTheExtensionFields) {
    const TExtensionCase& c = GetParam();
    TTgaRead r;
    r.Run(WithFooter(TTga{.Pixels = Bgr({kA, kB, kC, kD})}.Build(), c.Ext, c.Offset));
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.Width(), 2);
    const TExtension& e = c.Ext;
    EXPECT_EQ(r.Params.TgaAuthor, c.Read ? e.Author : "");
    EXPECT_EQ(r.Params.TgaJobName, c.Read ? e.Job : "");
    EXPECT_EQ(r.Params.TgaKeyColor, c.Read ? CreateRGB(e.KeyR, e.KeyG, e.KeyB) : TIERgbTriple{});
    const bool aspect = c.Read && e.AspectNum && e.AspectDen, gamma = c.Read && e.GammaNum && e.GammaDen;
    EXPECT_DOUBLE_EQ(r.Params.TgaAspectRatio, aspect ? double(e.AspectNum) / e.AspectDen : 1.0);
    EXPECT_DOUBLE_EQ(r.Params.TgaGamma, gamma ? double(e.GammaNum) / e.GammaDen : 2.2);
    EXPECT_DOUBLE_EQ(r.Params.TgaDate,
                     c.DateTaken ? EncodeDateTime(e.Year, e.Month, e.Day, e.Hour, e.Minute, e.Second)
                                 : TodayAsDateTime());
}

INSTANTIATE_TEST_SUITE_P(Footer, TgaExtension, ::testing::ValuesIn(kExtensionCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- header fields and refusals

TEST(TgaReader, FillsTheHeaderFields) {
    TTgaRead r;
    r.Run(TTga{.Type = 10, .X = 7, .Y = 9, .Id = std::string("pic\0junk", 8), .Pixels = {0x83, 1, 2, 3}}
              .Build());
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.TgaXPosition, 7);
    EXPECT_EQ(r.Params.TgaYPosition, 9);
    EXPECT_EQ(r.Params.TgaImageId, "pic");
    EXPECT_TRUE(r.Params.TgaCompressed);
    EXPECT_EQ(r.Params.ImageWidth, 2);
    EXPECT_EQ(r.Params.BitsPerSample, 8);
    EXPECT_EQ(r.Params.SamplesPerPixel, 3);
    EXPECT_EQ(r.Params.HorizontalDpi, DefaultDpiX);
    EXPECT_EQ(r.Rgb(), RgbOf({{3, 2, 1}, {3, 2, 1}, {3, 2, 1}, {3, 2, 1}})); // one run of four
}

struct THeaderCase {
    const char* Name;
    int MapType, Type, Depth;
    bool Accepted;
};

const THeaderCase kHeaderCases[] = {
    {"TrueColour24", 0, 2, 24, true},   {"RunLengthGrey8", 0, 11, 8, true}, {"ColourMapped8", 1, 1, 8, true},
    {"FifteenBits", 0, 2, 15, false},   {"ZeroDepth", 0, 2, 0, false},      {"NoImageType", 0, 0, 8, false},
    {"HuffmanType32", 0, 32, 8, false}, {"TwelveBits", 0, 2, 12, false},
};

class TgaHeader : public ::testing::TestWithParam<THeaderCase> {};

TEST_P(TgaHeader, ContentCheckAndReaderAgree) {
    const THeaderCase& c = GetParam();
    TTga t{.Type = c.Type,
           .Depth = c.Depth,
           .MapType = c.MapType,
           .MapLength = c.MapType ? 1 : 0,
           .MapBits = c.MapType ? 24 : 0,
           .Map = c.MapType ? Bytes(3, 0) : Bytes()};
    t.Pixels = Bytes(64, 0);
    const Bytes file = t.Build();
    TReadOnlyMemoryStream s(file.data(), std::int64_t(file.size()));
    EXPECT_EQ(IsTgaStream(s), c.Accepted);
    EXPECT_EQ(s.Position(), 0);
    TTgaRead r;
    r.Bitmap.Reallocate(5, 5, ie24Rgb);
    r.Run(file);
    EXPECT_EQ(r.Aborting, !c.Accepted);
    EXPECT_EQ(r.Bitmap.Width(), c.Accepted ? 2 : 5);
}

INSTANTIATE_TEST_SUITE_P(Header, TgaHeader, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(TgaHeader, ContentCheckNeedsEighteenBytesAndAColourMapTypeOfZeroOrOne) {
    Bytes file = TTga{}.Build();
    file[1] = 2;
    TReadOnlyMemoryStream s(file.data(), std::int64_t(file.size()));
    EXPECT_FALSE(IsTgaStream(s));
    const Bytes full = TTga{}.Build();
    const Bytes shortFile(full.begin(), full.begin() + 17);
    TReadOnlyMemoryStream t(shortFile.data(), 17);
    EXPECT_FALSE(IsTgaStream(t));
}

struct TRefusalCase {
    const char* Name;
    TTga File;
    const char* Reason;
};

class TgaRefusal : public ::testing::TestWithParam<TRefusalCase> {};

TEST_P(TgaRefusal, AbortsBeforeAllocating) {
    TTgaRead r;
    r.Bitmap.Reallocate(5, 5, ie24Rgb);
    r.Run(GetParam().File.Build());
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, GetParam().Reason);
    EXPECT_EQ(r.Bitmap.Width(), 5);
}

INSTANTIATE_TEST_SUITE_P(
    Size, TgaRefusal,
    ::testing::Values(
        TRefusalCase{"ZeroWidth", TTga{.Width = 0, .Pixels = Bytes(12, 1)}, "image of width or height 0"},
        TRefusalCase{"ZeroHeight", TTga{.Height = 0, .Pixels = Bytes(12, 1)}, "image of width or height 0"},
        // Even as 128-pixel runs 4 giga-pixels need far more than a few bytes.
        TRefusalCase{"FarLargerThanTheStream", TTga{.Width = 65535, .Height = 65535, .Pixels = Bytes(40, 1)},
                     "image larger than the file can hold"},
        TRefusalCase{"RunLengthFarLargerThanTheStream",
                     TTga{.Type = 10, .Width = 65535, .Height = 65535, .Pixels = Bytes(40, 0xFF)},
                     "image larger than the file can hold"},
        TRefusalCase{"ImageType4", TTga{.Type = 4, .Pixels = Bytes(12, 1)}, "unsupported image type 4"},
        TRefusalCase{"FifteenBits", TTga{.Depth = 15, .Pixels = Bytes(12, 1)}, "unsupported bit depth 15"},
        TRefusalCase{"ColourMapType2", TTga{.MapType = 2, .Pixels = Bytes(12, 1)},
                     "unsupported colour map type 2"},
        // Header fields that point past the end of the file: no image, not a black page.
        TRefusalCase{"ColourMapPastTheEnd",
                     TTga{.Type = 1,
                          .Depth = 8,
                          .MapType = 1,
                          .MapLength = 60000,
                          .MapBits = 24,
                          .Pixels = Bytes(4, 1)},
                     "the image ID and colour map run past the end of the file"},
        TRefusalCase{
            "MapEntriesCut",
            TTga{.Type = 1, .Depth = 8, .MapType = 1, .MapLength = 3, .MapBits = 32, .Map = Bytes(11, 1)},
            "the image ID and colour map run past the end of the file"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- a cut file keeps the rows it holds and says which rows its data did not reach

struct TCutCase {
    const char* Name;
    int Type, Descriptor;
    std::size_t PixelBytes; // of a 2 x 3 image
    int FirstMissing, LastMissing;
};

class TgaCut : public ::testing::TestWithParam<TCutCase> {};

TEST_P(TgaCut, ReportsTheMissingRows) {
    const TCutCase& c = GetParam();
    TTga t{.Type = c.Type, .Width = 2, .Height = 3, .Descriptor = c.Descriptor};
    t.Pixels = c.Type == 2 ? Bgr({kA, kB, kC, kD, kA, kB}) : Concat({{0x85}, Bgr({kA})});
    t.Pixels.resize(std::min(t.Pixels.size(), c.PixelBytes));
    TTgaRead r;
    r.Run(t.Build());
    if (c.FirstMissing == 0 && c.LastMissing == 2) { // no row at all: no image
        EXPECT_TRUE(r.Aborting);
        EXPECT_EQ(r.Outcome.Refusal, "data ends before the first row");
        return;
    }
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Outcome.DataEndsEarly, c.FirstMissing >= 0);
    EXPECT_EQ(r.Outcome.FirstMissingRow, c.FirstMissing);
    EXPECT_EQ(r.Outcome.LastMissingRow, c.LastMissing);
}

INSTANTIATE_TEST_SUITE_P(Cut, TgaCut,
                         ::testing::Values(TCutCase{"Whole", 2, 0x20, 18, -1, -1},
                                           TCutCase{"TopDownAfterOneRow", 2, 0x20, 6, 1, 2},
                                           TCutCase{"TopDownInTheFirstRow", 2, 0x20, 4, 0, 2},
                                           TCutCase{"BottomUpAfterOneRow", 2, 0x00, 6, 0, 1},
                                           TCutCase{"BottomUpInTheLastPixel", 2, 0x00, 17, 0, 0},
                                           TCutCase{"RunLengthWhole", 10, 0x20, 4, -1, -1},
                                           TCutCase{"RunLengthWithoutItsValue", 10, 0x20, 2, 0, 2}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- palette

TEST(TgaPalette, ColourMapLandsFromItsFirstIndex) {
    TTga t{.Type = 1,
           .Depth = 8,
           .Width = 4,
           .Height = 1,
           .MapType = 1,
           .MapFirst = 16,
           .MapLength = 2,
           .MapBits = 24};
    t.Map = Bgr({kA, kB});
    t.Pixels = {16, 17, 0, 200};
    TTgaRead r;
    r.Run(t.Build());
    ASSERT_FALSE(r.Aborting);
    // Index 0 and 200 keep the 3-3-2 start palette: 32r + 28, 32g + 28, 64b + 60.
    EXPECT_EQ(r.Rgb(), RgbOf({kA, kB, {28, 28, 60}, {220, 92, 60}}));
    EXPECT_EQ(r.Params.PaletteCount, 2);
    ASSERT_EQ(r.Params.Palette.size(), 2u);
    EXPECT_EQ(r.Params.Palette[0], CreateRGB(28, 28, 60)); // copied from the start of the palette
    EXPECT_FALSE(r.Params.TgaGrayscale);
}

TEST(TgaPalette, SixteenBitMapEntriesAndIndexesPastTheTable) {
    // 16-bit indexes into a 16-bit colour map; index 300 has no entry and shows black.
    TTga t{.Type = 1, .Depth = 16, .Width = 2, .Height = 1, .MapType = 1, .MapLength = 1, .MapBits = 16};
    t.Map = {0x00, 0x7C}; // pure red in 5-5-5
    t.Pixels = {0, 0, 0x2C, 0x01};
    TTgaRead r;
    r.Run(t.Build());
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Rgb(), RgbOf({{255, 0, 0}, {0, 0, 0}}));
}

TEST(TgaPalette, GreyWithoutMapLoadsAsEqualChannels) {
    TTgaRead r;
    r.Run(TTga{.Type = 3, .Depth = 8, .Width = 3, .Height = 1, .Pixels = {0, 77, 255}}.Build());
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.PixelType(), ie24Rgb);
    EXPECT_EQ(r.Rgb(), RgbOf({{0, 0, 0}, {77, 77, 77}, {255, 255, 255}}));
    EXPECT_TRUE(r.Params.TgaGrayscale);
    EXPECT_EQ(r.Params.SamplesPerPixel, 1);
}

TEST(TgaPalette, UnknownEntrySizeIsSkippedSoPixelsStayInPlace) {
    TTga t{.Type = 1, .Depth = 8, .Width = 2, .Height = 1, .MapType = 1, .MapLength = 3, .MapBits = 12};
    t.Map = Bytes(6, 0xAB); // two bytes per 12-bit entry
    t.Pixels = {0, 1};
    TTgaRead r;
    r.Run(t.Build());
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Rgb(), RgbOf({{28, 28, 60}, {28, 28, 124}}));
}

// ---- pixel encodings

TEST(TgaPixels, SixteenBitColourAndOneBitRows) {
    TTgaRead colour;
    // Five-bit channels reach the full range: v * 255 / 31, rounded (16 gives 132, 1 gives 8).
    colour.Run(
        TTga{.Depth = 16, .Width = 4, .Height = 1, .Pixels = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0x21, 0x40}}
            .Build());
    EXPECT_EQ(colour.Rgb(), RgbOf({{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {132, 8, 8}}));
    EXPECT_EQ(colour.Params.BitsPerSample, 5);
    EXPECT_EQ(colour.Params.SamplesPerPixel, 3);

    // Nine pixels wide: two bytes per row, the ninth pixel in the second byte's top bit.
    TTgaRead mono;
    mono.Run(
        TTga{.Type = 3, .Depth = 1, .Width = 9, .Height = 1, .Pixels = {0b10110001, 0b10000000}}.Build());
    ASSERT_FALSE(mono.Aborting);
    EXPECT_EQ(mono.Bitmap.PixelType(), ie1Bit);
    const Bytes rgb = mono.Rgb();
    const int want[9] = {1, 0, 1, 1, 0, 0, 0, 1, 1};
    for (int x = 0; x < 9; ++x) EXPECT_EQ(rgb[std::size_t(x) * 3], want[x] ? 255 : 0) << x;
}

TEST(TgaPixels, TruncatedDataLeavesBlack) {
    for (int type : {2, 10}) {
        SCOPED_TRACE(type);
        TTga t{.Type = type, .Width = 2, .Height = 2};
        t.Pixels = type == 2 ? Bgr({kA, kB}) : Bytes{0x81, 30, 20, 10};
        t.Pixels.push_back(99); // a fraction of the third pixel
        TTgaRead r;
        r.Run(t.Build());
        EXPECT_FALSE(r.Aborting);
        EXPECT_EQ(r.Rgb(), RgbOf({kA, type == 2 ? kB : kA, {0, 0, 0}, {0, 0, 0}}));
    }
}

// The same 3 x 2 image stored raw, as packets that stop at each row, and as packets crossing rows.
struct TRleCase {
    const char* Name;
    Bytes Data;
};

const Bytes kRows = RgbOf({kA, kA, kA, kA, kB, kC});

class TgaRunLength : public ::testing::TestWithParam<TRleCase> {};

TEST_P(TgaRunLength, GivesTheRawPixels) {
    TTgaRead r;
    r.Run(TTga{.Type = 10, .Width = 3, .Height = 2, .Pixels = GetParam().Data}.Build());
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Rgb(), kRows);
}

INSTANTIATE_TEST_SUITE_P(
    Rle, TgaRunLength,
    ::testing::Values(
        TRleCase{"PacketsPerRow", Concat({{0x82}, Bgr({kA}), {0x80}, Bgr({kA}), {0x01}, Bgr({kB, kC})})},
        TRleCase{"RunAcrossRows", Concat({{0x83}, Bgr({kA}), {0x01}, Bgr({kB, kC})})},
        TRleCase{"RawAcrossRows", Concat({{0x01}, Bgr({kA, kA}), {0x03}, Bgr({kA, kA, kB, kC})})},
        // A run longer than the image stops at its last pixel.
        TRleCase{"RunPastTheImage", Concat({{0x83}, Bgr({kA}), {0x01}, Bgr({kB, kC}), {0xFF}, Bgr({kD})})}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- orientation: stored rows "A B" then "C D"

struct TOrientationCase {
    const char* Name;
    int Descriptor;
    Bytes Expected; // top row first
};

class TgaOrientation : public ::testing::TestWithParam<TOrientationCase> {};

TEST_P(TgaOrientation, PlacesTheStoredRows) {
    for (int type : {2, 10}) {
        SCOPED_TRACE(type);
        const Bytes data = type == 2 ? Bgr({kA, kB, kC, kD}) : Concat({{0x03}, Bgr({kA, kB, kC, kD})});
        TTgaRead r;
        r.Run(TTga{.Type = type, .Descriptor = GetParam().Descriptor, .Pixels = data}.Build());
        EXPECT_EQ(r.Rgb(), GetParam().Expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, TgaOrientation,
                         ::testing::Values(TOrientationCase{"BottomLeft", 0x00, RgbOf({kC, kD, kA, kB})},
                                           TOrientationCase{"TopLeft", 0x20, RgbOf({kA, kB, kC, kD})},
                                           // Right-to-left mirrors each row and keeps the bottom-up order.
                                           TOrientationCase{"BottomRight", 0x10, RgbOf({kD, kC, kB, kA})},
                                           TOrientationCase{"TopRight", 0x30, RgbOf({kB, kA, kD, kC})}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- alpha

struct TAlphaCase {
    const char* Name;
    TTga File;
    bool IgnoreAlpha;
    Bytes Alpha; // empty: no mask
};

class TgaAlpha : public ::testing::TestWithParam<TAlphaCase> {};

TEST_P(TgaAlpha, GoesToTheMask) {
    const TAlphaCase& c = GetParam();
    TTgaRead r;
    r.Run(c.File.Build(), false, c.IgnoreAlpha);
    ASSERT_FALSE(r.Aborting);
    ASSERT_EQ(r.Mask != nullptr, !c.Alpha.empty());
    if (r.Mask) {
        EXPECT_EQ(r.Alpha(), c.Alpha);
        EXPECT_FALSE(r.Mask->FullyOpaque);
    }
}

const Bytes kBgra = {1, 2, 3, 0, 4, 5, 6, 128, 7, 8, 9, 255, 10, 11, 12, 77};

INSTANTIATE_TEST_SUITE_P(
    Alpha, TgaAlpha,
    ::testing::Values(
        TAlphaCase{
            "RawAlpha", TTga{.Depth = 32, .Descriptor = 0x28, .Pixels = kBgra}, false, {0, 128, 255, 77}},
        // Bottom-up and mirrored: the alpha follows its pixel.
        TAlphaCase{"MirroredBottomUp",
                   TTga{.Depth = 32, .Descriptor = 0x18, .Pixels = kBgra},
                   false,
                   {77, 255, 128, 0}},
        TAlphaCase{"RunGivesItsAlphaToEveryPixel",
                   TTga{.Type = 10,
                        .Depth = 32,
                        .Descriptor = 0x28,
                        .Pixels = {0x82, 1, 2, 3, 9, 0x00, 4, 5, 6, 200}},
                   false,
                   {9, 9, 9, 200}},
        TAlphaCase{"NoAlphaBits", TTga{.Depth = 32, .Descriptor = 0x20, .Pixels = kBgra}, false, {}},
        // Alpha bits declared and zeros stored mean no alpha: taken as alpha, the page was blank.
        TAlphaCase{
            "AlphaBitsButZeros",
            TTga{.Depth = 32, .Descriptor = 0x28, .Pixels = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 1, 1, 1, 0}},
            false,
            {}},
        TAlphaCase{"GreyAlphaZeros",
                   TTga{.Type = 3, .Depth = 16, .Descriptor = 0x28, .Pixels = {50, 0, 60, 0, 70, 0, 80, 0}},
                   false,
                   {}},
        TAlphaCase{"IgnoreAlpha", TTga{.Depth = 32, .Descriptor = 0x28, .Pixels = kBgra}, true, {}},
        // Some writers declare 4 alpha bits for the fourth byte of a 32-bit pixel.
        TAlphaCase{"FourAlphaBits",
                   TTga{.Depth = 32, .Descriptor = 0x24, .Pixels = kBgra},
                   false,
                   {0, 128, 255, 77}},
        // 32-bit colour map entries carry their alpha to the pixels that use them.
        TAlphaCase{"ColourMapAlpha",
                   TTga{.Type = 1,
                        .Depth = 8,
                        .MapType = 1,
                        .MapLength = 2,
                        .MapBits = 32,
                        .Map = {1, 2, 3, 0, 4, 5, 6, 200},
                        .Pixels = {1, 0, 0, 1}},
                   false,
                   {200, 0, 0, 200}},
        TAlphaCase{"ColourMapAlphaRunLength",
                   TTga{.Type = 9,
                        .Depth = 8,
                        .MapType = 1,
                        .MapLength = 2,
                        .MapBits = 32,
                        .Map = {1, 2, 3, 40, 4, 5, 6, 200},
                        .Pixels = {0x83, 1}},
                   false,
                   {200, 200, 200, 200}},
        TAlphaCase{"ColourMapAlphaAllZero",
                   TTga{.Type = 1,
                        .Depth = 8,
                        .MapType = 1,
                        .MapLength = 2,
                        .MapBits = 32,
                        .Map = {1, 2, 3, 0, 4, 5, 6, 0},
                        .Pixels = {1, 0, 0, 1}},
                   false,
                   {}},
        TAlphaCase{"ColourMapOf24Bits",
                   TTga{.Type = 1,
                        .Depth = 8,
                        .MapType = 1,
                        .MapLength = 2,
                        .MapBits = 24,
                        .Map = {1, 2, 3, 4, 5, 6},
                        .Pixels = {1, 0, 0, 1}},
                   false,
                   {}},
        TAlphaCase{
            "GreyAndAlpha",
            TTga{.Type = 3, .Depth = 16, .Descriptor = 0x28, .Pixels = {50, 0, 60, 10, 70, 20, 80, 255}},
            false,
            {0, 10, 20, 255}}),
    [](const auto& info) { return std::string(info.param.Name); });

// A colour-mapped file with 32-bit map entries: the alpha ImageMagick reads from it.
TEST(TgaAlpha, ColourMapAlphaMatchesTheReference) {
    TTgaRead r;
    r.Run(testsupport::ReadFileBytes(std::string(FOLIANTO_TESTDATA_DIR) + "/colour-map-alpha.tga"));
    ASSERT_FALSE(r.Aborting);
    ASSERT_NE(r.Mask, nullptr);
    EXPECT_EQ(r.Alpha(), (Bytes{255, 100, 100, 255, 100, 255, 255, 100}));
    EXPECT_EQ(r.Rgb(), RgbOf({{255, 0, 0},
                              {0, 0, 255},
                              {0, 0, 255},
                              {255, 0, 0},
                              {0, 0, 255},
                              {255, 0, 0},
                              {255, 0, 0},
                              {0, 0, 255}}));
}

// ---- corpus

// The reference decode of a corpus file: the suite's own PNG where it ships one, else Pillow, else
// ImageMagick (which here leaves bottom-up files upside down, so it comes last).
bool Reference(const std::string& Path, testsupport::RgbImage& Image) {
    namespace fs = std::filesystem;
    const fs::path p = fs::path(testsupport::CorpusDir()) / Path;
    std::vector<fs::path> candidates = {p.parent_path() / "ref" / (p.filename().string() + ".png")};
    std::string stem = p.stem().string();
    for (int cut = 0; cut < 2 && stem.rfind('_') != std::string::npos; ++cut) stem.resize(stem.rfind('_'));
    candidates.push_back(p.parent_path() / "ref" / (stem + ".png")); // 200x32_rgb_bl_raw -> 200x32_rgb
    if (p.stem().string().rfind("tga_read_rgb", 0) == 0)
        candidates.push_back(p.parent_path() / "ref" / "tga_read_rgb.png");
    for (const fs::path& c : candidates)
        if (fs::exists(c)) return testsupport::DecodeWithImageMagick(c.string(), Image);
    testsupport::TempDir dir;
    const std::string cmd = "/usr/bin/python3 -c 'import sys; from PIL import Image; "
                            "Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2])' " +
                            testsupport::ShellQuote(p.string()) + " " +
                            testsupport::ShellQuote(dir.File("r.ppm")) + " >/dev/null 2>&1";
    if (testsupport::RunCommand(cmd) == 0 && testsupport::ReadPnm(dir.File("r.ppm"), Image)) return true;
    return testsupport::DecodeWithImageMagick(p.string(), Image);
}

// Good files that are refused on purpose.
const std::map<std::string, std::string> kGoodFilesRefused = {
    {"tga/pillow/p_8.tga", "only the 18 header bytes are present: the image cannot fit the stream"},
};

TEST(TgaCorpus, GoodFilesMatchTheReference) {
    FOLIANTO_REQUIRE_CORPUS();
    if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    int compared = 0;
    for (const auto& e : testsupport::CorpusFiles("tga")) {
        if (e.IsBad()) continue;
        SCOPED_TRACE(e.Path);
        const std::string path = testsupport::CorpusDir() + "/" + e.Path;
        const Bytes file = testsupport::ReadFileBytes(path);
        TTgaRead r;
        r.Run(file);
        const bool refused = kGoodFilesRefused.count(e.Path) != 0;
        EXPECT_EQ(r.Aborting, refused);
        if (refused) continue;
        testsupport::RgbImage ref;
        ASSERT_TRUE(Reference(e.Path, ref));
        ASSERT_EQ(r.Bitmap.Width(), ref.Width);
        ASSERT_EQ(r.Bitmap.Height(), ref.Height);
        // 5-bit channels are widened by 8 here and by bit replication in the references.
        const bool fiveBit =
            file[16] == 16 && file[2] != 3 && file[2] != 11 && !(file[1] == 1 && file[2] % 8 == 1);
        const bool fiveBitMap = file[1] == 1 && (file[7] == 15 || file[7] == 16);
        const int tolerance = fiveBit || fiveBitMap ? 7 : 0;
        const Bytes ours = r.Rgb();
        int worst = 0;
        for (std::size_t i = 0; i < ours.size(); ++i) {
            if (r.Mask && r.Mask->GetPixel(int(i / 3 % std::size_t(ref.Width)),
                                           int(i / 3 / std::size_t(ref.Width))) == 0)
                continue; // colour under full transparency is not kept by every reference
            worst = std::max(worst, std::abs(int(ours[i]) - int(ref.Pixels[i])));
        }
        EXPECT_LE(worst, tolerance);
        ++compared;
    }
    EXPECT_GT(compared, 40);
}

// Hostile files that are read without an abort, and why; every other bad file must set Aborting.
// (overfull-image.tga holds two bytes of its first 4-byte run value: no row at all, so it is refused.)
constexpr const char* kTruncated = "data ends early: the rows it reaches are kept, the others reported";
constexpr const char* kWhole = "its data fills the image: the fault it caught was another reader's";
const std::map<std::string, std::string> kBadFilesThatDecode = {
    {"tga/image-rs/bad/sixteen-bit-gray-colormap2.tga",
     "a 32-bit grey file reads as blue, green, red, alpha"},
    {"tga/libgd/bug00084.tga", "a complete 24-bit file"},
    {"tga/libgd/bug00247.tga", kTruncated},
    {"tga/libgd/bug00247a.tga", kWhole},
    {"tga/libgd/bug00248.tga", kWhole},
    {"tga/libgd/bug00248a.tga", kWhole},
    {"tga/libgd/heap_overflow.tga", kTruncated},
    {"tga/libgd/heap_overflow_2.tga", kTruncated},
    {"tga/pillow/cross_scan_line_truncated.tga", kTruncated},
};

TEST(TgaCorpus, BadFilesAbortOrDecodeCleanly) {
    FOLIANTO_REQUIRE_CORPUS();
    int seen = 0;
    for (const auto& e : testsupport::CorpusFiles("tga")) {
        if (!e.IsBad()) continue;
        SCOPED_TRACE(e.Path);
        ++seen;
        const auto start = std::chrono::steady_clock::now();
        TTgaRead r;
        r.Run(testsupport::ReadFileBytes(testsupport::CorpusDir() + "/" + e.Path));
        const auto known = kBadFilesThatDecode.find(e.Path);
        EXPECT_EQ(r.Aborting, known == kBadFilesThatDecode.end())
            << (known != kBadFilesThatDecode.end() ? known->second : "");
        if (!r.Aborting) {
            EXPECT_EQ(r.Bitmap.Width(), r.Params.ImageWidth);
            EXPECT_EQ(r.Bitmap.Height(), r.Params.ImageHeight);
            EXPECT_EQ(r.Outcome.DataEndsEarly, known->second == std::string(kTruncated));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    }
    EXPECT_GT(seen, 10);
}

} // namespace
