#include "app/job/ConversionJob.h"
#include "app/job/ConversionTables.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "testsupport/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
struct Recorder {
    std::vector<std::string> messages;
    std::vector<int> maxes, positions;
    int beeps = 0;
    std::vector<std::string> opened;
    std::vector<TSkippedInput> skipped;
    std::vector<bool> enabled;
    std::function<void()> onProcessMessages;

    TConversionCallbacks Callbacks() {
        TConversionCallbacks cb;
        cb.ShowMessage = [this](const std::string& t) { messages.push_back(t); };
        cb.SetProgressMax = [this](int m) { maxes.push_back(m); };
        cb.SetProgressPosition = [this](int p) { positions.push_back(p); };
        cb.Beep = [this] { ++beeps; };
        cb.OpenFolder = [this](const std::string& f) { opened.push_back(f); };
        cb.ProcessMessages = [this] {
            if (onProcessMessages) onProcessMessages();
        };
        cb.SetInputsEnabled = [this](bool e) { enabled.push_back(e); };
        cb.ReportSkipped = [this](const std::vector<TSkippedInput>& s) { skipped = s; };
        return cb;
    }
};

int PageCount(const std::string& pdf) {
    std::string out;
    if (RunCommand("qpdf --show-npages " + ShellQuote(pdf) + " 2>/dev/null", &out) != 0) return -1;
    return std::atoi(out.c_str());
}

class ConversionJobTest : public ::testing::Test {
protected:
    ConversionJobTest() : job(view, frameIO) { frameIO.SetAttachedPictora(&view); }

    void MakeTiff(const std::string& name, int pages) {
        std::string cmd = "/usr/bin/convert -size 64x48";
        for (int i = 0; i < pages; ++i) cmd += " xc:" + std::string(i % 2 ? "black" : "white");
        ASSERT_EQ(RunCommand(cmd + " -compress Group4 " + ShellQuote(dir.File(name))), 0);
    }
    void MakeImage(const std::string& args, const std::string& name) {
        ASSERT_EQ(RunCommand("/usr/bin/convert " + args + " " + ShellQuote(dir.File(name))), 0);
    }
    TConversionInputs Inputs(std::vector<std::string> files) {
        TConversionInputs in;
        in.OutputFolder = dir.Path();
        in.OutputName = "out";
        for (auto& f : files) in.SourcePaths.push_back(dir.File(f));
        in.Creator = std::string(CreatorText);
        in.Producer = std::string(ProducerText);
        return in;
    }

    testsupport::TempDir dir;
    TIEView view;
    TPictoraIO frameIO;
    TConversionJob job;
    Recorder rec;
};
} // namespace

TEST_F(ConversionJobTest, ValidationOrderAndTexts) {
    std::filesystem::create_directory(dir.File("sub"));
    testsupport::WriteFileBytes(dir.File("sub/taken.pdf"), {1});
    struct Case {
        std::string folder, name, message, outputPath;
    };
    const std::string sub = dir.File("sub");
    const Case cases[] = {
        {dir.File("missing"), "x", "Directory not found!", dir.File("missing") + "/x.pdf"},
        {"", "x", "Directory not found!", "x.pdf"},
        {sub, "taken", "Change the name of the output file!", sub + "/taken.pdf"},
        {sub + "/", "", "Will enter file name!", sub + "/.pdf"},
        {sub, "fresh", "", sub + "/fresh.pdf"},
        {sub, "fresh.pdf", "", sub + "/fresh.pdf.pdf"},
    };
    for (const Case& c : cases) {
        TConversionInputs in;
        in.OutputFolder = c.folder;
        in.OutputName = c.name;
        std::string folderPath, outputPath;
        EXPECT_EQ(TConversionJob::Validate(in, folderPath, outputPath), c.message)
            << c.folder << "|" << c.name;
        EXPECT_EQ(outputPath, c.outputPath);
    }
    // An empty name with a file called just ".pdf" present: the existence check fires first.
    testsupport::WriteFileBytes(sub + "/.pdf", {1});
    TConversionInputs in;
    in.OutputFolder = sub;
    Recorder r;
    const TJobResult result = job.Execute(in, r.Callbacks());
    EXPECT_EQ(result.Outcome, TJobOutcome::NotStarted);
    EXPECT_EQ(r.messages, std::vector<std::string>{"Change the name of the output file!"});
    EXPECT_TRUE(r.enabled.empty()); // nothing was disabled or changed
}

TEST_F(ConversionJobTest, PaperFollowsTheImagesOrientation) {
    struct Case {
        int paper, bw, bh, pw, ph;
    };
    const Case cases[] = {
        {4, 2000, 1000, 842, 595},   {4, 1000, 1000, 595, 842},   {4, 1000, 2000, 595, 842},
        {10, 2000, 1000, 792, 1224}, {10, 1000, 2000, 1224, 792}, {12, 1700, 2200, 1700, 2200},
        {8, 1700, 2200, 612, 792},   {11, 3000, 100, 1224, 792},
    };
    for (const Case& c : cases) {
        view.IEBitmap()->Reallocate(c.bw, c.bh, ie1Bit);
        view.Update();
        const TPaperItem& p = PaperItems[c.paper];
        job.ParamPaper(c.paper, p.Height, p.Width);
        EXPECT_EQ(view.IOComponent()->Params().PdfPaperWidth, c.pw) << c.paper << " " << c.bw << "x" << c.bh;
        EXPECT_EQ(view.IOComponent()->Params().PdfPaperHeight, c.ph);
    }
}

TEST_F(ConversionJobTest, FramesProgressAndTheFinalSteps) {
    MakeTiff("three.tif", 3);
    MakeImage("-size 20x10 xc:red", "a.png");
    MakeImage("-size 30x20 xc:blue", "b.jpg");
    std::filesystem::copy_file(dir.File("three.tif"), dir.File("three.fax")); // one page: first frame only
    TJobResult r = job.Execute(Inputs({"b.jpg", "three.tif", "three.fax"}), rec.Callbacks());
    ASSERT_EQ(r.Outcome, TJobOutcome::Completed) << r.Message;
    EXPECT_EQ(r.PagesWritten, 1 + 3 + 1);
    EXPECT_EQ(PageCount(r.OutputPath), 5);
    EXPECT_EQ(rec.maxes.front(), 30);
    EXPECT_EQ(rec.maxes.back(), 60); // 30 for three entries, 30 for the three frames
    ASSERT_GE(rec.positions.size(), 2u);
    EXPECT_EQ(rec.positions[rec.positions.size() - 2], 60); // reaches Max exactly, then back to 0
    EXPECT_EQ(rec.positions.back(), 0);
    EXPECT_EQ(rec.beeps, 1);
    EXPECT_EQ(rec.opened, std::vector<std::string>{dir.Path() + "/"});
    EXPECT_EQ(rec.enabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(job.RunFlag, 0);
    EXPECT_EQ(frameIO.Params().TiffFrameIndex, 2);
}

TEST_F(ConversionJobTest, TiffFrameIndexCarriesOverToTheCountingLoad) {
    MakeTiff("three.tif", 3);
    frameIO.Params().TiffFrameIndex = 7; // beyond this file: the counting load reads nothing
    TJobResult r = job.Execute(Inputs({"three.tif"}), rec.Callbacks());
    EXPECT_EQ(r.PagesWritten, 3);
    EXPECT_TRUE(r.Skipped.empty());
}

TEST_F(ConversionJobTest, AnimatedGifGivesOnePagePerFrame) {
    MakeImage("-delay 5 -size 16x16 xc:red xc:lime xc:blue xc:yellow xc:black", "five.gif");
    TJobResult r = job.Execute(Inputs({"five.gif"}), rec.Callbacks());
    EXPECT_EQ(r.PagesWritten, 5);
    EXPECT_EQ(PageCount(r.OutputPath), 5);
    EXPECT_EQ(frameIO.Params().GifFrameIndex, 4);
}

TEST_F(ConversionJobTest, StopWritesThePagesDoneSoFar) {
    MakeImage("-size 20x10 xc:red", "a.png");
    MakeImage("-size 20x10 xc:green", "b.png");
    MakeImage("-size 20x10 xc:blue", "c.png");
    rec.onProcessMessages = [this] { job.RunFlag = 0; }; // closing the window after the first entry
    TJobResult r = job.Execute(Inputs({"a.png", "b.png", "c.png"}), rec.Callbacks());
    EXPECT_EQ(r.Outcome, TJobOutcome::Stopped);
    EXPECT_EQ(PageCount(r.OutputPath), 1);
    EXPECT_EQ(rec.beeps, 1);
    EXPECT_EQ(rec.opened.size(), 1u);
}

TEST_F(ConversionJobTest, UnreadableSourcesAreSkippedAndReported) {
    MakeImage("-size 20x10 xc:red", "a.png");
    testsupport::WriteFileBytes(dir.File("text.jpg"), {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'});
    testsupport::WriteFileBytes(dir.File("notes.xyz"), {'x'});
    TJobResult r =
        job.Execute(Inputs({"a.png", "missing.png", "text.jpg", "notes.xyz", "gone.tif"}), rec.Callbacks());
    EXPECT_EQ(r.Outcome, TJobOutcome::Completed);
    EXPECT_EQ(r.PagesWritten, 1);
    EXPECT_EQ(PageCount(r.OutputPath), 1);
    ASSERT_EQ(rec.skipped.size(), 4u);
    EXPECT_NE(rec.skipped[0].Reason.find("cannot be opened"), std::string::npos) << rec.skipped[0].Reason;
    EXPECT_EQ(rec.skipped[1].Path, dir.File("text.jpg"));
    EXPECT_EQ(rec.skipped[2].Reason, "not a supported image file");
    EXPECT_EQ(rec.skipped[3].Path, dir.File("gone.tif"));
}

TEST_F(ConversionJobTest, AnOutputThatCannotBeCreatedFailsLoudlyAndLeavesNoFile) {
    MakeImage("-size 20x10 xc:red", "a.png");
    std::filesystem::create_directory(dir.File("out"));
    TConversionInputs in = Inputs({"a.png"});
    in.OutputFolder = dir.File("out");
    TConversionCallbacks cb = rec.Callbacks();
    cb.SetInputsEnabled = [&](bool e) {
        if (!e) std::filesystem::remove_all(dir.File("out")); // the folder vanishes after validation
    };
    TJobResult r = job.Execute(in, cb);
    EXPECT_EQ(r.Outcome, TJobOutcome::Failed);
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_NE(rec.messages[0].find("out.pdf"), std::string::npos) << rec.messages[0];
    EXPECT_FALSE(std::filesystem::exists(r.OutputPath));
    EXPECT_EQ(rec.beeps, 0);
}
