#include "codecs/pnm/PxmReader.h"

#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>

namespace {

struct TRead {
    bool Aborting = false;
    TIOParamsVals Params;
    TIEBitmap Bitmap;
    int Reports = 0;
    TIELoadOutcome Outcome;
};

void Read(TRead& r, const std::string& bytes, bool headerOnly = false) {
    TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
    TIEProgressRecord progress([&r](void*, int) { ++r.Reports; }, nullptr, r.Aborting);
    ReadPxmStream(s, r.Bitmap, r.Params, headerOnly, progress);
    r.Outcome = progress.Outcome;
}

// Red, green, blue of a pixel, whatever the pixel type (bilevel: 0 or 255).
std::array<int, 3> RgbAt(TIEBitmap& b, int x, int y) {
    const std::uint8_t* row = b.RowPointer(y);
    if (b.PixelType() == ie1Bit) {
        const int v = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
        return {v, v, v};
    }
    return {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
}
std::array<int, 3> Grey(int v) {
    return {v, v, v};
}

std::string Bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s += static_cast<char>(b);
    return s;
}

TEST(ReadPxmStream, GreymapBelow255IsStretchedInEveryColumn) {
    TRead r;
    Read(r, "P5\n3 2\n15\n" + Bytes({15, 7, 0, 7, 15, 15}));
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.PixelType(), ie24Rgb);
    EXPECT_EQ(RgbAt(r.Bitmap, 0, 0), Grey(255));
    EXPECT_EQ(RgbAt(r.Bitmap, 1, 0), Grey(119));
    EXPECT_EQ(RgbAt(r.Bitmap, 2, 0), Grey(0));
    EXPECT_EQ(RgbAt(r.Bitmap, 0, 1), Grey(119));
    EXPECT_EQ(RgbAt(r.Bitmap, 2, 1), Grey(255));
    EXPECT_EQ(r.Params.BitsPerSample, 8);
    EXPECT_EQ(r.Params.SamplesPerPixel, 1);
    EXPECT_EQ(r.Params.HorizontalDpi, DefaultDpiX);
}

TEST(ReadPxmStream, PixmapBelow255IsStretchedAnd255TakenAsItStands) {
    TRead low;
    Read(low, "P6 2 1 15\n" + Bytes({15, 7, 1, 10, 0, 15}));
    ASSERT_FALSE(low.Aborting);
    EXPECT_EQ(RgbAt(low.Bitmap, 0, 0), (std::array<int, 3>{255, 119, 17}));
    EXPECT_EQ(RgbAt(low.Bitmap, 1, 0), (std::array<int, 3>{170, 0, 255}));
    TRead full;
    Read(full, "P6 2 1 255\n" + Bytes({15, 7, 1, 200, 100, 50}));
    ASSERT_FALSE(full.Aborting);
    EXPECT_EQ(RgbAt(full.Bitmap, 0, 0), (std::array<int, 3>{15, 7, 1}));
    EXPECT_EQ(RgbAt(full.Bitmap, 1, 0), (std::array<int, 3>{200, 100, 50}));
    EXPECT_EQ(full.Bitmap.RowPointer(0)[0], 1); // blue first in memory
    EXPECT_EQ(full.Params.SamplesPerPixel, 3);
}

TEST(ReadPxmStream, TwoByteSamplesAreBigEndianAndScaled) {
    TRead grey;
    Read(grey, "P5 3 1 65535\n" + Bytes({0xFF, 0xFF, 0x80, 0x00, 0x01, 0x00}));
    ASSERT_FALSE(grey.Aborting);
    EXPECT_EQ(RgbAt(grey.Bitmap, 0, 0), Grey(255));
    EXPECT_EQ(RgbAt(grey.Bitmap, 1, 0), Grey(127)); // 32768 * 255 / 65535 = 127.5
    EXPECT_EQ(RgbAt(grey.Bitmap, 2, 0), Grey(0));
    TRead colour;
    Read(colour, "P6 1 1 1000\n" + Bytes({0x03, 0xE8, 0x01, 0xF4, 0x00, 0x00}));
    ASSERT_FALSE(colour.Aborting);
    EXPECT_EQ(RgbAt(colour.Bitmap, 0, 0), (std::array<int, 3>{255, 127, 0}));
}

TEST(ReadPxmStream, AsciiBitmapLayoutDoesNotMatter) {
    TRead oneLine, oneDigitPerLine;
    Read(oneLine, "P1\n5 2\n0101110001");
    Read(oneDigitPerLine, "P1 5 2\n0\n1\n0\n1\n1\n\n1 0 0 0 1\n");
    ASSERT_FALSE(oneLine.Aborting);
    ASSERT_FALSE(oneDigitPerLine.Aborting);
    EXPECT_EQ(oneLine.Bitmap.PixelType(), ie1Bit);
    const int expected[2][5] = {{255, 0, 255, 0, 0}, {0, 255, 255, 255, 0}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(RgbAt(oneLine.Bitmap, x, y), Grey(expected[y][x]));
            EXPECT_EQ(RgbAt(oneDigitPerLine.Bitmap, x, y), Grey(expected[y][x]));
        }
    EXPECT_EQ(oneLine.Reports, 1); // after every row but the last
}

TEST(ReadPxmStream, HeaderCommentsAreKeptInOrder) {
    TRead r;
    Read(r, "P2\n# first one \n3 #second\n# third\t\n1\n#fourth\n255\n1 2 3\n");
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.PxmComments, (std::vector<std::string>{"first one", "second", "third", "fourth"}));
    EXPECT_EQ(RgbAt(r.Bitmap, 2, 0), Grey(3));
}

TEST(ReadPxmStream, AsciiSamplesSkipCommentsAndCountNonNumbersAsZero) {
    TRead r;
    Read(r, "P3 2 2 10\n10 0 5 # 9 9 9\n x 10 10\n 2 4 6 10 10");
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(RgbAt(r.Bitmap, 0, 0), (std::array<int, 3>{255, 0, 127}));
    EXPECT_EQ(RgbAt(r.Bitmap, 1, 0), (std::array<int, 3>{0, 255, 255}));
    EXPECT_EQ(RgbAt(r.Bitmap, 0, 1), (std::array<int, 3>{51, 102, 153}));
    EXPECT_EQ(RgbAt(r.Bitmap, 1, 1), (std::array<int, 3>{255, 255, 0})); // the stream ends: black
}

TEST(ReadPxmStream, RawBitmapBitsAreInverted) {
    TRead r;
    Read(r, "P4\n10 2\n" + Bytes({0b10110000, 0b01000000, 0xFF, 0xC0}));
    ASSERT_FALSE(r.Aborting);
    const std::uint8_t* row0 = r.Bitmap.RowPointer(0);
    EXPECT_EQ(row0[0], 0b01001111);
    EXPECT_EQ(row0[1] & 0xC0, 0b10000000);
    EXPECT_EQ(RgbAt(r.Bitmap, 0, 0), Grey(0)); // black stays black
    EXPECT_EQ(RgbAt(r.Bitmap, 9, 1), Grey(0));
}

// A short data part keeps the rows it holds and reports the others; the pixels it does not reach
// are black (bilevel: white). A part that ends before the first row is complete gives no image.
TEST(ReadPxmStream, ShortDataKeepsItsRowsAndReportsTheRest) {
    struct TCase {
        const char* Name;
        std::string Data;    // the first row and a part of the second
        std::string InFirst; // the same file cut inside its first row
        std::array<int, 3> Read0, Missing;
    };
    const TCase cases[] = {
        {"P1", "P1 4 3\n1111 1", "P1 4 3\n111", Grey(0), Grey(255)},
        {"P2", "P2 4 3 255 9 9 9 9 9", "P2 4 3 255 9 9", Grey(9), Grey(0)},
        {"P3", "P3 2 3 255 9 8 7 9 8 7 9 8 7", "P3 2 3 255 9 8 7 9", {9, 8, 7}, Grey(0)},
        {"P4", "P4 4 3\n" + Bytes({0xF0}), "P4 4 3\n", Grey(0), Grey(255)},
        {"P5", "P5 4 3 255\n" + Bytes({9, 9, 9, 9, 9}), "P5 4 3 255\n" + Bytes({9}), Grey(9), Grey(0)},
        {"P6",
         "P6 2 3 255\n" + Bytes({9, 8, 7, 9, 8, 7, 9, 8, 7}),
         "P6 2 3 255\n" + Bytes({9, 8, 7}),
         {9, 8, 7},
         Grey(0)},
        {"P6Wide",
         "P6 1 3 65535\n" + Bytes({0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 1}),
         "P6 1 3 65535\n" + Bytes({0xFF}),
         {255, 0, 255},
         Grey(0)},
    };
    for (const TCase& c : cases) {
        TRead r;
        Read(r, c.Data);
        EXPECT_FALSE(r.Aborting) << c.Name;
        EXPECT_TRUE(r.Outcome.DataEndsEarly) << c.Name;
        EXPECT_EQ(r.Outcome.FirstMissingRow, 1) << c.Name;
        EXPECT_EQ(r.Outcome.LastMissingRow, 2) << c.Name;
        EXPECT_EQ(RgbAt(r.Bitmap, 0, 0), c.Read0) << c.Name;
        EXPECT_EQ(RgbAt(r.Bitmap, r.Bitmap.Width() - 1, 1), c.Missing) << c.Name;
        EXPECT_EQ(RgbAt(r.Bitmap, 0, 2), c.Missing) << c.Name;

        TRead none;
        Read(none, c.InFirst);
        EXPECT_TRUE(none.Aborting) << c.Name;
        EXPECT_EQ(none.Outcome.Refusal, "data ends before the first row") << c.Name;
    }
}

TEST(ReadPxmStream, BadHeadersAbortAndSayWhy) {
    const std::tuple<const char*, std::string, const char*> cases[] = {
        {"Empty", "", "the header ends early"},
        {"MagicOnly", "P5\n", "the header ends early"},
        {"NoMaximum", "P5 3 2", "the header ends early"},
        {"UnknownMagic", "P7 3 2 255\n......", "not a PBM, PGM or PPM file"},
        {"ZeroWidth", "P5 0 2 255\n", "image of width or height 0"},
        {"WidthNotANumber", "P5 3x 2 255\n", "invalid image size"},
        {"WidthTooLarge", "P5 2147483648 1 255\n", "invalid image size"},
        {"MaximumZero", "P5 1 1 0\n\x01", "invalid maximum sample value"},
        {"AsciiMaximumZero", "P2 1 1 0\n1", "invalid maximum sample value"},
        {"PixmapMaximumZero", "P6 1 1 0\n\x01\x02\x03", "invalid maximum sample value"},
        {"MaximumAbove65535", "P5 1 1 65536\n\x01\x02", "invalid maximum sample value"},
        {"MaximumNotANumber", "P5 1 1 x\n\x01", "invalid maximum sample value"},
        {"NegativeWidth", "P5 -1 1 255\n\x01", "negative number in the header"},
        {"NegativeHeight", "P1 1 -2\n01", "negative number in the header"},
        {"NegativeMaximum", "P2 1 1 -255\n1", "negative number in the header"},
        {"FarMoreThanTheStreamHolds", "P6 100000 100000 255\n abc", "image larger than the file can hold"},
    };
    for (const auto& [name, data, reason] : cases) {
        TRead r;
        r.Bitmap.Reallocate(2, 2, ie8Gray);
        Read(r, data);
        EXPECT_TRUE(r.Aborting) << name;
        EXPECT_EQ(r.Outcome.Refusal, reason) << name;
        EXPECT_EQ(r.Bitmap.Width(), 2) << name; // nothing allocated
    }
}

// Comments where common writers put them: straight after the magic, between any header words,
// inside plain bitmap data.
TEST(ReadPxmStream, CommentsAnywhereCommonWritersPutThem) {
    const std::tuple<const char*, std::string, std::vector<std::string>> cases[] = {
        {"AfterRawMagic", "P5#made here\n2 1 255\n" + Bytes({10, 200}), {"made here"}},
        {"AfterAsciiMagic", "P2# x 1\n2 1 255\n10 200", {"x 1"}},
        {"AfterWidth", "P5 2#w\n1 255\n" + Bytes({10, 200}), {"w"}},
        {"InsideAsciiData", "P2 2 1 255\n10#9 9\n200", {}},
    };
    for (const auto& [name, data, comments] : cases) {
        TRead r;
        Read(r, data);
        ASSERT_FALSE(r.Aborting) << name << ": " << r.Outcome.Refusal;
        EXPECT_EQ(RgbAt(r.Bitmap, 0, 0), Grey(10)) << name;
        EXPECT_EQ(RgbAt(r.Bitmap, 1, 0), Grey(200)) << name;
        EXPECT_EQ(r.Params.PxmComments, comments) << name;
    }
    TRead bits; // the digits of a comment are no pixels
    Read(bits, "P1\n3 2\n1 0 # 1 1 1 0 1\n1\n# 000\n0 1 0\n");
    ASSERT_FALSE(bits.Aborting) << bits.Outcome.Refusal;
    const int expected[2][3] = {{0, 255, 0}, {255, 0, 255}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(RgbAt(bits.Bitmap, x, y), Grey(expected[y][x])) << x << "," << y;
}

TEST(ReadPxmStream, HeaderOnlyFillsTheParameters) {
    TRead r;
    r.Bitmap.Reallocate(2, 2, ie8Gray);
    r.Params.SetPalette(nullptr, 0);
    Read(r, "P6 # c\n640 480 255\n", true);
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.ImageWidth, 640);
    EXPECT_EQ(r.Params.ImageHeight, 480);
    EXPECT_EQ(r.Params.SamplesPerPixel, 3);
    EXPECT_EQ(r.Params.PxmComments, std::vector<std::string>{"c"});
    EXPECT_EQ(r.Bitmap.Width(), 2);
}

TEST(IsPxmStream, ChecksMagicAndSize) {
    const std::pair<std::string, bool> cases[] = {
        {"P6 3 2 255\n", true},
        {"# lead\nP5 1 1", true},
        {"P4 0 3 2", true}, // a zero does not count: the size is 3 x 2
        {"P3 3", false},
        {"P7 3 2 255", false},
        {"p6 3 2 255", false},
        {"P6 x 2 255", false},
        {"", false},
        {"\x89PNG\r\n\x1a\n", false},
    };
    for (const auto& [data, expected] : cases) {
        const std::string bytes = "ab" + data;
        TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
        s.SetPosition(2);
        EXPECT_EQ(IsPxmStream(s), expected) << data;
        EXPECT_EQ(s.Position(), 2);
    }
    std::string manyZeros = "P5";
    for (int i = 0; i < 600; ++i) manyZeros += " 0";
    manyZeros += " 4 4 255";
    TReadOnlyMemoryStream s(manyZeros.data(), std::int64_t(manyZeros.size()));
    EXPECT_FALSE(IsPxmStream(s)); // the size lies beyond the 501 tokens looked at
}

// ---- Corpus, against Pillow (this ImageMagick swaps the bytes of 16-bit samples). Pillow keeps 16-bit
// grey as it stands, which is brought to 8 bits the way the reader scales; its 16-bit colour is rounded
// rather than truncated, so that case allows a difference of 1.

bool DecodeWithPillow(const std::string& path, testsupport::RgbImage& image) {
    testsupport::TempDir dir;
    const std::string script = R"(import sys
import numpy as np
from PIL import Image
im = Image.open(sys.argv[1])
a = np.array(im)
if im.mode == 'I': a = (a.astype(np.int64) * 255 // 65535).astype(np.uint8)
elif im.mode == '1': a = a.astype(np.uint8) * 255
if a.ndim == 2: a = np.stack([a, a, a], axis=2)
sys.stdout.buffer.write(b'%d %d\n' % (im.width, im.height) + a.astype(np.uint8).tobytes())
)";
    testsupport::WriteFileBytes(dir.File("d.py"), std::vector<std::uint8_t>(script.begin(), script.end()));
    std::string out;
    if (testsupport::RunCommand("/usr/bin/python3 " + testsupport::ShellQuote(dir.File("d.py")) + " " +
                                    testsupport::ShellQuote(path) + " 2>/dev/null",
                                &out) != 0)
        return false;
    int consumed = 0;
    if (std::sscanf(out.c_str(), "%d %d%n", &image.Width, &image.Height, &consumed) != 2) return false;
    const std::size_t start = std::size_t(consumed) + 1;
    image.Pixels.assign(out.begin() + std::ptrdiff_t(std::min(start, out.size())), out.end());
    return image.Pixels.size() == std::size_t(image.Width) * image.Height * 3;
}

class PxmCorpus : public ::testing::TestWithParam<testsupport::CorpusEntry> {};
TEST_P(PxmCorpus, MatchesImageMagickOrFailsCleanly) {
    FOLIANTO_REQUIRE_CORPUS();
    const auto& entry = GetParam();
    const std::string path = testsupport::CorpusDir() + "/" + entry.Path;
    const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(path);
    TRead r;
    Read(r, std::string(bytes.begin(), bytes.end()));
    if (entry.IsBad()) return; // reaching here without a crash or hang is the test
    TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
    const bool plain = IsPxmStream(s) && bytes[1] >= '1' && bytes[1] <= '6';
    if (!plain) { // PAM files and files that are not of the format at all
        EXPECT_TRUE(r.Aborting);
        return;
    }
    ASSERT_FALSE(r.Aborting);
    if (!testsupport::ToolAvailable("/usr/bin/python3")) GTEST_SKIP() << "python3 missing";
    testsupport::RgbImage ref;
    ASSERT_TRUE(DecodeWithPillow(path, ref));
    ASSERT_EQ(r.Bitmap.Width(), ref.Width);
    ASSERT_EQ(r.Bitmap.Height(), ref.Height);
    const bool wideColour =
        r.Params.SamplesPerPixel == 3 && entry.Note.find("maxval 65535") != std::string::npos;
    int worst = 0;
    for (int y = 0; y < ref.Height; ++y)
        for (int x = 0; x < ref.Width; ++x) {
            const auto p = RgbAt(r.Bitmap, x, y);
            for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(p[c] - ref.At(x, y)[c]));
        }
    EXPECT_LE(worst, wideColour ? 1 : 0);
}
INSTANTIATE_TEST_SUITE_P(Corpus, PxmCorpus, ::testing::ValuesIn(testsupport::CorpusCases("pnm")),
                         [](const auto& info) {
                             std::string n = std::to_string(info.index) + "_" + info.param.Path;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

} // namespace
