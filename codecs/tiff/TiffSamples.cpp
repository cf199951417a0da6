#include "codecs/tiff/TiffSamples.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tiff {

namespace {

// The sample's bytes as one unsigned number.
std::uint64_t Word(const std::uint8_t* p, int bytes, bool bigEndian) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[bigEndian ? i : bytes - 1 - i];
    return v;
}

// IEEE half precision to single.
float HalfToFloat(std::uint32_t h) {
    const std::uint32_t sign = (h >> 15) & 1, exponent = (h >> 10) & 31, mantissa = h & 1023;
    float v;
    if (exponent == 0)
        v = std::ldexp(float(mantissa), -24);
    else if (exponent == 31)
        v = mantissa ? NAN : INFINITY;
    else
        v = std::ldexp(float(mantissa | 1024), int(exponent) - 25);
    return sign ? -v : v;
}

std::uint8_t UnitToByte(double v) {
    if (!(v > 0)) return 0; // also not-a-number
    if (v >= 1) return 255;
    return std::uint8_t(std::lround(v * 255.0));
}

} // namespace

void FlipSignBits(std::uint8_t* samples, std::size_t count, int bits, bool bigEndian) {
    const std::size_t bytes = std::size_t(std::max(bits / 8, 1));
    const std::size_t high = bigEndian ? 0 : bytes - 1;
    for (std::size_t i = 0; i < count; ++i) samples[i * bytes + high] ^= 0x80;
}

void UndoFloatPredictor(std::uint8_t* row, std::size_t count, int bytes, int stride, bool bigEndian,
                        std::uint8_t* out) {
    const std::size_t total = count * std::size_t(bytes), st = std::size_t(std::max(stride, 1));
    for (std::size_t i = st; i < total; ++i) row[i] = std::uint8_t(row[i] + row[i - st]);
    for (std::size_t i = 0; i < count; ++i)
        for (int b = 0; b < bytes; ++b) {
            const std::size_t at = i * std::size_t(bytes) + std::size_t(bigEndian ? b : bytes - 1 - b);
            out[at] = row[std::size_t(b) * count + i];
        }
}

void UnpremultiplyWide(std::uint8_t* samples, std::size_t pixels, int spp, int colours, int alphaIndex,
                       int bits, bool bigEndian) {
    if (bits != 16 && bits != 32) return;
    const int bytes = bits / 8;
    const std::uint64_t max = (std::uint64_t(1) << bits) - 1;
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint8_t* p = samples + i * std::size_t(spp) * std::size_t(bytes);
        const std::uint64_t a = Word(p + std::size_t(alphaIndex) * std::size_t(bytes), bytes, bigEndian);
        if (a == 0 || a == max) continue;
        for (int c = 0; c < colours; ++c) {
            std::uint8_t* q = p + std::size_t(c) * std::size_t(bytes);
            const std::uint64_t v = std::min(max, (Word(q, bytes, bigEndian) * max + a / 2) / a);
            for (int k = 0; k < bytes; ++k) q[bigEndian ? bytes - 1 - k : k] = std::uint8_t(v >> (8 * k));
        }
    }
}

bool CanNarrow(int bits, bool isFloat) {
    (void)isFloat; // both kinds come in the same three widths
    return bits == 16 || bits == 32 || bits == 64;
}

void NarrowSamples(const std::uint8_t* in, std::size_t count, int bits, bool isFloat, bool bigEndian,
                   std::uint8_t* out) {
    const int bytes = bits / 8;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t w = Word(in + i * std::size_t(bytes), bytes, bigEndian);
        if (!isFloat) {
            out[i] = std::uint8_t(w >> (bits - 8)); // the high byte, as for 16-bit colour
        } else if (bits == 16) {
            out[i] = UnitToByte(HalfToFloat(std::uint32_t(w)));
        } else if (bits == 32) {
            float f;
            const std::uint32_t v = std::uint32_t(w);
            std::memcpy(&f, &v, 4);
            out[i] = UnitToByte(f);
        } else {
            double d;
            std::memcpy(&d, &w, 8);
            out[i] = UnitToByte(d);
        }
    }
}

} // namespace tiff
