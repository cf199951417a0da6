// Runs the real folianto-convert binary on images made by an independent tool.
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
std::string Convert(const std::string& args, int& status) {
    std::string out;
    status = RunCommand(std::string(FOLIANTO_CONVERT) + " --quiet " + args + " 2>&1", &out);
    return out;
}

int PageCount(const std::string& pdf) {
    std::string out;
    if (RunCommand("qpdf --show-npages " + ShellQuote(pdf) + " 2>/dev/null", &out) != 0) return -1;
    return std::atoi(out.c_str());
}

// Page sizes as "WxH" per page, from qpdf's JSON-free listing of MediaBoxes.
std::vector<std::string> PageSizes(const std::string& pdf) {
    std::string out;
    RunCommand("pdfinfo -f 1 -l 999 " + ShellQuote(pdf) + " 2>/dev/null | grep 'size:'", &out);
    std::vector<std::string> sizes;
    std::size_t pos = 0;
    while ((pos = out.find("size:", pos)) != std::string::npos) {
        pos += 5;
        double w = 0, h = 0;
        if (std::sscanf(out.c_str() + pos, " %lf x %lf", &w, &h) == 2)
            sizes.push_back(std::to_string(int(w)) + "x" + std::to_string(int(h)));
    }
    return sizes;
}

class CliEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::ToolAvailable("qpdf") || !testsupport::ToolAvailable("pdfinfo"))
            GTEST_SKIP() << "qpdf/pdfinfo missing";
        const std::string convert = "/usr/bin/convert";
        ASSERT_EQ(
            RunCommand(convert + " -size 300x200 gradient:red-blue " + ShellQuote(dir.File("photo.jpg"))), 0);
        ASSERT_EQ(RunCommand(convert +
                             " -size 120x160 xc:white -fill black -draw 'rectangle 10,10 60,80' "
                             "\\( +clone -negate \\) \\( +clone -negate \\) -compress Group4 " +
                             ShellQuote(dir.File("scan.tif"))),
                  0);
        ASSERT_EQ(RunCommand(convert + " -delay 10 -size 40x30 xc:red xc:green xc:blue xc:yellow " +
                             ShellQuote(dir.File("anim.gif"))),
                  0);
        testsupport::WriteFileBytes(dir.File("notes.jpg"), {'h', 'e', 'l', 'l', 'o', '\n'});
    }
    testsupport::TempDir dir;
};
} // namespace

TEST_F(CliEndToEnd, MixedListGivesEveryPageAndReportsTheBadInputs) {
    int status = 0;
    const std::string out =
        Convert("-o " + ShellQuote(dir.File("mixed.pdf")) + " " + ShellQuote(dir.File("photo.jpg")) + " " +
                    ShellQuote(dir.File("scan.tif")) + " " + ShellQuote(dir.File("anim.gif")) + " " +
                    ShellQuote(dir.File("missing.png")) + " " + ShellQuote(dir.File("notes.jpg")),
                status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("missing.png"), std::string::npos) << out;
    EXPECT_NE(out.find("notes.jpg"), std::string::npos) << out;
    EXPECT_EQ(PageCount(dir.File("mixed.pdf")), 1 + 3 + 4);
    EXPECT_EQ(RunCommand("qpdf --check " + ShellQuote(dir.File("mixed.pdf")) + " >/dev/null 2>&1"), 0);
    // Fit: one point per pixel.
    const auto sizes = PageSizes(dir.File("mixed.pdf"));
    ASSERT_EQ(sizes.size(), 8u);
    EXPECT_EQ(sizes[0], "300x200");
    EXPECT_EQ(sizes[1], "120x160");
    EXPECT_EQ(sizes[4], "40x30");
}

TEST_F(CliEndToEnd, PaperChoicesFollowTheImagesOrientation) {
    struct Case {
        const char* paper;
        const char* landscape; // page for the 300x200 photo
        const char* portrait;  // page for the 120x160 scan
    };
    const Case cases[] = {
        {"A4", "842x595", "595x842"},       {"Letter", "792x612", "612x792"},
        {"Ledger", "792x1224", "1224x792"}, {"11x17", "1224x792", "792x1224"},
        {"A0", "3368x2380", "2380x3368"},   {"Fit", "300x200", "120x160"},
    };
    for (const Case& c : cases) {
        const std::string pdf = dir.File(std::string("paper-") + c.paper + ".pdf");
        int status = 0;
        const std::string out =
            Convert(std::string("--paper ") + c.paper + " -o " + ShellQuote(pdf) + " " +
                        ShellQuote(dir.File("photo.jpg")) + " " + ShellQuote(dir.File("scan.tif")),
                    status);
        ASSERT_EQ(status, 0) << c.paper << out;
        const auto sizes = PageSizes(pdf);
        ASSERT_EQ(sizes.size(), 4u) << c.paper;
        EXPECT_EQ(sizes[0], c.landscape) << c.paper;
        EXPECT_EQ(sizes[1], c.portrait) << c.paper;
    }
}

TEST_F(CliEndToEnd, RefusesAnExistingOutputUnlessForced) {
    const std::string pdf = dir.File("keep.pdf");
    testsupport::WriteFileBytes(pdf, {'o', 'l', 'd'});
    int status = 0;
    std::string out = Convert("-o " + ShellQuote(pdf) + " " + ShellQuote(dir.File("photo.jpg")), status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("Change the name of the output file!"), std::string::npos) << out;
    EXPECT_EQ(testsupport::ReadFileBytes(pdf).size(), 3u);
    out = Convert("--force -o " + ShellQuote(pdf) + " " + ShellQuote(dir.File("photo.jpg")), status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(PageCount(pdf), 1);
}

TEST_F(CliEndToEnd, ValidationAndFailureStatuses) {
    int status = 0;
    std::string out = Convert("-o /nonexistent-folder/x.pdf " + ShellQuote(dir.File("photo.jpg")), status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("Directory not found!"), std::string::npos);
    Convert("--bogus", status);
    EXPECT_EQ(status, 2);
    Convert("--version", status);
    EXPECT_EQ(status, 0);
}

TEST_F(CliEndToEnd, InfoDescribesEachFile) {
    int status = 0;
    const std::string out =
        Convert("--info " + ShellQuote(dir.File("photo.jpg")) + " " + ShellQuote(dir.File("scan.tif")) + " " +
                    ShellQuote(dir.File("anim.gif")) + " " + ShellQuote(dir.File("notes.jpg")),
                status);
    EXPECT_EQ(status, 1) << out; // one file is not an image
    EXPECT_NE(out.find("photo.jpg: format 3, JPEG Bitmap (JPG) YCbCr"), std::string::npos) << out;
    EXPECT_NE(out.find("size 300 x 200"), std::string::npos) << out;
    EXPECT_NE(out.find("TIFF Bitmap (TIF) Group 4 Fax"), std::string::npos) << out;
    EXPECT_NE(out.find("frames: 3"), std::string::npos) << out;
    EXPECT_NE(out.find("frames: 4"), std::string::npos) << out;
    EXPECT_NE(out.find("notes.jpg: unknown format"), std::string::npos) << out;
    Convert("--info " + ShellQuote(dir.File("photo.jpg")), status);
    EXPECT_EQ(status, 0);
}

// Transparent areas print as the white sheet, partly transparent ones blend with it, opaque pixels
// keep their colour, whichever reader delivered the transparency.
TEST_F(CliEndToEnd, TransparentPixelsShowTheWhitePaper) {
    if (!testsupport::ToolAvailable("pdftocairo")) GTEST_SKIP() << "pdftocairo missing";
    const std::string convert = "/usr/bin/convert";
    struct Input {
        const char* Name;
        const char* Args;
    };
    const Input inputs[] = {
        {"png.png", "-size 30x10 xc:none -fill red -draw 'rectangle 0,0 9,9' -fill 'rgba(0,0,0,0.5)' "
                    "-draw 'rectangle 20,0 29,9'"},
        {"gif.gif", "-size 30x10 xc:none -fill red -draw 'rectangle 0,0 9,9'"},
        {"tga.tga", "-size 30x10 xc:none -fill red -draw 'rectangle 0,0 9,9'"},
    };
    for (const Input& in : inputs) {
        SCOPED_TRACE(in.Name);
        const std::string src = dir.File(in.Name), pdf = dir.File(std::string(in.Name) + ".pdf");
        ASSERT_EQ(RunCommand(convert + " " + in.Args + " " + ShellQuote(src)), 0);
        int status = 0;
        const std::string out =
            Convert("--compression none -o " + ShellQuote(pdf) + " " + ShellQuote(src), status);
        ASSERT_EQ(status, 0) << out;
        const std::string png = dir.File(std::string(in.Name) + "-page");
        ASSERT_EQ(RunCommand("pdftocairo -r 72 -singlefile -png " + ShellQuote(pdf) + " " + ShellQuote(png)),
                  0);
        testsupport::RgbImage page;
        ASSERT_TRUE(testsupport::DecodeWithImageMagick(png + ".png", page));
        ASSERT_EQ(page.Width, 30);
        const std::uint8_t* opaque = page.At(5, 5);
        const std::uint8_t* clear = page.At(15, 5);
        EXPECT_EQ(opaque[0], 255);
        EXPECT_EQ(opaque[1], 0);
        EXPECT_EQ(clear[0], 255);
        EXPECT_EQ(clear[1], 255);
        EXPECT_EQ(clear[2], 255);
        if (std::string(in.Name) == "png.png") {
            EXPECT_NEAR(page.At(25, 5)[1], 128, 2);
        }
    }
}

// A run in which no page converts leaves no file (a document without pages is one viewers reject);
// with --force the file that was there stays as it was.
TEST_F(CliEndToEnd, NoPageConvertedWritesNothing) {
    struct Case {
        const char* Name;
        bool Existing;
        std::vector<std::string> Inputs;
        int Status;
        const char* Says;
    };
    const Case cases[] = {
        {"OnlyBadInputs", false, {"notes.jpg", "missing.png"}, 3, "no page was converted, nothing written"},
        {"OnlyBadInputsForced", true, {"notes.jpg"}, 3, "no page was converted, nothing written"},
        {"NoInputs", false, {}, 2, "no input files"},
    };
    for (const Case& c : cases) {
        testsupport::TempDir out;
        const std::string pdf = out.File("out.pdf");
        if (c.Existing) testsupport::WriteFileBytes(pdf, {'o', 'l', 'd'});
        std::string args = std::string(c.Existing ? "--force " : "") + "-o " + ShellQuote(pdf);
        for (const std::string& f : c.Inputs) args += " " + ShellQuote(dir.File(f));
        int status = 0;
        const std::string said = Convert(args, status);
        EXPECT_EQ(status, c.Status) << c.Name << ": " << said;
        EXPECT_NE(said.find(c.Says), std::string::npos) << c.Name << ": " << said;
        for (const std::string& f : c.Inputs)
            EXPECT_NE(said.find(f), std::string::npos) << c.Name << ": " << said;
        // Nothing new in the folder: no document, no partial file.
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(out.Path()))
            left.push_back(e.path().string());
        EXPECT_EQ(left, c.Existing ? std::vector<std::string>{pdf} : std::vector<std::string>{}) << c.Name;
        if (c.Existing) {
            EXPECT_EQ(testsupport::ReadFileBytes(pdf).size(), 3u) << c.Name;
        }
    }
}
