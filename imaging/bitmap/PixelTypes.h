#pragma once
// Pixel types, storage locations and the blue-green-red triple shared by the whole imaging layer.
#include <cstdint>

enum TIEPixelFormat : std::uint8_t {
    ieNone = 0,
    ie1Bit = 1,     // leftmost pixel in the most significant bit; 1 white, 0 black
    ie8Palette = 2, // index into the palette
    ie8Gray = 3,    // 0 black .. 255 white
    ie16Gray = 4,   // little-endian 0 .. 65535
    ie24Rgb = 5,    // blue, green, red
    ie32f = 6       // float 0.0 black .. 1.0 white
};

enum TIELocation : std::uint8_t { ieHeap = 0, ieTempFile = 1, ieTBitmap = 2 };

enum TIEMonoConversion : std::uint8_t { ieOrderedDither = 0, ieMeanThreshold = 1 };

enum TIEAccessFlags : std::uint8_t { AccessRead = 1, AccessWrite = 2 };

#pragma pack(push, 1)
struct TIERgbTriple {
    std::uint8_t b = 0, g = 0, r = 0;
    constexpr bool operator==(const TIERgbTriple&) const = default;
};
#pragma pack(pop)
static_assert(sizeof(TIERgbTriple) == 3);

constexpr TIERgbTriple CreateRGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return {b, g, r};
}
// As an integer: blue in bits 0-7, green 8-15, red 16-23.
constexpr std::uint32_t TripleToInt(TIERgbTriple t) {
    return std::uint32_t(t.b) | (std::uint32_t(t.g) << 8) | (std::uint32_t(t.r) << 16);
}
constexpr TIERgbTriple IntToTriple(std::uint32_t v) {
    return {std::uint8_t(v & 0xFF), std::uint8_t((v >> 8) & 0xFF), std::uint8_t((v >> 16) & 0xFF)};
}
// The one grey formula of the system: (R*21 + G*71 + B*8) / 100, integer arithmetic.
constexpr std::uint8_t GrayOf(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return std::uint8_t((r * 21 + g * 71 + b * 8) / 100);
}

// A channel of 1 to 16 bits stretched to the full byte range, rounded: 5 bits give 31 -> 255,
// 16 -> 132 (a shift alone would stop at 248).
constexpr std::uint8_t ScaleChannelToByte(std::uint32_t value, int bits) {
    if (bits <= 0) return 0;
    if (bits == 8) return std::uint8_t(value);
    const std::uint32_t top = (std::uint32_t(1) << bits) - 1;
    return std::uint8_t(((value & top) * 255 + top / 2) / top);
}

// Bits per pixel of each pixel type.
constexpr int BitsPerPixelOf(TIEPixelFormat t) {
    switch (t) {
    case ie1Bit:
        return 1;
    case ie8Palette:
    case ie8Gray:
        return 8;
    case ie16Gray:
        return 16;
    case ie24Rgb:
        return 24;
    case ie32f:
        return 32;
    default:
        return 0;
    }
}
// Bytes per row, padded to 32 bits, in 64-bit arithmetic so no width can wrap it.
constexpr std::int64_t RowStrideOf(std::int64_t width, int bitsPerPixel, int alignmentBits = 32) {
    return ((width * bitsPerPixel + alignmentBits - 1) / alignmentBits) * (alignmentBits / 8);
}
