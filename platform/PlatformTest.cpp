#include "platform/Colors.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/WriteFault.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

TEST(MemoryStream, ReadWriteSeekAndShortReads) {
    TMemoryStream s;
    EXPECT_EQ(s.Write("abcdef", 6), 6);
    EXPECT_EQ(s.Position(), 6);
    EXPECT_EQ(s.Seek(-2, TSeekOrigin::soEnd), 4);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 2);
    EXPECT_EQ(std::string(buf, 2), "ef");
    EXPECT_EQ(s.Read(buf, 1), 0);
    s.SetPosition(5);
    EXPECT_THROW(s.ReadBuffer(buf, 2), EReadError);
    EXPECT_EQ(s.Seek(-100, TSeekOrigin::soCurrent), 0); // clamps at the start
    s.SetPosition(10);                                  // writing past the end grows with zeros
    s.Write("x", 1);
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.Memory()[7], 0);
}

// Reserving changes nothing that can be read; taking the bytes leaves an empty stream to reuse.
TEST(MemoryStream, ReserveAndTakeBytes) {
    TMemoryStream s;
    for (const std::int64_t bytes : {std::int64_t(-1), std::int64_t(0), std::int64_t(100)}) s.Reserve(bytes);
    EXPECT_EQ(s.Size(), 0);
    s.Write("abc", 3);
    s.Reserve(1); // smaller than what is there
    EXPECT_EQ(s.Size(), 3);
    const std::vector<std::uint8_t> taken = s.TakeBytes();
    EXPECT_EQ(std::string(taken.begin(), taken.end()), "abc");
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Position(), 0);
    s.Write("d", 1);
    EXPECT_EQ(std::string(s.Bytes().begin(), s.Bytes().end()), "d");
}

TEST(ReadOnlyMemoryStream, NeverReadsPastItsEnd) {
    const std::uint8_t data[] = {1, 2, 3};
    TReadOnlyMemoryStream s(data, 3);
    std::uint8_t out[4] = {};
    s.SetPosition(2);
    EXPECT_EQ(s.Read(out, 4), 1);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(s.Write(out, 1), 0);
    EXPECT_EQ(s.Remaining(), 0);
}

TEST(FileStream, OpenFailureCarriesPathAndReason) {
    try {
        TFileStream f("/nonexistent-folder/x.bin", fmOpenRead);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Path, "/nonexistent-folder/x.bin");
        EXPECT_FALSE(e.Reason.empty());
    }
    testsupport::TempDir dir;
    EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFOpenError); // a folder is not a file
}

TEST(FileStream, CreateWriteReopenAndResize) {
    testsupport::TempDir dir;
    const std::string path = dir.File("a.bin");
    {
        TFileStream f(path, fmCreate);
        f.WriteBuffer("hello", 5);
        f.SetSize(3);
    }
    TFileStream r(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(r.Size(), 3);
    char buf[3];
    r.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "hel");
}

TEST(FileSystem, FoldersTempFilesAndCopies) {
    testsupport::TempDir dir;
    const std::string nested = dir.File("a/b/c");
    EXPECT_TRUE(ForceDirectories(nested));
    EXPECT_TRUE(DirectoryExists(nested));
    EXPECT_FALSE(ForceDirectories(""));

    const std::string t1 = CreateUniqueTempFile(nested, "pictora");
    const std::string t2 = CreateUniqueTempFile(nested, "pictora");
    ASSERT_FALSE(t1.empty());
    EXPECT_NE(t1, t2);
    EXPECT_EQ(ExtractFileName(t1).rfind("pictora", 0), 0u);
    EXPECT_TRUE(CreateUniqueTempFile(dir.File("missing"), "p").empty());

    testsupport::WriteFileBytes(t1, {1, 2, 3});
    EXPECT_TRUE(CopyFileContents(t1, t2));
    EXPECT_EQ(testsupport::ReadFileBytes(t2), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_FALSE(CopyFileContents(dir.File("nope"), t2));
}

TEST(FileSystem, PathPieces) {
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
        const char* ext;
    };
    const Case cases[] = {
        {"/a/b/photo.JPG", "/a/b/", "photo.JPG", ".JPG"},
        {"photo", "", "photo", ""},
        {"/a.b/c", "/a.b/", "c", ""},
        {"/x/archive.tar.gz", "/x/", "archive.tar.gz", ".gz"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtractFilePath(c.path), c.folder) << c.path;
        EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
        EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
    }
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/"), "/tmp/");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/tmp/"), "/tmp");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(Colors, SystemColoursResolveThroughTheTable) {
    EXPECT_EQ(ColorToRGB(RGBColor(1, 2, 3)), 0x030201u);
    SetSystemColor(COLOR_BTNFACE, RGBColor(10, 20, 30));
    EXPECT_EQ(ColorToRGB(clBtnFace), RGBColor(10, 20, 30));
    EXPECT_EQ(ColorToRGB(clSystemColor | 200), clBlack); // outside the table
}

TEST(DateTime, UtcFieldsOfEpochSeconds) {
    struct Case {
        std::int64_t Seconds;
        TDocumentTime Fields;
    };
    const Case cases[] = {
        {0, {1970, 1, 1, 0, 0, 0, 0, true}},
        {951782400, {2000, 2, 29, 0, 0, 0, 0, true}},     // leap day of a year divisible by 400
        {4107542399, {2100, 2, 28, 23, 59, 59, 0, true}}, // 2100 is not a leap year
        {1700000000, {2023, 11, 14, 22, 13, 20, 0, true}},
        {253402300799, {9999, 12, 31, 23, 59, 59, 0, true}}, // the last moment a PDF date can hold
    };
    for (const Case& c : cases) EXPECT_EQ(UtcDocumentTime(c.Seconds), c.Fields) << c.Seconds;
}

TEST(DateTime, SourceDateEpochIsADecimalCountOfSeconds) {
    struct Case {
        const char* Value; // null: unset
        TSourceDateEpoch Result;
        std::int64_t Seconds;
    };
    const Case cases[] = {
        {nullptr, TSourceDateEpoch::Unset, 0},
        {"0", TSourceDateEpoch::Valid, 0},
        {"1700000000", TSourceDateEpoch::Valid, 1700000000},
        {"253402300799", TSourceDateEpoch::Valid, 253402300799},
        {"253402300800", TSourceDateEpoch::Malformed, 0}, // past 9999
        {"99999999999999999999999", TSourceDateEpoch::Malformed, 0},
        {"", TSourceDateEpoch::Malformed, 0},
        {"-1", TSourceDateEpoch::Malformed, 0},
        {" 1", TSourceDateEpoch::Malformed, 0},
        {"1e9", TSourceDateEpoch::Malformed, 0},
        {"yesterday", TSourceDateEpoch::Malformed, 0},
    };
    const char* saved = std::getenv("SOURCE_DATE_EPOCH");
    const std::string old = saved ? saved : "";
    for (const Case& c : cases) {
        if (c.Value)
            ::setenv("SOURCE_DATE_EPOCH", c.Value, 1);
        else
            ::unsetenv("SOURCE_DATE_EPOCH");
        std::int64_t seconds = 0;
        EXPECT_EQ(ReadSourceDateEpoch(seconds), c.Result) << (c.Value ? c.Value : "unset");
        if (c.Result == TSourceDateEpoch::Valid) {
            EXPECT_EQ(seconds, c.Seconds);
            EXPECT_EQ(DocumentTimeNow(), UtcDocumentTime(c.Seconds));
        } else {
            EXPECT_FALSE(DocumentTimeNow().Utc); // the local clock instead
        }
    }
    if (saved)
        ::setenv("SOURCE_DATE_EPOCH", old.c_str(), 1);
    else
        ::unsetenv("SOURCE_DATE_EPOCH");
}

TEST(DateTime, EncodesTheStoredDateFormat) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 0, 0, 0), 36526.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12, 0, 0), 36526.5);
    const TLocalDateTime n = NowLocal();
    EXPECT_GE(n.Year, 2024);
    EXPECT_LE(TodayAsDateTime(), NowAsDateTime());
}

// ---- unnamed files and the write-fault seam

namespace {
std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
    return names;
}

class UnnamedFile : public testing::TestWithParam<TUnnamedFileCreation> {};
} // namespace

TEST_P(UnnamedFile, LeavesNoNameAndIsPrivate) {
    testsupport::TempDir dir;
    const std::unique_ptr<TFileStream> f = TFileStream::CreateUnnamed(dir.Path() + "/", GetParam());
    EXPECT_TRUE(f->Unnamed());
    EXPECT_EQ(f->FileName(), dir.Path());
    EXPECT_TRUE(FolderEntries(dir.Path()).empty());
    struct stat st {};
    ASSERT_EQ(::fstat(f->Handle(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_nlink, 0u); // nothing to clean up on any exit

    f->WriteBuffer("spooled", 7);
    f->SetPosition(2);
    char buf[5];
    f->ReadBuffer(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "ooled");
}
INSTANTIATE_TEST_SUITE_P(Creation, UnnamedFile,
                         testing::Values(TUnnamedFileCreation::NeverNamed,
                                         TUnnamedFileCreation::UnlinkedAtOnce),
                         [](const auto& info) {
                             return info.param == TUnnamedFileCreation::NeverNamed ? "NeverNamed"
                                                                                   : "UnlinkedAtOnce";
                         });

TEST(UnnamedFileErrors, AFolderThatCannotHoldOneIsNamed) {
    testsupport::TempDir dir;
    try {
        TFileStream::CreateUnnamed(dir.File("missing"));
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Path, dir.File("missing"));
    }
}

TEST(WriteFault, FailsOnlyTheChosenKindOnceItsBudgetIsSpent) {
    testsupport::TempDir dir;
    const std::unique_ptr<TFileStream> unnamed = TFileStream::CreateUnnamed(dir.Path());
    TFileStream named(dir.File("out.pdf"), fmCreate);
    const std::string chunk(6, 'x');
    {
        TScopedWriteFault fault(TFileStreamKind::Unnamed, 10);
        EXPECT_THROW(TScopedWriteFault(TFileStreamKind::Named, 1), std::logic_error); // one at a time
        EXPECT_EQ(unnamed->Write(chunk.data(), 6), 6);
        EXPECT_EQ(named.Write(chunk.data(), 6), 6); // the other kind is not touched
        try {
            unnamed->WriteBuffer(chunk.data(), 6);
            FAIL() << "no exception";
        } catch (const EWriteError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Cannot write the temporary file in \"" + dir.Path() + "\": " + std::strerror(ENOSPC));
        }
        EXPECT_EQ(unnamed->Size(), 10); // what the budget allowed went to the file
        EXPECT_EQ(unnamed->Write(chunk.data(), 1), 0);
    }
    EXPECT_EQ(unnamed->Write(chunk.data(), 6), 6); // the fault ends with its scope

    TScopedWriteFault fault(TFileStreamKind::Named, 0);
    try {
        named.WriteBuffer(chunk.data(), 1);
        FAIL() << "no exception";
    } catch (const EWriteError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot write \"" + dir.File("out.pdf") + "\": " + std::strerror(ENOSPC));
    }
}

// Copies within one file system go through the system, those to another one (tmpfs, where the
// machine has it) through a buffer: either way the range lands at the output's position, a fault
// budget stops it with the output's reason, and a source too short is a read error.
TEST(FileStream, CopyRangeFromAnotherFile) {
    testsupport::TempDir dir;
    const std::unique_ptr<TFileStream> source = TFileStream::CreateUnnamed(dir.Path());
    std::string data(3 << 20 | 777, '\0'); // more than one step of the copy
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = char(i * 131 + (i >> 12));
    source->WriteBuffer(data.data(), std::int64_t(data.size()));
    std::vector<std::string> folders = {dir.Path()};
    if (std::filesystem::is_directory("/dev/shm")) folders.push_back("/dev/shm");
    for (const std::string& folder : folders) {
        const std::string path = folder + "/copy-" + std::to_string(::getpid()) + ".bin";
        struct Removed {
            std::string Path;
            ~Removed() { std::remove(Path.c_str()); }
        } removed{path};
        TFileStream out(path, fmCreate);
        out.WriteBuffer("head", 4);
        EXPECT_EQ(out.CopyRangeFrom(*source, 5, std::int64_t(data.size()) - 5),
                  std::int64_t(data.size()) - 5);
        EXPECT_EQ(out.CopyRangeFrom(*source, 1, 2), 2);
        EXPECT_EQ(out.CopyRangeFrom(*source, 0, 0), 0);
        EXPECT_EQ(out.Position(), std::int64_t(data.size()) + 1);
        const auto bytes = testsupport::ReadFileBytes(path);
        EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == "head" + data.substr(5) + data.substr(1, 2))
            << folder;

        EXPECT_THROW(out.CopyRangeFrom(*source, std::int64_t(data.size()) - 10, 11), EReadError) << folder;
        out.SetPosition(0);
        TScopedWriteFault fault(TFileStreamKind::Named, 1500000);
        EXPECT_EQ(out.CopyRangeFrom(*source, 0, std::int64_t(data.size())), 1500000) << folder;
        EXPECT_EQ(out.WriteErrorText(), "Cannot write \"" + path + "\": " + std::strerror(ENOSPC));
    }
}

// Reads and seeks of every size through the buffer, across its edges, back and past the end, give
// what the stream itself gives, and leave the stream at the reader's position.
TEST(BufferedReader, ReadsAsTheStreamItself) {
    std::vector<std::uint8_t> data(200000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i * 7 + (i >> 8));
    const struct {
        std::int64_t Seek; // applied before the read
        TSeekOrigin Origin;
        std::int64_t Read;
    } steps[] = {
        {0, TSeekOrigin::soCurrent, 1},
        {3, TSeekOrigin::soCurrent, 255},
        {65530, TSeekOrigin::soBeginning, 20},  // across the first buffer's end
        {-40, TSeekOrigin::soCurrent, 7},       // back into the previous buffer
        {100, TSeekOrigin::soBeginning, 70000}, // larger than the buffer
        {0, TSeekOrigin::soCurrent, 3},
        {-5, TSeekOrigin::soEnd, 50}, // past the end
        {10, TSeekOrigin::soEnd, 4},
        {-300000, TSeekOrigin::soCurrent, 2}, // clamped at 0
        {131071, TSeekOrigin::soBeginning, 65537},
    };
    TReadOnlyMemoryStream plain(data.data(), std::int64_t(data.size()));
    TReadOnlyMemoryStream source(data.data(), std::int64_t(data.size()));
    source.SetPosition(9);
    plain.SetPosition(9);
    {
        TBufferedReader buffered(source);
        EXPECT_EQ(buffered.Size(), std::int64_t(data.size()));
        int step = 0;
        for (const auto& s : steps) {
            SCOPED_TRACE(step++);
            EXPECT_EQ(buffered.Seek(s.Seek, s.Origin), plain.Seek(s.Seek, s.Origin));
            std::vector<std::uint8_t> want(std::size_t(s.Read)), got(std::size_t(s.Read));
            const std::int64_t wantCount = plain.Read(want.data(), s.Read);
            ASSERT_EQ(buffered.Read(got.data(), s.Read), wantCount);
            EXPECT_TRUE(want == got);
            EXPECT_EQ(buffered.Position(), plain.Position());
        }
    }
    EXPECT_EQ(source.Position(), plain.Position());
}

TEST(FileStream, DiscardGivesTheSpaceBack) {
    testsupport::TempDir dir;
    const std::unique_ptr<TFileStream> f = TFileStream::CreateUnnamed(dir.Path());
    const std::vector<char> data(1 << 20, 'd');
    f->WriteBuffer(data.data(), std::int64_t(data.size()));
    ::fsync(f->Handle());
    struct stat before {};
    ASSERT_EQ(::fstat(f->Handle(), &before), 0);
    if (!f->Discard(0, 1 << 19)) GTEST_SKIP() << "this file system cannot release parts of a file";
    struct stat after {};
    ASSERT_EQ(::fstat(f->Handle(), &after), 0);
    EXPECT_LT(after.st_blocks, before.st_blocks);
    EXPECT_EQ(f->Size(), 1 << 20);
    char first = 'x', kept = 'x';
    f->SetPosition(0);
    f->ReadBuffer(&first, 1);
    f->SetPosition(1 << 19);
    f->ReadBuffer(&kept, 1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(kept, 'd');
}
