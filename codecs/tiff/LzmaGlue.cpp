#include "codecs/tiff/LzmaGlue.h"

#include <lzma.h>

namespace tiff {

namespace {

// The dictionary an xz stream may ask for; writers of image strips use a few megabytes.
constexpr std::uint64_t kMemoryLimit = std::uint64_t(256) << 20;

} // namespace

TInflated LzmaInflate(std::span<const std::uint8_t> data, std::span<std::uint8_t> out) {
    TInflated result;
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, kMemoryLimit, 0) != LZMA_OK) {
        result.Corrupt = true;
        return result;
    }
    stream.next_in = data.data();
    stream.avail_in = data.size();
    stream.next_out = out.data();
    stream.avail_out = out.size();
    while (stream.avail_out > 0) {
        const lzma_ret rc = lzma_code(&stream, LZMA_FINISH);
        if (rc == LZMA_STREAM_END) break;
        if (rc == LZMA_BUF_ERROR) break; // no progress: the data ended early
        if (rc != LZMA_OK) {
            result.Corrupt = true;
            break;
        }
    }
    result.Produced = out.size() - stream.avail_out;
    lzma_end(&stream);
    return result;
}

} // namespace tiff
