// fuzz-seeds: bmp dib
// Bytes -> memory stream -> bitmap reader, as a file load (colour output) and as a native-format load.
#include "codecs/bmp/BmpReader.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const bool native : {false, true}) {
        TReadOnlyMemoryStream stream(data, std::int64_t(size));
        TIEBitmap bitmap;
        TIOParamsVals params;
        params.NativePixelFormat = native;
        bool aborting = false;
        TIEProgressRecord progress(aborting);
        std::unique_ptr<TIEMask> mask;
        ReadBmpStream(stream, bitmap, native ? 0 : std::int64_t(size), false, progress, params, mask);
    }
    return 0;
}
