#include "imaging/io/Readers.h"

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

namespace {
using TReader = TPictoraIO::TReader;

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
} // namespace

namespace readers {
TReader Jpeg() {
    return [](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
              bool headerOnly) {
        ReadJpegStream(s, nullptr, b, p, pr, headerOnly);
        ReadJpegMetadata(p);
    };
}

TReader Pcx() {
    return [](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
              bool headerOnly) { ReadPcxStream(s, b, p, headerOnly, pr, s.Remaining(), m); };
}

TReader Bmp() {
    return [](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
              bool headerOnly) { ReadBmpStream(s, b, s.Remaining(), headerOnly, pr, p, m); };
}

TReader Ico() {
    return [](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
              bool headerOnly) { ReadIcoStream(s, b, p, m, pr, headerOnly); };
}

TReader Cur() {
    return [](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
              bool headerOnly) { ReadCurStream(s, b, p, m, pr, headerOnly); };
}

TReader Png(TColor defaultBackground, TIERgbTriple& fileBackground) {
    return [defaultBackground, &fileBackground](TStream& s, TIEBitmap& b, TIOParamsVals& p,
                                                TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
                                                bool headerOnly) {
        const TColor bg = ColorToRGB(defaultBackground);
        p.PngBackgroundColor = CreateRGB(ColorRed(bg), ColorGreen(bg), ColorBlue(bg));
        // Header-only reads composite over the background; whole loads hand the alpha to the mask.
        ReadPngStream(s, b, p, headerOnly, m, headerOnly, pr);
        fileBackground = p.PngBackgroundColor;
    };
}

TReader Tga() {
    return [](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
              bool headerOnly) { ReadTgaStream(s, b, p, false, m, headerOnly, pr); };
}

TReader Pxm() {
    return [](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
              bool headerOnly) { ReadPxmStream(s, b, p, headerOnly, pr); };
}

TReader Wbmp() {
    return [](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
              bool headerOnly) { ReadWbmpStream(s, b, p, headerOnly, pr); };
}

TReader Jpeg2000() {
    return [](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
              bool headerOnly) { ReadJp2Stream(s, b, p, headerOnly, pr, m); };
}

TReader Tiff(int& frameCount) {
    return [&frameCount](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr,
                         std::unique_ptr<TIEMask>& m, bool headerOnly) {
        ReadTiffStream(b, s, frameCount, false, false, false, m, headerOnly, pr, p);
    };
}

TReader Gif(int& frameCount) {
    return [&frameCount](TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr,
                         std::unique_ptr<TIEMask>& m,
                         bool headerOnly) { ReadGifStream(s, b, frameCount, false, m, headerOnly, pr, p); };
}

int GifFrameCount(TStream& s) {
    const std::int64_t pos = s.Position();
    const int n = CountGifFrames(s);
    s.SetPosition(pos);
    return n;
}
int TiffFrameCount(TStream& s) {
    return GetTiffFrameCount(s);
}

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

TReader ForFormat(int id, TColor background, TIERgbTriple& fileBackground, int& frameCount) {
    switch (id) {
    case ioTIFF:
        return Tiff(frameCount);
    case ioGIF:
        return Gif(frameCount);
    case ioJPEG:
        return Jpeg();
    case ioPCX:
        return Pcx();
    case ioBMP:
        return Bmp();
    case ioICO:
        return Ico();
    case ioCUR:
        return Cur();
    case ioPNG:
        return Png(background, fileBackground);
    case ioTGA:
        return Tga();
    case ioPXM:
        return Pxm();
    case ioJP2:
    case ioJ2K:
        return Jpeg2000();
    case ioWBMP:
        return Wbmp();
    default:
        return {};
    }
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
