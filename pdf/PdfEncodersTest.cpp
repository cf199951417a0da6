#include "pdf/PdfEncoders.h"

#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<std::uint8_t>;

Bytes RunLength(const Bytes& in) {
    Bytes out(RunLengthBound(in.size()));
    out.resize(EncodeRunLength(in.data(), in.size(), out.data()));
    return out;
}

// The RunLengthDecode filter, as a reader applies it.
Bytes RunLengthDecode(const Bytes& in) {
    Bytes out;
    std::size_t i = 0;
    while (i < in.size() && in[i] != 128) {
        const int l = in[i++];
        if (l < 128) {
            out.insert(out.end(), in.begin() + std::ptrdiff_t(i), in.begin() + std::ptrdiff_t(i + l + 1));
            i += l + 1;
        } else {
            out.insert(out.end(), std::size_t(257 - l), in[i++]);
        }
    }
    return out;
}

Bytes Repeat(std::uint8_t b, std::size_t n) {
    return Bytes(n, b);
}

struct RunLengthCase {
    const char* Name;
    Bytes Input;
    Bytes Expected;
};
class RunLengthTest : public testing::TestWithParam<RunLengthCase> {};
TEST_P(RunLengthTest, ExactBytes) {
    EXPECT_EQ(RunLength(GetParam().Input), GetParam().Expected);
}
const RunLengthCase kRunLengthCases[] = {
    {"LiteralTakesFirstOfPair", {0x41, 0x42, 0x42}, {0x01, 0x41, 0x42, 0x00, 0x42, 0x80}},
    {"RunOf128", Repeat(7, 128), {0x81, 7, 0x80}},
    {"RunOf129", Repeat(7, 129), {0x81, 7, 0x00, 7, 0x80}},
    {"ThreeDistinct", {1, 2, 3}, {0x02, 1, 2, 3, 0x80}},
    {"Empty", {}, {0x80}},
    {"LiteralThenRun", {1, 2, 3, 3, 3}, {0x02, 1, 2, 3, 0xFF, 3, 0x80}},
    {"PairIsARun", {9, 9}, {0xFF, 9, 0x80}},
};
INSTANTIATE_TEST_SUITE_P(Encode, RunLengthTest, testing::ValuesIn(kRunLengthCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(RunLengthTest, LongLiteralSplitsAt128) {
    Bytes in(200);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = std::uint8_t(i);
    const Bytes out = RunLength(in);
    ASSERT_EQ(out.size(), 1 + 128 + 1 + 72 + 1u);
    EXPECT_EQ(out[0], 127);
    EXPECT_EQ(out[129], 71);
    EXPECT_EQ(RunLengthDecode(out), in);
}

TEST(RunLengthTest, WorstCaseMeetsTheBoundAndRoundTrips) {
    // 1 2 2 3 3 4 4 ... costs three bytes per two.
    Bytes worst{1};
    for (int v = 2; worst.size() < 301; ++v) worst.insert(worst.end(), 2, std::uint8_t(v));
    const Bytes out = RunLength(worst);
    EXPECT_EQ(out.size(), RunLengthBound(worst.size()));
    EXPECT_EQ(RunLengthDecode(out), worst);

    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        Bytes in(rng() % 600);
        const unsigned alphabet = 1 + rng() % 4; // few values: many short runs and pairs
        for (auto& b : in) b = std::uint8_t(rng() % alphabet);
        const Bytes encoded = RunLength(in);
        ASSERT_LE(encoded.size(), RunLengthBound(in.size()));
        ASSERT_EQ(RunLengthDecode(encoded), in);
    }
}

TEST(SwapRedBlueTest, SwapsOuterBytes) {
    Bytes px{1, 2, 3, 4, 5, 6, 7};
    SwapRedBlue(px.data(), 2);
    EXPECT_EQ(px, (Bytes{3, 2, 1, 6, 5, 4, 7}));
}

// ---- CCITT

// A stream that takes at most Room bytes in all.
class TShortStream : public TMemoryStream {
public:
    explicit TShortStream(std::int64_t room) : Room(room) {}
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        const std::int64_t n = std::min(count, Room);
        Room -= n;
        return TMemoryStream::Write(buffer, n);
    }
    std::int64_t Room;
};

std::string BitsOf(const TMemoryStream& s) {
    std::string bits;
    for (const std::uint8_t b : s.Bytes())
        for (int i = 7; i >= 0; --i) bits += ((b >> i) & 1) ? '1' : '0';
    return bits;
}

std::string CarriedBits(const CcittState& state) {
    std::string bits;
    for (int i = 0; i < state.CarriedBits; ++i) bits += ((state.CarriedByte >> (7 - i)) & 1) ? '1' : '0';
    return bits;
}

// An ie1Bit row from a pattern of '0' (bitmap black, coded white) and '1', padded to 32 bits.
Bytes Row(const std::string& pattern) {
    Bytes row(((pattern.size() + 31) / 32) * 4, 0);
    for (std::size_t x = 0; x < pattern.size(); ++x)
        if (pattern[x] == '1') row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
    return row;
}

using EncodeRow = void (*)(const std::uint8_t*, int, TStream&, bool&, CcittState&);

// Encodes the rows and returns every bit produced by the row calls (written and carried).
std::string Encode(EncodeRow encode, const std::vector<std::string>& rows, CcittState& state,
                   TMemoryStream& out) {
    bool aborting = false;
    for (const auto& r : rows) {
        const Bytes row = Row(r);
        encode(row.data(), int(r.size()), out, aborting, state);
    }
    EXPECT_FALSE(aborting);
    return BitsOf(out) + CarriedBits(state);
}

const std::string kEol = "000000000001";

TEST(CcittTest, Group3AllWhiteFirstRow) {
    CcittState state;
    TMemoryStream out;
    const std::string bits = Encode(EncodeG3Row, {"00000000"}, state, out);
    EXPECT_EQ(bits, kEol + "1" + "10011");
    EXPECT_EQ(out.Size(), 2); // 18 bits: two bytes written, two carried
    EXPECT_EQ(state.CarriedBits, 2);
}

TEST(CcittTest, Group4AllWhiteFirstRowCostsOneBit) {
    CcittState state;
    TMemoryStream out;
    EXPECT_EQ(Encode(EncodeG4Row, {"00000000"}, state, out), "1");
    EXPECT_EQ(out.Size(), 0);
}

TEST(CcittTest, Group4EndOfBlockPadsToByte) {
    CcittState state;
    TMemoryStream out;
    bool aborting = false;
    Encode(EncodeG4Row, {"00000000"}, state, out);
    EncodeG4Row(nullptr, 0, out, aborting, state);
    EXPECT_EQ(BitsOf(out), "1" + kEol + kEol + "0000000");
    EXPECT_EQ(state.CarriedBits, 0);
    EXPECT_FALSE(state.HasReference);
}

TEST(CcittTest, Group3FinishKeepsTheFinalPartialByte) {
    CcittState state;
    TMemoryStream out;
    bool aborting = false;
    Encode(EncodeG3Row, {"00000000"}, state, out); // 2 bits carried
    EncodeG3Row(nullptr, 0, out, aborting, state);
    EXPECT_EQ(BitsOf(out) + CarriedBits(state), kEol + "1" + "10011" + kEol);
    EXPECT_EQ(out.Size(), 3); // 30 bits: the last 6 are never written
    EXPECT_EQ(state.CarriedBits, 6);
}

struct OneDimensionalCase {
    const char* Name;
    std::string Row;
    std::string Codes; // after EOL and tag bit
};
class CcittOneDimensionalTest : public testing::TestWithParam<OneDimensionalCase> {};
TEST_P(CcittOneDimensionalTest, FirstGroup3Row) {
    CcittState state;
    TMemoryStream out;
    EXPECT_EQ(Encode(EncodeG3Row, {GetParam().Row}, state, out), kEol + "1" + GetParam().Codes);
}
const OneDimensionalCase kOneDimensionalCases[] = {
    // Bitmap 1 bits are coded black, so a row starting with one begins with a white run of 0.
    {"BlackFirst", "11100000",
     "00110101"
     "10"
     "1100"},
    {"White70", std::string(70, '0'),
     "11011"
     "1110"},
    {"White3000", std::string(3000, '0'),
     "000000011111"
     "00110111"
     "01011001"},
    {"Black3000", std::string(3000, '1'),
     "00110101"
     "000000011111"
     "000000110100"
     "000000101000"},
    {"White1728Then1Black", std::string(1728, '0') + "1",
     "010011011"
     "00110101"
     "010"},
    {"White1792", std::string(1792, '0'),
     "00000001000"
     "00110101"},
    {"White2560", std::string(2560, '0'),
     "000000011111"
     "00110101"},
    {"White2561", std::string(2561, '0'),
     "000000011111"
     "000111"},
    {"Alternating", "0101",
     "000111"
     "010"
     "000111"
     "010"},
};
INSTANTIATE_TEST_SUITE_P(Rows, CcittOneDimensionalTest, testing::ValuesIn(kOneDimensionalCases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TwoDimensionalCase {
    const char* Name;
    std::string Reference;
    std::string Row;
    std::string Codes;
};
class CcittTwoDimensionalTest : public testing::TestWithParam<TwoDimensionalCase> {};
TEST_P(CcittTwoDimensionalTest, Group4SecondRow) {
    const auto& c = GetParam();
    CcittState state;
    TMemoryStream first;
    const std::string firstBits = Encode(EncodeG4Row, {c.Reference}, state, first);
    TMemoryStream all;
    CcittState again;
    const std::string bits = Encode(EncodeG4Row, {c.Reference, c.Row}, again, all);
    ASSERT_EQ(bits.substr(0, firstBits.size()), firstBits);
    EXPECT_EQ(bits.substr(firstBits.size()), c.Codes);
}
const std::string kBlack4To7 = "0000111100000000";
const TwoDimensionalCase kTwoDimensionalCases[] = {
    // Against the all-white start: horizontal mode, white 4 and black 4, then V0 at the row's end.
    {"HorizontalFromWhite", std::string(16, '0'), kBlack4To7,
     "001"
     "1011"
     "011"
     "1"},
    {"VerticalRightOne", kBlack4To7, "0000011110000000",
     "011"
     "011"
     "1"},
    {"VerticalLeftTwo", kBlack4To7, "0011111100000000",
     "000010"
     "1"
     "1"},
    {"VerticalRightThree", kBlack4To7, "0000000111100000",
     "0000011"
     "0000011"
     "1"},
    {"VerticalLeftThree", kBlack4To7, "0111100000000000",
     "0000010"
     "0000010"
     "1"},
    {"Pass", kBlack4To7, std::string(16, '0'),
     "0001"
     "1"},
    {"Identical", kBlack4To7, kBlack4To7,
     "1"
     "1"
     "1"},
    {"BlackAtPixelZero", std::string(16, '0'), "1100000000000000",
     "001"
     "00110101"
     "11"
     "1"},
    // Coding row ends white while the reference still has black far left: horizontal with runs to the end.
    {"HorizontalToRowEnd", "0000000011111111", std::string(16, '0'),
     "001"
     "101010"
     "0000110111"},
};
INSTANTIATE_TEST_SUITE_P(Rows, CcittTwoDimensionalTest, testing::ValuesIn(kTwoDimensionalCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(CcittTest, Group3LaterRowsAreTwoDimensionalWithTagZero) {
    CcittState state;
    TMemoryStream out;
    const std::string bits = Encode(EncodeG3Row, {std::string(16, '0'), kBlack4To7}, state, out);
    EXPECT_EQ(bits, kEol + "1" + "101010" + kEol + "0" +
                        "001"
                        "1011"
                        "011"
                        "1");
}

TEST(CcittTest, RowsContinueInTheCarriedByte) {
    // Four all-white G4 rows cost one bit each and share one byte.
    CcittState state;
    TMemoryStream out;
    const std::string w(8, '0');
    EXPECT_EQ(Encode(EncodeG4Row, {w, w, w, w}, state, out), "1111");
    EXPECT_EQ(out.Size(), 0);
    EXPECT_EQ(state.CarriedByte, 0xF0);
}

TEST(CcittTest, ShortWriteSetsAborting) {
    CcittState state;
    TShortStream out(1);
    bool aborting = false;
    const Bytes row = Row(std::string(3000, '1'));
    EncodeG3Row(row.data(), 3000, out, aborting, state);
    EXPECT_TRUE(aborting);
    EXPECT_EQ(out.Size(), 1);
    EXPECT_TRUE(state.HasReference); // the call still completed
}

TEST(CcittTest, DenseRowsStayWithinTheRowBound) {
    // Alternating pixels against an inverted reference, and short black and white runs that never
    // line up with the row above: the most code bits per pixel.
    std::mt19937 rng(3);
    for (const int width : {1, 2, 7, 9, 63, 1729, 2481}) {
        std::string alternate, inverted, shortRuns;
        for (int x = 0; x < width; ++x) {
            alternate += (x % 2) ? '1' : '0';
            inverted += (x % 2) ? '0' : '1';
        }
        while (int(shortRuns.size()) < width)
            shortRuns += std::string(1 + rng() % 3, shortRuns.size() % 2 ? '0' : '1');
        shortRuns.resize(std::size_t(width));
        for (const EncodeRow encode : {EncodeG3Row, EncodeG4Row}) {
            CcittState state;
            TMemoryStream out;
            bool aborting = false;
            for (const std::string& r :
                 {alternate, inverted, shortRuns, alternate, std::string(width, '1')}) {
                const Bytes row = Row(r);
                const std::int64_t before = out.Size();
                encode(row.data(), width, out, aborting, state);
                EXPECT_LE(std::size_t(out.Size() - before), CcittRowByteBound(width)) << width;
            }
            const std::int64_t before = out.Size();
            encode(nullptr, 0, out, aborting, state);
            EXPECT_LE(std::size_t(out.Size() - before), CcittRowByteBound(0));
        }
    }
}
} // namespace
