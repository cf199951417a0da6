// The built-in LZW decoder on hand-coded streams: the calling protocol, the early code-width change and
// corrupt codes. Whole images against libtiff's encoder are in TiffReaderTest (tiffcp -c lzw).
#include "codecs/tiff/TiffReader.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Writes codes of a given width, most significant bit first (or least significant first).
class TCodeWriter {
public:
    explicit TCodeWriter(bool lsbFirst = false) : Lsb(lsbFirst) {}
    void Put(unsigned code, int width) {
        for (int i = 0; i < width; ++i) {
            const unsigned bit = Lsb ? (code >> i) & 1 : (code >> (width - 1 - i)) & 1;
            if (Count % 8 == 0) Bytes.push_back(0);
            if (bit) Bytes.back() |= std::uint8_t(Lsb ? 1 << (Count % 8) : 0x80 >> (Count % 8));
            ++Count;
        }
    }
    std::vector<std::uint8_t> Bytes;

private:
    bool Lsb;
    int Count = 0;
};

// Decodes rows of rowLength bytes until the decoder fails or rows are done; releases the state.
std::vector<std::vector<std::uint8_t>> DecodeRows(const std::vector<std::uint8_t>& data, int rowLength,
                                                  int rows, bool* failed = nullptr) {
    std::vector<std::vector<std::uint8_t>> out;
    void* state = nullptr;
    if (failed) *failed = false;
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t* row = TiffLzwDecode(data.data(), std::int64_t(data.size()), rowLength, &state);
        if (!row) {
            if (failed) *failed = true;
            break;
        }
        out.emplace_back(row, row + rowLength);
    }
    EXPECT_EQ(TiffLzwDecode(nullptr, 0, 0, &state), nullptr);
    EXPECT_EQ(state, nullptr);
    return out;
}

TEST(TiffLzwTest, StringsCarryAcrossRows) {
    // "abab" then code 258 ("ab") and 260 ("aba", defined by its own use): abababa + aba.
    TCodeWriter w;
    for (unsigned c : {256u, 'a' + 0u, 'b' + 0u, 258u, 260u, 257u}) w.Put(c, 9);
    const auto rows = DecodeRows(w.Bytes, 3, 3);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(std::string(rows[0].begin(), rows[0].end()), "aba");
    EXPECT_EQ(std::string(rows[1].begin(), rows[1].end()), "bab");
    // The data ends after 7 bytes: the rest of the row is zeros.
    EXPECT_EQ(rows[2], (std::vector<std::uint8_t>{'a', 0, 0}));
}

// After the clear code the table holds 258 entries; each code after the first adds one. Entry 511 is added
// by the 254th code, and from there codes are 10 bits wide (one code before a GIF decoder would switch).
TEST(TiffLzwTest, CodeWidthGrowsAtEntry511) {
    TCodeWriter w;
    w.Put(256, 9);
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 254; ++i) {
        w.Put(unsigned(i % 200), 9);
        expected.push_back(std::uint8_t(i % 200));
    }
    w.Put(77, 10);
    expected.push_back(77);
    w.Put(257, 10);
    const auto rows = DecodeRows(w.Bytes, int(expected.size()), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], expected);
}

TEST(TiffLzwTest, OldBitOrderIsRecognised) {
    // Early writers: codes least significant bit first, width changing at 512 entries.
    TCodeWriter w(true);
    w.Put(256, 9);
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 255; ++i) {
        w.Put(unsigned(i % 200) + 1, 9);
        expected.push_back(std::uint8_t(i % 200 + 1));
    }
    w.Put(99, 10);
    expected.push_back(99);
    w.Put(257, 10);
    const auto rows = DecodeRows(w.Bytes, int(expected.size()), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], expected);
}

TEST(TiffLzwTest, CodeBeyondTheTableFails) {
    TCodeWriter w;
    for (unsigned c : {256u, 'x' + 0u, 'y' + 0u, 'z' + 0u, 300u}) w.Put(c, 9);
    bool failed = false;
    const auto rows = DecodeRows(w.Bytes, 2, 3, &failed);
    EXPECT_TRUE(failed);
    ASSERT_EQ(rows.size(), 1u); // "xy" came out before the bad code
    EXPECT_EQ(rows[0], (std::vector<std::uint8_t>{'x', 'y'}));
}

TEST(TiffLzwTest, FullTableKeepsDecoding) {
    // 4,000 literal codes without a clear code fill the table; later codes still resolve against it.
    TCodeWriter w;
    w.Put(256, 9);
    int width = 9, size = 258;
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 4000; ++i) {
        w.Put(unsigned(i % 251), width);
        expected.push_back(std::uint8_t(i % 251));
        if (i > 0 && size < 4096) ++size;
        if (size == 511) width = 10;
        if (size == 1023) width = 11;
        if (size == 2047) width = 12;
    }
    w.Put(258, 12); // the first pair: 0, 1
    expected.push_back(0);
    expected.push_back(1);
    const auto rows = DecodeRows(w.Bytes, int(expected.size()), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], expected);
}

TEST(TiffLzwTest, EmptyOrTruncatedDataGivesZeroRows) {
    const std::vector<std::uint8_t> one = {0x80};
    const auto rows = DecodeRows(one, 4, 2);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], (std::vector<std::uint8_t>(4, 0)));
}

} // namespace
