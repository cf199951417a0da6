// fuzz-seeds: pnm
#include "codecs/pnm/PxmReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
    if (IsPxmStream(stream) != IsPxmStream(stream)) __builtin_trap(); // the position must come back
    TIEBitmap bitmap;
    TIOParamsVals params;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    ReadPxmStream(stream, bitmap, params, false, progress);
    return 0;
}
