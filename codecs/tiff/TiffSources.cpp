#include "codecs/tiff/TiffSources.h"

#include "codecs/tiff/CcittDecoder.h"
#include "codecs/tiff/LzmaGlue.h"
#include "codecs/tiff/WebpGlue.h"
#include "codecs/tiff/ZstdGlue.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include <zlib.h>

namespace tiff {

namespace {

class TRawSource : public TRowSource {
public:
    TRawSource(const TSourceOptions& o, std::span<const std::uint8_t> d) : Options(o), Data(d) {}
    TRowStatus Next(std::uint8_t* row) override {
        const std::size_t length = std::size_t(Options.RowLength);
        if (Pos >= Data.size()) return TRowStatus::Missing;
        const std::size_t n = std::min(length, Data.size() - Pos);
        std::memcpy(row, Data.data() + Pos, n);
        std::memset(row + n, Options.Pad, length - n);
        Pos += n;
        return n < length ? TRowStatus::Partial : TRowStatus::Row;
    }

private:
    TSourceOptions Options;
    std::span<const std::uint8_t> Data;
    std::size_t Pos = 0;
};

// PackBits: runs may cross row ends; what a run leaves over carries into the next row.
class TPackBitsSource : public TRowSource {
public:
    TPackBitsSource(const TSourceOptions& o, std::span<const std::uint8_t> d) : Options(o), Data(d) {}
    TRowStatus Next(std::uint8_t* row) override {
        const std::size_t length = std::size_t(Options.RowLength);
        if (Pos >= Data.size() && Literal == 0 && Repeat == 0) return TRowStatus::Missing;
        std::size_t x = 0;
        while (x < length) {
            if (Literal > 0) {
                const std::size_t n = std::min({Literal, length - x, Data.size() - Pos});
                std::memcpy(row + x, Data.data() + Pos, n);
                x += n;
                Pos += n;
                Literal -= n;
                if (Pos >= Data.size()) Literal = 0;
                continue;
            }
            if (Repeat > 0) {
                const std::size_t n = std::min(Repeat, length - x);
                std::memset(row + x, Value, n);
                x += n;
                Repeat -= n;
                continue;
            }
            if (Pos >= Data.size()) break;
            const int count = std::int8_t(Data[Pos++]);
            if (count >= 0) {
                Literal = std::size_t(count) + 1;
            } else if (count != -128 && Pos < Data.size()) {
                Repeat = std::size_t(1 - count);
                Value = Data[Pos++];
            }
        }
        std::memset(row + x, Options.Pad, length - x);
        if (x == length && ++Delivered == Options.Rows && Overran()) return TRowStatus::Failed;
        return x < length ? TRowStatus::Partial : TRowStatus::Row;
    }

private:
    // The block's rows are complete, yet much of its data is left, or a run reaches far past its end: data
    // that is not PackBits (taken as runs, most bytes repeat the next one many times) rather than a row cut.
    bool Overran() const {
        const std::size_t left = Data.size() - Pos;
        return left > std::max(kSlackBytes, Data.size() / 4) ||
               Literal + Repeat > std::size_t(Options.RowLength);
    }
    static constexpr std::size_t kSlackBytes = 16; // padding some writers leave after the runs

    TSourceOptions Options;
    std::span<const std::uint8_t> Data;
    int Delivered = 0;
    std::size_t Pos = 0;
    std::size_t Literal = 0; // bytes of a literal run still to copy
    std::size_t Repeat = 0;  // copies of Value still to write
    std::uint8_t Value = 0;
};

// The parameters' LZW decoder, driven through its calling protocol; the state is released with the source.
class TLzwSource : public TRowSource {
public:
    TLzwSource(const TSourceOptions& o, std::span<const std::uint8_t> d) : Options(o), Data(d) {}
    ~TLzwSource() override {
        if (State) Options.Lzw(nullptr, 0, 0, &State, nullptr);
    }
    TRowStatus Next(std::uint8_t* row) override {
        if (Data.empty()) return TRowStatus::Missing;
        int fromData = Options.RowLength;
        const std::uint8_t* decoded =
            Options.Lzw(Data.data(), std::int64_t(Data.size()), Options.RowLength, &State, &fromData);
        if (!decoded) return TRowStatus::Failed;
        if (fromData == 0) return TRowStatus::Missing; // the data ended before this row
        std::memcpy(row, decoded, std::size_t(Options.RowLength));
        return fromData < Options.RowLength ? TRowStatus::Partial : TRowStatus::Row;
    }

private:
    TSourceOptions Options;
    std::span<const std::uint8_t> Data;
    void* State = nullptr;
};

class TDeflateSource : public TRowSource {
public:
    TDeflateSource(const TSourceOptions& o, std::span<const std::uint8_t> d) : Options(o) {
        Stream.next_in = const_cast<Bytef*>(d.data());
        Stream.avail_in =
            static_cast<uInt>(std::min<std::size_t>(d.size(), std::numeric_limits<uInt>::max()));
        Ready = !d.empty() && inflateInit(&Stream) == Z_OK;
    }
    ~TDeflateSource() override {
        if (Ready) inflateEnd(&Stream);
    }
    TRowStatus Next(std::uint8_t* row) override {
        if (!Ready || Ended) return TRowStatus::Missing;
        Stream.next_out = row;
        Stream.avail_out = static_cast<uInt>(Options.RowLength);
        while (Stream.avail_out > 0) {
            const int rc = inflate(&Stream, Z_NO_FLUSH);
            if (rc == Z_STREAM_END || rc == Z_BUF_ERROR) {
                Ended = true; // the data ends (trailing bytes after the stream are ignored)
                break;
            }
            if (rc != Z_OK) return TRowStatus::Failed;
        }
        const std::size_t produced = std::size_t(Options.RowLength) - Stream.avail_out;
        if (produced == 0) return TRowStatus::Missing;
        std::memset(row + produced, Options.Pad, Stream.avail_out);
        return Stream.avail_out > 0 ? TRowStatus::Partial : TRowStatus::Row;
    }

private:
    TSourceOptions Options;
    z_stream Stream{};
    bool Ready = false;
    bool Ended = false;
};

// CCITT rows: the decoder gives 1 for white runs; stored samples have 0 there, as the other
// compressions deliver them.
class TCcittSource : public TRowSource {
public:
    TCcittSource(const TSourceOptions& o, std::span<const std::uint8_t> d, TCcittMode mode)
        : Options(o), Decoder(d.data(), d.size(), o.Width, mode), Size(d.size()) {}
    TRowStatus Next(std::uint8_t* row) override {
        const std::size_t bytes = (std::size_t(Options.Width) + 7) / 8;
        if (!Decoder.DecodeRow(row)) return TRowStatus::Missing;
        for (std::size_t i = 0; i < bytes; ++i) row[i] = std::uint8_t(~row[i]);
        if (Decoder.LastRowDamaged()) ++Damaged;
        // Every row is decoded, yet most of the data is left: not fax data, whose codes a row follows
        // to its last column (only RTC or EOFB and fill come after the last row).
        if (++Delivered == Options.Rows && Decoder.BytesLeft() > std::max(kSlackBytes, Size / 2))
            return TRowStatus::Failed;
        return Decoder.LastRowCut() ? TRowStatus::Partial : TRowStatus::Row;
    }
    int DamagedRows() const override { return Damaged; }

private:
    TSourceOptions Options;
    static constexpr std::size_t kSlackBytes = 64; // end codes and fill some writers pad strips with
    TCcittDecoder Decoder;
    std::size_t Size;
    int Delivered = 0;
    int Damaged = 0;
};

// Compressions that code a block as a whole: decoded at once into the block's rows, then handed out.
class TWholeBlockSource : public TRowSource {
public:
    TWholeBlockSource(const TSourceOptions& o, std::span<const std::uint8_t> d) : Options(o) {
        const std::size_t length = std::size_t(Options.RowLength);
        Buffer.resize(length * std::size_t(std::max(Options.Rows, 0)));
        if (d.empty() || Buffer.empty()) return;
        TInflated result;
        switch (Options.Compression) {
        case cmpZstd:
            result = ZstdInflate(d, Buffer);
            break;
        case cmpLzma:
            result = LzmaInflate(d, Buffer);
            break;
        default:
            result = WebpInflate(d, Options.Width, Options.Samples, Buffer);
            break;
        }
        Produced = result.Produced;
        Corrupt = result.Corrupt;
    }
    TRowStatus Next(std::uint8_t* row) override {
        const std::size_t length = std::size_t(Options.RowLength);
        const std::size_t at = Row * length;
        ++Row;
        if (at >= Produced) return Corrupt ? TRowStatus::Failed : TRowStatus::Missing;
        const std::size_t n = std::min(length, Produced - at);
        std::memcpy(row, Buffer.data() + at, n);
        std::memset(row + n, Options.Pad, length - n);
        return n < length ? TRowStatus::Partial : TRowStatus::Row;
    }

private:
    TSourceOptions Options;
    std::vector<std::uint8_t> Buffer;
    std::size_t Produced = 0;
    bool Corrupt = false;
    std::size_t Row = 0;
};

} // namespace

bool IsRowCompression(std::uint32_t c) {
    switch (c) {
    case cmpNone:
    case cmpHuffman:
    case cmpFax3:
    case cmpFax4:
    case cmpLzw:
    case cmpAdobeDeflate:
    case cmpDeflate:
    case cmpPackBits:
    case cmpZstd:
    case cmpLzma:
    case cmpWebp:
        return true;
    default:
        return false;
    }
}

std::unique_ptr<TRowSource> MakeRowSource(const TSourceOptions& o, std::span<const std::uint8_t> data) {
    switch (o.Compression) {
    case cmpNone:
        return std::make_unique<TRawSource>(o, data);
    case cmpHuffman:
        return std::make_unique<TCcittSource>(o, data, TCcittMode::ModifiedHuffman);
    case cmpFax3:
        return std::make_unique<TCcittSource>(
            o, data, (o.T4Options & 1) ? TCcittMode::Group3TwoD : TCcittMode::Group3OneD);
    case cmpFax4:
        return std::make_unique<TCcittSource>(o, data, TCcittMode::Group4);
    case cmpLzw:
        if (!o.Lzw) return nullptr;
        return std::make_unique<TLzwSource>(o, data);
    case cmpAdobeDeflate:
    case cmpDeflate:
        return std::make_unique<TDeflateSource>(o, data);
    case cmpPackBits:
        return std::make_unique<TPackBitsSource>(o, data);
    case cmpZstd:
    case cmpLzma:
    case cmpWebp:
        return std::make_unique<TWholeBlockSource>(o, data);
    default:
        return nullptr;
    }
}

} // namespace tiff
