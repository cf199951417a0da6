// fuzz-seeds: ico cur
// Bytes -> memory stream -> icon and cursor readers and the content checks.
#include "codecs/ico/IcoReader.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const bool cursor : {false, true}) {
        TReadOnlyMemoryStream stream(data, std::int64_t(size));
        (void)IsIcoStream(stream);
        (void)IsCurStream(stream);
        (void)GetIcoImageCount(stream);
        TIEBitmap bitmap;
        TIOParamsVals params;
        std::unique_ptr<TIEMask> mask;
        bool aborting = false;
        TIEProgressRecord progress(aborting);
        if (cursor) {
            ReadCurStream(stream, bitmap, params, mask, progress, false);
        } else {
            ReadIcoStream(stream, bitmap, params, mask, progress, false);
        }
    }
    return 0;
}
