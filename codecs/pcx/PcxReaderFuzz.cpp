// fuzz-seeds: pcx
// Bytes -> memory stream -> PCX reader and its content check.
#include "codecs/pcx/PcxReader.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, std::int64_t(size));
    (void)IsPcxStream(stream);
    TIEBitmap bitmap;
    TIOParamsVals params;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    std::unique_ptr<TIEMask> mask;
    ReadPcxStream(stream, bitmap, params, false, progress, std::int64_t(size), mask);
    return 0;
}
