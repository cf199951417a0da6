#pragma once
// Size checks shared by the bitmap, the mask and the file buffer: every row and block size is computed
// in 64 bits and refused with EOutOfMemory before anything is allocated.
#include "platform/Exceptions.h"
#include "platform/SystemInfo.h"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace bitmapmemory {

// Rows are addressed with int32 strides.
inline int CheckedStride(std::int64_t stride) {
    if (stride < 0 || stride > std::numeric_limits<std::int32_t>::max()) throw EOutOfMemory();
    return static_cast<int>(stride);
}

// Bytes of a block of height rows (never wrapped).
inline std::int64_t BlockBytes(std::int64_t stride, std::int64_t height) {
    CheckedStride(stride);
    if (height < 0 || height > std::numeric_limits<std::int32_t>::max()) throw EOutOfMemory();
    const std::int64_t bytes = stride * height; // both below 2^31: fits in 63 bits
    const std::uint64_t limit = MemoryLimit();
    if (limit != 0 && static_cast<std::uint64_t>(bytes) > limit) throw EOutOfMemory();
    return bytes;
}

// A block that must live in memory. Overcommitting systems hand out address space they cannot back,
// so a block larger than the physical memory available now is refused rather than touched later.
inline std::size_t CheckedBlockSize(std::int64_t stride, std::int64_t height) {
    const std::int64_t bytes = BlockBytes(stride, height);
    if (static_cast<std::uint64_t>(bytes) > std::numeric_limits<std::size_t>::max()) throw EOutOfMemory();
    const std::uint64_t available = AvailablePhysicalMemory();
    if (available != 0 && static_cast<std::uint64_t>(bytes) > available) throw EOutOfMemory();
    return static_cast<std::size_t>(bytes);
}

} // namespace bitmapmemory
