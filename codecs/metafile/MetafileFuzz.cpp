// fuzz-seeds: wmf emf
// Bytes -> metafile load -> playback into a small buffer.
#include "codecs/metafile/Metafile.h"
#include "platform/Stream.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, std::int64_t(size));
    TMetafile metafile;
    if (!metafile.LoadFromStream(stream)) return 0;
    // The picture's aspect, small enough that every input plays quickly.
    int w = 48, h = 48;
    if (metafile.Width() > 0 && metafile.Height() > 0) {
        if (metafile.Width() >= metafile.Height())
            h = std::max(1, int(48LL * metafile.Height() / metafile.Width()));
        else
            w = std::max(1, int(48LL * metafile.Width() / metafile.Height()));
    }
    std::vector<std::uint8_t> buffer(std::size_t(w) * std::size_t(h) * 3);
    metafile.Draw(buffer.data(), w, h, w * 3, clWhite);
    return 0;
}
