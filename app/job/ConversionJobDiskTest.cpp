// The run against a disk that fills up or a process that is killed: the spool and a broken document
// must never stay behind.
#include "app/job/ConversionJob.h"
#include "app/job/ConversionTables.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "platform/WriteFault.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kPages = 6;
constexpr int kSide = 256;                    // pixels
constexpr int kPageBytes = kSide * kSide * 3; // an uncompressed page's image data
constexpr int kUncompressed = 0;              // CompressionItems index
constexpr int kCannotMount = 77;              // the child's exit status without a mount
const std::string kNoSpace = std::strerror(ENOSPC);

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename());
    return names;
}

// Writes everything to fd; the reports are small.
void WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

std::string ReadAll(int fd) {
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, std::size_t(n));
    return text;
}

class ConversionJobDiskTest : public ::testing::Test {
protected:
    ConversionJobDiskTest() : job(view, frameIO) {
        frameIO.SetAttachedPictora(&view);
        // Noise: uncompressed pages of known size that no file system squeezes.
        std::mt19937 noise(15);
        for (int i = 0; i < kPages; ++i) {
            testsupport::RgbImage image;
            image.Width = image.Height = kSide;
            image.Pixels.resize(kPageBytes);
            for (auto& b : image.Pixels) b = std::uint8_t(noise());
            const std::string name = "page" + std::to_string(i) + ".ppm";
            testsupport::WritePpm(dir.File(name), image);
            inputs.SourcePaths.push_back(dir.File(name));
        }
        std::filesystem::create_directory(disk);
        inputs.OutputFolder = disk;
        inputs.OutputName = "out";
        inputs.CompressionIndex = kUncompressed;
        inputs.Creator = std::string(CreatorText);
        inputs.Producer = std::string(ProducerText);
    }

    // Runs the job; on failure the message is collected.
    TJobResult Run(std::string& message, const std::function<void()>& afterEntry = {}) {
        TConversionCallbacks cb;
        cb.ShowMessage = [&](const std::string& text) { message = text; };
        cb.ProcessMessages = afterEntry;
        return job.Execute(inputs, cb);
    }

    testsupport::TempDir dir;
    const std::string disk = dir.File("disk");
    TConversionInputs inputs;
    TIEView view;
    TPictoraIO frameIO;
    TConversionJob job;
};
} // namespace

TEST_F(ConversionJobDiskTest, AFullDiskIsReportedWithItsPathAndLeavesNothing) {
    const struct {
        const char* Name;
        TFileStreamKind Kind;
        std::int64_t Room;
        std::string Names; // what the message must hold
    } cases[] = {
        // The third page no longer fits into the spool, beside the output.
        {"SpoolMidRun", TFileStreamKind::Unnamed, 2 * kPageBytes + 1000,
         "temporary file in \"" + disk + "\""},
        // Every page is spooled; the document itself runs out of room while it is written.
        {"OutputAtClose", TFileStreamKind::Named, 3 * kPageBytes, "\"" + disk + "/out.pdf\""},
    };
    // With two jobs the workers spool their pages' images themselves.
    for (const int jobs : {1, 2})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.Name) + ", jobs " + std::to_string(jobs));
            inputs.Jobs = jobs;
            std::string message;
            TJobResult r;
            {
                TScopedWriteFault full(c.Kind, c.Room);
                r = Run(message);
            }
            EXPECT_EQ(r.Outcome, TJobOutcome::Failed);
            EXPECT_NE(message.find(c.Names + ": " + kNoSpace), std::string::npos) << message;
            EXPECT_TRUE(Entries(disk).empty());
            EXPECT_TRUE(testsupport::UnnamedFilesOpenIn(0, disk).empty());
            EXPECT_FALSE(view.IOComponent()->PdfDocumentOpen());
        }
}

TEST_F(ConversionJobDiskTest, AKilledRunLeavesNoSpool) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        int entries = 0;
        std::string message;
        Run(message, [&] {
            // Two pages are in the spool: say so, then wait to be killed.
            if (++entries == 2) {
                WriteAll(ready[1], "spooled");
                for (;;) ::pause();
            }
        });
        ::_exit(1); // never reached while the parent keeps its word
    }
    ::close(ready[1]);
    char said[7] = {};
    for (std::size_t got = 0; got < sizeof said;) {
        const ssize_t n = ::read(ready[0], said + got, sizeof said - got);
        if (n <= 0) break;
        got += std::size_t(n);
    }
    ::close(ready[0]);
    const std::size_t spools = testsupport::UnnamedFilesOpenIn(child, disk).size();
    const std::set<std::string> whileRunning = Entries(disk);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(std::string(said, sizeof said), "spooled");
    // The spool sat beside the output, open but already without a name.
    EXPECT_EQ(spools, 1u);
    EXPECT_EQ(whileRunning, std::set<std::string>{"out.pdf"});
    // The empty output of a run cut short by a kill stays, as it always has; no spool does.
    EXPECT_EQ(Entries(disk), std::set<std::string>{"out.pdf"});
}

namespace {
// Runs report in a child process with a tmpfs of the given size on folder, visible to that child
// only; returns what it reported, or nothing when this machine lets no test mount one.
std::optional<std::string> OnASmallDisk(const std::string& folder, const std::string& size,
                                        const std::function<std::string()>& report) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) return std::nullopt;
    if (child == 0) {
        ::close(pipeFds[0]);
        const std::string options = "size=" + size;
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
            ::_exit(kCannotMount);
        // The child never returns into the test runner, whatever happens.
        try {
            WriteAll(pipeFds[1], report());
        } catch (const std::exception& e) {
            WriteAll(pipeFds[1], e.what());
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string text = ReadAll(pipeFds[0]);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == kCannotMount) return std::nullopt;
    return text;
}
} // namespace

// A real file system that fills up. The spool gives back the space of what it has copied while the
// document is written, so a document fits on a disk that could not hold it and a full spool at once.
TEST_F(ConversionJobDiskTest, ARealSmallDisk) {
    const struct {
        const char* Name;
        const char* Size;
        TJobOutcome Outcome;
        std::string Report;
    } cases[] = {
        {"TooSmallForTheSpool", "600k", TJobOutcome::Failed,
         "temporary file in \"" + disk + "\": " + kNoSpace + "\n"},
        // The pages fit in the spool, but the document cannot take its first page.
        {"TooSmallForTheDocument", "1250k", TJobOutcome::Failed,
         "The PDF file " + disk + "/out.pdf could not be written: Cannot write \"" + disk +
             "/out.pdf\": " + kNoSpace + "\n"},
        // Room for the pages and two more, not for the pages twice.
        {"EnoughForTheDocumentOnly", "1600k", TJobOutcome::Completed, "out.pdf\n"},
    };
    static_assert(kPages * kPageBytes < 1600 * 1024 - 2 * kPageBytes &&
                  2 * kPages * kPageBytes > 1600 * 1024);
    static_assert(kPages * kPageBytes < 1250 * 1024 && 1250 * 1024 < (kPages + 1) * kPageBytes);
    for (const auto& c : cases) {
        const std::optional<std::string> report = OnASmallDisk(disk, c.Size, [&] {
            std::string message;
            const TJobResult r = Run(message);
            std::string text = std::to_string(int(r.Outcome)) + "\n";
            if (r.Outcome == TJobOutcome::Failed) {
                const std::size_t spool = message.find("temporary file in");
                text += (spool == std::string::npos ? message : message.substr(spool)) + "\n";
            }
            for (const std::string& name : Entries(disk)) text += name + "\n";
            if (r.Outcome == TJobOutcome::Completed)
                std::filesystem::copy_file(r.OutputPath, dir.File("copy.pdf"));
            return text;
        });
        if (!report) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
        EXPECT_EQ(*report, std::to_string(int(c.Outcome)) + "\n" + c.Report) << c.Name;
    }
    std::string pages;
    ASSERT_EQ(testsupport::RunCommand("qpdf --show-npages " + testsupport::ShellQuote(dir.File("copy.pdf")),
                                      &pages),
              0);
    EXPECT_EQ(std::stoi(pages), kPages);
}
