#pragma once
// The only code that calls liblzma: one xz stream (a TIFF strip or tile) into a buffer.
#include "codecs/tiff/BlockInflate.h"

namespace tiff {

// Decodes data into out, at most out.size() bytes.
TInflated LzmaInflate(std::span<const std::uint8_t> data, std::span<std::uint8_t> out);

} // namespace tiff
