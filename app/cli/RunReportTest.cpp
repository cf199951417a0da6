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

namespace {
// What --verbose says of each way a page can be stored.
struct StoredCase {
    const char* Name;
    TPageStored Page;
    const char* Expected;
};
TPdfPageStorage Storage(TPageCoding coding, TKeptOrigin origin = TKeptOrigin::None, int joined = 1) {
    TPdfPageStorage s;
    s.Coding = coding;
    s.Origin = origin;
    s.JoinedBlocks = joined;
    s.ImageBytes = 1234;
    return s;
}
const StoredCase kStoredCases[] = {
    {"KeptJpeg",
     {"a.jpg", -1, 3, Storage(TPageCoding::Kept, TKeptOrigin::JpegFile), true, ""},
     "page 7: a.jpg: kept JPEG data, 1234 bytes"},
    {"JoinedG3",
     {"f.tif", 1, 1, Storage(TPageCoding::Kept, TKeptOrigin::TiffG3, 4), true, ""},
     "page 7: f.tif (frame 2): G3 from TIFF strips (4 joined), 1234 bytes"},
    {"OneStripG4",
     {"f.tif", 0, 1, Storage(TPageCoding::Kept, TKeptOrigin::TiffG4), true, ""},
     "page 7: f.tif (frame 1): kept G4 data from TIFF, 1234 bytes"},
    {"NotKept",
     {"p.png", -1, 8, Storage(TPageCoding::Flate), true, "interlaced PNG"},
     "page 7: p.png: Flate; not kept: interlaced PNG, 1234 bytes"},
    {"Dct",
     {"p.png", -1, 8,
      [] {
          TPdfPageStorage s = Storage(TPageCoding::Dct);
          s.DctQuality = 80;
          s.SoftMask = true;
          return s;
      }(),
      false, ""},
     "page 7: p.png: re-encoded DCT q80: source is PNG, with soft mask, 1234 bytes"},
    {"GreyFlate",
     {"g.bmp", -1, 5,
      [] {
          TPdfPageStorage s = Storage(TPageCoding::Flate);
          s.Gray = true;
          return s;
      }(),
      true, ""},
     "page 7: g.bmp: Flate (grey), 1234 bytes"},
};
class StoredLineTest : public testing::TestWithParam<StoredCase> {};
TEST_P(StoredLineTest, SaysHowThePageWasStored) {
    EXPECT_EQ(StoredLine(7, GetParam().Page), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(Pages, StoredLineTest, testing::ValuesIn(kStoredCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(KeptSummaryTest, OnlyWhenKeepingWasAsked) {
    TJobResult r;
    r.PagesWritten = 2;
    r.Stored.push_back({"a", -1, 3, Storage(TPageCoding::Dct), false, ""});
    EXPECT_EQ(KeptSummary(r), "");
    r.Stored.back().KeepAsked = true;
    r.PagesKept = 1;
    EXPECT_EQ(KeptSummary(r), "1 of 2 pages kept their original data");
}
} // namespace
