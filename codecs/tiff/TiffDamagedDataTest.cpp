// Files whose compression tag contradicts their data are refused with a reason, never shown as a page of
// garbage; the same data cut short keeps the rows it holds.
#include "codecs/tiff/TiffTestHelpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace tifftest;
using B = TTiffBuilder;

// Bytes with no structure: a small linear congruential sequence, the same every run.
std::vector<std::uint8_t> Noise(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = std::uint8_t(seed >> 24);
    }
    return out;
}

// Plain 8-bit grey rows: what a writer meant to compress, stored under another compression's tag.
std::vector<std::uint8_t> GreyRamp(std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = std::uint8_t(i * 7);
    return out;
}

struct TDamagedCase {
    const char* Name;
    std::uint32_t Compression;
    int Bits, Samples, Photometric;
    std::vector<std::uint8_t> Strip;
    const char* Reason;
};

constexpr int kWidth = 64, kHeight = 32;

const TDamagedCase kDamagedCases[] = {
    {"JpegTagOverPlainRows", 7, 8, 1, 1, GreyRamp(kWidth* kHeight), "not a JPEG file"},
    {"LzwTagOverPlainRows", 5, 8, 1, 1, GreyRamp(kWidth* kHeight), "damaged LZW data"},
    {"LzwTagOverNoise", 5, 8, 3, 2, Noise(3000, 5), "damaged LZW data"},
    {"DeflateTagOverNoise", 8, 8, 3, 2, Noise(3000, 6), "damaged Deflate data"},
    {"PackBitsRunsOverrunTheStrip", 32773, 8, 1, 1, Noise(3000, 7), "damaged PackBits data"},
    {"Group4TagOverNoise", 4, 1, 1, 0, Noise(600, 8), "damaged fax data"},
    {"Group3TagOverNoise", 3, 1, 1, 0, Noise(600, 9), "damaged fax data"},
    {"HuffmanTagOverNoise", 2, 1, 1, 0, Noise(600, 10), "damaged fax data"},
};

void PrintTo(const TDamagedCase& c, std::ostream* os) {
    *os << c.Name;
}

class TiffDamagedDataTest : public testing::TestWithParam<TDamagedCase> {};

TEST_P(TiffDamagedDataTest, IsRefusedWithItsCause) {
    const TDamagedCase& c = GetParam();
    B b;
    B::Image(b.AddDirectory(), kWidth, kHeight, std::uint32_t(c.Bits), std::uint32_t(c.Samples),
             c.Photometric, c.Compression, kHeight, {c.Strip});
    const auto r = ReadBytes(b.Build());
    EXPECT_TRUE(r->Aborted);
    EXPECT_EQ(r->Outcome.Refusal, c.Reason);
}

INSTANTIATE_TEST_SUITE_P(Tags, TiffDamagedDataTest, testing::ValuesIn(kDamagedCases),
                         [](const testing::TestParamInfo<TDamagedCase>& i) {
                             return std::string(i.param.Name);
                         });

// Packs '0' and '1' characters (others ignored) most significant bit first.
std::vector<std::uint8_t> Bits(const std::string& s) {
    std::vector<std::uint8_t> out;
    int n = 0;
    for (char c : s) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() = std::uint8_t(out.back() | (0x80 >> (n % 8)));
        ++n;
    }
    return out;
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::vector<std::uint8_t> Then(std::vector<std::uint8_t> a, std::size_t zeros) {
    a.resize(a.size() + zeros, 0);
    return a;
}

const std::string kEol = "000000000001";

// Sound data with what writers put after it, and sound data cut short: pages, not refusals.
const TDamagedCase kSoundCases[] = {
    // Each row one run of 64 copies, then padding.
    {"PackBitsWithPadding", 32773, 8, 1, 1, Then(Bits(Repeat("11000001 01010101", kHeight)), 10), ""},
    // White rows (64 = 11011, then white 0), RTC, then zero fill.
    {"Group3WithRtcAndFill", 3, 1, 1, 0,
     Then(Bits(Repeat(kEol + "11011 00110101", kHeight) + Repeat(kEol, 6)), 40), ""},
    // White rows (V0 against white), EOFB, zero fill.
    {"Group4WithEofbAndFill", 4, 1, 1, 0, Then(Bits(Repeat("1", kHeight) + kEol + kEol), 40), ""},
    // Half the rows, then the file ends.
    {"Group4CutShort", 4, 1, 1, 0, Bits(Repeat("1", kHeight / 2)), ""},
};

class TiffSoundDataTest : public testing::TestWithParam<TDamagedCase> {};

TEST_P(TiffSoundDataTest, GivesAPage) {
    const TDamagedCase& c = GetParam();
    B b;
    B::Image(b.AddDirectory(), kWidth, kHeight, std::uint32_t(c.Bits), std::uint32_t(c.Samples),
             c.Photometric, c.Compression, kHeight, {c.Strip});
    const auto r = ReadBytes(b.Build());
    EXPECT_FALSE(r->Aborted) << r->Outcome.Refusal;
    EXPECT_EQ(r->Bitmap.Height(), kHeight);
}

INSTANTIATE_TEST_SUITE_P(Tags, TiffSoundDataTest, testing::ValuesIn(kSoundCases),
                         [](const testing::TestParamInfo<TDamagedCase>& i) {
                             return std::string(i.param.Name);
                         });

} // namespace
