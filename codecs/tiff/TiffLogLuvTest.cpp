// LogL and LogLuv: the run-length rows, the pixels they stand for, and whole hand-made files.
#include "codecs/tiff/TiffLogLuv.h"
#include "codecs/tiff/TiffTestHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace tifftest;
using B = TTiffBuilder;
using TBytes = std::vector<std::uint8_t>;

struct TRowCase {
    const char* Name;
    int Width, PixelBytes;
    TBytes Coded;
    bool Whole;       // the row is all in the data
    TBytes Pixels;    // the decoded words, byte by byte (when whole)
    std::size_t Used; // bytes of the data the row took (when whole)
};

const TRowCase kRowCases[] = {
    // High bytes as a run of three (128 + 3 - 2), low bytes as three literals.
    {"RunThenLiterals", 3, 2, {0x81, 0x40, 0x03, 1, 2, 3}, true, {0x40, 1, 0x40, 2, 0x40, 3}, 6},
    {"PlanesOfFourBytes",
     2,
     4,
     {0x80, 0x11, 0x02, 0x22, 0x23, 0x80, 0x33, 0x80, 0x44},
     true,
     {0x11, 0x22, 0x33, 0x44, 0x11, 0x23, 0x33, 0x44},
     9},
    // A run longer than the row stops at its end; the next plane starts with the next byte.
    {"RunPastTheRowIsCut", 2, 2, {0xFF, 0x07, 0x02, 8, 9}, true, {7, 8, 7, 9}, 5},
    {"DataEndsInALiteral", 3, 2, {0x81, 0x40, 0x03, 1, 2}, false, {}, 0},
    {"DataEndsBeforeARunValue", 3, 2, {0x81}, false, {}, 0},
    {"NoData", 1, 2, {}, false, {}, 0},
};

void PrintTo(const TRowCase& c, std::ostream* os) {
    *os << c.Name;
}

class TiffLogRowTest : public testing::TestWithParam<TRowCase> {};

TEST_P(TiffLogRowTest, Decodes) {
    const TRowCase& c = GetParam();
    TBytes pixels(std::size_t(c.Width * c.PixelBytes), 0xEE);
    std::size_t pos = 0;
    ASSERT_EQ(tiff::DecodeLogRow(c.Coded, pos, c.Width, c.PixelBytes, pixels.data()), c.Whole);
    if (!c.Whole) return;
    EXPECT_EQ(pixels, c.Pixels);
    EXPECT_EQ(pos, c.Used);
}

INSTANTIATE_TEST_SUITE_P(Rows, TiffLogRowTest, testing::ValuesIn(kRowCases),
                         [](const testing::TestParamInfo<TRowCase>& i) { return std::string(i.param.Name); });

// Luminance is 256 steps per doubling around 2^-64; u' and v' are 410 steps per unit.
constexpr std::uint16_t LogCode(int log2Y) {
    return std::uint16_t((log2Y + 64) * 256);
}
constexpr std::uint8_t UvCode(double uv) {
    return std::uint8_t(uv * 410);
}

struct TPixelCase {
    const char* Name;
    TBytes Pixel; // one LogL (2 bytes) or LogLuv (4 bytes) word
    int Blue, Green, Red, Tolerance;
};

const TPixelCase kPixelCases[] = {
    {"LogLZeroIsBlack", {0, 0}, 0, 0, 0, 0},
    {"LogLOneIsWhite", {LogCode(0) >> 8, 0}, 255, 255, 255, 0},
    {"LogLAboveOneIsClamped", {LogCode(3) >> 8, 0}, 255, 255, 255, 0},
    // A quarter of white is half of 256 steps with a gamma of 2.
    {"LogLQuarter", {LogCode(-2) >> 8, 0}, 128, 128, 128, 0},
    {"LogLNegativeIsBlack", {0x80 | LogCode(-2) >> 8, 0}, 0, 0, 0, 0},
    // The white point (u' 4/19, v' 9/19) is grey.
    {"LogLuvWhitePointIsGrey", {LogCode(-2) >> 8, 0, UvCode(4.0 / 19), UvCode(9.0 / 19)}, 128, 128, 128, 3},
    // The red primary's chromaticity (u' 0.4507, v' 0.5229) at a quarter: red alone.
    {"LogLuvRedPrimary", {LogCode(-2) >> 8, 0, UvCode(0.4507), UvCode(0.5229)}, 0, 0, 255, 12},
};

void PrintTo(const TPixelCase& c, std::ostream* os) {
    *os << c.Name;
}

class TiffLogPixelTest : public testing::TestWithParam<TPixelCase> {};

TEST_P(TiffLogPixelTest, Converts) {
    const TPixelCase& c = GetParam();
    std::uint8_t bgr[3] = {1, 2, 3};
    tiff::LogPixelsToBgr(c.Pixel.data(), 1, int(c.Pixel.size()), bgr);
    EXPECT_NEAR(bgr[0], c.Blue, c.Tolerance);
    EXPECT_NEAR(bgr[1], c.Green, c.Tolerance);
    EXPECT_NEAR(bgr[2], c.Red, c.Tolerance);
}

INSTANTIATE_TEST_SUITE_P(Pixels, TiffLogPixelTest, testing::ValuesIn(kPixelCases),
                         [](const testing::TestParamInfo<TPixelCase>& i) {
                             return std::string(i.param.Name);
                         });

// ---- Whole files: a 4 x 2 LogL image in two strips of a row, each row white then black halves.

constexpr std::uint32_t kSgiLog = 34676, kSgiLog24 = 34677, kLogL = 32844, kLogLuv = 32845;

struct TFileCase {
    const char* Name;
    std::uint32_t Compression, Photometric, Samples;
    bool CutSecondStrip;
    const char* Refusal;
};

const TFileCase kFileCases[] = {
    {"LogLStrips", kSgiLog, kLogL, 1, false, ""},
    // Data that ends inside a row of a strip the file holds whole is not run-length data.
    {"SecondStripEndsInsideTheRow", kSgiLog, kLogL, 1, true, "damaged LogLuv data"},
    {"TwentyFourBitCoding", kSgiLog24, kLogLuv, 3, false, "unsupported: LogLuv in 24-bit coding"},
    {"LogLuvWithOneSample", kSgiLog, kLogLuv, 1, false, "unsupported: LogLuv"},
};

void PrintTo(const TFileCase& c, std::ostream* os) {
    *os << c.Name;
}

class TiffLogFileTest : public testing::TestWithParam<TFileCase> {};

TEST_P(TiffLogFileTest, Reads) {
    const TFileCase& c = GetParam();
    // High bytes: two of white's, two zeros; low bytes: four zeros.
    const TBytes row = {0x02, LogCode(0) >> 8, LogCode(0) >> 8, 0x80, 0x00, 0x82, 0x00};
    TBytes second = row;
    if (c.CutSecondStrip) second.resize(3);
    B b;
    auto& d = b.AddDirectory();
    B::Image(d, 4, 2, 16, c.Samples, int(c.Photometric), c.Compression, 1, {row, second});
    const auto r = ReadBytes(b.Build());
    if (*c.Refusal) {
        EXPECT_TRUE(r->Aborted);
        EXPECT_EQ(r->Outcome.Refusal, c.Refusal);
        return;
    }
    ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
    const testsupport::RgbImage img = ToRgb(r->Bitmap);
    ASSERT_EQ(img.Width, 4);
    ASSERT_EQ(img.Height, 2);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(img.At(x, 0)[0], x < 2 ? 255 : 0) << x;
    for (int x = 0; x < 4; ++x) EXPECT_EQ(img.At(x, 1)[0], x < 2 ? 255 : 0) << x;
}

INSTANTIATE_TEST_SUITE_P(Files, TiffLogFileTest, testing::ValuesIn(kFileCases),
                         [](const testing::TestParamInfo<TFileCase>& i) {
                             return std::string(i.param.Name);
                         });

} // namespace
