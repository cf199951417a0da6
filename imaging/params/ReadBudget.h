#pragma once
// How much memory a file may make a reader take: what its bytes can plausibly code, never what the
// machine happens to have free. One rule for every reader: each states what its image needs, this
// decides.
#include <cstdint>

// An image whose decoding takes at most this many bytes is read whatever the stream holds.
inline constexpr std::int64_t kSmallImageBytes = std::int64_t(4) << 20;
// A file cut short keeps the rows it holds, so it need hold only this fraction (one in n) of its
// image's data.
inline constexpr std::int64_t kCutFileShare = 16;

// Whether a stream with Available bytes left can plausibly hold an image whose decoding allocates
// Allocation bytes (bitmap, mask and whole-image buffers) and whose complete data takes at least
// LeastData bytes at the format's densest coding. Negative values, which saturated arithmetic
// never gives for a real size, do not pass.
bool StreamCanHold(std::int64_t Allocation, std::int64_t LeastData, std::int64_t Available);

// Products and sums of sizes from file headers saturate instead of wrapping.
inline std::int64_t MulSat(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    return __builtin_mul_overflow(a, b, &r) ? INT64_MAX : r;
}
inline std::int64_t AddSat(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    return __builtin_add_overflow(a, b, &r) ? INT64_MAX : r;
}
