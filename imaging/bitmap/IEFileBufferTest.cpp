#include "imaging/bitmap/IEFileBuffer.h"
#include "imaging/bitmap/IEBitmap.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

class IEFileBufferTest : public ::testing::Test {
protected:
    void SetUp() override { TempDirectory = Dir.Path(); }
    void TearDown() override { TempDirectory.clear(); }
    testsupport::TempDir Dir;
};

TEST_F(IEFileBufferTest, CreateSizesAndDeletes) {
    TIEFileBuffer f;
    EXPECT_FALSE(f.HasFile());
    EXPECT_EQ(f.MapBlock(AccessRead, 4, 0, 0), nullptr);
    ASSERT_TRUE(f.CreateTempFile(5000));
    const std::string name = f.FileName();
    EXPECT_EQ(std::filesystem::path(name).parent_path(), std::filesystem::path(Dir.Path()));
    EXPECT_EQ(std::filesystem::path(name).filename().string().rfind("pictora", 0), 0u);
    EXPECT_EQ(std::filesystem::file_size(name), 5000u);
    EXPECT_FALSE(f.CreateTempFile(-1));
    EXPECT_FALSE(std::filesystem::exists(name)) << "a new file replaces the old one";
    ASSERT_TRUE(f.CreateTempFile(10));
    const std::string second = f.FileName();
    f.CloseAndDelete();
    EXPECT_FALSE(std::filesystem::exists(second));
    EXPECT_FALSE(f.HasFile());
}

TEST_F(IEFileBufferTest, BlocksWriteBackOnlyWhenMappedForWriting) {
    TIEFileBuffer f;
    ASSERT_TRUE(f.CreateTempFile(100));
    std::uint8_t* w = f.MapBlock(AccessWrite, 10, 0, 20);
    std::memset(w, 0x11, 10);
    std::uint8_t* r = f.MapBlock(AccessRead, 10, 0, 40);
    std::memset(r, 0x22, 10);
    f.UnmapBlock(w);
    f.UnmapBlock(r);
    const std::uint8_t* check = f.MapBlock(AccessRead, 100, 0, 0);
    EXPECT_EQ(check[19], 0);
    EXPECT_EQ(check[20], 0x11);
    EXPECT_EQ(check[29], 0x11);
    EXPECT_EQ(check[30], 0);
    EXPECT_EQ(check[40], 0) << "read-only blocks are not written back";
    const std::uint8_t* tail = f.MapBlock(AccessRead, 10, 0, 95);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(tail[i], 0) << "past the end reads zeros";
    f.UnmapAll();
}

TEST_F(IEFileBufferTest, CopyRangeWholeAndPart) {
    TIEFileBuffer a, b;
    ASSERT_TRUE(a.CreateTempFile(3 << 20));
    ASSERT_TRUE(b.CreateTempFile(3 << 20));
    std::uint8_t* block = a.MapBlock(AccessWrite, 3 << 20, 0, 0);
    for (int i = 0; i < (3 << 20); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
    std::uint8_t* pending = b.MapBlock(AccessWrite, 4, 0, 0); // released (written) before the copy
    std::memset(pending, 0xEE, 4);
    a.CopyRange(b, (2 << 20) + 5, 1000); // chunked: several 1 MiB pieces and a short one
    const std::uint8_t* got = b.MapBlock(AccessRead, 3 << 20, 0, 0);
    EXPECT_EQ(got[0], 0xEE);
    EXPECT_EQ(got[999], 0);
    for (int i = 1000; i < 1000 + (2 << 20) + 5; i += 4093)
        ASSERT_EQ(got[i], static_cast<std::uint8_t>(i * 7));
    EXPECT_EQ(got[1000 + (2 << 20) + 5], 0);
    b.UnmapAll();
    a.CopyRange(b, 3 << 20, 0); // the whole file through the system's copy
    const std::uint8_t* all = b.MapBlock(AccessRead, 3 << 20, 0, 0);
    EXPECT_EQ(std::memcmp(all, a.MapBlock(AccessRead, 3 << 20, 0, 0), 3 << 20), 0);
    EXPECT_EQ(b.Size(), 3 << 20);
}

} // namespace
