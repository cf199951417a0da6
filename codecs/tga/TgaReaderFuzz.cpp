// fuzz-seeds: tga
// Bytes -> memory stream -> TGA reader (with and without alpha) and content check.
#include "codecs/tga/TgaReader.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    for (bool ignoreAlpha : {false, true}) {
        TReadOnlyMemoryStream stream(Data, std::int64_t(Size));
        TIEBitmap bitmap;
        TIOParamsVals params;
        std::unique_ptr<TIEMask> mask;
        bool aborting = false;
        TIEProgressRecord progress(aborting);
        ReadTgaStream(stream, bitmap, params, ignoreAlpha, mask, false, progress);
    }
    TReadOnlyMemoryStream stream(Data, std::int64_t(Size));
    IsTgaStream(stream);
    return 0;
}
