#include "imaging/io/FormatRegistry.h"

#include "codecs/bmp/BmpReader.h"
#include "codecs/gif/GifReader.h"
#include "codecs/ico/IcoReader.h"
#include "codecs/jpeg/JpegReader.h"
#include "codecs/jpeg2000/Jp2Reader.h"
#include "codecs/pcx/PcxReader.h"
#include "codecs/png/PngReader.h"
#include "codecs/pnm/PxmReader.h"
#include "codecs/tga/TgaReader.h"
#include "codecs/tiff/TiffReader.h"
#include "codecs/wbmp/WbmpReader.h"
#include "platform/Stream.h"

#include <mutex>
#include <vector>

namespace {
// In the format table's order.
const std::vector<const TFormatEntry*>& Formats() {
    static const std::vector<const TFormatEntry*> formats = {
        &TiffFormat(), &GifFormat(), &JpegFormat(), &PcxFormat(), &BmpFormat(), &IcoFormat(),  &CurFormat(),
        &PngFormat(),  &TgaFormat(), &PxmFormat(),  &Jp2Format(), &J2kFormat(), &WbmpFormat(),
    };
    return formats;
}
} // namespace

const TFormatEntry* ReadableFormat(int id) {
    for (const TFormatEntry* f : Formats())
        if (f->Id == id) return f;
    return nullptr;
}

int CountImagesInFile(const std::string& path, int id) {
    const TFormatEntry* format = ReadableFormat(id);
    if (!format) return 0;
    try {
        TFileStream file(path, fmOpenRead | fmShareDenyWrite);
        return format->CountImages ? format->CountImages(file) : 1;
    } catch (...) {
        return 0; // a file its counter cannot walk counts none
    }
}

void InstallDefaultDecoders() {
    // Once: components are also made on other threads (previews of web addresses) while loads read
    // these pointers.
    static std::once_flag once;
    std::call_once(once, [] {
        DefaultTiffLzwDecoder = &TiffLzwDecode;
        DefaultGifLzwDecoder = &GifLzwDecode;
    });
}
