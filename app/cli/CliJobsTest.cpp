// The converter with several workers must give what it gives with one: the same document bytes, the
// same progress, report and verbose lines, the same exit status.
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
// An EXIF block (little-endian TIFF header, one IFD entry) saying the camera was held turned: the
// page comes out upright only when the orientation travels with the right image.
const std::string kExifRightTop =
    std::string("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);

void InsertApp1AfterSoi(const std::string& path, const std::string& payload) {
    std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    const std::size_t length = payload.size() + 2;
    std::vector<std::uint8_t> segment = {0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length & 0xFF)};
    segment.insert(segment.end(), payload.begin(), payload.end());
    bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
    testsupport::WriteFileBytes(path, bytes);
}

struct TRun {
    int Status = -1;
    std::string Out, Err;
    std::vector<std::uint8_t> Pdf;
};

class CliJobs : public ::testing::Test {
protected:
    // The inputs are made once for every case.
    static void SetUpTestSuite() {
        dirHolder = std::make_unique<testsupport::TempDir>();
        inputs.clear();
        MakeInputs(*dirHolder, inputs);
    }
    static void TearDownTestSuite() { dirHolder.reset(); }
    void SetUp() override {
        if (!testsupport::ToolAvailable("qpdf")) GTEST_SKIP() << "qpdf missing";
        ASSERT_EQ(inputs.size(), 9u) << "the inputs could not be made";
    }

    static void MakeInputs(testsupport::TempDir& dir, std::vector<std::string>& files) {
        const std::string im = "/usr/bin/convert ";
        const auto make = [&](const std::string& args, const std::string& name) {
            if (RunCommand(im + args + " " + ShellQuote(dir.File(name))) != 0) return;
            files.push_back(dir.File(name));
        };
        // A big photo first: it takes longest, so later entries finish before it when run at once.
        make("-size 900x700 gradient:red-blue -attenuate 0.3 +noise Gaussian -quality 85", "big.jpg");
        make("-size 64x48 xc:white xc:black xc:gray50 -fill red -draw 'circle 20,20 30,30' xc:white "
             "xc:black -compress Group4",
             "frames.tif");
        make("-delay 5 -size 40x30 xc:red xc:green xc:blue xc:yellow xc:cyan", "anim.gif");
        make("-size 120x80 gradient:yellow-navy -quality 90", "turned.jpg");
        InsertApp1AfterSoi(dir.File("turned.jpg"), kExifRightTop);
        make("-size 50x70 gradient:white-black -alpha set -channel A -evaluate set 50% +channel",
             "alpha.png");
        make("-size 200x150 gradient:green-white", "cut.png");
        // Cut short: a page with the data that was there, and a note.
        std::vector<std::uint8_t> cut = testsupport::ReadFileBytes(dir.File("cut.png"));
        cut.resize(cut.size() / 2);
        testsupport::WriteFileBytes(dir.File("cut.png"), cut);
        testsupport::WriteFileBytes(dir.File("text.jpg"), {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'g'});
        files.push_back(dir.File("text.jpg"));
        files.push_back(dir.File("missing.png"));
        make("-size 30x30 xc:blue", "last.bmp");
    }
    static inline std::unique_ptr<testsupport::TempDir> dirHolder;
    static inline std::vector<std::string> inputs;

    TRun Run(int jobs, const std::string& options) {
        const std::string folder = dir.File("jobs" + std::to_string(jobs));
        std::filesystem::create_directories(folder);
        std::string command = "cd " + ShellQuote(folder) + " && SOURCE_DATE_EPOCH=86400 " +
                              std::string(FOLIANTO_CONVERT) + " --jobs " + std::to_string(jobs) + " " +
                              options + " -o out.pdf";
        for (const std::string& f : files) command += " " + ShellQuote(f);
        TRun run;
        run.Status = RunCommand(command + " >out.txt 2>err.txt");
        run.Out = ReadText(folder + "/out.txt");
        run.Err = ReadText(folder + "/err.txt");
        if (std::filesystem::exists(folder + "/out.pdf"))
            run.Pdf = testsupport::ReadFileBytes(folder + "/out.pdf");
        std::filesystem::remove_all(folder);
        return run;
    }

    static std::string ReadText(const std::string& path) {
        const std::vector<std::uint8_t> b = testsupport::ReadFileBytes(path);
        return std::string(b.begin(), b.end());
    }

    testsupport::TempDir& dir = *dirHolder;
    const std::vector<std::string>& files = inputs;
};

struct TJobsCase {
    const char* Name;
    const char* Options;
};

const TJobsCase kJobsCases[] = {
    {"AutoVerbose", "--verbose"},
    {"DctImagePaper", "-c dct -p image --verbose"},
    {"G4Letter", "-c g4 -p Letter"},
    {"FlateAlphaKept", "-c flate --alpha keep --verbose"},
    {"RunLengthNotTurned", "-c rle --no-auto-orient --quiet"},
};

class CliJobsSame : public CliJobs, public ::testing::WithParamInterface<TJobsCase> {};

TEST_P(CliJobsSame, EveryWorkerCountGivesTheSameBytesAndLines) {
    const TRun one = Run(1, GetParam().Options);
    // The report lines prove the list held what the comparison needs: pages, skips and a note.
    ASSERT_EQ(one.Status, 1) << one.Err;
    ASSERT_FALSE(one.Pdf.empty());
    EXPECT_NE(one.Err.find("text.jpg"), std::string::npos) << one.Err;
    EXPECT_NE(one.Err.find("missing.png"), std::string::npos) << one.Err;
    EXPECT_NE(one.Err.find("cut.png"), std::string::npos) << one.Err;
    for (const int jobs : {2, 4, 7}) {
        const TRun many = Run(jobs, GetParam().Options);
        EXPECT_EQ(many.Status, one.Status) << jobs << " jobs";
        EXPECT_EQ(many.Out, one.Out) << jobs << " jobs";
        EXPECT_EQ(many.Err, one.Err) << jobs << " jobs";
        EXPECT_TRUE(many.Pdf == one.Pdf) << jobs << " jobs: the documents differ";
    }
}

INSTANTIATE_TEST_SUITE_P(Options, CliJobsSame, ::testing::ValuesIn(kJobsCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(CliJobs, StandardOutputDocumentIsTheSameWithWorkers) {
    std::vector<std::uint8_t> documents[2];
    int i = 0;
    for (const int jobs : {1, 3}) {
        std::string command = "SOURCE_DATE_EPOCH=86400 " + std::string(FOLIANTO_CONVERT) + " -q -j " +
                              std::to_string(jobs) + " -o -";
        for (const std::string& f : files) command += " " + ShellQuote(f);
        const std::string out = dir.File("stdout" + std::to_string(jobs) + ".pdf");
        EXPECT_EQ(RunCommand(command + " >" + ShellQuote(out) + " 2>/dev/null"), 1);
        documents[i++] = testsupport::ReadFileBytes(out);
    }
    ASSERT_FALSE(documents[0].empty());
    EXPECT_TRUE(documents[0] == documents[1]);
}
} // namespace
