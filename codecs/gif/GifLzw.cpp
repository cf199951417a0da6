// The GIF variant of LZW: variable code width from minimum size + 1 up to 12 bits, clear and end codes,
// codes packed least significant bit first across the data sub-blocks.
#include "codecs/gif/GifReader.h"

#include "platform/Stream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeWidth = 12;
constexpr int kSmallestMinCodeSize = 1;
constexpr int kLargestMinCodeSize = kMaxCodeWidth - 1;

// Every data sub-block of one image, up to the zero-length terminator or the end of the stream.
std::vector<std::uint8_t> ReadSubBlocks(TStream& Stream) {
    std::vector<std::uint8_t> data;
    for (;;) {
        std::uint8_t length = 0;
        if (Stream.Read(&length, 1) != 1 || length == 0) break;
        const std::size_t old = data.size();
        data.resize(old + length);
        const std::int64_t got = Stream.Read(data.data() + old, length);
        data.resize(old + std::size_t(got > 0 ? got : 0));
        if (got != length) break;
    }
    return data;
}

class TBitReader {
public:
    explicit TBitReader(const std::vector<std::uint8_t>& Bytes) : FBytes(Bytes) {}
    // The next code of the given width, or -1 when the data cannot supply that many bits.
    int Read(int Width) {
        if (FBitPos + Width > std::int64_t(FBytes.size()) * 8) return -1;
        int code = 0;
        for (int i = 0; i < Width; ++i, ++FBitPos) {
            const int bit = (FBytes[std::size_t(FBitPos >> 3)] >> (FBitPos & 7)) & 1;
            code |= bit << i;
        }
        return code;
    }
    // Whole data bytes not touched by the codes read so far.
    bool BytesLeft() const { return (FBitPos + 7) / 8 < std::int64_t(FBytes.size()); }

private:
    const std::vector<std::uint8_t>& FBytes;
    std::int64_t FBitPos = 0;
};

// Places decoded pixels: row after row, or through the four interlace passes. Pixels past the last
// row are dropped; Full() tells the decoder it can stop.
class TPixelSink {
public:
    TPixelSink(std::uint8_t* Data, int Width, int Height, bool Interlaced)
        : FData(Data), FWidth(Width), FHeight(Height), FInterlaced(Interlaced),
          FTotal(std::int64_t(Width) * Height), FLeft(FTotal) {}
    bool Full() const { return FLeft <= 0; }
    std::int64_t Placed() const { return FTotal - FLeft; }
    void Put(std::uint8_t Index) {
        if (FLeft <= 0) return;
        FData[std::size_t(FRow) * std::size_t(FWidth) + std::size_t(FCol)] = Index;
        --FLeft;
        if (++FCol == FWidth) NextRow();
    }

private:
    void NextRow() {
        static constexpr int kStart[4] = {0, 4, 2, 1};
        static constexpr int kStep[4] = {8, 8, 4, 2};
        FCol = 0;
        if (!FInterlaced) {
            ++FRow;
            return;
        }
        FRow += kStep[FPass];
        while (FRow >= FHeight && FPass < 3) FRow = kStart[++FPass];
        if (FRow >= FHeight) FLeft = 0; // every pass done
    }

    std::uint8_t* FData;
    int FWidth, FHeight;
    bool FInterlaced;
    std::int64_t FTotal;
    std::int64_t FLeft;
    int FRow = 0, FCol = 0, FPass = 0;
};

class TLzwTable {
public:
    explicit TLzwTable(int MinCodeSize) : FMin(MinCodeSize), FClear(1 << MinCodeSize), FEnd(FClear + 1) {
        for (int i = 0; i < FClear; ++i) {
            FSuffix[std::size_t(i)] = std::uint8_t(i);
            FFirst[std::size_t(i)] = std::uint8_t(i);
            FPrefix[std::size_t(i)] = 0;
        }
        Reset();
    }
    void Reset() {
        Width = FMin + 1;
        NextFree = FEnd + 1;
        FLimit = 1 << Width;
        Full = false;
    }
    // Adds Prefix's string plus one byte and widens the codes when the table reaches the limit.
    // With a minimum code size of 1 the table starts at its width's limit and, as common decoders
    // read such data, the codes stay 2 bits wide: only the table's size stops it.
    void Add(int Prefix, std::uint8_t Last) {
        if (Full || NextFree >= kMaxCodes) {
            Full = true;
            return;
        }
        FPrefix[std::size_t(NextFree)] = std::uint16_t(Prefix);
        FSuffix[std::size_t(NextFree)] = Last;
        FFirst[std::size_t(NextFree)] = FFirst[std::size_t(Prefix)];
        if (++NextFree == FLimit) {
            if (Width == kMaxCodeWidth) {
                Full = true;
            } else {
                ++Width;
                FLimit <<= 1;
            }
        }
    }
    std::uint8_t First(int Code) const { return FFirst[std::size_t(Code)]; }
    // Writes the string of a table code. Prefix chains always point to smaller codes, so the walk ends.
    void Emit(int Code, TPixelSink& Sink) {
        std::size_t depth = 0;
        while (Code > FEnd) {
            FStack[depth++] = FSuffix[std::size_t(Code)];
            Code = FPrefix[std::size_t(Code)];
        }
        FStack[depth++] = FSuffix[std::size_t(Code)];
        while (depth > 0 && !Sink.Full()) Sink.Put(FStack[--depth]);
    }

    int Clear() const { return FClear; }
    int End() const { return FEnd; }
    int Width = 0;
    int NextFree = 0;
    bool Full = false;

private:
    int FMin, FClear, FEnd;
    int FLimit = 0;
    std::array<std::uint16_t, kMaxCodes> FPrefix{};
    std::array<std::uint8_t, kMaxCodes> FSuffix{};
    std::array<std::uint8_t, kMaxCodes> FFirst{};
    std::array<std::uint8_t, kMaxCodes + 1> FStack{};
};

// Returns false on a decoding failure. Stops as soon as every pixel is placed, which bounds the work
// by the frame size whatever the data holds.
bool DecodeCodes(const std::vector<std::uint8_t>& Bytes, int MinCodeSize, TPixelSink& Sink) {
    TBitReader bits(Bytes);
    auto table = std::make_unique<TLzwTable>(MinCodeSize);
    int prev = -1;
    while (!Sink.Full()) {
        int code = bits.Read(table->Width);
        if (code < 0 || code == table->End()) return true;
        if (code == table->Clear()) {
            table->Reset();
            do code = bits.Read(table->Width);
            while (code == table->Clear());
            if (code < 0) return true;
            if (code == table->End()) return !bits.BytesLeft();
            if (code >= table->NextFree) code = 0;
            table->Emit(code, Sink);
            prev = code;
            continue;
        }
        if (code < table->NextFree) {
            table->Emit(code, Sink);
            if (prev >= 0) table->Add(prev, table->First(code));
        } else if (code == table->NextFree && prev >= 0 && !table->Full) {
            table->Add(prev, table->First(prev));
            table->Emit(code, Sink);
        } else {
            return false;
        }
        // A full table without a clear code keeps decoding with the table as it stands (deferred clear).
        prev = code;
    }
    return true;
}

} // namespace

std::int64_t GifLzwDecode(TStream& Stream, int Height, int Width, std::uint8_t* Data, bool Interlaced) {
    const std::int64_t start = Stream.Position();
    std::uint8_t minCodeSize = 0;
    // Sizes 1 and 10 to 11 are outside the format's range but written by some encoders; common decoders
    // read them as any other size. From 12 on the first code would not fit the 12-bit table.
    if (Stream.Read(&minCodeSize, 1) != 1 || minCodeSize < kSmallestMinCodeSize ||
        minCodeSize > kLargestMinCodeSize) {
        Stream.SetPosition(start);
        return 0;
    }
    const std::vector<std::uint8_t> bytes = ReadSubBlocks(Stream);
    if (bytes.empty()) return 0;
    TPixelSink sink(Data, Width > 0 ? Width : 0, Height > 0 ? Height : 0, Interlaced);
    if (!DecodeCodes(bytes, minCodeSize, sink)) Stream.SetPosition(start);
    return sink.Placed();
}
