// fuzz-seeds: tiff g3-raw
// Bytes -> memory stream -> TIFF reader (frame count, header, decode) -> discard.
#include "codecs/tiff/TiffReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
    (void)GetTiffFrameCount(stream);
    (void)IsTiffStream(stream);

    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    params.TiffLzwDecoder = TiffLzwDecode;
    params.TiffFrameIndex = size % 3 == 2 ? 1 : 0;
    params.NativePixelFormat = size % 2 == 1;
    params.TiffApplyOrientation = true;
    TIEBitmap bitmap;
    bitmap.SetLocation(ieHeap);
    std::unique_ptr<TIEMask> mask;
    int frames = 0;
    stream.SetPosition(0);
    ReadTiffStream(bitmap, stream, frames, false, false, true, mask, true, progress, params);
    // The reader bounds what a file may ask by its size; the fuzzer keeps runs quick on top of that.
    if (aborting || std::int64_t(params.ImageWidth) * params.ImageHeight > (std::int64_t(1) << 22)) return 0;
    stream.SetPosition(0);
    ReadTiffStream(bitmap, stream, frames, false, false, true, mask, false, progress, params);
    return 0;
}
