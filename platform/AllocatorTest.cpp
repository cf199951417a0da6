#include "platform/Allocator.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

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

TEST(AllocatorTest, PreparedMemoryKeepsWhatItHolds) {
    constexpr std::size_t kBytes = (std::size_t(3) << 20) + 123;
    std::vector<unsigned char> block(kBytes);
    for (std::size_t i = 0; i < kBytes; ++i) block[i] = static_cast<unsigned char>(i * 7 + 1);
    // Ranges that start and end inside pages, an empty one, and the whole block.
    const std::pair<std::size_t, std::size_t> ranges[] = {{0, kBytes}, {1, 4095}, {4097, 70000}, {5000, 0}};
    for (const auto& [offset, size] : ranges) PrepareForWriting(block.data() + offset, size);
    for (std::size_t i = 0; i < kBytes; ++i) ASSERT_EQ(block[i], static_cast<unsigned char>(i * 7 + 1)) << i;
}

// Writing into reserved room: the stream maps a stretch ahead of what it holds, rather than leaving
// each page to fault in when it is first written.
TEST(AllocatorTest, MemoryStreamsPrepareTheirReservedRoomAhead) {
    std::vector<unsigned char> probe(std::size_t(1) << 16);
    if (!PrepareForWriting(probe.data(), probe.size())) GTEST_SKIP() << "the system cannot prepare memory";
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    TMemoryStream stream;
    stream.Reserve(std::int64_t(4) << 20);
    const unsigned char byte = 1;
    stream.WriteBuffer(&byte, 1);
    // The pages after the first, up to a quarter of a megabyte, are mapped though never written.
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(stream.Memory()) + page) & ~(page - 1);
    const std::size_t pages = (std::size_t(256) << 10) / page - 2;
    std::vector<unsigned char> resident(pages);
    ASSERT_EQ(mincore(reinterpret_cast<void*>(first), pages * page, resident.data()), 0);
    EXPECT_EQ(std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return (r & 1) == 0; }),
              0);
}
} // namespace
