// Fills and single-pixel queries of TIEBitmap.
#include "imaging/bitmap/BitmapInternals.h"
#include "imaging/bitmap/IEBitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using bitmapinternals::FloatTo8;
using bitmapinternals::TAccessScope;

namespace {

// Truncation towards zero that cannot overflow (NaN becomes 0).
std::int64_t TruncToInt64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

} // namespace

// ---- fills

bool TIEBitmap::FillAll(double value) {
    const TIEPixelFormat t = PixelType();
    if (t == ieNone) return FullyOpaque;
    const std::int64_t n = TruncToInt64(value);
    TAccessScope access(*this, AccessWrite);
    const auto stride = static_cast<std::size_t>(FRowStride);
    bool opaque = false;
    switch (t) {
    case ie1Bit:
    case ie8Palette:
    case ie8Gray: {
        const std::int64_t v = (t == ie1Bit && n > 0) ? 255 : n;
        const auto byte = static_cast<std::uint8_t>(v & 0xFF);
        for (int r = 0; r < FHeight; ++r)
            if (std::uint8_t* row = RowPointer(r)) std::memset(row, byte, stride);
        opaque = t == ie1Bit ? n != 0 : n == 255;
        break;
    }
    case ie16Gray: {
        const auto v = static_cast<std::uint16_t>(n & 0xFFFF);
        const std::uint8_t lo = static_cast<std::uint8_t>(v & 0xFF), hi = static_cast<std::uint8_t>(v >> 8);
        for (int r = 0; r < FHeight; ++r) {
            std::uint8_t* row = RowPointer(r);
            if (!row) continue;
            for (int x = 0; x < FWidth; ++x) {
                row[2 * x] = lo;
                row[2 * x + 1] = hi;
            }
        }
        opaque = n == 65535;
        break;
    }
    case ie24Rgb: {
        const TColor c = ColorToRGB(static_cast<TColor>(n & 0xFFFFFFFF));
        const TIERgbTriple px = CreateRGB(ColorRed(c), ColorGreen(c), ColorBlue(c));
        for (int r = 0; r < FHeight; ++r) {
            std::uint8_t* row = RowPointer(r);
            if (!row) continue;
            for (int x = 0; x < FWidth; ++x) std::memcpy(row + 3 * std::int64_t(x), &px, 3);
        }
        opaque = px == CreateRGB(255, 255, 255);
        break;
    }
    case ie32f: {
        const auto f = static_cast<float>(value);
        for (int r = 0; r < FHeight; ++r) {
            std::uint8_t* row = RowPointer(r);
            if (!row) continue;
            for (int x = 0; x < FWidth; ++x) std::memcpy(row + 4 * std::int64_t(x), &f, 4);
        }
        opaque = value == 1.0;
        break;
    }
    default:
        break;
    }
    FullyOpaque = opaque;
    return FullyOpaque;
}

void TIEBitmap::FillRectangle(int x1, int y1, int x2, int y2, double value) {
    const TIEPixelFormat t = PixelType();
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, FWidth - 1);
    y2 = std::min(y2, FHeight - 1);
    if (t == ieNone || x2 < x1 || y2 < y1) return;
    const std::int64_t n = TruncToInt64(value);
    const std::size_t count = static_cast<std::size_t>(x2 - x1 + 1);
    const TColor c = ColorToRGB(static_cast<TColor>(n & 0xFFFFFFFF));
    const TIERgbTriple px = CreateRGB(ColorRed(c), ColorGreen(c), ColorBlue(c));
    const auto f = static_cast<float>(value);
    for (int y = y1; y <= y2; ++y) {
        std::uint8_t* row = RowPointer(y);
        if (!row) continue;
        switch (t) {
        case ie1Bit:
            for (int x = x1; x <= x2; ++x) {
                const auto mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
                if (n != 0)
                    row[x >> 3] |= mask;
                else
                    row[x >> 3] &= static_cast<std::uint8_t>(~mask);
            }
            break;
        case ie8Palette:
        case ie8Gray:
            std::memset(row + x1, static_cast<int>(n & 0xFF), count);
            break;
        case ie16Gray:
            for (int x = x1; x <= x2; ++x) {
                row[2 * std::int64_t(x)] = static_cast<std::uint8_t>(n & 0xFF);
                row[2 * std::int64_t(x) + 1] = static_cast<std::uint8_t>((n >> 8) & 0xFF);
            }
            break;
        case ie24Rgb:
            for (int x = x1; x <= x2; ++x) std::memcpy(row + 3 * std::int64_t(x), &px, 3);
            break;
        case ie32f:
            for (int x = x1; x <= x2; ++x) std::memcpy(row + 4 * std::int64_t(x), &f, 4);
            break;
        default:
            break;
        }
    }
}

// ---- pixel queries

TIERgbTriple TIEBitmap::PixelAsRgb(int x, int y) {
    const TIEPixelFormat t = PixelType();
    if (t == ieNone || x < 0 || y < 0 || x >= FWidth || y >= FHeight) return {};
    const std::uint8_t* row = RowPointer(y);
    if (!row) return {};
    switch (t) {
    case ie1Bit: {
        const std::uint8_t v = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
        return {v, v, v};
    }
    case ie8Palette:
        return row[x] < FPalette.size() ? FPalette[row[x]] : TIERgbTriple{};
    case ie8Gray:
        return {row[x], row[x], row[x]};
    case ie16Gray:
        return {row[2 * x + 1], row[2 * x + 1], row[2 * x + 1]};
    case ie24Rgb: {
        TIERgbTriple p;
        std::memcpy(&p, row + 3 * std::int64_t(x), 3);
        return p;
    }
    case ie32f: {
        float f;
        std::memcpy(&f, row + 4 * std::int64_t(x), 4);
        const std::uint8_t v = FloatTo8(f);
        return {v, v, v};
    }
    default:
        return {};
    }
}

bool TIEBitmap::IsGreyscale() {
    const TIEPixelFormat t = PixelType();
    if (t == ie8Palette) {
        for (int i = 0; i < FPaletteLength && static_cast<std::size_t>(i) < FPalette.size(); ++i) {
            const TIERgbTriple& p = FPalette[static_cast<std::size_t>(i)];
            if (p.r != p.g || p.g != p.b) return false;
        }
        return true;
    }
    if (t == ie24Rgb) {
        TAccessScope access(*this, AccessRead);
        for (int y = 0; y < FHeight; ++y) {
            const std::uint8_t* row = RowPointer(y);
            if (!row) continue;
            for (int x = 0; x < FWidth; ++x) {
                const std::uint8_t* p = row + 3 * std::int64_t(x);
                if (p[0] != p[1] || p[1] != p[2]) return false;
            }
        }
    }
    return true;
}
