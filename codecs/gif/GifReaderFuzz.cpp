// fuzz-seeds: gif
// Bytes -> memory stream -> GIF reader (first and second frame, both pixel formats), frame count and
// content check.
#include "codecs/gif/GifReader.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    for (int frame = 0; frame < 2; ++frame) {
        TReadOnlyMemoryStream stream(Data, std::int64_t(Size));
        TIEBitmap bitmap;
        TIOParamsVals params;
        params.GifLzwDecoder = GifLzwDecode;
        params.GifFrameIndex = frame;
        params.NativePixelFormat = frame == 1;
        std::unique_ptr<TIEMask> mask;
        bool aborting = false;
        TIEProgressRecord progress(aborting);
        int count = 0;
        ReadGifStream(stream, bitmap, count, false, mask, false, progress, params);
    }
    TReadOnlyMemoryStream stream(Data, std::int64_t(Size));
    IsGifStream(stream);
    CountGifFrames(stream);
    return 0;
}
