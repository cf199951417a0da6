#include "pdf/PdfEncoders.h"

#include "platform/Stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

// ---- run length

std::size_t EncodeRunLength(const std::uint8_t* input, std::size_t count, std::uint8_t* output) {
    std::size_t out = 0;
    std::size_t i = 0;
    while (i < count) {
        std::size_t k = i + 1;
        while (k < count && input[k] == input[i] && k - i < 128) ++k;
        const std::size_t run = k - i;
        if (run >= 2) {
            output[out++] = static_cast<std::uint8_t>(257 - run);
            output[out++] = input[i];
            i = k;
            continue;
        }
        // A literal stops before a pair of equal bytes but takes the pair's first byte along.
        k = i + 1;
        while (k < count && input[k] != input[k - 1] && k - i < 128) ++k;
        const std::size_t m = k - i;
        output[out++] = static_cast<std::uint8_t>(m - 1);
        std::memcpy(output + out, input + i, m);
        out += m;
        i = k;
    }
    output[out++] = 128;
    return out;
}

std::size_t CcittRowByteBound(int width) {
    return 2 * static_cast<std::size_t>(std::max(width, 0)) + 16;
}

void SwapRedBlue(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, pixels += 3) std::swap(pixels[0], pixels[2]);
}

// ---- CCITT (ITU-T T.4 code tables)

namespace {
struct TFaxCode {
    std::uint16_t Bits;
    std::uint8_t Length;
};

constexpr TFaxCode C(std::string_view bits) {
    std::uint16_t v = 0;
    for (const char c : bits) v = static_cast<std::uint16_t>(v * 2 + (c == '1' ? 1 : 0));
    return {v, static_cast<std::uint8_t>(bits.size())};
}

constexpr TFaxCode kWhiteTerminating[64] = {
    C("00110101"), C("000111"),   C("0111"),     C("1000"),     C("1011"),     C("1100"),     C("1110"),
    C("1111"),     C("10011"),    C("10100"),    C("00111"),    C("01000"),    C("001000"),   C("000011"),
    C("110100"),   C("110101"),   C("101010"),   C("101011"),   C("0100111"),  C("0001100"),  C("0001000"),
    C("0010111"),  C("0000011"),  C("0000100"),  C("0101000"),  C("0101011"),  C("0010011"),  C("0100100"),
    C("0011000"),  C("00000010"), C("00000011"), C("00011010"), C("00011011"), C("00010010"), C("00010011"),
    C("00010100"), C("00010101"), C("00010110"), C("00010111"), C("00101000"), C("00101001"), C("00101010"),
    C("00101011"), C("00101100"), C("00101101"), C("00000100"), C("00000101"), C("00001010"), C("00001011"),
    C("01010010"), C("01010011"), C("01010100"), C("01010101"), C("00100100"), C("00100101"), C("01011000"),
    C("01011001"), C("01011010"), C("01011011"), C("01001010"), C("01001011"), C("00110010"), C("00110011"),
    C("00110100"),
};

constexpr TFaxCode kBlackTerminating[64] = {
    C("0000110111"),   C("010"),          C("11"),           C("10"),           C("011"),
    C("0011"),         C("0010"),         C("00011"),        C("000101"),       C("000100"),
    C("0000100"),      C("0000101"),      C("0000111"),      C("00000100"),     C("00000111"),
    C("000011000"),    C("0000010111"),   C("0000011000"),   C("0000001000"),   C("00001100111"),
    C("00001101000"),  C("00001101100"),  C("00000110111"),  C("00000101000"),  C("00000010111"),
    C("00000011000"),  C("000011001010"), C("000011001011"), C("000011001100"), C("000011001101"),
    C("000001101000"), C("000001101001"), C("000001101010"), C("000001101011"), C("000011010010"),
    C("000011010011"), C("000011010100"), C("000011010101"), C("000011010110"), C("000011010111"),
    C("000001101100"), C("000001101101"), C("000011011010"), C("000011011011"), C("000001010100"),
    C("000001010101"), C("000001010110"), C("000001010111"), C("000001100100"), C("000001100101"),
    C("000001010010"), C("000001010011"), C("000000100100"), C("000000110111"), C("000000111000"),
    C("000000100111"), C("000000101000"), C("000001011000"), C("000001011001"), C("000000101011"),
    C("000000101100"), C("000001011010"), C("000001100110"), C("000001100111"),
};

// Make-up codes for 64, 128, ... 1728 (index n / 64 - 1).
constexpr TFaxCode kWhiteMakeUp[27] = {
    C("11011"),     C("10010"),     C("010111"),    C("0110111"),   C("00110110"),  C("00110111"),
    C("01100100"),  C("01100101"),  C("01101000"),  C("01100111"),  C("011001100"), C("011001101"),
    C("011010010"), C("011010011"), C("011010100"), C("011010101"), C("011010110"), C("011010111"),
    C("011011000"), C("011011001"), C("011011010"), C("011011011"), C("010011000"), C("010011001"),
    C("010011010"), C("011000"),    C("010011011"),
};

constexpr TFaxCode kBlackMakeUp[27] = {
    C("0000001111"),    C("000011001000"),  C("000011001001"),  C("000001011011"),  C("000000110011"),
    C("000000110100"),  C("000000110101"),  C("0000001101100"), C("0000001101101"), C("0000001001010"),
    C("0000001001011"), C("0000001001100"), C("0000001001101"), C("0000001110010"), C("0000001110011"),
    C("0000001110100"), C("0000001110101"), C("0000001110110"), C("0000001110111"), C("0000001010010"),
    C("0000001010011"), C("0000001010100"), C("0000001010101"), C("0000001011010"), C("0000001011011"),
    C("0000001100100"), C("0000001100101"),
};

// Extended make-up codes for 1792, 1856, ... 2560, the same for both colours (index n / 64 - 28).
constexpr TFaxCode kExtendedMakeUp[13] = {
    C("00000001000"),  C("00000001100"),  C("00000001101"),  C("000000010010"), C("000000010011"),
    C("000000010100"), C("000000010101"), C("000000010110"), C("000000010111"), C("000000011100"),
    C("000000011101"), C("000000011110"), C("000000011111"),
};

constexpr TFaxCode kEol = C("000000000001");
constexpr TFaxCode kPass = C("0001");
constexpr TFaxCode kHorizontal = C("001");
// Vertical modes by a1 - b1 + 3: VL3, VL2, VL1, V0, VR1, VR2, VR3.
constexpr TFaxCode kVertical[7] = {C("0000010"), C("000010"), C("010"),    C("1"),
                                   C("011"),     C("000011"), C("0000011")};

// Collects one call's bits, most significant first, starting with the bits carried from the last call.
class TFaxBits {
public:
    TFaxBits(CcittState& state, int width) : State(state), Bytes(state.Scratch) {
        Bytes.clear();
        Bytes.reserve(CcittRowByteBound(width));
        if (state.CarriedBits > 0) Put(state.CarriedByte >> (8 - state.CarriedBits), state.CarriedBits);
        state.CarriedBits = 0;
        state.CarriedByte = 0;
    }

    void Put(unsigned bits, int length) {
        Acc = (Acc << length) | (bits & ((1u << length) - 1));
        AccBits += length;
        while (AccBits >= 8) {
            AccBits -= 8;
            Bytes.push_back(static_cast<std::uint8_t>(Acc >> AccBits));
        }
    }
    void Put(TFaxCode code) { Put(code.Bits, code.Length); }
    void PadToByte() {
        if (AccBits > 0) Put(0, 8 - AccBits);
    }

    // Runs of 64 or more take make-up codes first (2560 at a time beyond 2560).
    void PutRun(int n, int colour) {
        while (n >= 64) {
            const int m = n <= 2560 ? (n / 64) * 64 : 2560;
            if (m <= 1728)
                Put((colour ? kBlackMakeUp : kWhiteMakeUp)[m / 64 - 1]);
            else
                Put(kExtendedMakeUp[m / 64 - 28]);
            n -= m;
        }
        Put((colour ? kBlackTerminating : kWhiteTerminating)[n]);
    }

    // The partial byte goes into the state; the whole bytes into the stream in one write.
    void Flush(TStream& output, bool& aborting) {
        if (AccBits > 0) {
            State.CarriedBits = AccBits;
            State.CarriedByte = static_cast<std::uint8_t>(Acc << (8 - AccBits));
        }
        const auto n = static_cast<std::int64_t>(Bytes.size());
        if (n > 0 && output.Write(Bytes.data(), n) != n) aborting = true;
        Bytes.clear();
    }

private:
    CcittState& State;
    std::vector<std::uint8_t>& Bytes;
    std::uint64_t Acc = 0;
    int AccBits = 0;
};

// Pixel colours: a 1 bit is black (1), a 0 bit white (0).
inline int Pixel(const std::uint8_t* row, int x) {
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

// The first position at or after start (below width) whose colour is colour; width when none.
// Scans eight bytes at a time: a page row is mostly long runs. Bits past width in the last byte
// are padding, so a hit there counts as none.
int FindColour(const std::uint8_t* row, int start, int width, int colour) {
    if (start >= width) return width;
    const std::size_t x = static_cast<std::size_t>(std::max(start, 0));
    const std::size_t end = (static_cast<std::size_t>(width) + 7) / 8;
    const unsigned flip = colour ? 0x00u : 0xFFu; // the wanted colour becomes 1 bits
    const auto hit = [width](std::size_t position) {
        return static_cast<int>(std::min<std::size_t>(position, static_cast<std::size_t>(width)));
    };
    std::size_t byte = x / 8;
    const unsigned first = (row[byte] ^ flip) & (0xFFu >> (x % 8));
    if (first) return hit(byte * 8 + static_cast<std::size_t>(__builtin_clz(first) - 24));
    const std::uint64_t flip64 = colour ? 0 : ~std::uint64_t{0};
    for (++byte; byte + 8 <= end; byte += 8) {
        std::uint64_t word;
        std::memcpy(&word, row + byte, 8);
        if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
        word ^= flip64; // the leftmost pixel is now the top bit
        if (word) return hit(byte * 8 + static_cast<std::size_t>(__builtin_clzll(word)));
    }
    for (; byte < end; ++byte) {
        const unsigned v = (row[byte] ^ flip) & 0xFFu;
        if (v) return hit(byte * 8 + static_cast<std::size_t>(__builtin_clz(v) - 24));
    }
    return width;
}

// Modified Huffman: white and black runs alternate, starting with white (of length 0 when the row
// starts black).
void CodeOneDimensional(TFaxBits& bits, const std::uint8_t* row, int width) {
    int x = 0;
    int colour = 0;
    while (x < width) {
        const int end = FindColour(row, x, width, 1 - colour);
        bits.PutRun(end - x, colour);
        x = end;
        colour = 1 - colour;
    }
}

// The positions where a row changes colour (its first change is to black), then width twice: the
// two-dimensional coder walks these instead of the pixels. A change is a bit that differs from the
// one before it, so 64 pixels at a time are compared with themselves shifted by one.
void FindChanges(const std::uint8_t* row, int width, std::vector<int>& changes) {
    changes.clear();
    const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
    std::uint64_t previous = 0; // the pixel before the word; the row starts after a white one
    for (std::size_t byte = 0; byte < bytes; byte += 8) {
        std::uint64_t word = 0; // leftmost pixel in the top bit
        if (byte + 8 <= bytes) {
            std::memcpy(&word, row + byte, 8);
            if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
        } else {
            for (std::size_t i = 0; byte + i < bytes; ++i)
                word |= std::uint64_t{row[byte + i]} << (56 - 8 * i);
        }
        std::uint64_t differs = word ^ ((word >> 1) | (previous << 63));
        previous = word & 1;
        while (differs) {
            const int bit = __builtin_clzll(differs);
            const std::size_t x = byte * 8 + static_cast<std::size_t>(bit);
            if (x >= static_cast<std::size_t>(width)) break; // padding bits are no pixels
            changes.push_back(static_cast<int>(x));
            differs &= ~(std::uint64_t{1} << (63 - bit));
        }
    }
    changes.push_back(width);
    changes.push_back(width);
}

// FindColour over a change list: the first position at or after s whose colour is colour. Every
// query starts at or after a0, and from is the first change at or after a0, so the walk is short.
int FindColourFrom(const std::vector<int>& changes, std::size_t from, int s, int width, int colour) {
    if (s >= width) return width;
    std::size_t k = from;
    while (changes[k] <= s) ++k;
    const int colourAtS = static_cast<int>(k % 2); // k changes at or before s
    return colourAtS == colour ? s : changes[k];
}

// Modified READ against the reference row; both rows are width pixels long.
void CodeTwoDimensional(TFaxBits& bits, const std::uint8_t* row, const std::uint8_t* ref, int width,
                        CcittState& state) {
    std::vector<int>& cur = state.RowChanges;
    std::vector<int>& above = state.ReferenceChanges;
    FindChanges(row, width, cur);
    FindChanges(ref, width, above);
    std::size_t curFrom = 0, aboveFrom = 0; // first changes at or after a0
    const auto find = [&](bool inRow, int s, int colour) {
        return inRow ? FindColourFrom(cur, curFrom, s, width, colour)
                     : FindColourFrom(above, aboveFrom, s, width, colour);
    };
    int a0 = 0; // the imaginary white element before the row until the first mode
    int a1 = find(true, 0, 1);
    int b1 = find(false, 0, 1);
    for (;;) {
        const int b1Colour = b1 < width ? Pixel(ref, b1) : 0;
        const int b2 = find(false, b1 + 1, 1 - b1Colour);
        if (b2 < a1) {
            bits.Put(kPass);
            a0 = b2;
        } else if (b1 - a1 >= -3 && b1 - a1 <= 3) {
            bits.Put(kVertical[a1 - b1 + 3]);
            a0 = a1;
        } else {
            const int a1Colour = a1 < width ? Pixel(row, a1) : 0;
            const int a2 = find(true, a1 + 1, 1 - a1Colour);
            bits.Put(kHorizontal);
            const bool whiteFirst = (a0 == 0 && a1 == 0) || Pixel(row, a0) == 0;
            bits.PutRun(a1 - a0, whiteFirst ? 0 : 1);
            bits.PutRun(a2 - a1, whiteFirst ? 1 : 0);
            a0 = a2;
        }
        if (a0 >= width) break;
        while (cur[curFrom] < a0) ++curFrom;
        while (above[aboveFrom] < a0) ++aboveFrom;
        const int colour = Pixel(row, a0);
        a1 = find(true, a0 + 1, 1 - colour);
        b1 = find(false, find(false, a0, colour), 1 - colour);
    }
}

std::size_t ReferenceBytes(int width) {
    return ((static_cast<std::size_t>(width) + 31) / 32) * 4;
}

// Makes the reference row width pixels long; a new (or resized) one is all white.
void PrepareReference(CcittState& state, int width) {
    if (!state.HasReference || state.ReferenceRow.size() != ReferenceBytes(width)) {
        state.ReferenceRow.assign(ReferenceBytes(width), 0);
        state.HasReference = true;
    }
}

void KeepAsReference(CcittState& state, const std::uint8_t* row, int width) {
    PrepareReference(state, width);
    const std::size_t n = (static_cast<std::size_t>(width) + 7) / 8;
    if (n > 0) std::memcpy(state.ReferenceRow.data(), row, n);
}

void DropReference(CcittState& state) {
    state.ReferenceRow.clear();
    state.ReferenceRow.shrink_to_fit();
    state.HasReference = false;
}
} // namespace

void EncodeG4Row(const std::uint8_t* row, int width, TStream& output, bool& aborting, CcittState& state) {
    width = std::max(width, 0);
    TFaxBits bits(state, row ? width : 0);
    if (row) {
        PrepareReference(state, width);
        CodeTwoDimensional(bits, row, state.ReferenceRow.data(), width, state);
        KeepAsReference(state, row, width);
    } else {
        bits.Put(kEol); // end of facsimile block: two EOLs
        bits.Put(kEol);
        bits.PadToByte();
        DropReference(state);
    }
    bits.Flush(output, aborting);
}

void EncodeG3Row(const std::uint8_t* row, int width, TStream& output, bool& aborting, CcittState& state) {
    width = std::max(width, 0);
    TFaxBits bits(state, row ? width : 0);
    if (row) {
        bits.Put(kEol);
        if (!state.HasReference) {
            bits.Put(1, 1);
            CodeOneDimensional(bits, row, width);
        } else {
            bits.Put(0, 1);
            PrepareReference(state, width);
            CodeTwoDimensional(bits, row, state.ReferenceRow.data(), width, state);
        }
        KeepAsReference(state, row, width);
    } else {
        // The reader stops after Rows rows, so the final EOL's partial byte is never written.
        bits.Put(kEol);
        DropReference(state);
    }
    bits.Flush(output, aborting);
}
