// Detection by content and every reader behind LoadFromStream, as a downloaded file reaches them.
// fuzz-seeds: tiff gif jpeg pcx bmp ico cur png tga pnm jpeg2000
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/FormatDetection.h"
#include "imaging/io/PictoraIO.h"
#include "platform/Stream.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TPictoraIO* io = new TPictoraIO(); // one component for the whole run, as a program has
    TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
    try {
        io->Params().GifFrameIndex = 0;
        io->Params().TiffFrameIndex = 0;
        io->LoadFromStream(stream);
        stream.SetPosition(0);
        io->ReadParamsFromStream(stream);
    } catch (const std::exception&) {
        // Refused allocations surface as exceptions; anything else would be a crash the fuzzer sees.
    }
    return 0;
}
