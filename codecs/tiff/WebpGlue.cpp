#include "codecs/tiff/WebpGlue.h"

#include <webp/decode.h>

namespace tiff {

TInflated WebpInflate(std::span<const std::uint8_t> data, int width, int channels,
                      std::span<std::uint8_t> out) {
    TInflated result;
    int w = 0, h = 0;
    const std::size_t stride = std::size_t(width) * std::size_t(channels);
    if ((channels != 3 && channels != 4) || stride == 0 || !WebPGetInfo(data.data(), data.size(), &w, &h) ||
        w != width || h <= 0 || std::size_t(h) > out.size() / stride) {
        result.Corrupt = true;
        return result;
    }
    const std::size_t bytes = std::size_t(h) * stride;
    std::uint8_t* done = channels == 4
                             ? WebPDecodeRGBAInto(data.data(), data.size(), out.data(), bytes, int(stride))
                             : WebPDecodeRGBInto(data.data(), data.size(), out.data(), bytes, int(stride));
    if (!done) {
        result.Corrupt = true;
        return result;
    }
    result.Produced = bytes;
    return result;
}

} // namespace tiff
