// Runs the real folianto-convert binary on images made by an independent tool.
#include "app/cli/ConvertRunner.h"
#include "testsupport/HttpTestServer.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
using clitest::Convert;
using clitest::PageCount;
using clitest::PageSizes;

// A metafile that draws nothing on a 96 x 48 picture (placeable header, 96 units per inch).
const std::vector<std::uint8_t> kSmallWmf = {
    0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0,  0, 0, 0, 96, 0, 48, 0, 96, 0, 0, 0, 0, 0, 0x21, 0x57, // placeable
    1,    0,    9,    0,    0, 3, 12, 0, 0, 0, 0,  0, 0,  0, 0,  0, 0, 0,                   // header
    3,    0,    0,    0,    0, 0,                                                           // end
};
// An enhanced metafile with a 10 x 10 mm frame and no drawing: header and end record.
const std::vector<std::uint8_t> kSmallEmf = [] {
    std::vector<std::uint8_t> b;
    auto put32 = [&b](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
    };
    put32(1);
    put32(88);
    for (std::uint32_t v : {0u, 0u, 100u, 100u, 0u, 0u, 1000u, 1000u}) put32(v);
    put32(0x464D4520);
    put32(0x10000);
    put32(88 + 20);
    put32(2); // records
    put32(1); // handles (16 bits) and reserved
    for (std::uint32_t v : {0u, 0u, 0u, 1000u, 1000u, 1000u, 1000u}) put32(v);
    for (std::uint32_t v : {14u, 20u, 0u, 16u, 20u}) put32(v);
    return b;
}();

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
    EXPECT_NE(out.find("output exists: " + pdf + " (use --force to replace it)"), std::string::npos) << out;
    EXPECT_EQ(testsupport::ReadFileBytes(pdf).size(), 3u);
    out = Convert("--force -o " + ShellQuote(pdf) + " " + ShellQuote(dir.File("photo.jpg")), status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(PageCount(pdf), 1);
}

TEST_F(CliEndToEnd, ValidationAndFailureStatuses) {
    int status = 0;
    std::string out = Convert("-o /nonexistent-folder/x.pdf " + ShellQuote(dir.File("photo.jpg")), status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("no such folder: /nonexistent-folder"), std::string::npos) << out;
    Convert("--bogus", status);
    EXPECT_EQ(status, 2);
    Convert("--version", status);
    EXPECT_EQ(status, 0);
}

TEST_F(CliEndToEnd, InfoNamesFormatsAndProblems) {
    // Detection by content never names these three; the converter reads them by their extension.
    testsupport::WriteFileBytes(dir.File("shape.wmf"), kSmallWmf);
    testsupport::WriteFileBytes(dir.File("shape.emf"), kSmallEmf);
    ASSERT_EQ(RunCommand("/usr/bin/convert -size 16x8 xc:black " + ShellQuote(dir.File("dot.wbmp"))), 0);
    ASSERT_EQ(RunCommand("cp " + ShellQuote(dir.File("photo.jpg")) + " " + ShellQuote(dir.File("photo.png"))),
              0);
    int status = 0;
    std::string files;
    for (const char* f : {"photo.jpg", "scan.tif", "anim.gif", "shape.wmf", "shape.emf", "dot.wbmp",
                          "notes.jpg", "missing.png", "photo.png"})
        files += " " + ShellQuote(dir.File(f));
    const std::string out = Convert("--info" + files, status);
    EXPECT_EQ(status, 1) << out;
    const std::string expectations[] = {
        dir.File("photo.jpg") + ": JPEG - JPEG Bitmap (JPG) YCbCr\n  size 300 x 200",
        dir.File("scan.tif") + ": TIFF - TIFF Bitmap (TIF) Group 4 Fax\n",
        "  frames: 3\n",
        dir.File("anim.gif") + ": GIF",
        "  frames: 4\n",
        dir.File("shape.wmf") + ": WMF",
        dir.File("shape.emf") + ": EMF",
        dir.File("dot.wbmp") + ": WBMP - Wireless Bitmap (WBMP)\n  size 16 x 8",
        dir.File("notes.jpg") + ": not an image this program reads",
        dir.File("missing.png") + ": cannot open: No such file or directory",
        dir.File("photo.png") + ": JPEG data under another extension (the converter goes by the name: "
                                "rename it to .jpg)",
    };
    for (const std::string& expected : expectations)
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n---\n" << out;
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

TEST_F(CliEndToEnd, StandardOutputCarriesTheDocument) {
    const std::string photo = ShellQuote(dir.File("photo.jpg")), anim = ShellQuote(dir.File("anim.gif"));
    const std::string copy = ShellQuote(dir.Path() + ".stdout.pdf");
    std::string out;
    // Read from the pipe itself (qpdf cannot read a pipe: it needs to seek), then checked as a file.
    const int status = RunCommand(
        "cd " + ShellQuote(dir.Path()) + " && " + FOLIANTO_CONVERT + " -q -o - " + photo + " " + anim +
            " | tee " + copy + " | pdfinfo - | grep Pages: && qpdf --check " + copy + " 2>&1; rm -f " + copy,
        &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Pages:           5"), std::string::npos) << out;
    EXPECT_NE(out.find("No syntax or stream encoding errors found"), std::string::npos) << out;
    // Nothing is left behind: no "-.pdf", no work file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 4);
    int refused = 0;
    out = Convert("-o - " + photo + " </dev/null", refused); // standard output here is a pipe: accepted
    EXPECT_EQ(refused, 0);
    RunCommand(std::string("script -qec ") + ShellQuote(std::string(FOLIANTO_CONVERT) + " -o - " + photo) +
                   " /dev/null",
               &out);
    if (testsupport::ToolAvailable("script")) {
        EXPECT_NE(out.find("standard output is a terminal"), std::string::npos) << out;
    }
}

TEST_F(CliEndToEnd, SourceDateEpochMakesRunsByteIdentical) {
    const std::string inputs = ShellQuote(dir.File("photo.jpg")) + " " + ShellQuote(dir.File("scan.tif"));
    int status = 0;
    for (const char* name : {"a.pdf", "b.pdf"}) {
        const std::string out = Convert("-o " + ShellQuote(dir.File(name)) + " " + inputs, status,
                                        "SOURCE_DATE_EPOCH=1700000000 ");
        ASSERT_EQ(status, 0) << out;
    }
    const auto a = testsupport::ReadFileBytes(dir.File("a.pdf"));
    EXPECT_EQ(a, testsupport::ReadFileBytes(dir.File("b.pdf")));
    const std::string text(a.begin(), a.end());
    EXPECT_NE(text.find("/CreationDate (D:20231114221320Z)"), std::string::npos);
    // The identifier: an MD5 of the content, twice.
    const std::size_t id = text.find("/ID [<");
    ASSERT_NE(id, std::string::npos);
    const std::string md5 = text.substr(id + 6, 32);
    EXPECT_EQ(md5.find_first_not_of("0123456789ABCDEF"), std::string::npos) << md5;
    EXPECT_EQ(text.substr(id, 74), "/ID [<" + md5 + "><" + md5 + ">]") << md5;
    EXPECT_EQ(RunCommand("qpdf --check " + ShellQuote(dir.File("a.pdf")) + " >/dev/null 2>&1"), 0);

    const std::string out =
        Convert("-o " + ShellQuote(dir.File("c.pdf")) + " " + inputs, status, "SOURCE_DATE_EPOCH=yesterday ");
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("SOURCE_DATE_EPOCH must be a number of seconds"), std::string::npos) << out;
}

TEST_F(CliEndToEnd, CreationDateCarriesTheLocalOffset) {
    struct Case {
        const char *Zone, *Offset, *IsoSuffix;
    };
    const Case cases[] = {
        {"IST-5:30", "+05'30'", "+05:30"}, {"NST3:30", "-03'30'", "-03:30"}, {"UTC0", "+00'00'", "Z"}};
    for (const Case& c : cases) {
        const std::string pdf = dir.File(std::string(c.Zone) + ".pdf");
        int status = 0;
        Convert("-o " + ShellQuote(pdf) + " " + ShellQuote(dir.File("photo.jpg")), status,
                "env -u SOURCE_DATE_EPOCH TZ=" + std::string(c.Zone) + " ");
        ASSERT_EQ(status, 0) << c.Zone;
        const auto bytes = testsupport::ReadFileBytes(pdf);
        const std::string text(bytes.begin(), bytes.end());
        const std::size_t at = text.find("/CreationDate (D:");
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(text.substr(at + 31, 7), c.Offset) << text.substr(at, 40);
        // A reader that understands PDF dates agrees.
        std::string info;
        RunCommand("pdfinfo -isodates " + ShellQuote(pdf), &info);
        const std::size_t line = info.find("CreationDate:");
        ASSERT_NE(line, std::string::npos) << info;
        const std::string date = info.substr(line, info.find('\n', line) - line);
        EXPECT_EQ(date.substr(date.size() - std::strlen(c.IsoSuffix)), c.IsoSuffix) << date;
    }
}

TEST_F(CliEndToEnd, OpenPassesTheFolderToTheOpenerWithoutAShell) {
    // A stand-in for xdg-open that records its arguments, one per line.
    std::filesystem::create_directories(dir.File("bin"));
    const std::string record = dir.File("opened");
    const std::string opener = dir.File("bin/xdg-open");
    // It writes beside the record and renames, so the test never reads a half-written record.
    const std::string script = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " +
                               ShellQuote(record + ".new") + " && mv " + ShellQuote(record + ".new") + " " +
                               ShellQuote(record) + "\n";
    testsupport::WriteFileBytes(opener, std::vector<std::uint8_t>(script.begin(), script.end()));
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    for (const std::string folder : {"Bob's scans", "';touch x;'", "$(touch y)", "-dash", "a\"b c"}) {
        SCOPED_TRACE(folder);
        std::filesystem::create_directories(dir.File(folder));
        std::filesystem::remove(record);
        int status = 0;
        const std::string out = Convert(
            "--open -o " + ShellQuote(folder + "/out.pdf") + " " + ShellQuote(dir.File("photo.jpg")), status,
            "cd " + ShellQuote(dir.Path()) + " && PATH=" + ShellQuote(dir.File("bin")) + ":\"$PATH\" ");
        EXPECT_EQ(status, 0) << out;
        for (int wait = 0; wait < 100 && !std::filesystem::exists(record); ++wait) ::usleep(50000);
        const auto bytes = testsupport::ReadFileBytes(record);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), dir.File(folder) + "/\n");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("y")));
}

TEST_F(CliEndToEnd, ListsFoldersAndOrder) {
    // Three images whose page widths tell them apart, under names that need care.
    const std::filesystem::path folder = dir.File("pages");
    std::filesystem::create_directories(folder / "sub");
    const std::pair<std::string, int> images[] = {{"pages/10 ten.png", 30},
                                                  {"pages/2 it's.png", 20},
                                                  {"pages/1 -one.png", 10},
                                                  {"pages/sub/3\nnew.png", 40},
                                                  {"-lead.png", 50}};
    for (const auto& [name, width] : images)
        ASSERT_EQ(RunCommand("/usr/bin/convert -size " + std::to_string(width) + "x5 xc:gray " +
                             ShellQuote("png:" + dir.File(name))),
                  0);
    struct Case {
        const char* Name;
        std::string Arguments;
        std::vector<std::string> Widths;
    };
    const std::string quotedFolder = ShellQuote(folder.string());
    const Case cases[] = {
        {"Recursive", "-r " + quotedFolder, {"10x5", "20x5", "30x5", "40x5"}},
        {"NullList", "--from-file - --null < " + ShellQuote(dir.File("list0")), {"30x5", "10x5", "40x5"}},
        {"NullListSortedNaturally",
         "-0 --sort natural --from-file=" + ShellQuote(dir.File("list0")),
         {"10x5", "30x5", "40x5"}},
        {"DoubleDashBeforeDashName", "-- -lead.png " + ShellQuote("pages/2 it's.png"), {"50x5", "20x5"}},
    };
    const std::string list0 = dir.File("pages/10 ten.png") + '\0' + dir.File("pages/1 -one.png") + '\0' +
                              dir.File("pages/sub/3\nnew.png") + '\0';
    testsupport::WriteFileBytes(dir.File("list0"), std::vector<std::uint8_t>(list0.begin(), list0.end()));
    for (const Case& c : cases) {
        const std::string pdf = dir.File(std::string(c.Name) + ".pdf");
        int status = 0;
        const std::string out = Convert("-o " + ShellQuote(pdf) + " " + c.Arguments, status,
                                        "cd " + ShellQuote(dir.Path()) + " && ");
        ASSERT_EQ(status, 0) << c.Name << out;
        EXPECT_EQ(PageSizes(pdf), c.Widths) << c.Name;
    }
    int status = 0;
    const std::string out = Convert("-o " + ShellQuote(dir.File("no.pdf")) + " " + quotedFolder, status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find(folder.string() + " is a folder (use --recursive to convert the images in it)"),
              std::string::npos)
        << out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("no.pdf")));
}

TEST_F(CliEndToEnd, OutputNamesAndFolders) {
    std::filesystem::create_directories(dir.File("out"));
    const std::string photo = " " + ShellQuote(dir.File("photo.jpg"));
    struct Case {
        std::string Output;
        int Status;
        std::string Message; // on standard error
        std::string Written; // the file that must exist afterwards, if any
    };
    const Case cases[] = {
        {dir.File("out/"), 2, "output is a folder: " + dir.File("out"), ""},
        {dir.File("out"), 2, "output is a folder: " + dir.File("out"), ""},
        {dir.File("nope/x.pdf"), 2, "no such folder: " + dir.File("nope"), ""},
        {dir.File("report.pdf"), 0, "", dir.File("report.pdf")},
        {dir.File("Upper.PDF"), 0, "", dir.File("Upper.PDF")},
        {dir.File("plain"), 0, "", dir.File("plain.pdf")},
    };
    for (const Case& c : cases) {
        int status = 0;
        const std::string out = Convert("-o " + ShellQuote(c.Output) + photo, status);
        EXPECT_EQ(status, c.Status) << c.Output << out;
        if (!c.Message.empty()) {
            EXPECT_NE(out.find(c.Message), std::string::npos) << out;
        }
        if (!c.Written.empty()) {
            EXPECT_EQ(PageCount(c.Written), 1) << c.Written;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.pdf")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("report.pdf.pdf")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("out")));
}

TEST_F(CliEndToEnd, ProgressLinesAndTheFaxNote) {
    ASSERT_EQ(RunCommand("cp " + ShellQuote(dir.File("scan.tif")) + " " + ShellQuote(dir.File("scan.fax"))),
              0);
    const std::string pdf = ShellQuote(dir.File("fax.pdf"));
    const std::string inputs =
        " " + ShellQuote(dir.File("scan.fax")) + " " + ShellQuote(dir.File("anim.gif"));
    std::string err;
    // Not --quiet, standard error to a file: plain lines.
    int status = RunCommand(std::string(FOLIANTO_CONVERT) + " -o " + pdf + inputs + " 2>&1 >/dev/null", &err);
    EXPECT_EQ(status, 0) << err;
    const std::string lines[] = {"converting " + dir.File("scan.fax") + " (file 1 of 2)\n",
                                 "folianto-convert: " + dir.File("scan.fax") +
                                     ": 3 frames, only the first becomes a page; name it .tif for all\n",
                                 "converting " + dir.File("anim.gif") + " (file 2 of 2)\n",
                                 dir.File("fax.pdf") + ": 5 pages\n"};
    for (const std::string& expected : lines)
        EXPECT_NE(err.find(expected), std::string::npos) << expected << "\n---\n" << err;
    EXPECT_EQ(PageCount(dir.File("fax.pdf")), 1 + 4);
    // --quiet: the note stays, the progress goes.
    err = Convert("--force -o " + pdf + inputs, status);
    EXPECT_EQ(err.find("converting"), std::string::npos) << err;
    EXPECT_NE(err.find("3 frames, only the first"), std::string::npos) << err;
    // On a terminal the bar counts the pages the files really hold.
    if (testsupport::ToolAvailable("script")) {
        RunCommand("script -qec " +
                       ShellQuote(std::string(FOLIANTO_CONVERT) + " --force -o " + pdf + inputs) +
                       " /dev/null",
                   &err);
        EXPECT_NE(err.find("] 5 of 5 pages  2/2 anim.gif"), std::string::npos) << err;
        EXPECT_EQ(err.find("of 6 pages"), std::string::npos) << err;
    }
}

// A cut photo keeps its page, its missing rows are white paper, the run says so and exits 1; a file
// that cannot be decoded is skipped with its reason.
TEST_F(CliEndToEnd, CutFilesAreNotedAndTheirMissingRowsArePaper) {
    if (!testsupport::ToolAvailable("pdftocairo")) GTEST_SKIP() << "pdftocairo missing";
    ASSERT_EQ(
        RunCommand("/usr/bin/convert -size 200x300 xc:black -quality 95 " + ShellQuote(dir.File("dark.jpg"))),
        0);
    const std::vector<std::uint8_t> dark = testsupport::ReadFileBytes(dir.File("dark.jpg"));
    testsupport::WriteFileBytes(
        dir.File("cut.jpg"),
        std::vector<std::uint8_t>(dark.begin(), dark.begin() + std::ptrdiff_t(dark.size() * 6 / 10)));
    std::vector<std::uint8_t> bad = {
        'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,    40,
        0,   0,   0, 1, 0, 0, 0, 1, 0, 0, 0,  1, 0, 0x30, 0x75}; // 30000 bits per pixel
    bad.resize(64, 0);
    testsupport::WriteFileBytes(dir.File("bad.bmp"), bad);
    int status = 0;
    const std::string out =
        Convert("--compression none -o " + ShellQuote(dir.File("cut.pdf")) + " " +
                    ShellQuote(dir.File("cut.jpg")) + " " + ShellQuote(dir.File("bad.bmp")),
                status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("cut.jpg: data ends early, rows "), std::string::npos) << out;
    EXPECT_NE(out.find("\u2013300 missing"), std::string::npos) << out;
    EXPECT_NE(out.find("skipped " + dir.File("bad.bmp") + ": unsupported bit depth 30000"), std::string::npos)
        << out;
    EXPECT_EQ(PageCount(dir.File("cut.pdf")), 1);
    ASSERT_EQ(RunCommand("pdftocairo -r 72 -png -singlefile " + ShellQuote(dir.File("cut.pdf")) + " " +
                         ShellQuote(dir.File("page"))),
              0);
    testsupport::RgbImage page;
    ASSERT_TRUE(testsupport::DecodeWithImageMagick(dir.File("page.png"), page));
    ASSERT_EQ(page.Height, 300);
    EXPECT_LT(page.At(100, 5)[0], 40);    // the rows the file holds: black
    EXPECT_GT(page.At(100, 295)[0], 250); // the rows it lacks: the white paper
}

namespace {
// The converter with addresses on a loopback server among its inputs.
class CliWebSources : public ::testing::Test {
protected:
    void SetUp() override {
        std::string probe;
        RunCommand(std::string(FOLIANTO_CONVERT) + " --info http://127.0.0.1:" +
                       std::to_string(testsupport::UnusedLoopbackPort()) + "/x.png 2>&1",
                   &probe);
        if (probe.find("not part of this build") != std::string::npos) GTEST_SKIP() << probe;
        for (const auto& [name, width] : {std::pair{"a.ppm", 30}, std::pair{"b.ppm", 20}}) {
            testsupport::RgbImage image;
            image.Width = width;
            image.Height = 10;
            image.Pixels.assign(std::size_t(width) * 10 * 3, 200);
            ASSERT_TRUE(testsupport::WritePpm(dir.File(name), image));
        }
        server = std::make_unique<testsupport::THttpTestServer>(dir.Path());
        ASSERT_TRUE(server->Running()) << server->Error();
    }
    testsupport::TempDir dir;
    std::unique_ptr<testsupport::THttpTestServer> server;
};
} // namespace

TEST_F(CliWebSources, AddressesAreInputsAndTheirFailuresAreNamed) {
    int status = 0;
    const std::string bad = server->Url("/status/404");
    std::string out = Convert("-o " + ShellQuote(dir.File("web.pdf")) + " " + ShellQuote(dir.File("a.ppm")) +
                                  " " + ShellQuote(server->Url("/redirect/1/b.ppm")) + " " + ShellQuote(bad),
                              status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("skipped " + bad + ": HTTP 404 Not Found"), std::string::npos) << out;
    EXPECT_EQ(PageSizes(dir.File("web.pdf")), (std::vector<std::string>{"30x10", "20x10"}));

    out = Convert(
        "--info " + ShellQuote(server->Url("/files/b.ppm")) + " " + ShellQuote(server->Url("/html")), status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find(server->Url("/files/b.ppm") + ": PNM"), std::string::npos) << out;
    EXPECT_NE(out.find("size 20 x 10"), std::string::npos) << out;
    EXPECT_NE(out.find(server->Url("/html") + ": not an image (the server sent text/html"), std::string::npos)
        << out;
}

TEST_F(CliWebSources, CtrlCStopsADownloadThatWaits) {
    // The stalled server would hold the run for the whole stall time-out; Ctrl-C must not wait for it.
    const std::string stalled = server->StallUrl("/late.png");
    const std::string log = dir.File("stderr.txt");
    // Not quiet: the progress lines tell when the download has begun.
    std::vector<std::string> args = {FOLIANTO_CONVERT,  "-o",    dir.File("stop.pdf"),
                                     dir.File("a.ppm"), stalled, dir.File("b.ppm")};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    const auto logText = [&] {
        const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(log);
        return std::string(bytes.begin(), bytes.end());
    };
    for (int i = 0; i < 500 && logText().find("converting " + stalled) == std::string::npos; ++i)
        ::usleep(20'000);
    ::usleep(300'000);
    const auto start = std::chrono::steady_clock::now();
    ::kill(pid, SIGINT);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        ::usleep(20'000);
    const auto took = std::chrono::steady_clock::now() - start;
    if (took >= std::chrono::seconds(10)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    EXPECT_LT(took, std::chrono::seconds(3));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = logText();
    EXPECT_NE(err.find("skipped " + stalled + ": the download was stopped"), std::string::npos) << err;
    EXPECT_NE(err.find("folianto-convert: stopped\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("converting " + dir.File("b.ppm")), std::string::npos) << err;
    EXPECT_EQ(PageCount(dir.File("stop.pdf")), 1);
}

namespace {
// Libraries only some inputs need are opened when first needed: a start loads none of them.
TEST(CliStart, LinksNoLibraryThatOnlySomeInputsNeed) {
    std::string dynamic;
    if (RunCommand(std::string("readelf -d ") + FOLIANTO_CONVERT, &dynamic) != 0)
        GTEST_SKIP() << "readelf missing";
    ASSERT_NE(dynamic.find("(NEEDED)"), std::string::npos);
    for (const char* library : {"libcairo", "libfontconfig", "libcurl", "libX11"})
        EXPECT_EQ(dynamic.find(library), std::string::npos) << library;
}
} // namespace
