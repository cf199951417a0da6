#pragma once
// What a whole-block decompressor (Zstandard, LZMA, WebP) hands back.
#include <cstddef>
#include <cstdint>
#include <span>

namespace tiff {

struct TInflated {
    std::size_t Produced = 0; // bytes written from the start of the output
    bool Corrupt = false;     // the data is not of the format (as opposed to merely ending early)
};

} // namespace tiff
