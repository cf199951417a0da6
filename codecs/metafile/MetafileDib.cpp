#include "codecs/metafile/MetafileDib.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace metafile {

namespace {

std::uint32_t Opaque(TRgb c) {
    return 0xFF000000u | (std::uint32_t(c.R) << 16) | (std::uint32_t(c.G) << 8) | c.B;
}

// The 16 colours of the default palette, cycled for palette indexes with no logical palette.
constexpr TRgb kVga[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                           {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                           {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                           {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

struct TMaskChannel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    std::uint32_t Max = 0;
    explicit TMaskChannel(std::uint32_t m) : Mask(m) {
        if (!m) return;
        while (!((m >> Shift) & 1)) ++Shift;
        Max = m >> Shift;
    }
    std::uint8_t Get(std::uint32_t v) const {
        if (!Max) return 0;
        return std::uint8_t((std::uint64_t((v & Mask) >> Shift) * 255 + Max / 2) / Max);
    }
};

// Sampling grid: which source pixels land in the output.
struct TGrid {
    int X0, Y0, W, H, StepX, StepY, OutW, OutH;
};

bool MakeGrid(const TDibHeader& h, int cropX, int cropY, int cropW, int cropH, int maxW, int maxH, TGrid& g) {
    const std::int64_t x0 = std::clamp<std::int64_t>(cropX, 0, h.Width);
    const std::int64_t y0 = std::clamp<std::int64_t>(cropY, 0, h.Height);
    const std::int64_t x1 = std::clamp<std::int64_t>(std::int64_t(cropX) + cropW, 0, h.Width);
    const std::int64_t y1 = std::clamp<std::int64_t>(std::int64_t(cropY) + cropH, 0, h.Height);
    if (x1 <= x0 || y1 <= y0) return false;
    g.X0 = int(x0);
    g.Y0 = int(y0);
    g.W = int(x1 - x0);
    g.H = int(y1 - y0);
    maxW = std::max(1, maxW);
    maxH = std::max(1, maxH);
    g.StepX = std::max(1, (g.W + maxW - 1) / maxW);
    g.StepY = std::max(1, (g.H + maxH - 1) / maxH);
    // Keep the pixel count bounded even when the caller's limits are generous.
    while (std::int64_t((g.W + g.StepX - 1) / g.StepX) * ((g.H + g.StepY - 1) / g.StepY) >
           kMaxDecodedPixels) {
        ++g.StepX;
        ++g.StepY;
    }
    g.OutW = (g.W + g.StepX - 1) / g.StepX;
    g.OutH = (g.H + g.StepY - 1) / g.StepY;
    return true;
}

// Run-length bitmaps are walked in file order; only pixels on the sampling grid are stored.
void DecodeRle(const TDibHeader& h, const std::uint8_t* p, std::size_t n, const TGrid& g, TImage& out) {
    const bool four = h.Compression == BI_RLE4;
    std::int64_t x = 0, y = 0; // file coordinates, row 0 at the bottom
    auto put = [&](std::uint8_t index) {
        const std::int64_t sy = h.Height - 1 - y, sx = x;
        ++x;
        if (sx < g.X0 || sy < g.Y0 || sx >= g.X0 + std::int64_t(g.W) || sy >= g.Y0 + std::int64_t(g.H))
            return;
        if ((sx - g.X0) % g.StepX || (sy - g.Y0) % g.StepY) return;
        const TRgb c = index < h.Colors.size() ? h.Colors[index] : TRgb{};
        out.Pixels[std::size_t((sy - g.Y0) / g.StepY) * out.Width + std::size_t((sx - g.X0) / g.StepX)] =
            Opaque(c);
    };
    std::size_t i = 0;
    while (i + 1 < n && y < h.Height) {
        const std::uint8_t count = p[i], value = p[i + 1];
        i += 2;
        if (count) {
            for (int k = 0; k < count && x < h.Width; ++k)
                put(four ? std::uint8_t((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // delta
            if (i + 1 >= n) break;
            x += p[i];
            y += p[i + 1];
            i += 2;
        } else { // absolute run, padded to a word
            const std::size_t bytes = four ? (std::size_t(value) + 1) / 2 : value;
            if (i + bytes > n) break;
            for (int k = 0; k < value && x < h.Width; ++k) {
                const std::uint8_t b = p[i + (four ? std::size_t(k / 2) : std::size_t(k))];
                put(four ? std::uint8_t((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            i += (bytes + 1) & ~std::size_t(1);
        }
    }
}

} // namespace

bool ParseDibHeader(const std::uint8_t* p, std::size_t n, std::uint32_t usage, const TPalette* palette,
                    TDibHeader& h) {
    h = TDibHeader{};
    if (!p || n < 12) return false;
    const std::uint32_t size = ReadLe32(p);
    std::int64_t width, height;
    std::uint32_t clrUsed = 0;
    std::size_t entryBytes = usage == DIB_PAL_COLORS ? 2 : usage == DIB_PAL_MONO ? 0 : 4;
    if (size == 12) {
        width = ReadLe16(p + 4);
        height = std::int16_t(ReadLe16(p + 6));
        h.BitCount = ReadLe16(p + 10);
        if (usage != DIB_PAL_COLORS && usage != DIB_PAL_MONO) entryBytes = 3;
    } else if (size >= 40 && size <= 1024 && n >= size) {
        width = std::int32_t(ReadLe32(p + 4));
        height = std::int32_t(ReadLe32(p + 8));
        h.BitCount = ReadLe16(p + 14);
        h.Compression = ReadLe32(p + 16);
        clrUsed = ReadLe32(p + 32);
        if (size >= 52) // V2 and later carry the masks in the header
            for (int k = 0; k < 3; ++k) h.Masks[k] = ReadLe32(p + 40 + 4 * k);
    } else {
        return false;
    }
    h.InfoBytes = size;
    if (h.Compression == BI_BITFIELDS && size == 40) {
        if (n < 52) return false;
        for (int k = 0; k < 3; ++k) h.Masks[k] = ReadLe32(p + 40 + 4 * k);
        h.InfoBytes += 12;
    }
    h.TopDown = height < 0;
    if (height < 0) height = -height;
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide) return false;
    h.Width = int(width);
    h.Height = int(height);
    switch (h.BitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return false;
    }
    const bool rleOk =
        (h.Compression == BI_RLE8 && h.BitCount == 8) || (h.Compression == BI_RLE4 && h.BitCount == 4);
    const bool fieldsOk = h.Compression == BI_BITFIELDS && (h.BitCount == 16 || h.BitCount == 32);
    if (h.Compression != BI_RGB && !rleOk && !fieldsOk) return false;
    if (rleOk && h.TopDown) return false;
    if (h.Compression == BI_RGB || !fieldsOk) {
        if (h.BitCount == 16) h.Masks[0] = 0x7C00, h.Masks[1] = 0x03E0, h.Masks[2] = 0x001F;
        if (h.BitCount == 32) h.Masks[0] = 0xFF0000, h.Masks[1] = 0xFF00, h.Masks[2] = 0xFF;
    }

    std::uint64_t entries = clrUsed;
    if (h.BitCount <= 8 && (entries == 0 || entries > (1u << h.BitCount))) {
        // A table longer than the depth needs still occupies the space it declares.
        if (entries == 0) entries = 1u << h.BitCount;
    }
    if (entries > 65536) return false;
    const std::uint64_t tableBytes = entries * entryBytes;
    if (h.InfoBytes + tableBytes > n) {
        if (h.BitCount > 8) { // a colour table a true-colour bitmap does not use
            entries = 0;
        } else {
            return false;
        }
    } else {
        h.InfoBytes += std::size_t(tableBytes);
    }
    if (h.BitCount <= 8) {
        const std::size_t used = std::size_t(std::min<std::uint64_t>(entries, 1u << h.BitCount));
        const std::uint8_t* t = p + size + ((h.Compression == BI_BITFIELDS && size == 40) ? 12 : 0);
        h.Colors.resize(used);
        for (std::size_t k = 0; k < used; ++k) {
            if (usage == DIB_PAL_MONO) {
                h.Colors[k] = k ? TRgb{255, 255, 255} : TRgb{0, 0, 0};
            } else if (usage == DIB_PAL_COLORS) {
                const std::uint16_t idx = ReadLe16(t + 2 * k);
                if (palette && idx < palette->Entries.size())
                    h.Colors[k] = palette->Entries[idx];
                else
                    h.Colors[k] = kVga[idx % 16];
            } else {
                const std::uint8_t* e = t + entryBytes * k;
                h.Colors[k] = {e[2], e[1], e[0]};
            }
        }
    }
    return true;
}

std::shared_ptr<TImage> DecodeDib(const TDibHeader& h, const std::uint8_t* bits, std::size_t n, int cropX,
                                  int cropY, int cropW, int cropH, int maxW, int maxH, bool keepAlpha) {
    TGrid g{};
    if (!bits || !MakeGrid(h, cropX, cropY, cropW, cropH, maxW, maxH, g)) return nullptr;
    auto out = std::make_shared<TImage>();
    out->Width = g.OutW;
    out->Height = g.OutH;
    out->Pixels.assign(std::size_t(g.OutW) * std::size_t(g.OutH), 0);
    if (h.Compression == BI_RLE8 || h.Compression == BI_RLE4) {
        DecodeRle(h, bits, n, g, *out);
        return out;
    }
    const std::uint64_t stride = ((std::uint64_t(h.Width) * std::uint64_t(h.BitCount) + 31) / 32) * 4;
    const TMaskChannel r(h.Masks[0]), gr(h.Masks[1]), b(h.Masks[2]);
    bool anyAlpha = false;
    std::vector<bool> rowDone(std::size_t(g.OutH), false);
    for (int oy = 0; oy < g.OutH; ++oy) {
        const std::int64_t sy = std::int64_t(g.Y0) + std::int64_t(oy) * g.StepY;
        const std::int64_t fileRow = h.TopDown ? sy : h.Height - 1 - sy;
        const std::uint64_t rowStart = std::uint64_t(fileRow) * stride;
        if (rowStart + stride > n) continue; // the data ends before this row
        rowDone[std::size_t(oy)] = true;
        const std::uint8_t* row = bits + rowStart;
        std::uint32_t* dst = &out->Pixels[std::size_t(oy) * std::size_t(g.OutW)];
        for (int ox = 0; ox < g.OutW; ++ox) {
            const std::size_t sx = std::size_t(g.X0) + std::size_t(ox) * std::size_t(g.StepX);
            std::uint32_t px = 0;
            switch (h.BitCount) {
            case 1:
            case 4:
            case 8: {
                const std::size_t bit = sx * std::size_t(h.BitCount);
                const unsigned v = (row[bit / 8] >> (8 - h.BitCount - bit % 8)) & ((1u << h.BitCount) - 1);
                px = Opaque(v < h.Colors.size() ? h.Colors[v] : TRgb{});
                break;
            }
            case 16: {
                const std::uint32_t v = ReadLe16(row + 2 * sx);
                px = Opaque({r.Get(v), gr.Get(v), b.Get(v)});
                break;
            }
            case 24:
                px = Opaque({row[3 * sx + 2], row[3 * sx + 1], row[3 * sx]});
                break;
            case 32: {
                const std::uint32_t v = ReadLe32(row + 4 * sx);
                if (keepAlpha && h.Compression == BI_RGB) {
                    const std::uint8_t a = std::uint8_t(v >> 24);
                    anyAlpha |= a != 0;
                    const auto clampA = [a](std::uint32_t c) { return std::min<std::uint32_t>(c, a); };
                    px = (std::uint32_t(a) << 24) | (clampA((v >> 16) & 0xFF) << 16) |
                         (clampA((v >> 8) & 0xFF) << 8) | clampA(v & 0xFF);
                } else {
                    px = Opaque({r.Get(v), gr.Get(v), b.Get(v)});
                }
                break;
            }
            }
            dst[ox] = px;
        }
    }
    if (keepAlpha && h.BitCount == 32 && h.Compression == BI_RGB) {
        out->HasAlpha = true;
        if (!anyAlpha) // an all-zero alpha channel means the bitmap simply has none
            for (int oy = 0; oy < g.OutH; ++oy)
                if (rowDone[std::size_t(oy)])
                    for (int ox = 0; ox < g.OutW; ++ox)
                        out->Pixels[std::size_t(oy) * std::size_t(g.OutW) + std::size_t(ox)] |= 0xFF000000u;
    }
    return out;
}

std::shared_ptr<TImage> DecodeMonoBitmap16(const std::uint8_t* bits, std::size_t n, int width, int height,
                                           int widthBytes, TRgb fg, TRgb bg) {
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide) return nullptr;
    if (widthBytes < (width + 7) / 8) return nullptr;
    if (std::int64_t(width) * height > kMaxDecodedPixels) return nullptr;
    auto out = std::make_shared<TImage>();
    out->Width = width;
    out->Height = height;
    out->Pixels.assign(std::size_t(width) * std::size_t(height), 0);
    for (int y = 0; y < height; ++y) {
        const std::uint64_t start = std::uint64_t(y) * std::uint64_t(widthBytes);
        if (start + std::uint64_t(widthBytes) > n) break;
        for (int x = 0; x < width; ++x) {
            const bool one = (bits[start + std::size_t(x / 8)] >> (7 - x % 8)) & 1;
            out->Pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] = Opaque(one ? bg : fg);
        }
    }
    return out;
}

} // namespace metafile
