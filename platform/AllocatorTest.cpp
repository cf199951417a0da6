#include "platform/Allocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
// Small blocks, the threshold region, and a block spanning many huge pages at an odd size.
const std::size_t kSizes[] = {1, 4096, (std::size_t(8) << 20) - 1, std::size_t(8) << 20,
                              (std::size_t(37) << 20) + 12345};

TEST(AllocatorTest, PixelBlocksComeZeroedEvenWhenMemoryIsReused) {
    KeepPixelBlocksForReuse();
    for (const std::size_t size : kSizes) {
        SCOPED_TRACE(size);
        // A freed block filled with a page's pixels is the likeliest memory for the next one: a block
        // handed out dirty would show the last image in rows a short file never reaches.
        for (int round = 0; round < 3; ++round) {
            auto* p = static_cast<unsigned char*>(AllocateZeroedPixels(size));
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(std::all_of(p, p + size, [](unsigned char b) { return b == 0; }));
            std::memset(p, 0xA5, size);
            std::free(p);
        }
    }
}
} // namespace
