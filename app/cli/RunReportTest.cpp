#include "app/cli/RunReport.h"

#include <gtest/gtest.h>

namespace {
// A written document is complete only when no input was skipped, no page lacks rows and the run
// was not stopped; a page scaled into the viewers' limits is still whole.
struct StatusCase {
    const char* Name;
    TJobOutcome Outcome;
    bool Skipped;
    std::vector<TNoteKind> Notes;
    TExitStatus Expected;
};
const StatusCase kStatusCases[] = {
    {"whole", TJobOutcome::Completed, false, {}, exitComplete},
    {"resized", TJobOutcome::Completed, false, {TNoteKind::PageResized}, exitComplete},
    {"cut", TJobOutcome::Completed, false, {TNoteKind::DataMissing}, exitPartial},
    {"cutAndResized",
     TJobOutcome::Completed,
     false,
     {TNoteKind::PageResized, TNoteKind::DataMissing},
     exitPartial},
    {"skipped", TJobOutcome::Completed, true, {}, exitPartial},
    {"stopped", TJobOutcome::Stopped, false, {}, exitPartial},
};

class WrittenRunStatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(WrittenRunStatusTest, CompleteOnlyWhenEveryPictureIsWhole) {
    const StatusCase& c = GetParam();
    TJobResult r;
    r.Outcome = c.Outcome;
    r.PagesWritten = 2;
    if (c.Skipped) r.Skipped.push_back({"bad.bmp", -1, "unsupported bit depth 30000"});
    for (TNoteKind kind : c.Notes) r.Notes.push_back({"photo.jpg", -1, kind, "note"});
    EXPECT_EQ(WrittenRunStatus(r), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Runs, WrittenRunStatusTest, testing::ValuesIn(kStatusCases),
                         [](const testing::TestParamInfo<StatusCase>& i) {
                             return std::string(i.param.Name);
                         });

TEST(RunReport, LinesNameTheFileAndTheFrameCountedFromOne) {
    EXPECT_EQ(SkippedLine({"bad.bmp", -1, "unsupported bit depth 30000"}),
              "skipped bad.bmp: unsupported bit depth 30000");
    EXPECT_EQ(SkippedLine({"anim.gif", 1, "truncated LZW data"}),
              "skipped anim.gif (frame 2): truncated LZW data");
    EXPECT_EQ(
        NoteLine({"photo.jpg", -1, TNoteKind::DataMissing, "data ends early, rows 812\u20133000 missing"}),
        "photo.jpg: data ends early, rows 812\u20133000 missing");
    EXPECT_EQ(NoteLine({"scan.tif", 0, TNoteKind::PageResized, "page scaled"}),
              "scan.tif (frame 1): page scaled");
}
} // namespace
