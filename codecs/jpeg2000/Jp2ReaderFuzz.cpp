// fuzz-seeds: jpeg2000
// Bytes -> memory stream -> JPEG 2000 content checks and reader.
#include "codecs/jpeg2000/J2kImage.h"
#include "codecs/jpeg2000/Jp2Reader.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Keeps a hostile header's decoded size well inside the fuzzer's memory limit.
    J2kMaxDecodedBytes = std::uint64_t(256) << 20;
    TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
    (void)IsJp2Stream(stream);
    (void)IsJ2kStream(stream);
    TIEBitmap bitmap;
    bitmap.SetLocation(ieHeap);
    TIOParamsVals params;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    std::unique_ptr<TIEMask> mask;
    ReadJp2Stream(stream, bitmap, params, size && (data[size - 1] & 1) != 0, progress, mask);
    return 0;
}
