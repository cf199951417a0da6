#include "app/cli/CliOptions.h"

#include <gtest/gtest.h>

TEST(CliOptions, ParsesChoicesAndDefaults) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
        int compression, paper;
    };
    const Case cases[] = {
        {{"-o", "x.pdf", "a.jpg"}, true, 4, 12},
        {{"--compression", "g4", "--paper", "letter", "-o", "x", "a"}, true, 2, 8},
        {{"--compression=NONE", "--paper=11x17", "--output=x", "a"}, true, 0, 11},
        {{"--paper", "Ledger", "-o", "x", "a"}, true, 4, 10},
        {{"--compression", "zip", "-o", "x", "a"}, false, 0, 0},
        {{"--paper", "A7", "-o", "x", "a"}, false, 0, 0},
        {{"-o", "x"}, false, 0, 0}, // no inputs
        {{"a.jpg"}, false, 0, 0},   // no output
        {{"--title"}, false, 0, 0}, // missing value
        {{"--bogus", "-o", "x", "a"}, false, 0, 0},
        {{"--force=yes", "-o", "x", "a"}, false, 0, 0},
    };
    for (const Case& c : cases) {
        TCliOptions o;
        std::string err;
        EXPECT_EQ(ParseCliOptions(c.args, o, err), c.ok) << c.args[0] << " " << err;
        if (c.ok) {
            EXPECT_EQ(o.CompressionIndex, c.compression);
            EXPECT_EQ(o.PaperIndex, c.paper);
        } else {
            EXPECT_FALSE(err.empty());
        }
    }
}

TEST(CliOptions, FilesAfterDoubleDashAndInfoMode) {
    TCliOptions o;
    std::string err;
    ASSERT_TRUE(ParseCliOptions({"-o", "out", "--", "-odd.png", "b.gif"}, o, err));
    EXPECT_EQ(o.Files, (std::vector<std::string>{"-odd.png", "b.gif"}));
    TCliOptions info;
    ASSERT_TRUE(ParseCliOptions({"--info", "a.tif"}, info, err)); // --info needs no output
    EXPECT_TRUE(info.Info);
}

TEST(CliOptions, SplitsTheOutputPath) {
    struct Case {
        const char *output, *folder, *name;
    };
    const Case cases[] = {
        {"report.pdf", ".", "report"}, {"out/report.PDF", "out/", "report"}, {"/tmp/a", "/tmp/", "a"},
        {"/x.pdf", "/", "x"},          {"a.pdf.pdf", ".", "a.pdf"},          {"dir/", "dir/", ""},
    };
    for (const Case& c : cases) {
        std::string folder, name;
        SplitOutputPath(c.output, folder, name);
        EXPECT_EQ(folder, c.folder) << c.output;
        EXPECT_EQ(name, c.name) << c.output;
    }
}
