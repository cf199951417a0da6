#include "imaging/io/FormatRegistry.h"

#include "codecs/bmp/BmpReader.h"
#include "codecs/gif/GifReader.h"
#include "codecs/ico/IcoReader.h"
#include "codecs/jpeg/ExifReader.h"
#include "codecs/jpeg/JpegReader.h"
#include "codecs/jpeg2000/Jp2Reader.h"
#include "codecs/pcx/PcxReader.h"
#include "codecs/png/PngReader.h"
#include "codecs/pnm/PxmReader.h"
#include "codecs/tga/TgaReader.h"
#include "codecs/tiff/TiffReader.h"
#include "codecs/wbmp/WbmpReader.h"
#include "imaging/bitmap/IEMask.h"
#include "platform/Stream.h"

#include <cmath>
#include <mutex>
#include <vector>

namespace {
// After a JPEG read: IPTC from APP13 and, where the file states no resolution of its own, the EXIF one.
void ReadJpegMetadata(TIOParamsVals& p) {
    ReadIptcFromMarkers(p.JpegMarkers, p.IPTCInfo);
    if (ReadExifFromMarkers(p.JpegMarkers, p) && p.HorizontalDpi == 1 && p.VerticalDpi == 1) {
        const double scale = p.ExifResolutionUnit == 3 ? 2.54 : 1.0;
        const double x = p.ExifXResolution * scale, y = p.ExifYResolution * scale;
        p.SetHorizontalDpi(x);
        p.SetVerticalDpi(y);
    }
}

void ReadJpeg(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
              TReadContext& c) {
    ReadJpegStream(s, nullptr, b, p, pr, c.HeaderOnly);
    ReadJpegMetadata(p);
}

void ReadPcx(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadPcxStream(s, b, p, c.HeaderOnly, pr, s.Remaining(), m);
}

void ReadBmp(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadBmpStream(s, b, s.Remaining(), c.HeaderOnly, pr, p, m);
}

void ReadIco(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadIcoStream(s, b, p, m, pr, c.HeaderOnly);
}

void ReadCur(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadCurStream(s, b, p, m, pr, c.HeaderOnly);
}

void ReadPng(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    const TColor bg = ColorToRGB(c.Background);
    p.PngBackgroundColor = CreateRGB(ColorRed(bg), ColorGreen(bg), ColorBlue(bg));
    // Header-only reads composite over the background; whole loads hand the alpha to the mask.
    ReadPngStream(s, b, p, c.HeaderOnly, m, c.HeaderOnly, pr);
    c.FileBackground = p.PngBackgroundColor;
}

void ReadTga(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadTgaStream(s, b, p, false, m, c.HeaderOnly, pr);
}

void ReadPxm(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
             TReadContext& c) {
    ReadPxmStream(s, b, p, c.HeaderOnly, pr);
}

void ReadWbmp(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
              TReadContext& c) {
    ReadWbmpStream(s, b, p, c.HeaderOnly, pr);
}

void ReadJpeg2000(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr,
                  std::unique_ptr<TIEMask>& m, TReadContext& c) {
    ReadJp2Stream(s, b, p, c.HeaderOnly, pr, m);
}

void ReadTiff(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
              TReadContext& c) {
    ReadTiffStream(b, s, c.FrameCount, false, false, false, m, c.HeaderOnly, pr, p);
}

void ReadGif(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadGifStream(s, b, c.FrameCount, false, m, c.HeaderOnly, pr, p);
}

int GifFrameCount(TStream& s) {
    const std::int64_t pos = s.Position();
    const int n = CountGifFrames(s);
    s.SetPosition(pos);
    return n;
}

// In the format table's order.
const std::vector<TFormatEntry>& Formats() {
    static const std::vector<TFormatEntry> formats = {
        {.Id = ioTIFF,
         .Read = ReadTiff,
         .CountImages = GetTiffFrameCount,
         .ImageCountField = &TIOParamsVals::TiffFrameCount,
         .RefusesStreamHeaders = true},
        {.Id = ioGIF,
         .Read = ReadGif,
         .Form = TLoadForm::Animation,
         .CountImages = GifFrameCount,
         .ImageCountField = &TIOParamsVals::GifFrameCount},
        {.Id = ioJPEG, .Read = ReadJpeg},
        {.Id = ioPCX, .Read = ReadPcx},
        {.Id = ioBMP, .Read = ReadBmp},
        {.Id = ioICO, .Read = ReadIco, .CountImages = GetIcoImageCount},
        {.Id = ioCUR, .Read = ReadCur},
        {.Id = ioPNG, .Read = ReadPng, .KeepsFileBackground = true},
        {.Id = ioTGA, .Read = ReadTga},
        {.Id = ioPXM, .Read = ReadPxm},
        {.Id = ioJP2, .Read = ReadJpeg2000},
        {.Id = ioJ2K, .Read = ReadJpeg2000},
        {.Id = ioWBMP, .Read = ReadWbmp},
    };
    return formats;
}
} // namespace

const TFormatEntry* ReadableFormat(int id) {
    for (const TFormatEntry& f : Formats())
        if (f.Id == id) return &f;
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

namespace readers {
bool IsPng(TStream& s) {
    return IsPngStream(s);
}
bool IsIco(TStream& s) {
    return IsIcoStream(s);
}
bool IsCur(TStream& s) {
    return IsCurStream(s);
}
bool IsTga(TStream& s) {
    return IsTgaStream(s);
}
bool IsPxm(TStream& s) {
    return IsPxmStream(s);
}
std::int64_t FindJpegStart(TStream& s) {
    return ::FindJpegStart(s);
}
} // namespace readers

void InstallDefaultDecoders() {
    // Once: components are also made on other threads (previews of web addresses) while loads read
    // these pointers.
    static std::once_flag once;
    std::call_once(once, [] {
        DefaultTiffLzwDecoder = &TiffLzwDecode;
        DefaultGifLzwDecoder = &GifLzwDecode;
    });
}
