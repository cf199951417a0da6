// fuzz-seeds: jpeg
// Bytes -> the JPEG marker walk that decides whether data is kept unchanged.
#include "codecs/jpeg/JpegCodedData.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)ProbeJpegCodedData(std::span<const std::uint8_t>(data, size));
    return 0;
}
