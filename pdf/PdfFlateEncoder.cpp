// The Flate encoder, the only code of the PDF writer that calls zlib.
#include "pdf/PdfFlateEncoder.h"

#include "platform/Exceptions.h"
#include "platform/Stream.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include <zlib.h>

namespace {
constexpr std::size_t kOutBufferSize = 65536;
constexpr TPngFilter kAllFilters[] = {TPngFilter::None, TPngFilter::Sub, TPngFilter::Up, TPngFilter::Average,
                                      TPngFilter::Paeth};

std::uint8_t PaethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}
} // namespace

void FilterRow(TPngFilter filter, const std::uint8_t* row, const std::uint8_t* previous, std::size_t rowBytes,
               std::size_t bpp, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(filter);
    std::uint8_t* o = out + 1;
    for (std::size_t i = 0; i < rowBytes; ++i) {
        const int left = i >= bpp ? row[i - bpp] : 0;
        const int up = previous ? previous[i] : 0;
        const int upLeft = previous && i >= bpp ? previous[i - bpp] : 0;
        int predicted = 0;
        switch (filter) {
        case TPngFilter::None:
            break;
        case TPngFilter::Sub:
            predicted = left;
            break;
        case TPngFilter::Up:
            predicted = up;
            break;
        case TPngFilter::Average:
            predicted = (left + up) / 2;
            break;
        case TPngFilter::Paeth:
            predicted = PaethPredictor(left, up, upLeft);
            break;
        }
        o[i] = static_cast<std::uint8_t>(row[i] - predicted);
    }
}

TPngFilter ChooseRowFilter(const std::uint8_t* row, const std::uint8_t* previous, std::size_t rowBytes,
                           std::size_t bpp, std::vector<std::uint8_t>& scratch) {
    scratch.resize(rowBytes + 1);
    TPngFilter best = TPngFilter::None;
    std::uint64_t bestSum = std::numeric_limits<std::uint64_t>::max();
    for (const TPngFilter f : kAllFilters) {
        FilterRow(f, row, previous, rowBytes, bpp, scratch.data());
        std::uint64_t sum = 0;
        for (std::size_t i = 1; i <= rowBytes; ++i) {
            const auto v = static_cast<std::int8_t>(scratch[i]);
            sum += static_cast<std::uint64_t>(v < 0 ? -int(v) : int(v));
        }
        if (sum < bestSum) {
            bestSum = sum;
            best = f;
        }
    }
    return best;
}

struct TFlateRowEncoder::TState {
    z_stream Z{};
    bool Ready = false;
    ~TState() {
        if (Ready) deflateEnd(&Z);
    }
};

TFlateRowEncoder::TFlateRowEncoder(TStream& output, std::size_t rowBytes, std::size_t bytesPerPixel,
                                   bool adaptive)
    : Output(output), RowBytes(rowBytes), BytesPerPixel(bytesPerPixel == 0 ? 1 : bytesPerPixel),
      Adaptive(adaptive), Previous(rowBytes), Filtered(rowBytes + 1), OutBuffer(kOutBufferSize),
      State(std::make_unique<TState>()) {
    if (deflateInit(&State->Z, Z_DEFAULT_COMPRESSION) != Z_OK) throw EOutOfMemory();
    State->Ready = true;
}

TFlateRowEncoder::~TFlateRowEncoder() = default;

void TFlateRowEncoder::Deflate(const std::uint8_t* data, std::size_t size, bool finish, bool& aborting) {
    z_stream& z = State->Z;
    // zlib counts in 32 bits: a longer block goes in pieces.
    constexpr std::size_t kPiece = std::size_t(1) << 30;
    do {
        const std::size_t piece = size < kPiece ? size : kPiece;
        const bool last = finish && piece == size;
        z.next_in = const_cast<Bytef*>(data); // zlib's interface is not const-correct; it never writes input
        z.avail_in = static_cast<uInt>(piece);
        for (;;) {
            z.next_out = OutBuffer.data();
            z.avail_out = static_cast<uInt>(OutBuffer.size());
            const int rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            const auto produced = static_cast<std::int64_t>(OutBuffer.size() - z.avail_out);
            if (produced > 0 && Output.Write(OutBuffer.data(), produced) != produced) aborting = true;
            if (rc == Z_STREAM_END) return;
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                aborting = true;
                return;
            }
            if (!last && z.avail_in == 0 && z.avail_out != 0) break;
        }
        if (data) data += piece;
        size -= piece;
    } while (size > 0);
}

void TFlateRowEncoder::AddRow(const std::uint8_t* row, bool& aborting) {
    if (Finished) return;
    const std::uint8_t* previous = HavePrevious ? Previous.data() : nullptr;
    const TPngFilter filter =
        Adaptive ? ChooseRowFilter(row, previous, RowBytes, BytesPerPixel, Scratch) : TPngFilter::None;
    FilterRow(filter, row, previous, RowBytes, BytesPerPixel, Filtered.data());
    // Rows are at most a few hundred kilobytes, well inside zlib's 32-bit counts.
    Deflate(Filtered.data(), Filtered.size(), false, aborting);
    if (RowBytes) std::memcpy(Previous.data(), row, RowBytes);
    HavePrevious = true;
}

void TFlateRowEncoder::Finish(bool& aborting) {
    if (Finished) return;
    Finished = true;
    Deflate(nullptr, 0, true, aborting);
}
