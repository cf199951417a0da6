#include "app/job/ConversionJob.h"
#include "app/job/ConversionTables.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatTable.h"
#include "imaging/params/IOParams.h"
#include "platform/net/HttpClient.h"
#include "testsupport/HttpTestServer.h"
#include "testsupport/TestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sstream>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
struct Recorder {
    std::vector<std::string> messages;
    std::vector<int> maxes, positions;
    int beeps = 0;
    std::vector<std::string> opened;
    std::vector<TSkippedInput> skipped;
    std::vector<TPageNote> notes;
    std::vector<bool> enabled;
    std::vector<std::string> pages; // "entry/entries page/pages name" of every page started
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
        cb.ReportSkipped = [this](const std::vector<TSkippedInput>& s, const std::vector<TPageNote>& n) {
            skipped = s;
            notes = n;
        };
        cb.PageStarted = [this](const TPageProgress& p) {
            pages.push_back(std::to_string(p.Entry) + "/" + std::to_string(p.Entries) + " " +
                            std::to_string(p.Page) + "/" + std::to_string(p.Pages) + " " +
                            p.Path.substr(p.Path.rfind('/') + 1));
        };
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
    EXPECT_EQ(rec.pages, (std::vector<std::string>{"1/3 1/1 b.jpg", "2/3 1/3 three.tif", "2/3 2/3 three.tif",
                                                   "2/3 3/3 three.tif", "3/3 1/1 three.fax"}));
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
    MakeTiff("four.tif", 4);
    struct Case {
        int Jobs;
        std::vector<std::string> Files;
        int StopAtCall; // the ProcessMessages call that stops the run
        int Pages;
    };
    // Workers may have made later pages already: they must not reach the document.
    const Case cases[] = {
        {1, {"a.png", "b.png", "c.png"}, 1, 1},
        {3, {"a.png", "b.png", "c.png"}, 1, 1},
        {1, {"a.png", "four.tif", "c.png"}, 3, 3},
        {2, {"a.png", "four.tif", "c.png"}, 3, 3},
        {4, {"four.tif", "a.png", "b.png", "c.png"}, 1, 1},
    };
    int run = 0;
    for (const Case& c : cases) {
        Recorder r;
        int calls = 0;
        // Closing the window after that many entries or frames.
        r.onProcessMessages = [&] {
            if (++calls == c.StopAtCall) job.RunFlag = 0;
        };
        TConversionInputs in = Inputs(c.Files);
        in.OutputName = "stopped" + std::to_string(++run);
        in.Jobs = c.Jobs;
        const TJobResult result = job.Execute(in, r.Callbacks());
        EXPECT_EQ(result.Outcome, TJobOutcome::Stopped) << run;
        EXPECT_EQ(PageCount(result.OutputPath), c.Pages) << run;
        EXPECT_EQ(result.PagesWritten, c.Pages) << run;
        EXPECT_EQ(r.beeps, 1) << run;
        EXPECT_EQ(r.opened.size(), 1u) << run;
        EXPECT_EQ(r.enabled, (std::vector<bool>{false, true})) << run;
    }
}

// Several workers make the same run as one: the same callbacks in the same order, the same result and
// the same document bytes.
TEST_F(ConversionJobTest, WorkersGiveTheRunOfOneThread) {
    ::setenv("SOURCE_DATE_EPOCH", "86400", 1);
    MakeTiff("three.tif", 3);
    MakeImage("-delay 5 -size 16x16 xc:red xc:lime xc:blue", "anim.gif");
    MakeImage("-size 300x200 gradient:red-blue", "photo.jpg");
    MakeImage("-size 20x30 xc:green", "small.png");
    // Frames that differ in size, colour, resolution and orientation: a frame made by another worker
    // must not take anything from the frame that worker made before.
    MakeImage("\\( -size 40x30 gradient:red-blue -density 72 -orient TopLeft \\) "
              "\\( -size 30x50 xc:gray50 -colorspace Gray -density 200 -orient RightTop \\) "
              "\\( -size 24x24 pattern:checkerboard -monochrome -density 300 -orient TopLeft \\) "
              "-compress None",
              "mixed.tif");
    testsupport::WriteFileBytes(dir.File("broken.png"), {'n', 'o', 't'});
    const std::vector<std::string> files = {"photo.jpg",   "three.tif", "broken.png", "anim.gif",
                                            "missing.gif", "small.png", "mixed.tif",  "three.tif",
                                            "photo.jpg",   "mixed.tif"};
    const auto runWith = [&](int jobs, int compression, Recorder& r, std::vector<std::uint8_t>& pdf) {
        TConversionInputs in = Inputs(files);
        in.OutputName = "jobs" + std::to_string(jobs) + "-" + std::to_string(compression);
        in.Jobs = jobs;
        in.CompressionIndex = compression;
        const TJobResult result = job.Execute(in, r.Callbacks());
        pdf = testsupport::ReadFileBytes(result.OutputPath);
        return result;
    };
    for (const int compression : {CompressionAutomaticIndex, CompressionFlateIndex,
                                  CompressionIndexOf(pdfGroup4), CompressionDctIndex}) {
        Recorder one;
        std::vector<std::uint8_t> onePdf;
        const TJobResult first = runWith(1, compression, one, onePdf);
        ASSERT_EQ(first.Outcome, TJobOutcome::Completed) << first.Message;
        EXPECT_EQ(first.PagesWritten, 18);
        for (const int jobs : {2, 3, 8}) {
            Recorder many;
            std::vector<std::uint8_t> manyPdf;
            const TJobResult r = runWith(jobs, compression, many, manyPdf);
            const std::string at = std::to_string(jobs) + " jobs, compression " + std::to_string(compression);
            EXPECT_EQ(r.Outcome, first.Outcome) << at;
            EXPECT_EQ(r.PagesWritten, first.PagesWritten) << at;
            EXPECT_EQ(r.PagesKept, first.PagesKept) << at;
            EXPECT_EQ(many.pages, one.pages) << at;
            EXPECT_EQ(many.maxes, one.maxes) << at;
            EXPECT_EQ(many.positions, one.positions) << at;
            EXPECT_EQ(many.enabled, one.enabled) << at;
            ASSERT_EQ(many.skipped.size(), one.skipped.size()) << at;
            for (std::size_t i = 0; i < one.skipped.size(); ++i) {
                EXPECT_EQ(many.skipped[i].Path, one.skipped[i].Path) << at;
                EXPECT_EQ(many.skipped[i].Frame, one.skipped[i].Frame) << at;
                EXPECT_EQ(many.skipped[i].Reason, one.skipped[i].Reason) << at;
            }
            ASSERT_EQ(r.Stored.size(), first.Stored.size()) << at;
            for (std::size_t i = 0; i < first.Stored.size(); ++i) {
                EXPECT_EQ(r.Stored[i].Path, first.Stored[i].Path) << at;
                EXPECT_EQ(r.Stored[i].Frame, first.Stored[i].Frame) << at;
                EXPECT_EQ(r.Stored[i].NotKeptReason, first.Stored[i].NotKeptReason) << at;
            }
            EXPECT_TRUE(manyPdf == onePdf) << at << ": the documents differ";
        }
    }
    ::unsetenv("SOURCE_DATE_EPOCH");
}

TEST_F(ConversionJobTest, AFrameThatCannotBeReadCostsThatFrameAlone) {
    MakeTiff("four.tif", 4);
    MakeImage("-size 20x10 xc:red", "a.png");
    // The file goes away once its first frame is made: each frame after it is reported on its own,
    // as it would be had another worker made it, and the run goes on.
    bool removed = false;
    rec.onProcessMessages = [&] {
        if (!removed) removed = std::remove(dir.File("four.tif").c_str()) == 0;
    };
    const TJobResult r = job.Execute(Inputs({"four.tif", "a.png"}), rec.Callbacks());
    EXPECT_EQ(r.Outcome, TJobOutcome::Completed);
    EXPECT_EQ(r.PagesWritten, 2);
    ASSERT_EQ(rec.skipped.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(rec.skipped[std::size_t(k)].Frame, k + 1);
        EXPECT_NE(rec.skipped[std::size_t(k)].Reason.find("cannot be opened"), std::string::npos)
            << rec.skipped[std::size_t(k)].Reason;
    }
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

namespace {
// A registered format whose reader succeeds without giving the image a single pixel.
constexpr int kEmptyImageFormat = 90;
void RegisterEmptyImageFormat() {
    if (FindFormatByExtension("EMPTYIMG")) return;
    TIEFileFormatInfo info;
    info.FileType = kEmptyImageFormat;
    info.FullName = "Image without pixels";
    info.Extensions = "EMPTYIMG";
    info.ReadFunction = [](TStream&, TIEBitmap& bitmap, TIOParamsVals&, bool, TIEProgressRecord&) {
        bitmap.Reallocate(0, 0, ie24Rgb);
    };
    RegisterFileFormat(info);
}
} // namespace

TEST_F(ConversionJobTest, APageTheWriterRefusesIsSkippedNotCounted) {
    RegisterEmptyImageFormat();
    MakeImage("-size 20x10 xc:red", "a.png");
    testsupport::WriteFileBytes(dir.File("blank.emptyimg"), {0});
    MakeImage("-size 20x10 xc:blue", "b.png");
    TJobResult r = job.Execute(Inputs({"a.png", "blank.emptyimg", "b.png"}), rec.Callbacks());
    EXPECT_EQ(r.Outcome, TJobOutcome::Completed);
    EXPECT_EQ(r.PagesWritten, 2);
    EXPECT_EQ(PageCount(r.OutputPath), 2);
    ASSERT_EQ(rec.skipped.size(), 1u);
    EXPECT_EQ(rec.skipped[0].Path, dir.File("blank.emptyimg"));
    EXPECT_EQ(rec.skipped[0].Reason, "the image has no pixels");
}

TEST_F(ConversionJobTest, ARunWithoutAPageLeavesNoFile) {
    RegisterEmptyImageFormat();
    MakeTiff("three.tif", 3);
    testsupport::WriteFileBytes(dir.File("text.jpg"), {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'});
    testsupport::WriteFileBytes(dir.File("blank.emptyimg"), {0});
    struct Case {
        const char* Name;
        std::vector<std::string> Files;
        bool StopAtTheFirstEntry;
        std::size_t Skipped;
        bool StopBeforeTheRun = false; // asked for while the run was being started
    };
    const Case cases[] = {
        {"EveryEntrySkipped", {"text.jpg", "missing.png", "blank.emptyimg"}, false, 3},
        {"EmptyList", {}, false, 0},
        {"StoppedBeforeTheFirstPage", {"three.tif", "text.jpg"}, true, 0},
        {"StoppedBeforeTheRunBegan", {"three.tif", "text.jpg"}, false, 0, true},
    };
    for (const Case& c : cases) {
        Recorder r;
        TConversionCallbacks cb = r.Callbacks();
        job.StopRequested = false;
        if (c.StopBeforeTheRun) job.RequestStop();
        if (c.StopAtTheFirstEntry) cb.EntryStarted = [this](const std::string&) { job.RunFlag = 0; };
        const TJobResult result = job.Execute(Inputs(c.Files), cb);
        EXPECT_EQ(result.Outcome, TJobOutcome::NoPages) << c.Name;
        EXPECT_EQ(result.PagesWritten, 0) << c.Name;
        EXPECT_FALSE(std::filesystem::exists(result.OutputPath)) << c.Name;
        EXPECT_EQ(r.skipped.size(), c.Skipped) << c.Name; // the report still names every skipped file
        EXPECT_EQ(r.beeps, 0) << c.Name;
        EXPECT_TRUE(r.opened.empty()) << c.Name;
        EXPECT_EQ(r.enabled, (std::vector<bool>{false, true})) << c.Name;
        EXPECT_EQ(job.RunFlag, 0) << c.Name;
        EXPECT_FALSE(view.IOComponent()->PdfDocumentOpen()) << c.Name;
    }
}

namespace {
// The segments of a JPEG stream before its image data: (marker code, data).
std::vector<std::pair<int, std::string>> JpegSegments(const std::string& jpeg) {
    std::vector<std::pair<int, std::string>> out;
    for (std::size_t i = 2; i + 4 <= jpeg.size() && std::uint8_t(jpeg[i]) == 0xFF;) {
        const int code = std::uint8_t(jpeg[i + 1]);
        const std::size_t length = std::uint8_t(jpeg[i + 2]) * 256u + std::uint8_t(jpeg[i + 3]);
        if (code == 0xDA || length < 2) break;
        out.push_back({code, jpeg.substr(i + 4, length - 2)});
        i += 2 + length;
    }
    return out;
}

bool HasSegment(const std::vector<std::pair<int, std::string>>& segments, int code,
                const std::string& start) {
    for (const auto& [c, data] : segments)
        if (c == code && data.compare(0, start.size(), start) == 0) return true;
    return false;
}

// Inserts segments after the JFIF header of a JPEG file.
void AddJpegSegments(const std::string& path, const std::vector<std::pair<int, std::string>>& segments) {
    std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 6u);
    std::size_t at = 2;
    if (bytes[2] == 0xFF && bytes[3] == 0xE0) at = 4 + bytes[4] * 256u + bytes[5];
    std::vector<std::uint8_t> added;
    for (const auto& [code, data] : segments) {
        const std::size_t length = data.size() + 2;
        added.insert(added.end(),
                     {0xFF, std::uint8_t(code), std::uint8_t(length >> 8), std::uint8_t(length)});
        added.insert(added.end(), data.begin(), data.end());
    }
    bytes.insert(bytes.begin() + std::ptrdiff_t(at), added.begin(), added.end());
    testsupport::WriteFileBytes(path, bytes);
}

// EXIF with one tag, the camera make, in a little-endian TIFF structure.
const std::string kExif =
    std::string("Exif\0\0II*\0\x08\0\0\0\x01\0\x0F\x01\x02\0\x07\0\0\0\x1A\0\0\0\0\0\0\0Camera\0", 39);
const std::string kComment = "camera serial 0042";

struct TPageImage {
    std::string Dictionary, Data;
};

// The image object of every page: its dictionary as qpdf shows it and its stream bytes as stored.
std::vector<TPageImage> PageImages(const std::string& pdf) {
    std::vector<TPageImage> pages;
    const int count = PageCount(pdf);
    for (int k = 1; k <= count; ++k) {
        TPageImage p;
        const std::string object = std::to_string(3 * k);
        RunCommand("qpdf --show-object=" + object + " " + ShellQuote(pdf) + " 2>/dev/null", &p.Dictionary);
        RunCommand("qpdf --show-object=" + object + " --raw-stream-data " + ShellQuote(pdf) + " 2>/dev/null",
                   &p.Data);
        pages.push_back(std::move(p));
    }
    return pages;
}
} // namespace

// Nothing of one page may reach another: each page of a mixed list carries the colour space, JPEG
// markers, resolution and pixels of its own file, exactly as when that file is converted alone.
TEST_F(ConversionJobTest, EachPageOfAMixedListIsItsOwnFile) {
    MakeImage("-size 64x48 gradient:white-black -colorspace Gray -density 150 -units PixelsPerInch",
              "grey.jpg");
    MakeImage("-size 80x60 gradient:orange-navy -interlace JPEG -density 72 -units PixelsPerInch",
              "exif.jpg");
    AddJpegSegments(dir.File("exif.jpg"), {{0xE1, kExif}, {0xFE, kComment}});
    MakeImage("-size 50x40 gradient:red-blue -density 200 -units PixelsPerInch -compress LZW", "colour.tif");
    MakeImage("-delay 5 -size 30x20 xc:red xc:'#3060C0'", "anim.gif");
    MakeImage("-size 40x30 gradient:yellow-purple -density 96 -units PixelsPerInch", "image.png");
    MakeTiff("bw.tif", 2);
    struct Source {
        std::string Name;
        const char* ColorSpace;
        bool Exif;
    };
    const std::vector<Source> sources = {
        {"grey.jpg", "/DeviceGray", false},  {"exif.jpg", "/DeviceRGB", true},
        {"colour.tif", "/DeviceRGB", false}, {"anim.gif", "/DeviceRGB", false},
        {"image.png", "/DeviceRGB", false},  {"bw.tif", "/DeviceGray", false},
    };

    // Each file alone, with components that have never seen another file.
    std::map<std::string, std::vector<TPageImage>> alone;
    for (const Source& s : sources) {
        TIEView freshView;
        TPictoraIO freshFrames;
        freshFrames.SetAttachedPictora(&freshView);
        TConversionJob freshJob(freshView, freshFrames);
        TConversionInputs in = Inputs({s.Name});
        in.OutputName = "alone-" + s.Name;
        Recorder r;
        const TJobResult result = freshJob.Execute(in, r.Callbacks());
        ASSERT_EQ(result.Outcome, TJobOutcome::Completed) << s.Name;
        alone[s.Name] = PageImages(result.OutputPath);
        ASSERT_FALSE(alone[s.Name].empty()) << s.Name;
    }

    // The given order, the reverse, and two in which a progressive JPEG with EXIF and a grey JPEG are
    // followed by single images and by frame files.
    const std::vector<std::vector<std::string>> orders = {
        {"grey.jpg", "exif.jpg", "colour.tif", "anim.gif", "image.png", "bw.tif"},
        {"bw.tif", "image.png", "anim.gif", "colour.tif", "exif.jpg", "grey.jpg"},
        {"exif.jpg", "image.png", "grey.jpg", "colour.tif", "anim.gif", "bw.tif"},
        {"grey.jpg", "image.png", "colour.tif", "exif.jpg", "bw.tif", "anim.gif"},
    };
    for (std::size_t o = 0; o < orders.size(); ++o) {
        TConversionInputs in = Inputs(orders[o]);
        in.OutputName = "mixed-" + std::to_string(o);
        Recorder r;
        const TJobResult result = job.Execute(in, r.Callbacks()); // the same components every time
        ASSERT_EQ(result.Outcome, TJobOutcome::Completed) << o;
        const std::vector<TPageImage> mixed = PageImages(result.OutputPath);
        std::size_t page = 0;
        for (const std::string& name : orders[o]) {
            const Source& s =
                *std::find_if(sources.begin(), sources.end(), [&](auto& x) { return x.Name == name; });
            for (const TPageImage& own : alone[name]) {
                ASSERT_LT(page, mixed.size()) << "order " << o;
                const TPageImage& p = mixed[page++];
                const std::string where = "order " + std::to_string(o) + ", " + name;
                EXPECT_NE(p.Dictionary.find(std::string("/ColorSpace ") + s.ColorSpace), std::string::npos)
                    << where << ": " << p.Dictionary;
                if (p.Dictionary.find("/DCTDecode") != std::string::npos) {
                    const auto segments = JpegSegments(p.Data);
                    EXPECT_EQ(HasSegment(segments, 0xE1, "Exif"), s.Exif) << where;
                    EXPECT_EQ(HasSegment(segments, 0xFE, kComment), s.Exif) << where;
                    EXPECT_EQ(segments, JpegSegments(own.Data)) << where; // density and markers
                }
                EXPECT_EQ(p.Dictionary, own.Dictionary) << where;
                EXPECT_TRUE(p.Data == own.Data) << where << ": the image data differs";
            }
        }
        EXPECT_EQ(page, mixed.size()) << "order " << o;
    }
}

// Pages within what PDF viewers show keep their size exactly; others are scaled, on both sides of
// each limit, keeping their proportions as far as the other limit allows.
TEST(ConversionJobPageSize, StaysWithinWhatViewersShow) {
    struct Case {
        int W, H, WantW, WantH;
        const char* Note; // empty: unchanged
    };
    const Case cases[] = {
        {14400, 100, 14400, 100, ""},
        {14401, 100, 14400, 100,
         "page of 14401 \u00d7 100 points scaled down to 14400 \u00d7 100, the largest PDF viewers show"},
        {20000, 10000, 14400, 7200,
         "page of 20000 \u00d7 10000 points scaled down to 14400 \u00d7 7200, the largest PDF viewers show"},
        {3, 5, 3, 5, ""},
        {2, 5, 3, 8, "page of 2 \u00d7 5 points scaled up to 3 \u00d7 8, the smallest PDF viewers show"},
        {1, 1, 3, 3, "page of 1 \u00d7 1 points scaled up to 3 \u00d7 3, the smallest PDF viewers show"},
        // The 53-byte icon's page: too long and too thin at once; the thin side gives way.
        {18, 1048580, 3, 14400,
         "page of 18 \u00d7 1048580 points scaled down to 3 \u00d7 14400, the largest PDF viewers show"},
        {1, 10000, 3, 14400,
         "page of 1 \u00d7 10000 points scaled up to 3 \u00d7 14400, the smallest PDF viewers show"},
    };
    for (const Case& c : cases) {
        int w = c.W, h = c.H;
        EXPECT_EQ(TConversionJob::BoundPageSize(w, h), c.Note) << c.W << "x" << c.H;
        EXPECT_EQ(w, c.WantW) << c.W << "x" << c.H;
        EXPECT_EQ(h, c.WantH) << c.W << "x" << c.H;
    }
}

TEST_F(ConversionJobTest, CutFilesKeepTheirPageWithANoteAndRefusalsSayWhy) {
    MakeImage("-size 40x100 gradient:red-blue -swirl 90 -quality 95", "photo.jpg");
    const std::vector<std::uint8_t> photo = testsupport::ReadFileBytes(dir.File("photo.jpg"));
    testsupport::WriteFileBytes(
        dir.File("cut.jpg"),
        std::vector<std::uint8_t>(photo.begin(), photo.begin() + std::ptrdiff_t(photo.size() / 2)));
    MakeImage("-size 2x1 xc:blue", "tiny.png");
    testsupport::WriteFileBytes(dir.File("empty.cur"), {0, 0, 2, 0, 0, 0});
    TConversionInputs in = Inputs({"cut.jpg", "tiny.png", "empty.cur"});
    TJobResult r = job.Execute(in, rec.Callbacks());
    EXPECT_EQ(r.Outcome, TJobOutcome::Completed);
    EXPECT_EQ(r.PagesWritten, 2);
    ASSERT_EQ(rec.skipped.size(), 1u);
    EXPECT_EQ(rec.skipped[0].Reason, "no image in the cursor directory");
    ASSERT_EQ(rec.notes.size(), 2u);
    EXPECT_EQ(rec.notes[0].Path, dir.File("cut.jpg"));
    EXPECT_EQ(rec.notes[0].Kind, TNoteKind::DataMissing);
    EXPECT_EQ(rec.notes[0].Text.rfind("data ends early, rows ", 0), 0u) << rec.notes[0].Text;
    EXPECT_NE(rec.notes[0].Text.find("\u2013100 missing"), std::string::npos) << rec.notes[0].Text;
    EXPECT_EQ(rec.notes[1].Path, dir.File("tiny.png"));
    EXPECT_EQ(rec.notes[1].Kind, TNoteKind::PageResized);
    EXPECT_EQ(PageCount(r.OutputPath), 2);
}

namespace {
// The job over a list that mixes local files and addresses on a loopback server.
class WebSourcesTest : public ConversionJobTest {
protected:
    void SetUp() override {
        if (!HttpAvailable()) GTEST_SKIP() << "this build has no HTTP client";
        server = std::make_unique<testsupport::THttpTestServer>(dir.Path(), true);
        ASSERT_TRUE(server->Running()) << server->Error();
        for (TPictoraIO* io : {view.IOComponent(), &frameIO}) {
            io->DownloadLimits.TrustStore = server->CertificateFile();
            // Long enough that a loaded machine's pauses are no stall, short for the one that is.
            io->DownloadLimits.StallTimeout = std::chrono::milliseconds(1500);
        }
    }
    // Images that need no tool to make: a mid-grey picture of that size.
    void WriteGrey(const std::string& name, int width, int height) {
        testsupport::RgbImage image;
        image.Width = width;
        image.Height = height;
        image.Pixels.assign(std::size_t(width) * height * 3, 128);
        ASSERT_TRUE(testsupport::WritePpm(dir.File(name), image));
    }
    // Page sizes in points, in page order ("8x6").
    std::vector<std::string> PageSizes(const std::string& pdf) {
        std::string out;
        RunCommand("pdfinfo -f 1 -l 100 " + ShellQuote(pdf) + " 2>/dev/null", &out);
        std::vector<std::string> sizes;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            int page = 0;
            double w = 0, h = 0;
            if (std::sscanf(line.c_str(), "Page %d size: %lf x %lf", &page, &w, &h) == 3)
                sizes.push_back(std::to_string(int(w)) + "x" + std::to_string(int(h)));
        }
        return sizes;
    }
    std::unique_ptr<testsupport::THttpTestServer> server;
};
} // namespace

TEST_F(WebSourcesTest, MixedListGivesEveryPageInOrderAndEveryFailureItsReason) {
    WriteGrey("local.ppm", 8, 6);
    WriteGrey("plain.ppm", 10, 4);
    WriteGrey("secure.ppm", 12, 7);
    MakeImage("-delay 5 -size 6x5 xc:red xc:lime xc:blue", "anim.gif");
    MakeTiff("multi.tif", 2);
    testsupport::WriteFileBytes(dir.File("broken.gif"), {'G', 'I', 'F', '8', '9', 'a', 1});
    TConversionInputs in = Inputs({});
    const std::string stalled = server->StallUrl("/late.png");
    in.SourcePaths = {dir.File("local.ppm"),
                      server->Url("/redirect/2/plain.ppm"),
                      server->HttpsUrl("/files/secure.ppm"),
                      server->Url("/files/anim.gif?size=large"), // the path's extension asks for frames
                      server->Url("/files/multi.tif#page2"),
                      server->Url("/status/404"),
                      server->Url("/files/missing.gif"),
                      server->Url("/loop/a"),
                      server->Url("/html"),
                      stalled,
                      dir.File("broken.gif")};
    // The same with workers: the downloads run at once, the pages and reasons come in list order.
    for (const int jobs : {1, 3}) {
        SCOPED_TRACE(std::to_string(jobs) + " jobs");
        Recorder r2;
        in.Jobs = jobs;
        in.OutputName = "web" + std::to_string(jobs);
        const TJobResult r = job.Execute(in, r2.Callbacks());
        EXPECT_EQ(r.Outcome, TJobOutcome::Completed);
        EXPECT_EQ(r.PagesWritten, 8);
        EXPECT_EQ(PageSizes(r.OutputPath),
                  (std::vector<std::string>{"8x6", "10x4", "12x7", "6x5", "6x5", "6x5", "64x48", "64x48"}));
        ASSERT_EQ(r2.skipped.size(), 6u);
        EXPECT_EQ(r2.skipped[0].Reason, "HTTP 404 Not Found");
        EXPECT_EQ(r2.skipped[1].Path, server->Url("/files/missing.gif"));
        EXPECT_EQ(r2.skipped[1].Reason, "HTTP 404 Not Found");
        EXPECT_EQ(r2.skipped[2].Reason, "redirect loop");
        EXPECT_EQ(r2.skipped[3].Reason, "not an image (the server sent text/html; charset=utf-8)");
        EXPECT_EQ(r2.skipped[4].Path, stalled);
        EXPECT_EQ(r2.skipped[4].Reason.rfind("no data from 127.0.0.1:", 0), 0u) << r2.skipped[4].Reason;
        // A local file's failure is its own, not the last download's.
        EXPECT_EQ(r2.skipped[5].Path, dir.File("broken.gif"));
        EXPECT_EQ(r2.skipped[5].Reason.find("HTTP"), std::string::npos) << r2.skipped[5].Reason;
    }
}

TEST_F(WebSourcesTest, StopEndsADownloadInProgress) {
    MakeImage("-size 8x6 xc:red", "a.png");
    MakeImage("-size 8x6 xc:blue", "b.png");
    for (TPictoraIO* io : {view.IOComponent(), &frameIO})
        io->DownloadLimits.StallTimeout = std::chrono::seconds(30);
    TConversionInputs in = Inputs({"a.png"});
    const std::string stalled = server->StallUrl("/late.png");
    in.SourcePaths.push_back(stalled);
    in.SourcePaths.push_back(dir.File("b.png"));
    std::string current;
    TConversionCallbacks cb = rec.Callbacks();
    cb.EntryStarted = [&](const std::string& path) { current = path; };
    // Closing the window while the server keeps the download waiting.
    rec.onProcessMessages = [&] {
        if (current == stalled) job.RunFlag = 0;
    };
    const auto start = std::chrono::steady_clock::now();
    const TJobResult r = job.Execute(in, cb);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.Outcome, TJobOutcome::Stopped);
    EXPECT_EQ(PageCount(r.OutputPath), 1);
    ASSERT_EQ(rec.skipped.size(), 1u);
    EXPECT_EQ(rec.skipped[0].Reason, "the download was stopped");
    EXPECT_FALSE(view.IOComponent()->DownloadContinue); // the run's hook goes with the run
}
