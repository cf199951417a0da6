#include "codecs/metafile/Metafile.h"
#include "codecs/metafile/CairoLibrary.h"

#include "codecs/metafile/MetafileCanvas.h"
#include "codecs/metafile/MetafilePlayers.h"
#include "codecs/metafile/MetafileRecords.h"
#include "platform/ByteOrder.h"
#include "platform/Exceptions.h"
#include "platform/Stream.h"

#include <algorithm>
#include <cmath>

using metafile::TCanvasSetup;
using metafile::TEmrType;
using metafile::TGdiCanvas;
using metafile::TRectD;
using metafile::TWmfFunction;
using metafile::TWmfType;
using metafile::TXform;

namespace {

constexpr std::int64_t kMaxFileBytes = std::int64_t(256) << 20;
// Rendering works in tiles so cairo's surfaces stay small whatever the requested size.
constexpr int kTileSide = 4096;
constexpr std::int64_t kTileBytes = std::int64_t(64) << 20;
constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr std::uint32_t kEmfSignature = 0x464D4520u; // " EMF"
constexpr std::uint16_t kWmfHeaderWords = 9;
constexpr double kScreenPxPerMm = kMetafileScreenDpi / 25.4;

std::uint16_t U16(const std::vector<std::uint8_t>& d, std::size_t o) {
    return ReadLe16(d.data() + o);
}
std::int16_t I16(const std::vector<std::uint8_t>& d, std::size_t o) {
    return std::int16_t(U16(d, o));
}
std::uint32_t U32(const std::vector<std::uint8_t>& d, std::size_t o) {
    return ReadLe32(d.data() + o);
}
std::int32_t I32(const std::vector<std::uint8_t>& d, std::size_t o) {
    return std::int32_t(U32(d, o));
}

// a * b / c rounded half away from zero, as the platform's MulDiv does.
double MulDiv(double a, double b, double c) {
    return c == 0 ? 0 : std::round(a * b / c);
}

int ClampSide(double v) {
    if (!std::isfinite(v) || v <= 0) return 0;
    return int(std::min<double>(std::round(v), kMetafileMaxPictureSide));
}

int ClampInt(double v) {
    if (!std::isfinite(v)) return 0;
    return int(std::clamp<double>(std::round(v), INT32_MIN, INT32_MAX));
}

double SanePxPerMm(double v) {
    return std::isfinite(v) && v >= 0.01 && v <= 1e5 ? v : kScreenPxPerMm;
}

} // namespace

void TMetafile::Clear() {
    *this = TMetafile();
}

bool TMetafile::LoadFromFile(const std::string& Path) {
    TFileStream stream(Path, fmOpenRead | fmShareDenyWrite);
    return LoadFromStream(stream);
}

bool TMetafile::LoadFromStream(TStream& Stream) {
    Clear();
    const std::int64_t n = Stream.Remaining();
    if (n < 18 || n > kMaxFileBytes) return false;
    FData.resize(std::size_t(n));
    std::int64_t got = 0;
    while (got < n) {
        const std::int64_t r = Stream.Read(FData.data() + got, n - got);
        if (r <= 0) break;
        got += r;
    }
    FData.resize(std::size_t(got));
    bool ok = false;
    if (FData.size() >= 88 && TEmrType(U32(FData, 0)) == TEmrType::Header && U32(FData, 40) == kEmfSignature)
        ok = LoadEmf();
    else if (FData.size() >= 18)
        ok = LoadWmf();
    if (!ok) Clear();
    return ok;
}

bool TMetafile::LoadWmf() {
    std::size_t off = 0;
    double left = 0, top = 0, right = 0, bottom = 0, inch = 0;
    bool framed = false;
    if (U32(FData, 0) == kPlaceableKey) {
        if (FData.size() < 22 + 18) return false;
        left = I16(FData, 6), top = I16(FData, 8), right = I16(FData, 10), bottom = I16(FData, 12);
        inch = U16(FData, 14);
        if (inch == 0) inch = 1440;
        if (left > right) std::swap(left, right);
        if (top > bottom) std::swap(top, bottom);
        framed = right > left && bottom > top;
        off = 22;
    }
    const auto type = TWmfType(U16(FData, off));
    const std::uint16_t headerWords = U16(FData, off + 2);
    if ((type != TWmfType::Memory && type != TWmfType::Disk) || headerWords != kWmfHeaderWords) return false;
    FWmfObjects = U16(FData, off + 10);
    FWmfRecords = off + 18;

    if (!framed) {
        // No placeable header: the first window the records set frames the picture, in twips as the
        // usual writers of such files measure; failing that, whatever the records draw, taken in pixels.
        bool extFound = false, orgFound = false;
        double ox = 0, oy = 0, ex = 0, ey = 0;
        for (std::size_t pos = FWmfRecords; FData.size() - pos >= 6;) {
            const std::uint64_t words = U32(FData, pos);
            const auto fn = TWmfFunction(U16(FData, pos + 4));
            if (fn == TWmfFunction::Eof || words < 3 || words * 2 > FData.size() - pos) break;
            if (fn == TWmfFunction::SetWindowOrg && words >= 5 && !orgFound)
                oy = I16(FData, pos + 6), ox = I16(FData, pos + 8), orgFound = true;
            if (fn == TWmfFunction::SetWindowExt && words >= 5 && !extFound)
                ey = I16(FData, pos + 6), ex = I16(FData, pos + 8), extFound = true;
            pos += std::size_t(words * 2);
        }
        if (extFound && ex != 0 && ey != 0) {
            left = std::min(ox, ox + ex), right = std::max(ox, ox + ex);
            top = std::min(oy, oy + ey), bottom = std::max(oy, oy + ey);
            inch = 1440;
        } else {
            TCanvasSetup setup;
            TGdiCanvas measure(nullptr, 0, 0, setup);
            metafile::PlayWmf(FData, FWmfRecords, FWmfObjects, measure);
            TRectD r;
            if (!measure.MeasuredBounds(r)) return false;
            left = std::floor(r.Left), top = std::floor(r.Top), right = std::ceil(r.Right),
            bottom = std::ceil(r.Bottom);
            inch = kMetafileScreenDpi;
        }
        if (!(right > left) || !(bottom > top)) return false;
    }
    FEnhanced = false;
    FWmfLeft = left, FWmfTop = top, FWmfRight = right, FWmfBottom = bottom, FWmfInch = inch;
    // Via hundredths of a millimetre, as the platform's metafile object rounds.
    const double mmw = MulDiv(right - left, 2540, inch), mmh = MulDiv(bottom - top, 2540, inch);
    FMMWidth = ClampInt(mmw);
    FMMHeight = ClampInt(mmh);
    FWidth = ClampSide(MulDiv(mmw, kMetafileScreenDpi, 2540));
    FHeight = ClampSide(MulDiv(mmh, kMetafileScreenDpi, 2540));
    return true;
}

bool TMetafile::LoadEmf() {
    const std::uint32_t headerSize = U32(FData, 4);
    if (headerSize < 88 || headerSize > FData.size()) return false;
    const double bl = I32(FData, 8), bt = I32(FData, 12), br = I32(FData, 16), bb = I32(FData, 20);
    const double fl = I32(FData, 24), ft = I32(FData, 28), fr = I32(FData, 32), fb = I32(FData, 36);
    const double devX = I32(FData, 72), devY = I32(FData, 76), mmX = I32(FData, 80), mmY = I32(FData, 84);
    double pxX = devX > 0 && mmX > 0 ? devX / mmX : kScreenPxPerMm;
    double pxY = devY > 0 && mmY > 0 ? devY / mmY : kScreenPxPerMm;
    // The header's extensions are present only where the description does not start.
    std::uint64_t extent = headerSize;
    const std::uint32_t nDescription = U32(FData, 60), offDescription = U32(FData, 64);
    if (nDescription && offDescription >= 88 && offDescription < extent) extent = offDescription;
    if (extent >= 108) { // micrometres give the device size more precisely
        const double umX = I32(FData, 100), umY = I32(FData, 104);
        // Only when they agree with the millimetres; some writers leave them unset.
        if (devX > 0 && umX > 0 && std::fabs(devX / (umX / 1000) / pxX - 1) < 0.1) pxX = devX / (umX / 1000);
        if (devY > 0 && umY > 0 && std::fabs(devY / (umY / 1000) / pxY - 1) < 0.1) pxY = devY / (umY / 1000);
    }
    FEmfPxPerMmX = SanePxPerMm(pxX);
    FEmfPxPerMmY = SanePxPerMm(pxY);
    if (fr > fl && fb > ft) {
        FEmfLeft = fl * FEmfPxPerMmX / 100, FEmfTop = ft * FEmfPxPerMmY / 100;
        FEmfRight = fr * FEmfPxPerMmX / 100, FEmfBottom = fb * FEmfPxPerMmY / 100;
        FMMWidth = ClampInt(fr - fl), FMMHeight = ClampInt(fb - ft);
    } else if (br >= bl && bb >= bt) { // no frame: the bounds, inclusive, in device pixels
        FEmfLeft = bl, FEmfTop = bt, FEmfRight = br + 1, FEmfBottom = bb + 1;
        FMMWidth = ClampInt((br + 1 - bl) / FEmfPxPerMmX * 100);
        FMMHeight = ClampInt((bb + 1 - bt) / FEmfPxPerMmY * 100);
    } else {
        return false;
    }
    FEmfHandles = U16(FData, 56);
    FEnhanced = true;
    // The natural size is the picture's physical size at screen resolution, as WMF's is: taken in
    // the reference device's pixels, a printer-referenced picture would be several times too large.
    FWidth = ClampSide(FMMWidth * kScreenPxPerMm / 100);
    FHeight = ClampSide(FMMHeight * kScreenPxPerMm / 100);
    return true;
}

bool TMetafile::Draw(std::uint8_t* Buffer, int Width, int Height, std::ptrdiff_t Stride,
                     TColor Background) const {
    if (!Buffer || Width < 1 || Height < 1 || Stride < std::ptrdiff_t(Width) * 3)
        throw EPlatformException("Invalid metafile drawing buffer");
    const TColor bg = ColorToRGB(Background);
    const std::uint8_t bgR = ColorRed(bg), bgG = ColorGreen(bg), bgB = ColorBlue(bg);
    for (int y = 0; y < Height; ++y) {
        std::uint8_t* row = Buffer + std::ptrdiff_t(y) * Stride;
        for (int x = 0; x < Width; ++x) row[3 * x] = bgB, row[3 * x + 1] = bgG, row[3 * x + 2] = bgR;
    }
    if (Empty()) return false;

    const int tileW = std::min(Width, kTileSide);
    const int tileH =
        int(std::clamp<std::int64_t>(kTileBytes / (std::int64_t(tileW) * 4), 1, std::min(Height, kTileSide)));
    bool complete = true;
    for (int ty = 0; ty < Height; ty += tileH) {
        for (int tx = 0; tx < Width; tx += tileW) {
            const int tw = std::min(tileW, Width - tx), th = std::min(tileH, Height - ty);
            cairo_surface_t* surface = Cairo().cairo_image_surface_create(CAIRO_FORMAT_RGB24, tw, th);
            if (Cairo().cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
                Cairo().cairo_surface_destroy(surface);
                return false;
            }
            cairo_t* cr = Cairo().cairo_create(surface);
            Cairo().cairo_set_source_rgb(cr, bgR / 255.0, bgG / 255.0, bgB / 255.0);
            Cairo().cairo_paint(cr);

            TCanvasSetup setup;
            if (FEnhanced) {
                const double sx = Width / (FEmfRight - FEmfLeft), sy = Height / (FEmfBottom - FEmfTop);
                setup.Fit = TXform{sx, 0, 0, sy, -FEmfLeft * sx - tx, -FEmfTop * sy - ty};
                setup.PxPerMmX = FEmfPxPerMmX;
                setup.PxPerMmY = FEmfPxPerMmY;
            } else {
                const double rw = (FWmfRight - FWmfLeft) * kMetafileScreenDpi / FWmfInch;
                const double rh = (FWmfBottom - FWmfTop) * kMetafileScreenDpi / FWmfInch;
                setup.Fit = TXform{Width / rw, 0, 0, Height / rh, double(-tx), double(-ty)};
                setup.Wmf = true;
                setup.WmfFrame = {FWmfLeft, FWmfTop, FWmfRight, FWmfBottom};
                setup.WmfViewport = {rw, rh};
            }
            {
                TGdiCanvas canvas(cr, tw, th, setup);
                const bool ok = FEnhanced ? metafile::PlayEmf(FData, FEmfHandles, canvas)
                                          : metafile::PlayWmf(FData, FWmfRecords, FWmfObjects, canvas);
                complete = complete && ok;
            }
            Cairo().cairo_destroy(cr);
            Cairo().cairo_surface_flush(surface);
            const unsigned char* data = Cairo().cairo_image_surface_get_data(surface);
            const int stride = Cairo().cairo_image_surface_get_stride(surface);
            for (int y = 0; y < th; ++y) {
                const auto* src = reinterpret_cast<const std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
                std::uint8_t* dst = Buffer + std::ptrdiff_t(ty + y) * Stride + std::ptrdiff_t(tx) * 3;
                for (int x = 0; x < tw; ++x) {
                    const std::uint32_t px = src[x];
                    dst[3 * x] = std::uint8_t(px), dst[3 * x + 1] = std::uint8_t(px >> 8),
                            dst[3 * x + 2] = std::uint8_t(px >> 16);
                }
            }
            Cairo().cairo_surface_destroy(surface);
        }
    }
    return complete;
}
