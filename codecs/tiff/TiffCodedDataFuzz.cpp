// fuzz-seeds: tiff
// Bytes -> memory stream -> the fax and JPEG strip walks that decide whether data is kept unchanged.
#include "codecs/tiff/TiffCodedData.h"
#include "codecs/tiff/TiffCodedJpeg.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, std::int64_t(size));
    for (int frame = 0; frame < 2; ++frame) {
        (void)ProbeTiffFaxData(stream, frame);
        (void)ProbeTiffJpegData(stream, frame);
    }
    return 0;
}
