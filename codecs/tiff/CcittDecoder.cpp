#include "codecs/tiff/CcittDecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

namespace tiff {

namespace {

// Code values besides run lengths.
constexpr int kNoValue = -100;
constexpr int kInvalid = -1;   // no code matches
constexpr int kExtension = -2; // entry into uncompressed mode

// Two-dimensional mode codes.
enum TModeValue { mPass = 1000, mHorizontal, mV0, mVR1, mVR2, mVR3, mVL1, mVL2, mVL3, mExtension };

struct TCode {
    std::string_view Bits;
    int Value;
};

// ITU-T T.4 tables 1 to 3.
constexpr TCode kWhiteCodes[] = {
    {"00110101", 0},     {"000111", 1},       {"0111", 2},         {"1000", 3},         {"1011", 4},
    {"1100", 5},         {"1110", 6},         {"1111", 7},         {"10011", 8},        {"10100", 9},
    {"00111", 10},       {"01000", 11},       {"001000", 12},      {"000011", 13},      {"110100", 14},
    {"110101", 15},      {"101010", 16},      {"101011", 17},      {"0100111", 18},     {"0001100", 19},
    {"0001000", 20},     {"0010111", 21},     {"0000011", 22},     {"0000100", 23},     {"0101000", 24},
    {"0101011", 25},     {"0010011", 26},     {"0100100", 27},     {"0011000", 28},     {"00000010", 29},
    {"00000011", 30},    {"00011010", 31},    {"00011011", 32},    {"00010010", 33},    {"00010011", 34},
    {"00010100", 35},    {"00010101", 36},    {"00010110", 37},    {"00010111", 38},    {"00101000", 39},
    {"00101001", 40},    {"00101010", 41},    {"00101011", 42},    {"00101100", 43},    {"00101101", 44},
    {"00000100", 45},    {"00000101", 46},    {"00001010", 47},    {"00001011", 48},    {"01010010", 49},
    {"01010011", 50},    {"01010100", 51},    {"01010101", 52},    {"00100100", 53},    {"00100101", 54},
    {"01011000", 55},    {"01011001", 56},    {"01011010", 57},    {"01011011", 58},    {"01001010", 59},
    {"01001011", 60},    {"00110010", 61},    {"00110011", 62},    {"00110100", 63},    {"11011", 64},
    {"10010", 128},      {"010111", 192},     {"0110111", 256},    {"00110110", 320},   {"00110111", 384},
    {"01100100", 448},   {"01100101", 512},   {"01101000", 576},   {"01100111", 640},   {"011001100", 704},
    {"011001101", 768},  {"011010010", 832},  {"011010011", 896},  {"011010100", 960},  {"011010101", 1024},
    {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216}, {"011011001", 1280}, {"011011010", 1344},
    {"011011011", 1408}, {"010011000", 1472}, {"010011001", 1536}, {"010011010", 1600}, {"011000", 1664},
    {"010011011", 1728},
};

constexpr TCode kBlackCodes[] = {
    {"0000110111", 0},
    {"010", 1},
    {"11", 2},
    {"10", 3},
    {"011", 4},
    {"0011", 5},
    {"0010", 6},
    {"00011", 7},
    {"000101", 8},
    {"000100", 9},
    {"0000100", 10},
    {"0000101", 11},
    {"0000111", 12},
    {"00000100", 13},
    {"00000111", 14},
    {"000011000", 15},
    {"0000010111", 16},
    {"0000011000", 17},
    {"0000001000", 18},
    {"00001100111", 19},
    {"00001101000", 20},
    {"00001101100", 21},
    {"00000110111", 22},
    {"00000101000", 23},
    {"00000010111", 24},
    {"00000011000", 25},
    {"000011001010", 26},
    {"000011001011", 27},
    {"000011001100", 28},
    {"000011001101", 29},
    {"000001101000", 30},
    {"000001101001", 31},
    {"000001101010", 32},
    {"000001101011", 33},
    {"000011010010", 34},
    {"000011010011", 35},
    {"000011010100", 36},
    {"000011010101", 37},
    {"000011010110", 38},
    {"000011010111", 39},
    {"000001101100", 40},
    {"000001101101", 41},
    {"000011011010", 42},
    {"000011011011", 43},
    {"000001010100", 44},
    {"000001010101", 45},
    {"000001010110", 46},
    {"000001010111", 47},
    {"000001100100", 48},
    {"000001100101", 49},
    {"000001010010", 50},
    {"000001010011", 51},
    {"000000100100", 52},
    {"000000110111", 53},
    {"000000111000", 54},
    {"000000100111", 55},
    {"000000101000", 56},
    {"000001011000", 57},
    {"000001011001", 58},
    {"000000101011", 59},
    {"000000101100", 60},
    {"000001011010", 61},
    {"000001100110", 62},
    {"000001100111", 63},
    {"0000001111", 64},
    {"000011001000", 128},
    {"000011001001", 192},
    {"000001011011", 256},
    {"000000110011", 320},
    {"000000110100", 384},
    {"000000110101", 448},
    {"0000001101100", 512},
    {"0000001101101", 576},
    {"0000001001010", 640},
    {"0000001001011", 704},
    {"0000001001100", 768},
    {"0000001001101", 832},
    {"0000001110010", 896},
    {"0000001110011", 960},
    {"0000001110100", 1024},
    {"0000001110101", 1088},
    {"0000001110110", 1152},
    {"0000001110111", 1216},
    {"0000001010010", 1280},
    {"0000001010011", 1344},
    {"0000001010100", 1408},
    {"0000001010101", 1472},
    {"0000001011010", 1536},
    {"0000001011011", 1600},
    {"0000001100100", 1664},
    {"0000001100101", 1728},
};

// Make-up codes shared by both colours, and the one-dimensional entry into uncompressed mode.
constexpr TCode kCommonCodes[] = {
    {"00000001000", 1792},  {"00000001100", 1856},        {"00000001101", 1920},  {"000000010010", 1984},
    {"000000010011", 2048}, {"000000010100", 2112},       {"000000010101", 2176}, {"000000010110", 2240},
    {"000000010111", 2304}, {"000000011100", 2368},       {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560}, {"000000001111", kExtension},
};

constexpr TCode kModeCodes[] = {
    {"0001", mPass},
    {"001", mHorizontal},
    {"1", mV0},
    {"011", mVR1},
    {"000011", mVR2},
    {"0000011", mVR3},
    {"010", mVL1},
    {"000010", mVL2},
    {"0000010", mVL3},
    {"0000001111", mExtension},
    {"000000001111", mExtension},
};

// A binary decision tree over code bits, built once from the tables.
class TCodeTree {
public:
    TCodeTree(std::initializer_list<std::span<const TCode>> tables) {
        Nodes.push_back({});
        for (std::span<const TCode> table : tables)
            for (const TCode& c : table) Insert(c);
        BuildTable();
    }

    // Value of the code that starts the 14-bit window (its first bit the most significant), and its
    // length; kInvalid when none matches.
    int Match(unsigned window, int& length) const {
        const TEntry e = Table[window & (kWindowSize - 1)];
        if (e.Length == 0) return kInvalid;
        length = e.Length;
        return e.Value;
    }

    static constexpr int kWindowBits = 14; // longer than the longest code
    static constexpr unsigned kWindowSize = 1u << kWindowBits;

private:
    // The tree walked once for every window, so decoding looks codes up instead of walking bits.
    void BuildTable() {
        Table.assign(kWindowSize, TEntry{});
        for (unsigned w = 0; w < kWindowSize; ++w) {
            int node = 0;
            for (int i = 0; i < kWindowBits; ++i) {
                node = Nodes[std::size_t(node)].Child[(w >> (kWindowBits - 1 - i)) & 1];
                if (node <= 0) break;
                if (Nodes[std::size_t(node)].Value != kNoValue) {
                    Table[w] = {std::int16_t(Nodes[std::size_t(node)].Value), std::uint8_t(i + 1)};
                    break;
                }
            }
        }
    }
    struct TEntry {
        std::int16_t Value = 0;
        std::uint8_t Length = 0; // 0: no code
    };
    std::vector<TEntry> Table;

    struct TNode {
        int Child[2] = {0, 0}; // 0: none (the root is never a child)
        int Value = kNoValue;
    };
    void Insert(const TCode& c) {
        int node = 0;
        for (char b : c.Bits) {
            const int bit = b == '1';
            if (Nodes[std::size_t(node)].Child[bit] == 0) {
                Nodes[std::size_t(node)].Child[bit] = int(Nodes.size());
                Nodes.push_back({});
            }
            node = Nodes[std::size_t(node)].Child[bit];
        }
        Nodes[std::size_t(node)].Value = c.Value;
    }
    std::vector<TNode> Nodes;
};

const TCodeTree& WhiteTree() {
    static const TCodeTree tree{kWhiteCodes, kCommonCodes};
    return tree;
}
const TCodeTree& BlackTree() {
    static const TCodeTree tree{kBlackCodes, kCommonCodes};
    return tree;
}
const TCodeTree& ModeTree() {
    static const TCodeTree tree{kModeCodes};
    return tree;
}

constexpr int kMaxRun = 1 << 24; // bounds the sum of make-up codes

} // namespace

// The row being decoded: starts all white; black spans clear bits.
struct TCcittDecoder::TRow {
    std::uint8_t* Bits;
    int Width;
    void Black(int from, int to) {
        from = std::max(from, 0);
        to = std::min(to, Width);
        if (from >= to) return;
        int first = from >> 3, last = (to - 1) >> 3;
        const std::uint8_t headMask = std::uint8_t(0xFF >> (from & 7));
        const std::uint8_t tailMask = std::uint8_t(0xFF << (7 - ((to - 1) & 7)));
        if (first == last) {
            Bits[first] &= std::uint8_t(~(headMask & tailMask));
            return;
        }
        Bits[first] &= std::uint8_t(~headMask);
        if (last > first + 1) std::memset(Bits + first + 1, 0, std::size_t(last - first - 1));
        Bits[last] &= std::uint8_t(~tailMask);
    }
};

TCcittDecoder::TCcittDecoder(const std::uint8_t* data, std::size_t size, int width, TCcittMode mode)
    : Data(data), Bits(size * 8), Width(std::max(width, 0)), Mode(mode) {
    Reference.assign(3, Width);
}

// Up to 25 bits from the position, the first in the most significant place; bits past the data are 0.
int TCcittDecoder::Peek(int bits) const {
    const std::size_t byte = Pos >> 3, size = Bits >> 3;
    std::uint32_t window = 0;
    for (std::size_t i = 0; i < 4; ++i) window = (window << 8) | (byte + i < size ? Data[byte + i] : 0u);
    return int((window << (Pos & 7)) >> (32 - bits));
}

// True when an EOL (eleven or more 0 bits, then a 1) starts here; the position is then moved to its last
// twelve bits. A run of 0 bits that reaches the end of the data is consumed.
bool TCcittDecoder::NextIsEol() {
    if (Peek(11) != 0) return false;
    std::size_t p = Pos + 11;
    while (p < Bits && ((Data[p >> 3] >> (7 - (p & 7))) & 1) == 0) ++p;
    if (p >= Bits) {
        Pos = Bits;
        return false;
    }
    Pos = p - 11;
    return true;
}

int TCcittDecoder::ReadRun(TColour colour) {
    const TCodeTree& tree = colour == White ? WhiteTree() : BlackTree();
    int total = 0;
    bool any = false;
    while (!AtEnd() && !NextIsEol()) {
        int length = 0;
        const int value = tree.Match(unsigned(Peek(TCodeTree::kWindowBits)), length);
        if (value < 0) {
            if (any) return total;
            return value; // kInvalid or kExtension, not consumed
        }
        Skip(length);
        any = true;
        total = std::min(total + value, kMaxRun);
        if (value < 64) return total;
    }
    return total;
}

int TCcittDecoder::DecodeOneD(TRow& row) {
    int a = 0;
    TColour colour = White;
    bool first = true;
    while (a < Width && !AtEnd()) {
        if (NextIsEol()) {
            if (first) {
                Skip(12); // EOL codes before the row's first run
                continue;
            }
            Mended = true;
            return Width; // a row cut short by its EOL: the rest stays white, the EOL opens the next row
        }
        const int run = ReadRun(colour);
        if (run == kInvalid) {
            Mended = BadCodes = true;
            Skip(1);
            continue;
        }
        first = false;
        if (run == kExtension) {
            Skip(12);
            if (!Uncompressed(row, a, colour)) return a;
            continue;
        }
        if (colour == Black) row.Black(a, a + run);
        if (run > Width - a) BadCodes = true; // runs of a row add up to its width, never more
        a = std::min(a + run, Width);
        Current.push_back(a);
        colour = colour == White ? Black : White;
    }
    if (a >= Width && Mode != TCcittMode::ModifiedHuffman) SkipZeroRunsBeforeEol();
    return a;
}

// Some writers close a full row with zero-length runs before its EOL. They belong to no row: read as the
// start of the next one, they would make an extra row and push the page down by one.
void TCcittDecoder::SkipZeroRunsBeforeEol() {
    const std::size_t start = Pos;
    bool skipped = false;
    while (!AtEnd()) {
        if (NextIsEol()) {
            Mended = Mended || skipped;
            return;
        }
        // Either colour's zero run, whatever colour would come next: writers differ, and only codes
        // that an EOL follows are dropped.
        const unsigned window = unsigned(Peek(TCodeTree::kWindowBits));
        int length = 0;
        if (WhiteTree().Match(window, length) != 0 && BlackTree().Match(window, length) != 0) break;
        Skip(length);
        skipped = true;
    }
    if (AtEnd())
        Mended = Mended || skipped;
    else
        Pos = start; // not followed by an EOL: the codes are the next row's
}

int TCcittDecoder::DecodeTwoD(TRow& row) {
    int a0 = -1; // the imaginary white element before the row
    TColour colour = White;
    std::size_t p = 0;
    while (a0 < Width && !AtEnd()) {
        if (NextIsEol()) {
            Mended = true;
            return Width; // as in one dimension: the rest stays white
        }
        while (Reference[p] <= a0) ++p;
        std::size_t i = p;
        if (int(i & 1) != int(colour)) ++i; // even elements turn white to black
        const int b1 = Reference[i], b2 = Reference[i + 1];
        const int start = std::max(a0, 0);
        int length = 0;
        const int mode = ModeTree().Match(unsigned(Peek(TCodeTree::kWindowBits)), length);
        if (mode == kInvalid) {
            Mended = BadCodes = true;
            Skip(1);
            continue;
        }
        Skip(length);
        switch (mode) {
        case mPass:
            if (colour == Black) row.Black(start, b2);
            a0 = b2;
            break;
        case mHorizontal: {
            const TColour other = colour == White ? Black : White;
            const int r1 = ReadRun(colour);
            const int r2 = r1 < 0 ? r1 : ReadRun(other);
            if (r1 < 0 || r2 < 0) {
                Mended = BadCodes = true;
                return Width; // corrupt: the row ends here
            }
            if (r1 > Width - start || r2 > Width - start - r1) BadCodes = true;
            const int a1 = std::min(start + r1, Width);
            const int a2 = std::min(a1 + r2, Width);
            row.Black(colour == Black ? start : a1, colour == Black ? a1 : a2);
            Current.push_back(a1);
            Current.push_back(a2);
            a0 = a2;
            break;
        }
        case mExtension: {
            int a = start;
            if (!Uncompressed(row, a, colour)) return a;
            a0 = a;
            break;
        }
        default: {
            static constexpr int kShift[] = {0, 1, 2, 3, -1, -2, -3};
            const int wanted = b1 + kShift[mode - mV0];
            if (wanted < start || wanted > Width) BadCodes = true; // a change outside the row's remainder
            const int a1 = std::clamp(wanted, start, Width);
            if (colour == Black) row.Black(start, a1);
            Current.push_back(a1);
            a0 = a1;
            colour = colour == White ? Black : White;
            break;
        }
        }
    }
    return std::max(a0, 0);
}

// Uncompressed mode: k 0 bits and a 1 (k = 0 to 4) are k white pixels and one black pixel, five 0 bits and
// a 1 are five white pixels, and k + 6 0 bits and a 1 (k = 0 to 4) are k white pixels followed by the exit,
// whose next bit gives the colour of the next run. False when the data breaks off or is corrupt.
bool TCcittDecoder::Uncompressed(TRow& row, int& a, TColour& colour) {
    UsedUncompressed = true;
    while (!AtEnd()) {
        int zeros = 0;
        while (zeros < 11 && ((Peek(zeros + 1) & 1) == 0)) ++zeros;
        if (zeros == 11) return false; // an EOL or garbage: left for the next row
        Skip(zeros + 1);
        if (zeros <= 4) {
            a = std::min(a + zeros, Width);
            row.Black(a, a + 1);
            a = std::min(a + 1, Width);
        } else if (zeros == 5) {
            a = std::min(a + 5, Width);
        } else {
            a = std::min(a + zeros - 6, Width);
            colour = Peek(1) ? Black : White;
            Skip(1);
            return true;
        }
    }
    return false;
}

void TCcittDecoder::ChangesFromPixels(const std::uint8_t* row) {
    Reference.clear();
    int colour = 1; // 1 white
    const int bytes = (Width + 7) / 8;
    for (int b = 0; b < bytes; ++b) {
        const std::uint8_t v = row[b];
        if (v == (colour ? 0xFF : 0x00) && b * 8 + 8 <= Width) continue;
        for (int bit = 0; bit < 8; ++bit) {
            const int x = b * 8 + bit;
            if (x >= Width) break;
            const int pixel = (v >> (7 - bit)) & 1;
            if (pixel != colour) {
                Reference.push_back(x);
                colour = pixel;
            }
        }
    }
    Reference.insert(Reference.end(), 3, Width);
}

bool TCcittDecoder::DecodeRow(std::uint8_t* out) {
    const std::size_t bytes = std::size_t((Width + 7) / 8);
    std::memset(out, 0xFF, bytes);
    if (Mode == TCcittMode::ModifiedHuffman) Pos = (Pos + 7) & ~std::size_t(7);
    // A run of 0 bits that reaches the end is fill, not a row.
    const bool eol = !AtEnd() && NextIsEol();
    if (AtEnd()) {
        Reference.assign(3, Width);
        return false;
    }
    TRow row{out, Width};
    bool oneD = Mode == TCcittMode::ModifiedHuffman || Mode == TCcittMode::Group3OneD;
    if (!oneD && eol) {
        // An EOL opening a two-dimensional row carries a tag bit: 1 means this row is coded in one dimension.
        Skip(12);
        oneD = Peek(1) == 1;
        Skip(1);
    }
    Current.clear();
    UsedUncompressed = false;
    Mended = BadCodes = false;
    const int reached = oneD ? DecodeOneD(row) : DecodeTwoD(row);
    Cut = reached < Width && AtEnd();
    if (UsedUncompressed) {
        ChangesFromPixels(out);
    } else {
        // The changing elements as the codes gave them, zero-length runs included: some encoders code the
        // next row against those, as decoders that keep run lists see them.
        Reference.swap(Current);
        Reference.insert(Reference.end(), 3, Width);
    }
    return true;
}

} // namespace tiff
