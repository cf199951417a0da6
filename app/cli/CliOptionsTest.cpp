#include "app/cli/CliOptions.h"

#include <gtest/gtest.h>

namespace {
using Args = std::vector<std::string>;

struct ParseCase {
    const char* Name;
    Args Arguments;
    // Expected on success
    std::string Output;
    Args Files;
    int Compression = CliAutoIndex, Paper = CliFitPaper;
    bool Force = false, Quiet = false;
    bool KeepAlpha = false, Verbose = false;
    bool AutoOrient = true;
    int Jobs = 0;
};

const ParseCase kParseCases[] = {
    {"SeparateValue", {"-o", "x.pdf", "a.jpg"}, "x.pdf", {"a.jpg"}},
    {"AttachedShortValue", {"-ox.pdf", "a.jpg"}, "x.pdf", {"a.jpg"}},
    {"LongWithEquals", {"--output=x.pdf", "a.jpg"}, "x.pdf", {"a.jpg"}},
    {"LongWithSpace", {"--output", "x.pdf", "a.jpg"}, "x.pdf", {"a.jpg"}},
    {"OptionsAfterFiles",
     {"a.jpg", "b.gif", "-o", "x", "-q"},
     "x",
     {"a.jpg", "b.gif"},
     CliAutoIndex,
     12,
     false,
     true},
    {"ShortChoices", {"-c", "g4", "-p", "letter", "-o", "x", "a"}, "x", {"a"}, 2, 8},
    {"LongChoicesAnyCase", {"--compression=NONE", "--paper=11x17", "-o", "x", "a"}, "x", {"a"}, 0, 11},
    {"AbbreviatedLongOption", {"--comp=rle", "--pap", "Ledger", "-o", "x", "a"}, "x", {"a"}, 1, 10},
    {"ClusteredFlags", {"-qfv", "-o", "x", "a"}, "x", {"a"}, CliAutoIndex, 12, true, true, false, true},
    {"FlateAndDct", {"-c", "flate", "-c", "DCT", "-o", "x", "a"}, "x", {"a"}, CliDctIndex},
    {"LosslessChoices", {"--compression=flate", "-o", "x", "a"}, "x", {"a"}, 5},
    {"AlphaKeptVerbose",
     {"--alpha=keep", "--verbose", "-o", "x", "a"},
     "x",
     {"a"},
     CliAutoIndex,
     12,
     false,
     false,
     true,
     true},
    {"AlphaFlattenedAgain", {"--alpha", "keep", "--alpha", "Flatten", "-o", "x", "a"}, "x", {"a"}},
    {"DoubleDashEndsOptions", {"-o", "x", "--", "-odd.png", "-q"}, "x", {"-odd.png", "-q"}},
    {"DashIsAFile", {"-o", "x", "-"}, "x", {"-"}},
    {"PaperImageKeptAsStored",
     {"-p", "IMAGE", "--no-auto-orient", "-o", "x", "a"},
     "x",
     {"a"},
     CliAutoIndex,
     13,
     false,
     false,
     false,
     false,
     false},
    {"JobsShortAndLong",
     {"-j", "3", "--jobs=1", "-o", "x", "a"},
     "x",
     {"a"},
     CliAutoIndex,
     12,
     false,
     false,
     false,
     false,
     true,
     1},
    {"JobsAttachedLargest",
     {"-j256", "-o", "x", "a"},
     "x",
     {"a"},
     CliAutoIndex,
     12,
     false,
     false,
     false,
     false,
     true,
     CliMaxJobs},
    {"JobsPerCoreByDefault",
     {"-o", "x", "a"},
     "x",
     {"a"},
     CliAutoIndex,
     12,
     false,
     false,
     false,
     false,
     true,
     0},
};

class CliParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CliParse, ReadsEveryFormOfOption) {
    const ParseCase& c = GetParam();
    TCliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(c.Arguments, o, error)) << error;
    EXPECT_EQ(o.Output, c.Output);
    EXPECT_EQ(o.Files, c.Files);
    EXPECT_EQ(o.CompressionIndex, c.Compression);
    EXPECT_EQ(o.PaperIndex, c.Paper);
    EXPECT_EQ(o.Force, c.Force);
    EXPECT_EQ(o.Quiet, c.Quiet);
    EXPECT_EQ(o.KeepAlpha, c.KeepAlpha);
    EXPECT_EQ(o.Verbose, c.Verbose);
    EXPECT_EQ(o.AutoOrient, c.AutoOrient);
    EXPECT_EQ(o.Jobs, c.Jobs);
}

INSTANTIATE_TEST_SUITE_P(Options, CliParse, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct RefusalCase {
    const char* Name;
    Args Arguments;
    const char* Message;
};

const RefusalCase kRefusals[] = {
    {"UnknownCompression",
     {"--compression", "zip", "-o", "x", "a"},
     "unknown compression \"zip\" (use none, rle, g4, g3, dct, flate or auto)"},
    {"UnknownAlpha", {"--alpha=drop", "-o", "x", "a"}, "unknown alpha mode \"drop\" (use flatten or keep)"},
    {"UnknownPaper", {"-p", "A7", "-o", "x", "a"}, "unknown paper \"A7\""},
    {"AutoOrientTakesNoValue",
     {"--no-auto-orient=1", "-o", "x", "a"},
     "option --no-auto-orient takes no value"},
    {"UnknownSort",
     {"--sort=random", "-o", "x", "a"},
     "unknown sort order \"random\" (use none, natural or name)"},
    {"NoInputs", {"-o", "x"}, "no input files"},
    {"NoOutput", {"a.jpg"}, "no output file"},
    {"LongValueMissing", {"-o", "x", "a", "--title"}, "option --title needs a value"},
    {"ShortValueMissing", {"a", "-o"}, "option -o needs a value"},
    {"UnknownLongOption", {"--bogus", "-o", "x", "a"}, "unknown option --bogus"},
    {"UnknownShortOption", {"-x", "-o", "x", "a"}, "unknown option -x"},
    {"FlagWithValue", {"--force=yes", "-o", "x", "a"}, "option --force takes no value"},
    {"JobsZero", {"-j", "0", "-o", "x", "a"}, "invalid number of jobs \"0\" (use 1 to 256)"},
    {"JobsTooMany", {"--jobs=257", "-o", "x", "a"}, "invalid number of jobs \"257\""},
    {"JobsNegative", {"--jobs=-2", "-o", "x", "a"}, "invalid number of jobs \"-2\""},
    {"JobsNotANumber", {"-j", "2x", "-o", "x", "a"}, "invalid number of jobs \"2x\""},
    {"JobsHuge", {"-j", "99999999999", "-o", "x", "a"}, "invalid number of jobs"},
    {"JobsEmpty", {"--jobs=", "-o", "x", "a"}, "invalid number of jobs \"\""},
    {"JobsMissing", {"-o", "x", "a", "--jobs"}, "option --jobs needs a value"},
    {"OpenWithStandardOutput", {"--open", "-o", "-", "a"}, "--open needs an output file"},
};

class CliRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(CliRefusal, SaysWhatIsWrong) {
    TCliOptions o;
    std::string error;
    EXPECT_FALSE(ParseCliOptions(GetParam().Arguments, o, error));
    EXPECT_NE(error.find(GetParam().Message), std::string::npos) << error;
    // getopt keeps global state: a refused line must not disturb the next parse.
    TCliOptions next;
    EXPECT_TRUE(ParseCliOptions({"-o", "y", "b"}, next, error)) << error;
    EXPECT_EQ(next.Files, Args{"b"});
}

INSTANTIATE_TEST_SUITE_P(Options, CliRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(CliOptions, InputListOptionsAndModesWithoutOutput) {
    TCliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(
        {"--from-file", "a.txt", "-0", "-r", "--sort", "natural", "--from-file=-", "--info"}, o, error))
        << error;
    EXPECT_EQ(o.ListFiles, (Args{"a.txt", "-"}));
    EXPECT_TRUE(o.NullSeparated);
    EXPECT_TRUE(o.Recursive);
    EXPECT_EQ(o.Order, TInputOrder::Natural);
    EXPECT_TRUE(o.Info); // --info needs no output, and a list file counts as input
    TCliOptions help;
    EXPECT_TRUE(ParseCliOptions({"--help"}, help, error));
    EXPECT_TRUE(help.Help);
    TCliOptions version;
    EXPECT_TRUE(ParseCliOptions({"-V"}, version, error));
    EXPECT_TRUE(version.Version);
}

// Each name chooses the window's item that codes pages that way; the window stores item indexes, so
// they stay where they are.
TEST(CliOptions, CompressionNamesChooseTheWindowsItems) {
    struct Case {
        const char* Name;
        int Item;
        TPdfCompression Compression;
        bool KeepOriginal;
    };
    const Case cases[] = {
        {"none", 0, pdfUncompressed, false}, {"rle", 1, pdfRunLength, false}, {"g4", 2, pdfGroup4, false},
        {"g3", 3, pdfGroup3, false},         {"DCT", 4, pdfDct, false},       {"flate", 5, pdfFlate, false},
        {"auto", 6, pdfFlate, true},
    };
    for (const Case& c : cases) {
        TCliOptions o;
        std::string error;
        ASSERT_TRUE(ParseCliOptions({"-c", c.Name, "-o", "x", "a"}, o, error)) << error;
        ASSERT_EQ(o.CompressionIndex, c.Item) << c.Name;
        const TCompressionItem& item = CompressionItems[static_cast<std::size_t>(o.CompressionIndex)];
        EXPECT_EQ(item.PdfCompression, c.Compression) << c.Name;
        EXPECT_EQ(item.KeepOriginalData, c.KeepOriginal) << c.Name;
        EXPECT_EQ(CompressionIndexOf(c.Compression, c.KeepOriginal), c.Item) << c.Name;
    }
    EXPECT_EQ(CliDctIndex, CompressionDctIndex);
    EXPECT_EQ(std::string_view(CompressionItems[CliDctIndex].Text), "DCT-jpeg (only color images)");
    EXPECT_EQ(std::string_view(CompressionItems[CliAutoIndex].Text), "Automatic (keep original data)");
    EXPECT_EQ(CompressionIndexOf(pdfGroup4, true), -1); // no item keeps data for fax coding
}

// The help text is the manual page's source: every value the parser takes must be listed in it.
TEST(CliOptions, HelpListsEveryAcceptedValue) {
    const std::string help = CliUsage();
    for (const auto& names : {CliCompressionNames(), CliPaperNames(), CliSortNames()})
        for (std::string_view name : names) EXPECT_NE(help.find(name), std::string::npos) << name;
}
} // namespace
