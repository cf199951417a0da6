#include "platform/Allocator.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace {
// Blocks above this still get their own mapping, returned to the system when freed: a 14,400-pixel
// square colour page is about 600 MiB.
constexpr int kLargestReusedBlock = 256 * 1024 * 1024;
} // namespace

void KeepPixelBlocksForReuse() {
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
    mallopt(M_MMAP_THRESHOLD, kLargestReusedBlock);
    // Freed blocks at the top of the heap stay mapped up to this much, for the next page.
    mallopt(M_TRIM_THRESHOLD, 2 * kLargestReusedBlock);
#endif
}
