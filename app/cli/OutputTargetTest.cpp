#include "app/cli/OutputTarget.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

TEST(OutputTarget, AddsPdfOnlyWhenMissing) {
    struct Case {
        const char *Output, *File;
    };
    const Case cases[] = {
        {"report", "report.pdf"},   {"report.pdf", "report.pdf"},   {"Report.PDF", "Report.PDF"},
        {"a.pdf.pdf", "a.pdf.pdf"}, {"out/x", "out/x.pdf"},         {"v1.2", "v1.2.pdf"},
        {"pdf", "pdf.pdf"},         {"dir.pdf/x", "dir.pdf/x.pdf"},
    };
    for (const Case& c : cases) EXPECT_EQ(OutputFileFor(c.Output), c.File) << c.Output;
}

TEST(OutputTarget, DecidesFromWhatStandsThereAndForce) {
    struct Case {
        TOutputEntry Entry;
        bool Force;
        TOutputAction Action;
    };
    const Case cases[] = {
        {TOutputEntry::None, false, TOutputAction::Create},
        {TOutputEntry::None, true, TOutputAction::Replace},
        {TOutputEntry::Other, false, TOutputAction::RefuseExisting},
        {TOutputEntry::Other, true, TOutputAction::Replace},
        {TOutputEntry::Folder, false, TOutputAction::RefuseFolder},
        {TOutputEntry::Folder, true, TOutputAction::RefuseFolder},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecideOutput(c.Entry, c.Force), c.Action) << int(c.Entry) << " force " << c.Force;
}

class OutputTargetPlan : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.File("folder"));
        WriteFileBytes(dir.File("old.pdf"), {'o', 'l', 'd'});
    }
    // Plays a run: the job's file appears at WorkPath.
    static void WriteWork(const TOutputTarget& t, const char* text) {
        WriteFileBytes(t.WorkPath(), std::vector<std::uint8_t>(text, text + std::strlen(text)));
    }
    static std::string Text(const std::string& path) {
        const auto bytes = ReadFileBytes(path);
        return std::string(bytes.begin(), bytes.end());
    }
    TempDir dir;
};

TEST_F(OutputTargetPlan, RefusesWithThePathAndTheFix) {
    struct Case {
        std::string Output;
        bool Force;
        std::string Message;
    };
    const Case cases[] = {
        {dir.File("folder/"), false,
         "output is a folder: " + dir.File("folder") + " (name a file, as in " +
             dir.File("folder/document.pdf)")},
        {dir.File("folder"), true, "output is a folder: " + dir.File("folder")},
        {dir.File("missing/x.pdf"), false,
         "no such folder: " + dir.File("missing") + " (create it first, or choose another)"},
        {dir.File("old.pdf"), false,
         "output exists: " + dir.File("old.pdf") + " (use --force to replace it)"},
        {dir.File("old"), false, "output exists: " + dir.File("old.pdf") + " (use --force to replace it)"},
    };
    for (const Case& c : cases) {
        TOutputTarget t;
        std::string error;
        EXPECT_FALSE(t.Plan(c.Output, c.Force, error)) << c.Output;
        EXPECT_EQ(error.substr(0, c.Message.size()), c.Message) << c.Output;
    }
}

TEST_F(OutputTargetPlan, ADanglingLinkCountsAsAnExistingOutput) {
    std::filesystem::create_symlink(dir.File("nowhere.pdf"), dir.File("link.pdf"));
    for (const bool force : {false, true}) {
        TOutputTarget t;
        std::string error;
        EXPECT_EQ(t.Plan(dir.File("link.pdf"), force, error), force) << error;
        EXPECT_EQ(error.empty(), force) << error;
    }
}

TEST_F(OutputTargetPlan, NewFileAppearsOnlyWhenDelivered) {
    TOutputTarget t;
    std::string error;
    ASSERT_TRUE(t.Plan(dir.File("New.PDF"), false, error)) << error;
    EXPECT_EQ(t.WorkFolder(), dir.Path() + "/");
    EXPECT_EQ(t.WorkPath().rfind(dir.Path() + "/.New.PDF.partial-", 0), 0u) << t.WorkPath();
    WriteWork(t, "new");
    EXPECT_FALSE(std::filesystem::exists(dir.File("New.PDF")));
    ASSERT_TRUE(t.Deliver(error)) << error;
    EXPECT_EQ(Text(dir.File("New.PDF")), "new");
    EXPECT_FALSE(std::filesystem::exists(t.WorkPath()));
}

TEST_F(OutputTargetPlan, ForceKeepsTheOldFileUntilTheNewOneIsComplete) {
    {
        TOutputTarget abandoned;
        std::string error;
        ASSERT_TRUE(abandoned.Plan(dir.File("old.pdf"), true, error)) << error;
        WriteWork(abandoned, "half");
    } // a failed run: nothing delivered
    EXPECT_EQ(Text(dir.File("old.pdf")), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2); // old.pdf, folder

    TOutputTarget t;
    std::string error;
    ASSERT_TRUE(t.Plan(dir.File("old.pdf"), true, error)) << error;
    WriteWork(t, "new");
    ASSERT_TRUE(t.Deliver(error)) << error;
    EXPECT_EQ(Text(dir.File("old.pdf")), "new");
}

TEST_F(OutputTargetPlan, AFileThatAppearsDuringTheRunIsNotReplaced) {
    TOutputTarget t;
    std::string error;
    ASSERT_TRUE(t.Plan(dir.File("race.pdf"), false, error)) << error;
    WriteWork(t, "new");
    WriteFileBytes(dir.File("race.pdf"), {'o', 't', 'h', 'e', 'r'});
    EXPECT_FALSE(t.Deliver(error));
    EXPECT_NE(error.find("output exists: " + dir.File("race.pdf")), std::string::npos) << error;
    EXPECT_EQ(Text(dir.File("race.pdf")), "other");
    EXPECT_FALSE(std::filesystem::exists(t.WorkPath()));
}
} // namespace
