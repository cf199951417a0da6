// fuzz-seeds: wbmp
#include "codecs/wbmp/WbmpReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
    if (IsWbmpStream(stream) != IsWbmpStream(stream)) __builtin_trap(); // the position must come back
    TIEBitmap bitmap;
    TIOParamsVals params;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    ReadWbmpStream(stream, bitmap, params, false, progress);
    return 0;
}
