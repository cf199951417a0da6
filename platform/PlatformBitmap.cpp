#include "platform/PlatformBitmap.h"

#include "platform/Allocator.h"
#include "platform/ByteOrder.h"
#include "platform/Exceptions.h"
#include "platform/SystemInfo.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

std::int64_t StrideFor(std::int64_t width, TPixelFormat format) {
    return ((width * PixelFormatBits(format) + 31) / 32) * 4;
}

std::vector<TColor> DefaultPalette(TPixelFormat format) {
    std::vector<TColor> palette;
    if (format == pf1bit) {
        palette = {clBlack, clWhite};
    } else if (format == pf4bit || format == pf8bit) {
        const int n = format == pf4bit ? 16 : 256;
        palette.resize(n);
        for (int i = 0; i < n; ++i) {
            const auto v = static_cast<std::uint8_t>(i * 255 / (n - 1));
            palette[i] = RGBColor(v, v, v);
        }
    }
    return palette;
}

} // namespace

// ---- TCanvas

void TCanvas::FillRect(const TRect& rect) {
    const int x0 = std::max(rect.Left, 0), y0 = std::max(rect.Top, 0);
    const int x1 = std::min(rect.Right, FOwner.Width()), y1 = std::min(rect.Bottom, FOwner.Height());
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) FOwner.SetPixel(x, y, BrushColor);
}

void TCanvas::Draw(int x, int y, const TBitmap& source) {
    if (&source == &FOwner) return;
    const int sx0 = std::max(0, -x), sy0 = std::max(0, -y);
    const int sx1 =
        static_cast<int>(std::min<std::int64_t>(source.Width(), std::int64_t(FOwner.Width()) - x));
    const int sy1 =
        static_cast<int>(std::min<std::int64_t>(source.Height(), std::int64_t(FOwner.Height()) - y));
    if (sx0 >= sx1 || sy0 >= sy1) return;
    const int bits = PixelFormatBits(source.PixelFormat());
    // Byte-aligned runs of the same format copy as bytes; everything else goes through colours.
    bool sameLayout = source.PixelFormat() == FOwner.PixelFormat() && (std::int64_t(x) * bits) % 8 == 0 &&
                      (std::int64_t(sx0) * bits) % 8 == 0;
    if (sameLayout && bits <= 8) {
        for (int i = 0; i < source.PaletteSize() && sameLayout; ++i)
            sameLayout = i < FOwner.PaletteSize() && source.PaletteEntry(i) == FOwner.PaletteEntry(i);
    }
    if (sameLayout) {
        const std::int64_t bitCount = std::int64_t(sx1 - sx0) * bits;
        const std::size_t whole = static_cast<std::size_t>(bitCount / 8);
        const int restBits = static_cast<int>(bitCount % 8);
        for (int sy = sy0; sy < sy1; ++sy) {
            const std::uint8_t* in = source.ScanLine(sy) + std::int64_t(sx0) * bits / 8;
            std::uint8_t* out = FOwner.ScanLine(sy + y) + (std::int64_t(sx0) + x) * bits / 8;
            std::memmove(out, in, whole);
            if (restBits) {
                const auto keep = static_cast<std::uint8_t>(0xFF >> restBits);
                out[whole] = static_cast<std::uint8_t>((out[whole] & keep) | (in[whole] & ~keep));
            }
        }
        return;
    }
    for (int sy = sy0; sy < sy1; ++sy)
        for (int sx = sx0; sx < sx1; ++sx) FOwner.SetPixel(sx + x, sy + y, source.Pixel(sx, sy));
}

// ---- TBitmap

TBitmap::TBitmap() : FCanvas(*this) {}

void TBitmap::TPixelFree::operator()(std::uint8_t* pixels) const noexcept {
    std::free(pixels);
}

TBitmap::TPixelStore TBitmap::ZeroedPixels(std::int64_t size) {
    if (size <= 0) return nullptr;
    TPixelStore pixels(static_cast<std::uint8_t*>(AllocateZeroedPixels(static_cast<std::size_t>(size))));
    if (!pixels) throw EOutOfMemory();
    return pixels;
}

void TBitmap::Allocate(int width, int height, bool keepContent) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    const std::int64_t stride = StrideFor(width, FFormat);
    if (stride > std::numeric_limits<std::int32_t>::max()) throw EOutOfMemory();
    const std::int64_t size = stride * height;
    const std::uint64_t available = AvailablePhysicalMemory();
    if (size > 0 && available != 0 && static_cast<std::uint64_t>(size) > available) throw EOutOfMemory();
    TPixelStore pixels = ZeroedPixels(size);
    if (keepContent && FPixels && pixels) {
        const int rows = std::min(height, FHeight);
        const auto bytes = static_cast<std::size_t>(std::min<std::int64_t>(stride, FStride));
        for (int r = 0; r < rows; ++r)
            std::memcpy(pixels.get() + std::int64_t(r) * stride, ScanLine(r), bytes);
        // Bits of a partly kept last byte that lie beyond the old width must not resurface.
        if (width > FWidth && FWidth > 0) {
            const std::int64_t oldBits = std::int64_t(FWidth) * PixelFormatBits(FFormat);
            if (oldBits % 8 != 0) {
                const auto keep = static_cast<std::uint8_t>(0xFF << (8 - oldBits % 8));
                for (int r = 0; r < rows; ++r) pixels[std::int64_t(r) * stride + oldBits / 8] &= keep;
            }
            const std::int64_t firstClear = (oldBits + 7) / 8;
            for (int r = 0; r < rows; ++r)
                std::memset(pixels.get() + std::int64_t(r) * stride + firstClear, 0,
                            static_cast<std::size_t>(stride - firstClear));
        }
    }
    FPixels = std::move(pixels);
    FWidth = width;
    FHeight = height;
    FStride = static_cast<int>(stride);
}

void TBitmap::SetSize(int width, int height) {
    if (width == FWidth && height == FHeight) return;
    Allocate(width, height, true);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == FFormat && FPixels) return;
    const TPixelFormat old = FFormat;
    FFormat = format;
    try {
        Allocate(FWidth, FHeight, false);
    } catch (...) {
        FFormat = old;
        throw;
    }
    FPalette = DefaultPalette(format);
    FMonochrome = format == pf1bit;
}

void TBitmap::SetMonochrome(bool monochrome) {
    if (monochrome) {
        if (FFormat != pf1bit) SetPixelFormat(pf1bit);
        FPalette = DefaultPalette(pf1bit);
    }
    FMonochrome = monochrome;
}

void TBitmap::SetPaletteSize(int count) {
    FPalette.resize(static_cast<std::size_t>(std::clamp(count, 0, 256)), clBlack);
}

TColor TBitmap::PaletteEntry(int index) const {
    return index >= 0 && index < PaletteSize() ? FPalette[static_cast<std::size_t>(index)] : clBlack;
}

void TBitmap::SetPaletteEntry(int index, TColor color) {
    if (index >= 0 && index < PaletteSize()) FPalette[static_cast<std::size_t>(index)] = color & 0x00FFFFFFu;
}

int TBitmap::NearestPaletteIndex(TColor color) const {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < PaletteSize(); ++i) {
        const TColor p = FPalette[static_cast<std::size_t>(i)];
        const long dr = long(ColorRed(p)) - ColorRed(color), dg = long(ColorGreen(p)) - ColorGreen(color),
                   db = long(ColorBlue(p)) - ColorBlue(color);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
            if (d == 0) break;
        }
    }
    return best;
}

TColor TBitmap::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return clBlack;
    const std::uint8_t* row = ScanLine(y);
    switch (FFormat) {
    case pf1bit:
        return PaletteEntry((row[x / 8] >> (7 - x % 8)) & 1);
    case pf4bit:
        return PaletteEntry((x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 0x0F);
    case pf8bit:
        return PaletteEntry(row[x]);
    case pf15bit:
    case pf16bit: {
        const unsigned v = ReadLe16(row + 2 * x);
        if (FFormat == pf15bit)
            return RGBColor(std::uint8_t(((v >> 10) & 31) << 3), std::uint8_t(((v >> 5) & 31) << 3),
                            std::uint8_t((v & 31) << 3));
        return RGBColor(std::uint8_t(((v >> 11) & 31) << 3), std::uint8_t(((v >> 5) & 63) << 2),
                        std::uint8_t((v & 31) << 3));
    }
    case pf24bit:
        return RGBColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    default:
        return RGBColor(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    }
}

void TBitmap::SetPixel(int x, int y, TColor color) {
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return;
    color = ColorToRGB(color);
    std::uint8_t* row = ScanLine(y);
    const std::uint8_t r = ColorRed(color), g = ColorGreen(color), b = ColorBlue(color);
    switch (FFormat) {
    case pf1bit: {
        const auto mask = static_cast<std::uint8_t>(0x80 >> (x % 8));
        if (NearestPaletteIndex(color) != 0)
            row[x / 8] |= mask;
        else
            row[x / 8] &= static_cast<std::uint8_t>(~mask);
        break;
    }
    case pf4bit: {
        const auto i = static_cast<std::uint8_t>(NearestPaletteIndex(color) & 0x0F);
        std::uint8_t& byte = row[x / 2];
        byte = (x % 2 == 0) ? static_cast<std::uint8_t>((byte & 0x0F) | (i << 4))
                            : static_cast<std::uint8_t>((byte & 0xF0) | i);
        break;
    }
    case pf8bit:
        row[x] = static_cast<std::uint8_t>(NearestPaletteIndex(color));
        break;
    case pf15bit:
    case pf16bit: {
        const unsigned v = FFormat == pf15bit ? ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)
                                              : ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
        row[2 * x] = static_cast<std::uint8_t>(v & 0xFF);
        row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
        break;
    }
    case pf24bit:
        row[3 * x] = b;
        row[3 * x + 1] = g;
        row[3 * x + 2] = r;
        break;
    default:
        row[4 * x] = b;
        row[4 * x + 1] = g;
        row[4 * x + 2] = r;
        row[4 * x + 3] = 0;
        break;
    }
}

void TBitmap::Assign(const TBitmap& source) {
    if (&source == this) return;
    const std::int64_t size = source.PixelBlockSize();
    TPixelStore pixels = ZeroedPixels(size);
    if (pixels) std::memcpy(pixels.get(), source.FPixels.get(), static_cast<std::size_t>(size));
    FPixels = std::move(pixels);
    FWidth = source.FWidth;
    FHeight = source.FHeight;
    FStride = source.FStride;
    FFormat = source.FFormat;
    FMonochrome = source.FMonochrome;
    FPalette = source.FPalette;
}
