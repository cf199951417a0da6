// Pixel type conversion of TIEBitmap.
#include "imaging/bitmap/BitmapInternals.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/Quantizer.h"
#include "platform/ByteOrder.h"
#include "platform/Exceptions.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The ordered-dither thresholds, indexed by (x mod 8) * 8 + (y mod 8).
constexpr std::uint8_t kDither[64] = {0,  32, 8,  40, 2,  34, 10, 42, 48, 16, 56, 24, 50, 18, 58, 26,
                                      12, 44, 4,  36, 14, 46, 6,  38, 60, 28, 52, 20, 62, 30, 54, 22,
                                      3,  35, 11, 43, 1,  33, 9,  41, 51, 19, 59, 27, 49, 17, 57, 25,
                                      15, 47, 7,  39, 13, 45, 5,  37, 63, 31, 55, 23, 61, 29, 53, 21};

float LoadFloat(const std::uint8_t* p) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
}
void StoreFloat(std::uint8_t* p, float f) {
    std::memcpy(p, &f, 4);
}

using bitmapinternals::FloatTo8;

// Scaled float levels; values outside 0..1 and NaN are clamped rather than overflowing.
std::uint16_t FloatTo16(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 65535;
    return static_cast<std::uint16_t>(v * 65535.0f);
}

std::uint16_t Gray16Of(const TIERgbTriple& p) {
    return static_cast<std::uint16_t>((p.r * 54272u + p.g * 182528u + p.b * 19200u) / 1000u);
}
float FloatOf(const TIERgbTriple& p) {
    return static_cast<float>((p.r * 0.2126 + p.g * 0.7152 + p.b * 0.0722) / 255.0);
}
std::uint8_t Gray8(const TIERgbTriple& p) {
    return GrayOf(p.r, p.g, p.b);
}

struct TSource {
    TIEPixelFormat Type;
    const TIERgbTriple* Palette; // 256 entries or nullptr
    int Width;
};

TIERgbTriple PaletteColour(const TSource& s, std::uint8_t index) {
    return s.Palette ? s.Palette[index] : TIERgbTriple{};
}

// One source row as colours: 1 white / 0 black, palette entries, grey levels in all three channels
// (16-bit: the high byte; float: trunc(v * 255)).
void RowAsRgb(const TSource& s, const std::uint8_t* in, TIERgbTriple* out) {
    for (int x = 0; x < s.Width; ++x) {
        switch (s.Type) {
        case ie1Bit: {
            const std::uint8_t v = ((in[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
            out[x] = {v, v, v};
            break;
        }
        case ie8Palette:
            out[x] = PaletteColour(s, in[x]);
            break;
        case ie8Gray:
            out[x] = {in[x], in[x], in[x]};
            break;
        case ie16Gray:
            out[x] = {in[2 * x + 1], in[2 * x + 1], in[2 * x + 1]};
            break;
        case ie24Rgb:
            std::memcpy(&out[x], in + 3 * std::int64_t(x), 3);
            break;
        case ie32f: {
            const std::uint8_t v = FloatTo8(LoadFloat(in + 4 * std::int64_t(x)));
            out[x] = {v, v, v};
            break;
        }
        default:
            out[x] = {};
            break;
        }
    }
}

void ConvertRowTo16(const TSource& s, const std::uint8_t* in, const TIERgbTriple* rgb, std::uint8_t* out) {
    for (int x = 0; x < s.Width; ++x) {
        std::uint16_t v = 0;
        switch (s.Type) {
        case ie1Bit:
            v = ((in[x >> 3] >> (7 - (x & 7))) & 1) ? 65535 : 0;
            break;
        case ie8Gray:
            v = static_cast<std::uint16_t>(in[x] * 256);
            break;
        case ie32f:
            v = FloatTo16(LoadFloat(in + 4 * std::int64_t(x)));
            break;
        default:
            v = Gray16Of(rgb[x]);
            break;
        }
        out[2 * x] = static_cast<std::uint8_t>(v & 0xFF);
        out[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
    }
}

void ConvertRowTo32f(const TSource& s, const std::uint8_t* in, const TIERgbTriple* rgb, std::uint8_t* out) {
    for (int x = 0; x < s.Width; ++x) {
        float v = 0;
        switch (s.Type) {
        case ie1Bit:
            v = ((in[x >> 3] >> (7 - (x & 7))) & 1) ? 1.0f : 0.0f;
            break;
        case ie8Gray:
            v = static_cast<float>(in[x] / 255.0);
            break;
        case ie16Gray:
            v = static_cast<float>(ReadLe16(in + 2 * x) / 65535.0);
            break;
        default:
            v = FloatOf(rgb[x]);
            break;
        }
        StoreFloat(out + 4 * std::int64_t(x), v);
    }
}

// Converts every row of source into destination (already allocated with the target type and the same
// size). whiteCutoff: pixels with all channels >= 251 dither to white (platform-bitmap conversions).
void ConvertPixels(TIEBitmap& source, TIEBitmap& destination, TIEMonoConversion mono, int paletteColors,
                   bool whiteCutoff) {
    const TIEPixelFormat from = source.PixelType(), to = destination.PixelType();
    const int w = std::min(source.Width(), destination.Width());
    const int h = std::min(source.Height(), destination.Height());
    if (from == ieNone || to == ieNone || w <= 0 || h <= 0) return;
    // Indexes beyond PaletteLength still read the palette room (256 entries).
    std::vector<TIERgbTriple> sourcePalette(256);
    if (from == ie8Palette && source.Palette()) std::copy_n(source.Palette(), 256, sourcePalette.begin());
    const TSource s{from, sourcePalette.data(), w};
    std::vector<TIERgbTriple> rgb(static_cast<std::size_t>(w));

    const std::uint8_t sourceAccess = source.Access, destinationAccess = destination.Access;
    source.Access = AccessRead;
    destination.Access = AccessWrite;
    struct TRestore {
        TIEBitmap& S;
        TIEBitmap& D;
        std::uint8_t SA, DA;
        ~TRestore() {
            S.Access = SA;
            D.Access = DA;
        }
    } restore{source, destination, sourceAccess, destinationAccess};

    std::unique_ptr<TIEQuantizer> quantizer;
    if (to == ie8Palette) {
        if (from == ie24Rgb) {
            quantizer = std::make_unique<TIEQuantizer>(source, paletteColors);
            for (int i = 0; i < 256; ++i) {
                const TIERgbTriple p = i < quantizer->ColorCount()
                                           ? quantizer->Palette()[static_cast<std::size_t>(i)]
                                           : TIERgbTriple{};
                destination.SetPaletteEntry(i, p);
            }
        } else if (from == ie1Bit) {
            destination.SetPaletteEntry(0, CreateRGB(0, 0, 0));
            destination.SetPaletteEntry(1, CreateRGB(255, 255, 255));
        } else {
            for (int i = 0; i < 256; ++i) {
                const auto v = static_cast<std::uint8_t>(i);
                destination.SetPaletteEntry(i, CreateRGB(v, v, v));
            }
        }
    }

    int threshold = 0;
    if (to == ie1Bit && mono == ieMeanThreshold && from != ie1Bit) {
        std::int64_t sum[3] = {0, 0, 0};
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* in = source.RowPointer(y);
            if (!in) continue;
            RowAsRgb(s, in, rgb.data());
            std::int64_t row[3] = {0, 0, 0};
            for (const TIERgbTriple& p : rgb) {
                row[0] += p.r;
                row[1] += p.g;
                row[2] += p.b;
            }
            for (int c = 0; c < 3; ++c) sum[c] += row[c] / w;
        }
        threshold = GrayOf(static_cast<std::uint8_t>(sum[0] / h), static_cast<std::uint8_t>(sum[1] / h),
                           static_cast<std::uint8_t>(sum[2] / h));
    }

    const int stride = std::min(source.RowStride(), destination.RowStride());
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in = source.RowPointer(y);
        std::uint8_t* out = destination.RowPointer(y);
        if (!in || !out) continue;
        if (from == ie1Bit && to == ie1Bit) {
            std::memcpy(out, in, static_cast<std::size_t>(stride));
            continue;
        }
        RowAsRgb(s, in, rgb.data());
        switch (to) {
        case ie1Bit:
            std::memset(out, 0, static_cast<std::size_t>(destination.RowStride()));
            for (int x = 0; x < w; ++x) {
                const TIERgbTriple& p = rgb[static_cast<std::size_t>(x)];
                bool white;
                if (mono == ieOrderedDither) {
                    int level = Gray8(p) / 4;
                    if (whiteCutoff && p.r >= 251 && p.g >= 251 && p.b >= 251) level = 64;
                    white = kDither[(x % 8) * 8 + (y % 8)] < level;
                } else {
                    white = Gray8(p) >= threshold;
                }
                if (white) out[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
            }
            break;
        case ie8Palette:
            for (int x = 0; x < w; ++x) {
                const TIERgbTriple& p = rgb[static_cast<std::size_t>(x)];
                if (quantizer)
                    out[x] = static_cast<std::uint8_t>(quantizer->RGBIndex(p));
                else if (from == ie1Bit)
                    out[x] = p.r ? 1 : 0;
                else
                    out[x] = p.r; // grey sources: the level is the index
            }
            break;
        case ie8Gray:
            for (int x = 0; x < w; ++x) out[x] = Gray8(rgb[static_cast<std::size_t>(x)]);
            break;
        case ie16Gray:
            ConvertRowTo16(s, in, rgb.data(), out);
            break;
        case ie24Rgb:
            std::memcpy(out, rgb.data(), 3 * static_cast<std::size_t>(w));
            break;
        case ie32f:
            ConvertRowTo32f(s, in, rgb.data(), out);
            break;
        default:
            break;
        }
    }
}

} // namespace

void TIEBitmap::ConvertTo(TIEPixelFormat pixelType) {
    if (pixelType > ie32f || pixelType == PixelType()) return;
    if (FLocation == ieTBitmap) {
        ConvertInTBitmap(pixelType);
        return;
    }
    auto scratch = NewScratch();
    SwapStorage(*scratch);
    FLocation = scratch->FLocation;
    try {
        AllocateStorage(scratch->FWidth, scratch->FHeight, pixelType);
        ConvertPixels(*scratch, *this, MonoConversion, PaletteColors, false);
        FAlphaPlane = std::move(scratch->FAlphaPlane);
    } catch (...) {
        FreeStorage(false, false);
        SwapStorage(*scratch);
        throw;
    }
}

void TIEBitmap::ConvertInTBitmap(TIEPixelFormat pixelType) {
    // The platform bitmap holds 1, 8 and 24 bits: 16-bit grey lands as 8-bit grey, floats are refused.
    if (pixelType == ie32f)
        throw EPlatformException("ie32f pixel format not allowed when Location=ieTBitmap");
    const TIEPixelFormat from = PixelType();
    const TIEPixelFormat to = pixelType == ie16Gray ? ie8Gray : pixelType;
    if (to == from || to == ieNone) return;
    auto converted = NewScratch();
    converted->SetLocation(ieHeap);
    converted->Reallocate(FWidth, FHeight, to);
    ConvertPixels(*this, *converted, MonoConversion, PaletteColors,
                  from == ie24Rgb && to == ie1Bit && MonoConversion == ieOrderedDither);
    AssignPixels(*converted, true);
}
