// The built-in TIFF LZW decoder. Strings are kept as prefix chains (code of the string without its last
// byte, the last byte, the length), so the table needs no allocation beyond its 4,096 entries.
#include "codecs/tiff/TiffReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kClearCode = 256;
constexpr int kEndCode = 257;
constexpr int kFirstFree = 258;
constexpr int kTableSize = 4096;
constexpr int kMaxString = kTableSize; // no string is longer than the table

struct TLzwEntry {
    std::uint16_t Prefix = 0;
    std::uint16_t Length = 0;
    std::uint8_t Last = 0;
    std::uint8_t First = 0;
};

class TLzwState {
public:
    TLzwState(const std::uint8_t* data, std::int64_t size, int rowLength)
        : Data(data), Size(size), RowLength(rowLength), Out(std::size_t(rowLength) + kMaxString) {
        // Early writers put codes least significant bit first; their data starts with a zero byte
        // followed by one with its lowest bit set (a clear code in that order).
        Compat = size >= 2 && data[0] == 0 && (data[1] & 1) != 0;
        for (int i = 0; i < 256; ++i) Table[i] = {0, 1, std::uint8_t(i), std::uint8_t(i)};
        Reset();
    }

    // The next row, or null once the data has proved corrupt; decoded receives how many of its bytes
    // came from the data.
    std::uint8_t* NextRow(int& decoded);

private:
    void Reset() {
        Free = kFirstFree;
        Width = 9;
    }
    bool ReadCode(int& code);
    void Emit(int code);
    void Add(int prefix, std::uint8_t last);

    const std::uint8_t* Data;
    std::int64_t Size;
    std::int64_t BitPos = 0;
    int RowLength;
    std::vector<std::uint8_t> Out;
    std::size_t Filled = 0; // bytes produced, including those not yet delivered
    bool Delivered = false; // a row has been handed out and must be dropped from Out's front
    int Previous = -1;
    int Free = kFirstFree;
    int Width = 9;
    bool Compat = false;
    bool Ended = false;
    bool Failed = false;
    TLzwEntry Table[kTableSize];
};

bool TLzwState::ReadCode(int& code) {
    if (BitPos + Width > Size * 8) return false;
    int value = 0;
    for (int i = 0; i < Width; ++i, ++BitPos) {
        const std::uint8_t byte = Data[BitPos >> 3];
        const int bit = Compat ? (byte >> (BitPos & 7)) & 1 : (byte >> (7 - (BitPos & 7))) & 1;
        value |= Compat ? bit << i : bit << (Width - 1 - i);
    }
    code = value;
    return true;
}

void TLzwState::Emit(int code) {
    const int length = Table[code].Length;
    std::uint8_t* end = Out.data() + Filled + length;
    for (int c = code; end > Out.data() + Filled; c = Table[c].Prefix) *--end = Table[c].Last;
    Filled += std::size_t(length);
}

void TLzwState::Add(int prefix, std::uint8_t last) {
    // A full table takes no more entries; the codes that follow still decode against it.
    if (Free >= kTableSize) return;
    Table[Free] = {std::uint16_t(prefix), std::uint16_t(Table[prefix].Length + 1), last, Table[prefix].First};
    ++Free;
    // The width grows one code before the table needs it (the TIFF variant); the old bit order grows
    // when the table does.
    const int growAt = Compat ? 0 : 1;
    if (Free == 512 - growAt && Width < 10)
        Width = 10;
    else if (Free == 1024 - growAt && Width < 11)
        Width = 11;
    else if (Free == 2048 - growAt && Width < 12)
        Width = 12;
}

std::uint8_t* TLzwState::NextRow(int& decoded) {
    if (Failed) return nullptr;
    if (Delivered) {
        const std::size_t rest = Filled - std::size_t(RowLength);
        std::memmove(Out.data(), Out.data() + RowLength, rest);
        Filled = rest;
    }
    Delivered = true;
    while (Filled < std::size_t(RowLength) && !Ended) {
        int code;
        if (!ReadCode(code)) {
            Ended = true;
            break;
        }
        if (code == kClearCode) {
            Reset();
            if (!ReadCode(code) || code == kEndCode) {
                Ended = true;
                break;
            }
            if (code >= 256) {
                Failed = true;
                return nullptr;
            }
            Emit(code);
            Previous = code;
            continue;
        }
        if (code == kEndCode) {
            Ended = true;
            break;
        }
        if (Previous < 0) {
            // Data that starts without a clear code: its first code must be a literal.
            if (code >= 256) {
                Failed = true;
                return nullptr;
            }
            Emit(code);
            Previous = code;
            continue;
        }
        if (code < Free) {
            Emit(code);
            Add(Previous, Table[code].First);
        } else if (code == Free && Free < kTableSize) {
            Add(Previous, Table[Previous].First);
            Emit(code);
        } else {
            Failed = true;
            return nullptr;
        }
        Previous = code;
    }
    decoded = int(std::min(Filled, std::size_t(RowLength)));
    if (Filled < std::size_t(RowLength)) {
        std::memset(Out.data() + Filled, 0, std::size_t(RowLength) - Filled);
        Filled = std::size_t(RowLength);
    }
    return Out.data();
}

} // namespace

std::uint8_t* TiffLzwDecode(const std::uint8_t* data, std::int64_t dataSize, int rowLength, void** state,
                            int* decoded) {
    if (!state) return nullptr;
    auto* s = static_cast<TLzwState*>(*state);
    if (!data) {
        delete s;
        *state = nullptr;
        return nullptr;
    }
    if (!s) {
        if (rowLength <= 0 || dataSize < 0) return nullptr;
        s = new TLzwState(data, dataSize, rowLength);
        *state = s;
    }
    int got = 0;
    std::uint8_t* row = s->NextRow(got);
    if (decoded) *decoded = got;
    return row;
}
