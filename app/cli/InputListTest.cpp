#include "app/cli/InputList.h"
#include "app/cli/NaturalOrder.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace {
using Paths = std::vector<std::string>;
using testsupport::TempDir;

TEST(NaturalOrder, CountsDigitRunsByValue) {
    struct Case {
        const char *A, *B;
        int Sign;
    };
    const Case cases[] = {
        {"2.png", "10.png", -1},
        {"page9", "page10", -1},
        {"Page2", "page10", -1},                                 // letters fold
        {"scan 1 b", "scan 1 a", 1},                             // text after equal numbers decides
        {"a1", "a01", -1},                                       // same value: fewer leading zeros first
        {"a01b", "a1c", -1},                                     // ...unless the rest differs
        {"x99999999999999999999", "x100000000000000000000", -1}, // longer than 64 bits
        {"b", "B", 1},                                           // still a total order
        {"img", "img1", -1},
        {"same", "same", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NaturalCompare(c.A, c.B), c.Sign) << c.A << " vs " << c.B;
        EXPECT_EQ(NaturalCompare(c.B, c.A), -c.Sign) << c.B << " vs " << c.A;
    }
    Paths names = {"10.png", "1.png", "2.png", "page10.tif", "page9.tif", "Page1.tif"};
    std::sort(names.begin(), names.end(), TNaturalLess{});
    EXPECT_EQ(names, (Paths{"1.png", "2.png", "10.png", "Page1.tif", "page9.tif", "page10.tif"}));
}

// The whole literal, NUL bytes included.
template <std::size_t N> std::string WithNuls(const char (&text)[N]) {
    return std::string(text, N - 1);
}

TEST(InputList, SplitsListsIntoPaths) {
    struct Case {
        const char* Name;
        std::string Data;
        bool Nul;
        Paths Expected;
    };
    const Case cases[] = {
        {"Lines", "a.png\nb c.png\n", false, {"a.png", "b c.png"}},
        {"LastLineWithoutEnd", "a.png\nb.png", false, {"a.png", "b.png"}},
        {"EmptyLinesSkipped", "\na.png\n\n\nb.png\n", false, {"a.png", "b.png"}},
        {"NulEntriesKeepLineFeeds",
         WithNuls("new\nline.png\0' q.png\0-x.png\0"),
         true,
         {"new\nline.png", "' q.png", "-x.png"}},
        {"NulLastEntryWithoutEnd", WithNuls("a\0b"), true, {"a", "b"}},
        {"Empty", "", false, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitPathList(c.Data, c.Nul), c.Expected) << c.Name;
}

class InputListFolder : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* f : {"10.png", "2.jpg", "1.tif", "notes.txt", ".hidden.png", "sub/3.gif",
                              "sub/1.bmp", "a/x.PNG", "doc.pdf"})
            Touch(f);
    }
    void Touch(const std::string& name) const {
        const std::filesystem::path p = dir.File(name);
        std::filesystem::create_directories(p.parent_path());
        testsupport::WriteFileBytes(p.string(), {'x'});
    }
    std::string At(const std::string& name) const { return dir.File(name); }
    TempDir dir;
};

TEST_F(InputListFolder, RecursiveAddsImagesInNaturalOrder) {
    TCliOptions o;
    o.Files = {dir.Path()};
    o.Recursive = true;
    std::istringstream none;
    Paths paths;
    std::string error;
    ASSERT_TRUE(BuildInputList(o, none, paths, error)) << error;
    // Folders sort among the files; text, hidden and write-only formats stay out.
    EXPECT_EQ(paths, (Paths{At("1.tif"), At("2.jpg"), At("10.png"), At("a/x.PNG"), At("sub/1.bmp"),
                            At("sub/3.gif")}));
}

TEST_F(InputListFolder, RefusesWhatCannotBeConverted) {
    struct Case {
        const char* Name;
        Paths Files, Lists;
        bool Recursive;
        std::string Message;
    };
    testsupport::WriteFileBytes(At("empty.txt"), {});
    std::filesystem::create_directories(At("void"));
    const Case cases[] = {
        {"FolderWithoutRecursive",
         {At("sub")},
         {},
         false,
         At("sub") + " is a folder (use --recursive to convert the images in it)"},
        {"FolderWithoutImages", {At("void")}, {}, true, "no images in folder " + At("void")},
        {"MissingListFile",
         {},
         {At("nope.txt")},
         false,
         "cannot read list file " + At("nope.txt") + ": No such file or directory"},
        {"ListFileIsAFolder",
         {},
         {At("sub")},
         false,
         "cannot read list file " + At("sub") + ": Is a directory"},
        {"EmptyList",
         {},
         {At("empty.txt")},
         false,
         "no input files (the lists named with --from-file are empty)"},
    };
    for (const Case& c : cases) {
        TCliOptions o;
        o.Files = c.Files;
        o.ListFiles = c.Lists;
        o.Recursive = c.Recursive;
        std::istringstream none;
        Paths paths;
        std::string error;
        EXPECT_FALSE(BuildInputList(o, none, paths, error)) << c.Name;
        EXPECT_EQ(error, c.Message) << c.Name;
    }
}

TEST_F(InputListFolder, ListsComeAfterArgumentsAndSortingCoversAll) {
    testsupport::WriteFileBytes(At("list.txt"), {'b', '1', '0', '\n', 'b', '9', '\n'});
    struct Case {
        TInputOrder Order;
        Paths Expected;
    };
    const Case cases[] = {
        {TInputOrder::AsGiven, {"z2", "a", "from-stdin", "b10", "b9"}},
        {TInputOrder::Natural, {"a", "b9", "b10", "from-stdin", "z2"}},
        {TInputOrder::Name, {"a", "b10", "b9", "from-stdin", "z2"}},
    };
    for (const Case& c : cases) {
        TCliOptions o;
        o.Files = {"z2", "a"};
        o.ListFiles = {"-", At("list.txt")};
        o.Order = c.Order;
        std::istringstream input("from-stdin\n");
        Paths paths;
        std::string error;
        ASSERT_TRUE(BuildInputList(o, input, paths, error)) << error;
        EXPECT_EQ(paths, c.Expected);
    }
}

TEST(InputList, KnowsTheConvertersExtensions) {
    for (const char* yes : {"a.tif", "b.TIFF", "c.fax", "d.jpe", "e.wbmp", "f.j2c", "g.emf", "dir.v1/h.pbm"})
        EXPECT_TRUE(HasImageExtension(yes)) << yes;
    for (const char* no : {"a.pdf", "b.ps", "c.txt", "tif", ".png", "dir.png/readme", "d.tif.bak"})
        EXPECT_FALSE(HasImageExtension(no)) << no;
}
} // namespace
