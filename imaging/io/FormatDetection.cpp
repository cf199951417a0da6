#include "imaging/io/FormatDetection.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/io/FormatRegistry.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatTable.h"
#include "platform/Ascii.h"
#include "platform/ByteOrder.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"

#include <array>
#include <cstring>

namespace {
// Reads n bytes from start, then seeks back; false when fewer are there.
bool Peek(TStream& s, std::int64_t start, void* out, std::int64_t n) {
    s.SetPosition(start);
    const bool ok = s.Read(out, n) == n;
    s.SetPosition(start);
    return ok;
}

// The first bytes as text up to the first zero byte.
std::string TextUpToZero(const std::uint8_t* bytes, std::size_t n) {
    std::size_t len = 0;
    while (len < n && bytes[len] != 0) ++len;
    return std::string(reinterpret_cast<const char*>(bytes), len);
}

// The content test of a format's reader; the position is restored.
bool PassesContentTest(TIOFileFormat id, TStream& s) {
    const TFormatEntry* format = ReadableFormat(id);
    return format && format->IsFormat && format->IsFormat(s);
}

int RunTests(TStream& s, std::int64_t start, std::int64_t size) {
    std::array<std::uint8_t, 128> b{};
    if (size > 12 && Peek(s, start, b.data(), 12) && TextUpToZero(b.data(), 5) == "JFIF") return ioJPEG;
    if (size > 13 && Peek(s, start, b.data(), 13) && std::memcmp(b.data(), "GIF", 3) == 0) return ioGIF;
    if (size > 12 && Peek(s, start, b.data(), 12) && TextUpToZero(b.data(), 5) == "PCX2") return ioPCX;
    if (size > 4 && Peek(s, start, b.data(), 4) && TextUpToZero(b.data(), 4) == "PCX") return ioPCX;
    if (size > 14 && Peek(s, start, b.data(), 14) && ReadLe16(b.data()) == 19778) return ioBMP;
    if (size > 128 && Peek(s, start, b.data(), 128) && b[0] == 10 && b[1] <= 5) return ioPCX;
    if (size > 12 && Peek(s, start, b.data(), 12) && TextUpToZero(b.data(), 5) == "TIFF") return ioTIFF;
    if (size > 8 && Peek(s, start, b.data(), 8) &&
        ((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M')))
        return ioTIFF;
    if (size > 8 && PassesContentTest(ioPNG, s)) return ioPNG;
    // Then the readers' own content tests, in this order.
    for (const TIOFileFormat id : {ioICO, ioCUR, ioTGA, ioPXM, ioJPEG, ioJP2, ioJ2K}) {
        s.SetPosition(start);
        if (PassesContentTest(id, s)) return id;
    }
    s.SetPosition(start);
    if (IsAviStream(s)) return ioAVI;
    return 0;
}
} // namespace

bool IsAviStream(TStream& stream) {
    const std::int64_t start = stream.Position();
    std::uint8_t b[12] = {};
    const bool ok = stream.Read(b, 12) == 12;
    stream.SetPosition(start);
    return ok && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "AVI ", 4) == 0;
}

int DetectStreamFormat(TStream& stream) {
    std::int64_t start = 0;
    int result = 0;
    try {
        start = stream.Position();
        const std::int64_t size = stream.Size();
        for (const TIEFileFormatInfo& f : FileFormatTable()) {
            if (!f.DetectFunction) continue;
            stream.SetPosition(start);
            if (f.DetectFunction(stream)) {
                result = f.FileType;
                break;
            }
        }
        stream.SetPosition(start);
        if (result == 0) result = RunTests(stream, start, size);
    } catch (...) {
        // A failing test ends detection with what was found so far.
    }
    try {
        stream.SetPosition(start);
    } catch (...) {
    }
    return result;
}

int DetectFileFormat(const std::string& path, bool checkExtension) {
    int r = 0;
    try {
        TFileStream file(path, fmOpenRead | fmShareDenyWrite);
        r = DetectStreamFormat(file);
    } catch (...) {
        return 0;
    }
    if (r == 0 || !checkExtension) return r;
    std::string ext = ExtractFileExt(path);
    if (!ext.empty()) ext = AsciiLower(ext.substr(1));
    const TIEFileFormatInfo* entry = FindFormatByExtension(ext);
    if (!entry) return 0;
    if (r == ioICO || r == ioCUR) return entry->FileType;
    return entry->FileType == r ? r : 0;
}

// ---- loading and header reads by content

namespace {
// The header-only read of one format id into the parameters; the bitmap is not touched.
void ReadHeader(TStream& stream, int id, TIOParamsVals& params, TColor background, bool& aborting) {
    const TFormatEntry* format = ReadableFormat(id);
    params.ResetImageInfo();
    if (!format) {
        params.FileFormat = ioUnknown;
        return;
    }
    const std::int64_t start = stream.Position();
    TIEBitmap scratch; // header-only reads leave it alone; it only satisfies the calling form
    std::unique_ptr<TIEMask> mask;
    aborting = false;
    TIEProgressRecord progress(aborting);
    TReadContext context;
    context.HeaderOnly = true;
    context.Background = background;
    format->Read(stream, scratch, params, progress, mask, context);
    params.FileFormat = id;
    // A header read stops at the first image; the frame count is the whole file's.
    stream.SetPosition(start);
    if (format->ImageCountField) params.*format->ImageCountField = format->CountImages(stream);
}
} // namespace

void TPictoraIO::ReadParamsFromStream(TStream& stream) {
    try {
        const int id = DetectStreamFormat(stream);
        ReadHeader(stream, id, FParams, Background(), Aborting);
        FParams.LoadedFileName.clear();
    } catch (...) {
        FParams.FileFormat = 0;
    }
}

void TPictoraIO::ReadParamsFromFile(const std::string& path) {
    try {
        const int id = DetectFileFormat(path, true);
        if (id == 0) {
            FParams.ResetImageInfo();
            FParams.FileFormat = 0;
            return;
        }
        TFileStream file(path, fmOpenRead | fmShareDenyWrite);
        ReadHeader(file, id, FParams, Background(), Aborting);
        FParams.LoadedFileName = path;
    } catch (...) {
        FParams.FileFormat = 0;
    }
}
