#include "codecs/tiff/TiffLogLuv.h"

#include "platform/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace tiff {

namespace {

constexpr int kRunFlag = 128, kMinRun = 2;
constexpr std::uint32_t kLogMask = 0x7FFF, kSign = 0x8000; // negative luminance shows as black
// Luminance is log2(Y) + 64 in 1/256 steps; u' and v' in 1/410 steps; codes stand for their cell middle.
constexpr double kLogSteps = 256, kLogBias = 64, kUvSteps = 410;
// XYZ to linear RGB for BT.709 primaries with an equal-energy white, to three places (the matrix these
// files are rendered with elsewhere).
constexpr std::array<double, 9> kXyzToRgb = {2.690, -1.276, -0.414, -1.022, 1.978,
                                             0.044, 0.061,  -0.224, 1.163};

double Luminance(std::uint32_t code) {
    const std::uint32_t le = code & kLogMask;
    return le == 0 || (code & kSign) ? 0.0 : std::exp2((le + 0.5) / kLogSteps - kLogBias);
}

// Gamma 2 over 256 steps, clamped.
std::uint8_t ToByte(double linear) {
    if (!(linear > 0)) return 0;
    return std::uint8_t(std::min(255.0, std::floor(256.0 * std::sqrt(linear))));
}

} // namespace

int LogLuvPixelBytes(int photometric) {
    return photometric == phLogLuv ? 4 : 2;
}

bool DecodeLogRow(std::span<const std::uint8_t> data, std::size_t& pos, int width, int pixelBytes,
                  std::uint8_t* pixels) {
    const std::size_t stride = std::size_t(pixelBytes), count = std::size_t(width);
    for (std::size_t plane = 0; plane < stride; ++plane) {
        std::size_t x = 0;
        while (x < count) {
            if (pos >= data.size()) return false;
            const int control = data[pos++];
            if (control >= kRunFlag) {
                if (pos >= data.size()) return false;
                const std::uint8_t value = data[pos++];
                // A run past the row's end is cut there.
                const std::size_t n = std::min(count - x, std::size_t(control - kRunFlag + kMinRun));
                for (std::size_t i = 0; i < n; ++i, ++x) pixels[x * stride + plane] = value;
            } else {
                const std::size_t n = std::min(count - x, std::size_t(control));
                if (data.size() - pos < std::size_t(control)) return false;
                for (std::size_t i = 0; i < n; ++i, ++x) pixels[x * stride + plane] = data[pos + i];
                pos += std::size_t(control);
            }
        }
    }
    return true;
}

void LogPixelsToBgr(const std::uint8_t* pixels, int width, int pixelBytes, std::uint8_t* bgr) {
    for (int x = 0; x < width; ++x, pixels += pixelBytes, bgr += 3) {
        const double y = Luminance(ReadBe16(pixels));
        if (pixelBytes == 2) {
            bgr[0] = bgr[1] = bgr[2] = ToByte(y);
            continue;
        }
        const double u = (pixels[2] + 0.5) / kUvSteps, v = (pixels[3] + 0.5) / kUvSteps;
        const double d = 6 * u - 16 * v + 12;
        const double cx = 9 * u / d, cy = 4 * v / d;
        const double bigX = cy > 0 ? cx / cy * y : 0, bigZ = cy > 0 ? (1 - cx - cy) / cy * y : 0;
        const auto channel = [&](int row) {
            const std::size_t k = std::size_t(3 * row);
            return kXyzToRgb[k] * bigX + kXyzToRgb[k + 1] * y + kXyzToRgb[k + 2] * bigZ;
        };
        bgr[2] = ToByte(channel(0));
        bgr[1] = ToByte(channel(1));
        bgr[0] = ToByte(channel(2));
    }
}

} // namespace tiff
