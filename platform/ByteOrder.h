#pragma once
// Fixed-order integers in byte buffers, whatever the host's order. Each reader takes a pointer to at
// least as many bytes as the value has; the caller checks the bounds.
#include <cstdint>

constexpr std::uint16_t ReadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr std::uint32_t ReadLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

constexpr std::uint16_t ReadBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

constexpr std::uint32_t ReadBe32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Two's complement, as the formats store signed fields.
constexpr std::int16_t ReadLeInt16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(ReadLe16(p));
}

constexpr std::int32_t ReadLeInt32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(ReadLe32(p));
}

// For formats whose files say their own order (TIFF, EXIF).
constexpr std::uint16_t Read16(const std::uint8_t* p, bool bigEndian) {
    return bigEndian ? ReadBe16(p) : ReadLe16(p);
}

constexpr std::uint32_t Read32(const std::uint8_t* p, bool bigEndian) {
    return bigEndian ? ReadBe32(p) : ReadLe32(p);
}
