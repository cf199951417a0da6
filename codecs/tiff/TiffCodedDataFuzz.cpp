// fuzz-seeds: tiff
// Bytes -> memory stream -> the fax strip walk that decides whether data is kept unchanged.
#include "codecs/tiff/TiffCodedData.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, std::int64_t(size));
    for (int frame = 0; frame < 2; ++frame) (void)ProbeTiffFaxData(stream, frame);
    return 0;
}
