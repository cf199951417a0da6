// fuzz-seeds: png
// Bytes -> the PNG chunk walk and image data check that decide whether data is kept unchanged.
#include "codecs/png/PngCodedData.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)ProbePngCodedData(std::span<const std::uint8_t>(data, size));
    return 0;
}
