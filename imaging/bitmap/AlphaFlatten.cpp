#include "imaging/bitmap/AlphaFlatten.h"

#include <cstdint>
#include <vector>

namespace {

bool BitSet(const std::uint8_t* row, int x) {
    return (row[x >> 3] & (0x80 >> (x & 7))) != 0;
}

// One alpha row as bytes, whatever the plane's depth.
void AlphaRow(TIEBitmap& plane, int y, int width, std::vector<std::uint8_t>& out) {
    const std::uint8_t* row = plane.RowPointer(y);
    out.assign(std::size_t(width), 255);
    if (!row) return;
    if (plane.PixelType() == ie1Bit) {
        for (int x = 0; x < width; ++x) out[std::size_t(x)] = BitSet(row, x) ? 255 : 0;
    } else if (plane.PixelType() == ie8Gray) {
        for (int x = 0; x < width; ++x) out[std::size_t(x)] = row[x];
    }
}

std::uint8_t Blend(std::uint8_t value, std::uint8_t paper, std::uint8_t alpha) {
    return static_cast<std::uint8_t>((value * alpha + paper * (255 - alpha) + 127) / 255);
}

} // namespace

void FlattenAlphaOntoPaper(TIEBitmap& bitmap, TIERgbTriple paper) {
    if (!bitmap.HasAlphaPlane()) return;
    const TIEPixelFormat type = bitmap.PixelType();
    if (type != ie24Rgb && type != ie1Bit) return;
    TIEBitmap& plane = *bitmap.AlphaPlane();
    const int width = std::min(bitmap.Width(), plane.Width());
    const int height = std::min(bitmap.Height(), plane.Height());
    const bool paperIsLight = paper.r * 21 + paper.g * 71 + paper.b * 8 >= 128 * 100;
    std::vector<std::uint8_t> alpha;
    for (int y = 0; y < height; ++y) {
        AlphaRow(plane, y, width, alpha);
        std::uint8_t* row = bitmap.RowPointer(y);
        if (!row) continue;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t a = alpha[std::size_t(x)];
            if (a == 255) continue;
            if (type == ie24Rgb) {
                std::uint8_t* p = row + std::size_t(x) * 3;
                p[0] = Blend(p[0], paper.b, a);
                p[1] = Blend(p[1], paper.g, a);
                p[2] = Blend(p[2], paper.r, a);
            } else if (a < 128) {
                const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
                row[x >> 3] =
                    static_cast<std::uint8_t>(paperIsLight ? row[x >> 3] | bit : row[x >> 3] & ~bit);
            }
        }
    }
    bitmap.DropAlphaPlane();
}

void PreparePageBitmap(TIEBitmap& bitmap, bool keepAlpha) {
    const TIEPixelFormat type = bitmap.PixelType();
    if (type != ie24Rgb && type != ie1Bit) bitmap.ConvertTo(ie24Rgb);
    if (!keepAlpha) FlattenAlphaOntoPaper(bitmap, kPaperWhite);
}
