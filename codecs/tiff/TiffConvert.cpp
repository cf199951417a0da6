#include "codecs/tiff/TiffConvert.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace tiff {

TConversion ClassifyConversion(int photometric, int spp, int bits, bool hasColorMap) {
    const bool byteBits = bits >= 1 && bits <= 8;
    switch (photometric) {
    case phWhiteIsZero:
    case phBlackIsZero:
        if (spp == 1 && bits == 1) return TConversion::Bilevel;
        if (spp >= 1 && byteBits) return TConversion::Gray;
        if (spp == 1 && bits == 16) return TConversion::Gray16;
        break;
    case phRgb:
        if (spp >= 3 && byteBits) return TConversion::Rgb;
        if (spp == 1 && bits == 16) return TConversion::Rgb555;
        break;
    case phPalette:
        if (!hasColorMap) break;
        if (spp == 1 && byteBits) return TConversion::Palette;
        if (spp >= 2 && byteBits) return TConversion::PaletteAlpha;
        break;
    case phSeparated:
        if (spp >= 4 && bits == 8) return TConversion::Cmyk;
        break;
    case phCieLab:
        if (spp >= 3 && bits == 8) return TConversion::Lab;
        break;
    case phYCbCr:
        if (spp == 3 && bits == 8) return TConversion::YCbCr;
        break;
    default:
        break;
    }
    return TConversion::Unsupported;
}

bool NeedsUnpack(const TRowFormat& format) {
    return format.BitsPerSample < 8 && format.Kind != TConversion::Bilevel;
}

void UnpackSamples(const std::uint8_t* packed, int bits, std::size_t count, std::uint8_t* out) {
    const unsigned mask = (1u << bits) - 1;
    std::size_t bit = 0;
    for (std::size_t i = 0; i < count; ++i, bit += std::size_t(bits)) {
        // A sample spans at most two bytes (bits <= 7).
        const std::size_t byte = bit >> 3;
        const unsigned shift = unsigned(bit & 7);
        unsigned window = unsigned(packed[byte]) << 8;
        if (shift + unsigned(bits) > 8) window |= packed[byte + 1];
        out[i] = std::uint8_t((window >> (16 - shift - unsigned(bits))) & mask);
    }
}

void UndoPredictor(std::uint8_t* s, std::size_t count, int stride, int bits, bool bigEndian) {
    const std::size_t st = std::size_t(std::max(stride, 1));
    if (bits == 8) {
        for (std::size_t i = st; i < count; ++i) s[i] = std::uint8_t(s[i] + s[i - st]);
    } else if (bits == 16 || bits == 32 || bits == 64) {
        const std::size_t bytes = std::size_t(bits / 8);
        // Each word added byte by byte from its least significant end, carrying (modulo its width).
        for (std::size_t i = st; i < count; ++i) {
            std::uint8_t* p = s + bytes * i;
            const std::uint8_t* q = s + bytes * (i - st);
            unsigned carry = 0;
            for (std::size_t k = 0; k < bytes; ++k) {
                const std::size_t at = bigEndian ? bytes - 1 - k : k;
                const unsigned sum = unsigned(p[at]) + q[at] + carry;
                p[at] = std::uint8_t(sum);
                carry = sum >> 8;
            }
        }
    }
}

namespace {

using TScaleTable = std::array<std::uint8_t, 256>;

// Samples of bits bits scaled to 0..255 (the full value becomes 255). Built once for every width,
// since rows are converted one at a time.
const TScaleTable& ScaleTable(int bits) {
    static const std::array<TScaleTable, 9> tables = [] {
        std::array<TScaleTable, 9> all{};
        for (int b = 1; b <= 8; ++b) {
            const unsigned max = (1u << b) - 1;
            for (unsigned v = 0; v < 256; ++v)
                all[std::size_t(b)][v] = std::uint8_t(std::min(v, max) * 255 / max);
        }
        all[0] = all[8]; // no width given: taken as bytes
        return all;
    }();
    return tables[std::size_t(std::clamp(bits, 0, 8))];
}

void PutPixel(std::uint8_t* out, int x, TIEPixelFormat target, TIERgbTriple c) {
    if (target == ie24Rgb) {
        std::uint8_t* p = out + std::size_t(x) * 3;
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    } else {
        out[x] = GrayOf(c.r, c.g, c.b);
    }
}

void PutGrey(std::uint8_t* out, int x, TIEPixelFormat target, std::uint8_t g) {
    if (target == ie24Rgb)
        std::memset(out + std::size_t(x) * 3, g, 3);
    else
        out[x] = g;
}

} // namespace

TIERgbTriple LabToRgb(std::uint8_t lByte, std::uint8_t aByte, std::uint8_t bByte) {
    // CIELab relative to D50, as TIFF stores it: L scaled to 0..255, a and b signed.
    const double l = lByte * 100.0 / 255.0, a = std::int8_t(aByte), b = std::int8_t(bByte);
    const double fy = (l + 16.0) / 116.0, fx = fy + a / 500.0, fz = fy - b / 200.0;
    constexpr double kDelta = 6.0 / 29.0;
    const auto finv = [](double t) {
        return t > kDelta ? t * t * t : 3.0 * kDelta * kDelta * (t - 4.0 / 29.0);
    };
    const double x50 = 0.96422 * finv(fx), y50 = finv(fy), z50 = 0.82521 * finv(fz);
    // Bradford adaptation from D50 to sRGB's D65 white.
    const double x = 0.9555766 * x50 - 0.0230393 * y50 + 0.0631636 * z50;
    const double y = -0.0282895 * x50 + 1.0099416 * y50 + 0.0210077 * z50;
    const double z = 0.0122982 * x50 - 0.0204830 * y50 + 1.3299098 * z50;
    const auto encode = [](double v) {
        v = std::clamp(v, 0.0, 1.0);
        v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
        return std::uint8_t(std::lround(v * 255.0));
    };
    return CreateRGB(encode(3.2404542 * x - 1.5371385 * y - 0.4985314 * z),
                     encode(-0.9692660 * x + 1.8760108 * y + 0.0415560 * z),
                     encode(0.0556434 * x - 0.2040259 * y + 1.0572252 * z));
}

bool ConvertRow(const TRowFormat& f, const std::uint8_t* s, int width, std::uint8_t* out,
                std::uint8_t* alpha) {
    const std::size_t spp = std::size_t(f.SamplesPerPixel);
    const bool white0 = f.Photometric == phWhiteIsZero;
    const auto word = [&](std::size_t i) { return unsigned(Read16(s + 2 * i, f.BigEndian)); };
    const auto colour = [&](unsigned index) {
        return index < f.ColorMap.size() ? f.ColorMap[index] : TIERgbTriple{};
    };
    const TScaleTable& scale = ScaleTable(f.BitsPerSample);
    const bool withAlpha = alpha && f.AlphaIndex >= 0 && std::size_t(f.AlphaIndex) < spp;
    const auto putAlpha = [&](int x) {
        if (withAlpha) alpha[x] = scale[s[std::size_t(x) * spp + std::size_t(f.AlphaIndex)]];
    };
    switch (f.Kind) {
    case TConversion::Bilevel: {
        const std::size_t bytes = (std::size_t(width) + 7) / 8;
        if (f.InvertBilevel)
            for (std::size_t i = 0; i < bytes; ++i) out[i] = std::uint8_t(~s[i]);
        else
            std::memcpy(out, s, bytes);
        return false;
    }
    case TConversion::Gray:
        for (int x = 0; x < width; ++x) {
            const std::uint8_t v = scale[s[std::size_t(x) * spp]];
            PutGrey(out, x, f.Target, white0 ? std::uint8_t(255 - v) : v);
            putAlpha(x);
        }
        return withAlpha;
    case TConversion::Gray16:
        for (int x = 0; x < width; ++x) {
            const unsigned v = word(std::size_t(x));
            if (f.Target == ie16Gray) {
                out[2 * x] = std::uint8_t(v);
                out[2 * x + 1] = std::uint8_t(v >> 8);
            } else {
                const unsigned g = (white0 ? 65535 - v : v) >> f.GreyShift;
                PutGrey(out, x, f.Target, std::uint8_t(std::min(g, 255u)));
            }
        }
        return false;
    case TConversion::Rgb:
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = s + std::size_t(x) * spp;
            PutPixel(out, x, f.Target, CreateRGB(scale[p[0]], scale[p[1]], scale[p[2]]));
            putAlpha(x);
        }
        return withAlpha;
    case TConversion::Rgb555:
        for (int x = 0; x < width; ++x) {
            const unsigned p = word(std::size_t(x));
            PutPixel(out, x, f.Target,
                     CreateRGB(std::uint8_t(((p >> 10) & 31) * 8), std::uint8_t(((p >> 5) & 31) * 8),
                               std::uint8_t((p & 31) * 8)));
        }
        return false;
    case TConversion::Palette:
        if (f.Target == ie8Palette) {
            std::memcpy(out, s, std::size_t(width));
            return false;
        }
        for (int x = 0; x < width; ++x) PutPixel(out, x, f.Target, colour(s[x]));
        return false;
    case TConversion::PaletteAlpha:
        for (int x = 0; x < width; ++x) {
            PutPixel(out, x, f.Target, colour(s[std::size_t(x) * spp]));
            putAlpha(x);
        }
        return withAlpha;
    case TConversion::Cmyk:
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = s + std::size_t(x) * spp;
            const unsigned k = 255u - p[3];
            PutPixel(out, x, f.Target,
                     CreateRGB(std::uint8_t((255u - p[0]) * k / 255), std::uint8_t((255u - p[1]) * k / 255),
                               std::uint8_t((255u - p[2]) * k / 255)));
            putAlpha(x);
        }
        return withAlpha;
    case TConversion::Lab:
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = s + std::size_t(x) * spp;
            PutPixel(out, x, f.Target, LabToRgb(p[0], p[1], p[2]));
            putAlpha(x);
        }
        return withAlpha;
    case TConversion::YCbCr:
    case TConversion::Unsupported:
        break;
    }
    return false;
}

} // namespace tiff
