// fuzz-seeds: png
// Bytes -> memory stream -> PNG content check and reader.
#include "codecs/png/PngReader.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
    (void)IsPngStream(stream);
    TIEBitmap bitmap;
    bitmap.SetLocation(ieHeap);
    TIOParamsVals params;
    // The last byte picks the request, so one input reaches the native, background and header paths.
    const std::uint8_t options = size ? data[size - 1] : 0;
    params.NativePixelFormat = (options & 1) != 0;
    params.PngBackgroundColor = CreateRGB(options, static_cast<std::uint8_t>(options * 7), 0x80);
    std::unique_ptr<TIEMask> mask;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    ReadPngStream(stream, bitmap, params, (options & 2) != 0, mask, (options & 4) != 0, progress);
    return 0;
}
