#include "pdf/PdfSpool.h"

#include "pdf/PdfMd5.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/WriteFault.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace {
std::unique_ptr<TIEPDFStreamObject> Stream(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = std::uint8_t(seed + i * 7);
    return std::make_unique<TIEPDFStreamObject>(std::move(data));
}

std::string TextOf(TIEPDFObject& object) {
    TMemoryStream out;
    object.WriteTo(out);
    return std::string(out.Bytes().begin(), out.Bytes().end());
}

std::string Copied(TIEPDFSpool& spool, const TIEPDFSpoolRange& range) {
    TMemoryStream out;
    spool.CopyTo(range, out);
    return std::string(out.Bytes().begin(), out.Bytes().end());
}

// Blocks the spool's file occupies on disk, found among this process's open unnamed files.
std::int64_t SpoolBlocks(const std::string& folder) {
    const std::vector<std::string> files = testsupport::UnnamedFilesOpenIn(0, folder);
    if (files.size() != 1) return -1;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec).string() != files[0]) continue;
        struct stat st {};
        if (::stat(fd.path().c_str(), &st) == 0) return st.st_blocks;
    }
    return -1;
}
} // namespace

TEST(PdfSpool, CopiesGiveBackExactlyWhatWasAppended) {
    testsupport::TempDir dir;
    TIEPDFSpool spool(dir.Path());
    EXPECT_EQ(spool.Folder(), dir.Path());
    auto big = Stream(3 << 20, 1); // more than one copy chunk
    auto small = Stream(5, 9);
    TIEPDFNameObject name("lm1");
    const TIEPDFSpoolRange ranges[] = {spool.Append(*big), spool.Append(name), spool.Append(*small)};
    EXPECT_EQ(ranges[1].Offset, ranges[0].Offset + ranges[0].Length);
    EXPECT_EQ(spool.Size(), ranges[2].Offset + ranges[2].Length);
    // Any order, any number of times, until the document is written.
    EXPECT_EQ(Copied(spool, ranges[2]), TextOf(*small));
    EXPECT_EQ(Copied(spool, ranges[0]), TextOf(*big));
    EXPECT_EQ(Copied(spool, ranges[1]), "/lm1");
    EXPECT_EQ(Copied(spool, ranges[1]), "/lm1");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())); // never a name in the folder
    EXPECT_EQ(testsupport::UnnamedFilesOpenIn(0, dir.Path()).size(), 1u);
    TMemoryStream out;
    EXPECT_THROW(spool.CopyTo({ranges[2].Offset, ranges[2].Length + 1}, out), EReadError);
}

// Ranges of every size land exactly, from offsets that fall inside a memory page, in a file (copied
// by the system) as in any other stream (through a buffer), and each carries the digest of its text.
TEST(PdfSpool, RangesOfEverySizeCopyFromAnyOffset) {
    testsupport::TempDir dir;
    TIEPDFSpool spool(dir.Path());
    TIEPDFNameObject odd("x"); // leaves every later range off a page boundary
    spool.Append(odd);
    const std::size_t sizes[] = {(64 << 10) - 1, 64 << 10, (8 << 20) + 4099, 1};
    std::vector<std::pair<TIEPDFSpoolRange, std::string>> appended;
    std::uint8_t seed = 3;
    for (std::size_t size : sizes) {
        auto object = Stream(size, seed++);
        appended.emplace_back(spool.Append(*object), TextOf(*object));
    }
    TFileStream file(dir.File("document"), fmCreate);
    for (const auto& [range, text] : appended) {
        SCOPED_TRACE(range.Length);
        EXPECT_TRUE(Copied(spool, range) == text);
        const std::int64_t at = file.Position();
        spool.CopyTo(range, file);
        std::string copied(text.size(), '\0');
        file.SetPosition(at);
        file.ReadBuffer(copied.data(), std::int64_t(copied.size()));
        EXPECT_TRUE(copied == text);
        TMd5 md5;
        md5.Update(text.data(), text.size());
        EXPECT_EQ(range.Digest, md5.Finish());
    }
}

TEST(PdfSpool, AFailedAppendKeepsEarlierRangesAndIsWrittenOver) {
    testsupport::TempDir dir;
    TIEPDFSpool spool(dir.Path());
    auto first = Stream(1000, 1);
    auto second = Stream(5000, 2);
    const TIEPDFSpoolRange kept = spool.Append(*first);
    {
        TScopedWriteFault full(TFileStreamKind::Unnamed, 2000);
        try {
            spool.Append(*second);
            FAIL() << "no exception";
        } catch (const EWriteError& e) {
            EXPECT_NE(std::string(e.what()).find("\"" + dir.Path() + "\""), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(spool.Size(), kept.Length);
    const TIEPDFSpoolRange next = spool.Append(*second);
    EXPECT_EQ(next.Offset, kept.Length);
    EXPECT_EQ(Copied(spool, kept), TextOf(*first));
    EXPECT_EQ(Copied(spool, next), TextOf(*second));

    spool.DropFrom(next.Offset); // a page that could not be spooled whole
    EXPECT_EQ(spool.Size(), next.Offset);
}

TEST(PdfSpool, CopiedSpaceIsReleasedOnceTheDocumentIsWritten) {
    testsupport::TempDir dir;
    TIEPDFSpool spool(dir.Path());
    std::vector<TIEPDFSpoolRange> ranges;
    for (std::uint8_t i = 0; i < 4; ++i) ranges.push_back(spool.Append(*Stream(1 << 20, i)));
    const std::int64_t full = SpoolBlocks(dir.Path());
    ASSERT_GT(full, 0);
    TMemoryStream out;
    spool.CopyTo(ranges[0], out);
    EXPECT_EQ(SpoolBlocks(dir.Path()), full); // copies before the final pass keep everything

    spool.ReleaseAsCopied();
    for (const auto& r : ranges) spool.CopyTo(r, out);
    const std::int64_t released = SpoolBlocks(dir.Path());
    if (released == full) GTEST_SKIP() << "this file system cannot release parts of a file";
    EXPECT_LT(released, full / 16);
    std::string expected;
    for (std::uint8_t i = 0; i < 4; ++i) expected += TextOf(*Stream(1 << 20, i));
    EXPECT_EQ(std::string(out.Bytes().begin() + std::ptrdiff_t(ranges[0].Length), out.Bytes().end()),
              expected);
}

TEST(PdfSpool, AnUnusableFolderFallsBackToTheTemporaryFolder) {
    testsupport::TempDir dir;
    const std::string missing = dir.File("missing");
    {
        TIEPDFSpool spool(missing);
        EXPECT_EQ(spool.Folder(), SystemTempFolder());
    }
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", dir.File("no-temp").c_str(), 1);
    try {
        TIEPDFSpool spool(missing);
        ADD_FAILURE() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Path, missing); // the folder the caller asked for
    }
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}
