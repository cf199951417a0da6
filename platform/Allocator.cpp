#include "platform/Allocator.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {
// Blocks above this still get their own mapping, returned to the system when freed: a 14,400-pixel
// square colour page is about 600 MiB.
constexpr int kLargestReusedBlock = 256 * 1024 * 1024;

constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Below this a block is left to calloc: it holds too few whole huge pages to matter.
constexpr std::size_t kSmallestHugeBlock = 4 * kHugePage;

// Advice only: a system without transparent huge pages refuses it and the block works as before.
void AdviseHugePages([[maybe_unused]] void* block, [[maybe_unused]] std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}
} // namespace

void KeepPixelBlocksForReuse() {
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
    mallopt(M_MMAP_THRESHOLD, kLargestReusedBlock);
    // Freed blocks at the top of the heap stay mapped up to this much, for the next page.
    mallopt(M_TRIM_THRESHOLD, 2 * kLargestReusedBlock);
#endif
}

bool PrepareForWriting([[maybe_unused]] void* block, [[maybe_unused]] std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    if (page == 0 || bytes > UINTPTR_MAX - start) return false;
    const std::uintptr_t first = (start + page - 1) & ~(page - 1);
    const std::uintptr_t last = (start + bytes) & ~(page - 1);
    return last <= first || madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE) == 0;
#else
    return false;
#endif
}

void* AllocateZeroedPixels(std::size_t bytes) {
    if (bytes < kSmallestHugeBlock) return std::calloc(bytes, 1);
    // Whole huge pages from start to end: a block that began or ended inside one would leave up to
    // 4 MiB to ordinary pages, a thousand faults that cost more than decoding on a virtual machine.
    // The advice must come before the first touch, so the block is cleared here rather than by calloc.
    if (bytes > SIZE_MAX - kHugePage) return nullptr;
    const std::size_t whole = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void* block = std::aligned_alloc(kHugePage, whole);
    if (!block) return nullptr;
    AdviseHugePages(block, whole);
    std::memset(block, 0, bytes);
    return block;
}
