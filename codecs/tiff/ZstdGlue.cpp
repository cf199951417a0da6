#include "codecs/tiff/ZstdGlue.h"

#include <memory>

#include <zstd.h>

namespace tiff {

TInflated ZstdInflate(std::span<const std::uint8_t> data, std::span<std::uint8_t> out) {
    TInflated result;
    const std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> ctx(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!ctx) {
        result.Corrupt = true;
        return result;
    }
    // Streaming, so that a frame cut short still gives the bytes before the cut.
    ZSTD_inBuffer in{data.data(), data.size(), 0};
    ZSTD_outBuffer dst{out.data(), out.size(), 0};
    while (dst.pos < dst.size && in.pos < in.size) {
        const std::size_t rc = ZSTD_decompressStream(ctx.get(), &dst, &in);
        if (ZSTD_isError(rc)) {
            result.Corrupt = true;
            break;
        }
        if (rc == 0) break; // the frame is complete
    }
    result.Produced = dst.pos;
    return result;
}

} // namespace tiff
