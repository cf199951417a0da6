#include "codecs/tiff/TiffYCbCr.h"

#include <algorithm>
#include <cmath>

namespace tiff {

namespace {

constexpr std::uint16_t kTagCoefficients = 529, kTagSubSampling = 530, kTagReferenceBlackWhite = 532;

std::uint8_t Clamp(double v) {
    return std::uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

bool TYCbCr::Valid() const {
    const auto ok = [](int s) { return s == 1 || s == 2 || s == 4; };
    return ok(H) && ok(V) && V <= H && Lg > 0 && Ref[1] != Ref[0] && Ref[3] != Ref[2] && Ref[5] != Ref[4];
}

bool TYCbCr::IsJpegStandard() const {
    const TYCbCr standard;
    constexpr double kClose = 1e-6;
    bool same = std::abs(Lr - standard.Lr) < kClose && std::abs(Lg - standard.Lg) < kClose &&
                std::abs(Lb - standard.Lb) < kClose;
    for (int i = 0; i < 6; ++i) same = same && std::abs(Ref[i] - standard.Ref[i]) < kClose;
    return same;
}

void RecodeJpegColours(const TYCbCr& c, std::uint8_t* pixels, int width) {
    if (c.Lg <= 0 || c.Ref[1] == c.Ref[0] || c.Ref[3] == c.Ref[2] || c.Ref[5] == c.Ref[4]) return;
    const double ys = 255.0 / (c.Ref[1] - c.Ref[0]), cbs = 127.0 / (c.Ref[3] - c.Ref[2]),
                 crs = 127.0 / (c.Ref[5] - c.Ref[4]);
    for (int x = 0; x < width; ++x, pixels += 3) {
        const double b = pixels[0], g = pixels[1], r = pixels[2];
        // Back to the coded values, as the decoder's standard conversion had them.
        const double y = 0.299 * r + 0.587 * g + 0.114 * b;
        const double cb = (b - y) / 1.772 + 128, cr = (r - y) / 1.402 + 128;
        const double ly = (y - c.Ref[0]) * ys, lcb = (cb - c.Ref[2]) * cbs, lcr = (cr - c.Ref[4]) * crs;
        const double nr = ly + (2 - 2 * c.Lr) * lcr, nb = ly + (2 - 2 * c.Lb) * lcb;
        const double ng = (ly - c.Lb * nb - c.Lr * nr) / c.Lg;
        pixels[0] = Clamp(nb);
        pixels[1] = Clamp(ng);
        pixels[2] = Clamp(nr);
    }
}

TYCbCr ReadYCbCr(const TTiffDirectory& dir) {
    TYCbCr c;
    const std::vector<std::uint32_t> sub = dir.Values(kTagSubSampling, 2);
    if (sub.size() == 2) {
        c.H = int(std::min<std::uint32_t>(sub[0], 64));
        c.V = int(std::min<std::uint32_t>(sub[1], 64));
    }
    if (dir.Has(kTagCoefficients)) {
        c.Lr = dir.Rational(kTagCoefficients, 0, c.Lr);
        c.Lg = dir.Rational(kTagCoefficients, 1, c.Lg);
        c.Lb = dir.Rational(kTagCoefficients, 2, c.Lb);
    }
    if (dir.Has(kTagReferenceBlackWhite))
        for (std::uint32_t i = 0; i < 6; ++i) c.Ref[i] = dir.Rational(kTagReferenceBlackWhite, i, c.Ref[i]);
    return c;
}

void YCbCrUnitsToRows(const TYCbCr& c, const std::uint8_t* units, int width, std::uint8_t* const* rows,
                      int count) {
    const int across = (width + c.H - 1) / c.H;
    const double ys = 255.0 / (c.Ref[1] - c.Ref[0]), cbs = 127.0 / (c.Ref[3] - c.Ref[2]),
                 crs = 127.0 / (c.Ref[5] - c.Ref[4]);
    for (int u = 0; u < across; ++u) {
        const std::uint8_t* unit = units + std::int64_t(u) * c.UnitBytes();
        const double cb = (unit[c.H * c.V] - c.Ref[2]) * cbs, cr = (unit[c.H * c.V + 1] - c.Ref[4]) * crs;
        const double rOffset = (2 - 2 * c.Lr) * cr, bOffset = (2 - 2 * c.Lb) * cb;
        for (int j = 0; j < c.V && j < count; ++j)
            for (int i = 0; i < c.H; ++i) {
                const int x = u * c.H + i;
                if (x >= width) break;
                const double y = (unit[j * c.H + i] - c.Ref[0]) * ys;
                const double r = y + rOffset, b = y + bOffset, g = (y - c.Lb * b - c.Lr * r) / c.Lg;
                std::uint8_t* p = rows[j] + std::int64_t(x) * 3;
                p[0] = Clamp(b);
                p[1] = Clamp(g);
                p[2] = Clamp(r);
            }
    }
}

} // namespace tiff
