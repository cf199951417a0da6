#pragma once
// The only code that calls libwebp: one WebP image (a TIFF strip or tile) into rows of red, green,
// blue (and alpha) bytes.
#include "codecs/tiff/BlockInflate.h"

namespace tiff {

// Decodes data into out: rows of width pixels of channels (3 or 4) bytes each, as many rows as out
// holds. A picture of another width, or taller than out, or in a damaged stream is Corrupt.
TInflated WebpInflate(std::span<const std::uint8_t> data, int width, int channels,
                      std::span<std::uint8_t> out);

} // namespace tiff
