// The fax decoder on hand-written code sequences. Whole pages against libtiff's encoder are in
// TiffReaderTest (tiffcp -c g3, g3:2d, g4).
#include "codecs/tiff/CcittDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tiff::TCcittDecoder;
using tiff::TCcittMode;

// Packs a string of '0' and '1' (other characters ignored) most significant bit first.
std::vector<std::uint8_t> Bits(const std::string& s) {
    std::vector<std::uint8_t> out;
    int n = 0;
    for (char c : s) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= std::uint8_t(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

// A decoded row as text: '.' white, '#' black.
std::string Row(const std::vector<std::uint8_t>& row, int width) {
    std::string s;
    for (int x = 0; x < width; ++x) s += (row[std::size_t(x / 8)] >> (7 - x % 8)) & 1 ? '.' : '#';
    return s;
}

std::vector<std::string> Decode(const std::string& code, int width, int rows, TCcittMode mode) {
    const std::vector<std::uint8_t> data = Bits(code);
    TCcittDecoder decoder(data.data(), data.size(), width, mode);
    std::vector<std::string> out;
    std::vector<std::uint8_t> row(std::size_t((width + 7) / 8));
    for (int r = 0; r < rows; ++r) {
        decoder.DecodeRow(row.data());
        out.push_back(Row(row, width));
    }
    return out;
}

struct TCcittCase {
    const char* Name;
    TCcittMode Mode;
    int Width;
    const char* Code;
    std::vector<std::string> Rows;
};

// Codes used below: white 3 = 1000, white 2 = 0111, white 4 = 1011, white 5 = 1100, white 0 = 00110101,
// black 2 = 11, black 3 = 10, black 1 = 010, black 0 = 0000110111, EOL = 000000000001.
// Modes: V0 1, VR1 011, VL1 010, H 001, P 0001, uncompressed entry 0000001111.
const TCcittCase kCases[] = {
    {"OneDimensionalRuns", TCcittMode::Group3OneD, 8, "1000 11 1000", {"...##..."}},
    // Runs are clipped at the row's end.
    {"RunPastRowEndIsClipped", TCcittMode::Group3OneD, 4, "1000 10", {"...#"}},
    // EOL codes before a row are skipped, also with extra fill zeros before them.
    {"EolAndFillBeforeRow", TCcittMode::Group3OneD, 8, "0000 000000000001 1000 11 1000", {"...##..."}},
    // An EOL in mid-row ends the row and opens the next; the rest of the cut row stays white, whichever
    // colour came next.
    {"EolInMidRowAfterWhite",
     TCcittMode::Group3OneD,
     8,
     "1000 000000000001 0111 010 1100",
     {"........", "..#....."}},
    {"EolInMidRowAfterBlack",
     TCcittMode::Group3OneD,
     8,
     "1000 11 000000000001 0111 010 1100",
     {"...##...", "..#....."}},
    // EOL after each row instead of before it, with fill bits ending each EOL on a byte, then RTC: no
    // row is lost or added, and rows past RTC are missing.
    {"EolAfterRowsWithFillAndRtc",
     TCcittMode::Group3OneD,
     8,
     "1000 11 1000 0000 000000000001   1011 11 0111 0000 000000000001"
     "  0111 010 1100 0000 000000000001   000000000001 000000000001 000000000001 000000000001"
     " 000000000001",
     {"...##...", "....##..", "..#.....", "........"}},
    // Zero-length runs closing a full row before its EOL belong to no row: white 0, and white 0 with
    // black 0, after rows that end white and black.
    {"ZeroRunsBeforeEolBelongToNoRow",
     TCcittMode::Group3OneD,
     8,
     "0111 010 1100 00110101 000000000001   0111 010 1100 00110101 0000110111 000000000001"
     "  1000 0011   00110101 000000000001   1011 11 0111",
     {"..#.....", "..#.....", "...#####", "....##.."}},
    // The same codes without a following EOL start the next row.
    {"ZeroRunsWithoutEolStartTheNextRow",
     TCcittMode::Group3OneD,
     8,
     "0111 010 1100   00110101 11 1100 000000000001",
     {"..#.....", "##......"}},
    // In two-dimensional rows the rest of a row an EOL cuts stays white too.
    {"TwoDimensionalEolInMidRow",
     TCcittMode::Group3TwoD,
     8,
     "000000000001 1 1000 11 1000   000000000001 0 1   000000000001 1 1011 11 0111",
     {"...##...", "........", "....##.."}},
    // Modified Huffman rows start at byte boundaries: the 4 bits after row 1's codes are padding.
    {"ModifiedHuffmanRowsAreByteAligned",
     TCcittMode::ModifiedHuffman,
     8,
     "1000 11 1000 000000 1011 11 0111",
     {"...##...", "....##.."}},
    // Two-dimensional: H(white 3, black 2), V0 against an all-white row finishes the row; row 2 repeats it
    // with V0 V0 V0, row 3 starts its black run one later (VR1), row 4 one earlier again (VL1).
    {"VerticalModes",
     TCcittMode::Group4,
     8,
     "001 1000 11 1   1 1 1   011 1 1   010 1 1",
     {"...##...", "...##...", "....#...", "...##..."}},
    // Pass mode: b2 of the reference row becomes a0 without a change of colour.
    {"PassMode", TCcittMode::Group4, 8, "001 0111 11 1   0001 001 0111 010 1", {"..##....", "......#."}},
    // A G3 two-dimensional row whose EOL carries tag bit 1 is coded in one dimension.
    {"TagBitOneMeansOneDimensional",
     TCcittMode::Group3TwoD,
     8,
     "000000000001 1 1000 11 1000   000000000001 0 1 1 1   000000000001 1 1011 11 0111",
     {"...##...", "...##...", "....##.."}},
    // Uncompressed mode: "1" is one black pixel, "01" a white and a black, "0000001" + colour bit ends it.
    {"UncompressedMode", TCcittMode::Group4, 8, "0000001111 1 01 01 0000001 0 1", {"#.#.#..."}},
    // Zero-length runs count as changing elements of the reference row (as run-list decoders keep them):
    // row 1 starts with H(0, 0), so row 2's pass mode passes nothing and its H starts at 0.
    {"ZeroLengthRunsInReference",
     TCcittMode::Group4,
     16,
     "001 00110101 0000110111  001 1100 10 1   0001 001 0111 11 1 1 1",
     {".....###........", "..##.###........"}},
};

void PrintTo(const TCcittCase& c, std::ostream* os) {
    *os << c.Name;
}

class CcittCaseTest : public testing::TestWithParam<TCcittCase> {};

TEST_P(CcittCaseTest, DecodesRows) {
    const TCcittCase& c = GetParam();
    EXPECT_EQ(Decode(c.Code, c.Width, int(c.Rows.size()), c.Mode), c.Rows);
}

INSTANTIATE_TEST_SUITE_P(Codes, CcittCaseTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TCcittCase>& i) {
                             return std::string(i.param.Name);
                         });

TEST(CcittDecoderTest, RowsPastTheDataAreWhiteAndReportedMissing) {
    const std::vector<std::uint8_t> data = Bits("001 1000 11 1");
    TCcittDecoder decoder(data.data(), data.size(), 8, TCcittMode::Group4);
    std::vector<std::uint8_t> row(1);
    EXPECT_TRUE(decoder.DecodeRow(row.data()));
    EXPECT_EQ(Row(row, 8), "...##...");
    // The remaining bits of the last byte are zeros: no code, consumed as fill.
    EXPECT_FALSE(decoder.DecodeRow(row.data()));
    EXPECT_EQ(Row(row, 8), "........");
}

TEST(CcittDecoderTest, GarbageEndsWithoutHanging) {
    // All zeros and all ones: no valid row, but every call returns.
    for (std::uint8_t fill : {std::uint8_t(0x00), std::uint8_t(0xFF), std::uint8_t(0x0F)}) {
        const std::vector<std::uint8_t> data(4096, fill);
        for (TCcittMode mode : {TCcittMode::ModifiedHuffman, TCcittMode::Group3OneD, TCcittMode::Group3TwoD,
                                TCcittMode::Group4}) {
            TCcittDecoder decoder(data.data(), data.size(), 1728, mode);
            std::vector<std::uint8_t> row(216);
            for (int r = 0; r < 2000; ++r) decoder.DecodeRow(row.data());
        }
    }
}

} // namespace
