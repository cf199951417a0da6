#include "pdf/PdfMd5.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {
// Per-round shift amounts and the sine-derived constants of RFC 1321.
constexpr std::uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                      5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                      4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                      6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
} // namespace

TMd5::TMd5() : State{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

namespace {
// One step of a round: the four rounds differ only in f and in which word they take, and each is
// unrolled whole so that every shift and constant is known where it is used.
inline void Step(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d, std::uint32_t f,
                 std::uint32_t word, int i) {
    const std::uint32_t next = d;
    d = c;
    c = b;
    b = b + std::rotl(a + f + kSine[i] + word, static_cast<int>(kShift[i]));
    a = next;
}
} // namespace

void TMd5::Block(const std::uint8_t* block) {
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = ReadLe32(block + i * 4);
    std::uint32_t a = State[0], b = State[1], c = State[2], d = State[3];
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) Step(a, b, c, d, (b & c) | (~b & d), m[i], i);
#pragma GCC unroll 16
    for (int i = 16; i < 32; ++i) Step(a, b, c, d, (d & b) | (~d & c), m[(5 * i + 1) % 16], i);
#pragma GCC unroll 16
    for (int i = 32; i < 48; ++i) Step(a, b, c, d, b ^ c ^ d, m[(3 * i + 5) % 16], i);
#pragma GCC unroll 16
    for (int i = 48; i < 64; ++i) Step(a, b, c, d, c ^ (b | ~d), m[(7 * i) % 16], i);
    State[0] += a;
    State[1] += b;
    State[2] += c;
    State[3] += d;
}

void TMd5::Update(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    TotalBytes += size;
    if (PendingSize > 0) {
        const std::size_t take = std::min(size, Pending.size() - PendingSize);
        std::memcpy(Pending.data() + PendingSize, p, take);
        PendingSize += take;
        p += take;
        size -= take;
        if (PendingSize < Pending.size()) return;
        Block(Pending.data());
        PendingSize = 0;
    }
    for (; size >= Pending.size(); p += Pending.size(), size -= Pending.size()) Block(p);
    if (size > 0) std::memcpy(Pending.data(), p, size);
    PendingSize = size;
}

std::array<std::uint8_t, 16> TMd5::Finish() {
    const std::uint64_t bits = TotalBytes * 8;
    const std::uint8_t one = 0x80, zero = 0;
    Update(&one, 1);
    while (PendingSize != 56) Update(&zero, 1);
    std::uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    Update(length, sizeof length);
    std::array<std::uint8_t, 16> digest{};
    for (int i = 0; i < 16; ++i)
        digest[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(State[static_cast<std::size_t>(i / 4)] >> (8 * (i % 4)));
    return digest;
}

std::string HexDigits(const std::array<std::uint8_t, 16>& digest) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : digest) {
        s += kHex[b >> 4];
        s += kHex[b & 15];
    }
    return s;
}
