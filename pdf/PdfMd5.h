#pragma once
// MD5 (RFC 1321), for the document identifier in the trailer. Not for security: readers only
// compare identifiers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TMd5 {
public:
    TMd5();
    void Update(const void* data, std::size_t size);
    // The digest of everything added; the object is spent afterwards.
    std::array<std::uint8_t, 16> Finish();

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 4> State;
    std::array<std::uint8_t, 64> Pending{};
    std::size_t PendingSize = 0;
    std::uint64_t TotalBytes = 0;
};

// 32 upper-case hexadecimal digits.
std::string HexDigits(const std::array<std::uint8_t, 16>& digest);
