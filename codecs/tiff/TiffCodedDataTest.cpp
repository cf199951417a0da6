// Which TIFF fax pages carry their coded data into a PDF: files coded by libtiff's tiffcp, the joined
// data decoded again and compared with the page, and hand-built directories for the refusals.
#include "codecs/tiff/TiffCodedData.h"

#include "codecs/tiff/CcittDecoder.h"
#include "codecs/tiff/TiffTestHelpers.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
using testsupport::RunCommand;
using testsupport::ShellQuote;
using tifftest::TTiffBuilder;

constexpr int kWidth = 203, kHeight = 70;

// Letter-like strokes; true is black.
bool Ink(int x, int y) {
    const unsigned h = unsigned(x / 9) * 73856093u ^ unsigned(y / 13) * 19349663u;
    return (x % 9 == 2 && (h & 1)) || (y % 13 == 4 && (h & 2)) || ((x + y) % 17 == 0);
}

std::string WritePbm(const testsupport::TempDir& dir) {
    std::string pbm = "P4\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n";
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; x += 8) {
            unsigned char b = 0;
            for (int i = 0; i < 8 && x + i < kWidth; ++i)
                if (Ink(x + i, y)) b = static_cast<unsigned char>(b | (0x80 >> i));
            pbm += char(b);
        }
    const std::string path = dir.File("page.pbm");
    testsupport::WriteFileBytes(path, std::vector<std::uint8_t>(pbm.begin(), pbm.end()));
    return path;
}

tiff::TCcittMode ModeOf(TFaxCoding c) {
    switch (c) {
    case TFaxCoding::Group4:
        return tiff::TCcittMode::Group4;
    case TFaxCoding::Group3OneD:
        return tiff::TCcittMode::Group3OneD;
    case TFaxCoding::Group3TwoD:
        return tiff::TCcittMode::Group3TwoD;
    case TFaxCoding::Huffman:
        break;
    }
    return tiff::TCcittMode::ModifiedHuffman;
}

struct TiffcpCase {
    const char* Name;
    const char* Options; // tiffcp's
    bool Carriable;
    TFaxCoding Coding;
    int Strips;
    bool MinIsWhite = false; // the source's polarity (ImageMagick writes 1-bit TIFF as BlackIsZero)
};
class TiffCodedDataTest : public testing::TestWithParam<TiffcpCase> {};

TEST_P(TiffCodedDataTest, JoinedDataDecodesToThePage) {
    if (!testsupport::ToolAvailable("tiffcp") || !testsupport::ToolAvailable("/usr/bin/convert"))
        GTEST_SKIP() << "tiffcp or ImageMagick missing";
    const TiffcpCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string base = dir.File("base.tif"), out = dir.File("out.tif");
    ASSERT_EQ(RunCommand("/usr/bin/convert " + ShellQuote(WritePbm(dir)) + " -compress None " +
                         (c.MinIsWhite ? "-define quantum:polarity=min-is-white " : "") + ShellQuote(base)),
              0);
    ASSERT_EQ(RunCommand("tiffcp " + std::string(c.Options) + " " + ShellQuote(base) + " " + ShellQuote(out)),
              0);
    TMemoryStream file;
    file.LoadFromFile(out);
    const TTiffCodedFax fax = ProbeTiffFaxData(file, 0);
    ASSERT_EQ(fax.Carriable, c.Carriable) << fax.Refusal;
    if (!c.Carriable) return;
    EXPECT_EQ(fax.Coding, c.Coding);
    EXPECT_EQ(fax.Strips, c.Strips);
    EXPECT_EQ(fax.Width, kWidth);
    EXPECT_EQ(fax.Height, kHeight);
    EXPECT_EQ(fax.BlackIs1, !c.MinIsWhite);
    // One decoder pass over the joined data, as a PDF reader makes it, gives every row of the page:
    // the code's white runs are the file's 0 bits, which BlackIsZero shows black.
    tiff::TCcittDecoder decoder(fax.Data.data(), fax.Data.size(), kWidth, ModeOf(fax.Coding));
    std::vector<std::uint8_t> row((kWidth + 7) / 8);
    for (int y = 0; y < kHeight; ++y) {
        ASSERT_TRUE(decoder.DecodeRow(row.data())) << y;
        for (int x = 0; x < kWidth; ++x)
            ASSERT_EQ((row[std::size_t(x / 8)] >> (7 - x % 8)) & 1, Ink(x, y) == fax.BlackIs1 ? 1 : 0)
                << x << "," << y;
    }
}
const TiffcpCase kTiffcpCases[] = {
    {"Group4OneStrip", "-c g4 -r 1000", true, TFaxCoding::Group4, 1},
    {"Group4LsbFirst", "-c g4 -r 1000 -f lsb2msb", true, TFaxCoding::Group4, 1},
    {"Group4Strips", "-c g4 -r 16", false, TFaxCoding::Group4, 0},
    {"Group3OneDStrips", "-c g3:1d -r 16", true, TFaxCoding::Group3OneD, 5},
    {"Group3TwoDStrips", "-c g3:2d -r 16", true, TFaxCoding::Group3TwoD, 5},
    {"Group3TwoDFillStrips", "-c g3:2d:fill -r 7", true, TFaxCoding::Group3TwoD, 10},
    {"Group3LsbFirstStrips", "-c g3:1d -r 9 -f lsb2msb", true, TFaxCoding::Group3OneD, 8},
    {"Group4WhiteIsZero", "-c g4 -r 1000", true, TFaxCoding::Group4, 1, true},
    {"Group3WhiteIsZero", "-c g3:2d -r 16", true, TFaxCoding::Group3TwoD, 5, true},
    {"Lzw", "-c lzw", false, TFaxCoding::Group4, 0},
};
INSTANTIATE_TEST_SUITE_P(Tiffcp, TiffCodedDataTest, testing::ValuesIn(kTiffcpCases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct BuiltCase {
    const char* Name;
    std::uint32_t Compression, Photometric, Bits, T4;
    std::vector<std::vector<std::uint8_t>> Strips;
    std::uint32_t RowsPerStrip;
    bool Carriable;
    bool BlackIs1;
};
class TiffCodedDataBuiltTest : public testing::TestWithParam<BuiltCase> {};
TEST_P(TiffCodedDataBuiltTest, Directory) {
    const BuiltCase& c = GetParam();
    TTiffBuilder b;
    auto& d = b.AddDirectory();
    TTiffBuilder::Image(d, 16, 4, c.Bits, 1, int(c.Photometric), c.Compression, c.RowsPerStrip, c.Strips);
    if (c.T4) TTiffBuilder::Long(d, 292, c.T4);
    const std::vector<std::uint8_t> bytes = b.Build();
    TReadOnlyMemoryStream file(bytes.data(), std::int64_t(bytes.size()));
    const TTiffCodedFax fax = ProbeTiffFaxData(file, 0);
    EXPECT_EQ(fax.Carriable, c.Carriable) << fax.Refusal;
    if (!c.Carriable) return;
    EXPECT_EQ(fax.BlackIs1, c.BlackIs1);
    std::vector<std::uint8_t> joined;
    for (const auto& s : c.Strips) joined.insert(joined.end(), s.begin(), s.end());
    EXPECT_EQ(fax.Data, joined);
    EXPECT_FALSE(ProbeTiffFaxData(file, 1).Carriable); // no second page
}
// Rows 16 pixels wide: Group 4 all white (V0 against the white row above), modified Huffman all white
// (white 16, byte-aligned), two Group 3 rows each opened by an EOL.
const std::vector<std::uint8_t> kGroup4White = {0xF0};
const std::vector<std::uint8_t> kHuffmanWhite = {0xA8, 0xA8};
const std::vector<std::uint8_t> kEol = {0x00, 0x1A, 0x80, 0x06, 0xA0};
// Group 3 rows a PDF reader would read differently from us: zero-length runs between a full row and its
// EOL (white 0, black 16, white 0), and a row an EOL cuts after four pixels.
const std::vector<std::uint8_t> kZeroRunsBeforeEol = {0x00, 0x13, 0x50, 0x5C, 0xD4, 0x00, 0x6A};
const std::vector<std::uint8_t> kRowCutByEol = {0x00, 0x1B, 0x00, 0x1A, 0x80};
const BuiltCase kBuiltCases[] = {
    {"BlackIsZero", 4, 1, 1, 0, {kGroup4White}, 4, true, true},
    {"WhiteIsZero", 4, 0, 1, 0, {kGroup4White}, 4, true, false},
    {"HuffmanStripsJoin", 2, 0, 1, 0, {kHuffmanWhite, kHuffmanWhite}, 2, true, false},
    {"Group3StripsWithEols", 3, 0, 1, 0, {kEol, kEol}, 2, true, false},
    {"Group3SecondStripWithoutEol", 3, 0, 1, 0, {kEol, {0xFF, 0x00}}, 2, false, false},
    {"Group3TwoDFirstStripWithoutEol", 3, 0, 1, 1, {{0xFF, 0x00}}, 4, false, false},
    {"Group3TwoDStripOpeningTwoD", 3, 0, 1, 1, {{0x00, 0x1A, 0xB0}, {0x00, 0x10, 0x00}}, 2, false, false},
    {"Group3ZeroRunsBeforeEol", 3, 0, 1, 0, {kZeroRunsBeforeEol, kEol}, 2, false, false},
    {"Group3RowCutByEol", 3, 0, 1, 0, {kRowCutByEol, kEol}, 2, false, false},
    {"Group4DataEndsEarly", 4, 0, 1, 0, {{0xC0}}, 4, false, false},
    {"Group4Garbage", 4, 0, 1, 0, {{0x01, 0x02, 0x03}}, 4, false, false},
    {"Palette", 4, 3, 1, 0, {{1}}, 4, false, false},
    {"TwoBits", 4, 0, 2, 0, {{1}}, 4, false, false},
    {"StripMissing", 4, 0, 1, 0, {{1}}, 2, false, false},
    {"EmptyStrip", 4, 0, 1, 0, {{}}, 4, false, false},
};
INSTANTIATE_TEST_SUITE_P(Built, TiffCodedDataBuiltTest, testing::ValuesIn(kBuiltCases),
                         [](const auto& info) { return std::string(info.param.Name); });
} // namespace
