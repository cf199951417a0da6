#include "codecs/tiff/TiffOrientation.h"

#include <cstring>
#include <vector>

namespace tiff {

namespace {

// Source pixel of output pixel (x, y) for an image stored w x h (the output of 5 to 8 is h x w).
void SourceOf(int orientation, int w, int h, int x, int y, int& sx, int& sy) {
    switch (orientation) {
    case 2:
        sx = w - 1 - x, sy = y;
        break; // mirrored left-right
    case 3:
        sx = w - 1 - x, sy = h - 1 - y;
        break; // turned half round
    case 4:
        sx = x, sy = h - 1 - y;
        break; // mirrored top-bottom
    case 5:
        sx = y, sy = x;
        break; // rows are columns (transposed)
    case 6:
        sx = y, sy = h - 1 - x;
        break; // a clockwise quarter turn
    case 7:
        sx = w - 1 - y, sy = h - 1 - x;
        break; // transposed across the other diagonal
    case 8:
        sx = w - 1 - y, sy = x;
        break; // an anticlockwise quarter turn
    default:
        sx = x, sy = y;
        break;
    }
}

// Moves pixels of bitsPerPixel bits (1 or a multiple of 8) from a packed copy of the source rows.
void CopyPixel(const std::uint8_t* srcRow, int sx, std::uint8_t* dstRow, int x, int bitsPerPixel) {
    if (bitsPerPixel == 1) {
        const bool set = (srcRow[sx >> 3] >> (7 - (sx & 7))) & 1;
        const std::uint8_t m = std::uint8_t(0x80 >> (x & 7));
        dstRow[x >> 3] = set ? std::uint8_t(dstRow[x >> 3] | m) : std::uint8_t(dstRow[x >> 3] & ~m);
        return;
    }
    const int bytes = bitsPerPixel / 8;
    std::memcpy(dstRow + std::size_t(x) * bytes, srcRow + std::size_t(sx) * bytes, std::size_t(bytes));
}

} // namespace

void ApplyTiffOrientation(TIEBitmap& bitmap, TIEMask* mask, int orientation) {
    if (orientation < 2 || orientation > 8) return;
    const int w = bitmap.Width(), h = bitmap.Height();
    const TIEPixelFormat type = bitmap.PixelType();
    const int bpp = bitmap.BitsPerPixel();
    if (w <= 0 || h <= 0 || bpp <= 0) return;
    const std::size_t stride = std::size_t(bitmap.RowStride());
    std::vector<std::uint8_t> pixels(stride * std::size_t(h));
    for (int y = 0; y < h; ++y)
        std::memcpy(pixels.data() + stride * std::size_t(y), bitmap.RowPointer(y), stride);

    const bool swap = orientation >= 5;
    const int nw = swap ? h : w, nh = swap ? w : h;
    if (swap) {
        std::vector<TIERgbTriple> palette;
        for (int i = 0; i < bitmap.PaletteLength(); ++i) palette.push_back(bitmap.PaletteEntry(i));
        bitmap.Reallocate(nw, nh, type);
        for (std::size_t i = 0; i < palette.size(); ++i) bitmap.SetPaletteEntry(int(i), palette[i]);
    }
    std::vector<std::uint8_t> row(std::size_t(bitmap.RowStride()));
    for (int y = 0; y < nh; ++y) {
        std::memset(row.data(), 0, row.size());
        for (int x = 0; x < nw; ++x) {
            int sx, sy;
            SourceOf(orientation, w, h, x, y, sx, sy);
            CopyPixel(pixels.data() + stride * std::size_t(sy), sx, row.data(), x, bpp);
        }
        std::memcpy(bitmap.RowPointer(y), row.data(), row.size());
    }

    if (mask && mask->Width == w && mask->Height == h && mask->BitsPerPixel == 8) {
        std::vector<std::uint8_t> alpha(std::size_t(w) * std::size_t(h));
        for (int y = 0; y < h; ++y)
            std::memcpy(alpha.data() + std::size_t(y) * w, mask->RowPointer(y), std::size_t(w));
        const bool opaque = mask->FullyOpaque;
        if (swap) mask->Allocate(nw, nh, 8);
        for (int y = 0; y < nh; ++y) {
            std::uint8_t* dst = mask->RowPointer(y);
            for (int x = 0; x < nw; ++x) {
                int sx, sy;
                SourceOf(orientation, w, h, x, y, sx, sy);
                dst[x] = alpha[std::size_t(sy) * w + std::size_t(sx)];
            }
        }
        mask->FullyOpaque = opaque;
    }
}

} // namespace tiff
