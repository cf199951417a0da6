#include "app/window/RunTexts.h"

#include <gtest/gtest.h>

namespace {

TEST(RunTextsTest, StatusNamesTheFileAndThePageOfSeveral) {
    EXPECT_EQ(PageStatusText({"/in/cover.jpg", 1, 4, 1, 1}),
              QStringLiteral("Converting cover.jpg (file 1 of 4)"));
    EXPECT_EQ(PageStatusText({"/in/scan.tif", 3, 4, 12, 40}),
              QStringLiteral("Converting scan.tif (file 3 of 4): page 12 of 40"));
    // An address is named as the list names it, without its query.
    EXPECT_EQ(PageStatusText({"https://pics.example/a/anim.gif?size=large", 2, 4, 3, 5}),
              QStringLiteral("Converting anim.gif (file 2 of 4): page 3 of 5"));
}

TEST(RunTextsTest, ReportSaysWhatWasWrittenAndWhetherItCanBeOpened) {
    struct Case {
        const char* Name;
        TJobOutcome Outcome;
        int Pages;
        bool Exists;
        const char* Starts;
        const char* Status;
        bool OfferOpen;
    };
    const Case cases[] = {
        {"completed", TJobOutcome::Completed, 4, true, "The PDF file is written (4 pages):\n/out/a.pdf",
         "Finished: 4 pages written to a.pdf", true},
        {"one page", TJobOutcome::Completed, 1, true,
         "The PDF file is written (1 page):", "Finished: 1 page written to a.pdf", true},
        {"stopped", TJobOutcome::Stopped, 2, true,
         "The conversion was stopped. The 2 pages done so far were written to:\n/out/a.pdf",
         "Stopped: 2 pages written to a.pdf", true},
        {"stopped after one", TJobOutcome::Stopped, 1, true,
         "The conversion was stopped. The 1 page done so far was", "Stopped: 1 page written to a.pdf", true},
        {"no page", TJobOutcome::NoPages, 0, false, "No page was converted; no PDF file was written.",
         "No page was converted; nothing was written", false},
        {"file gone meanwhile", TJobOutcome::Completed, 3, false,
         "The PDF file was written (3 pages) but is no longer there:\n/out/a.pdf",
         "Written, but a.pdf is no longer there", false},
        {"no page, stale file of that name", TJobOutcome::NoPages, 0, true, "No page was converted;",
         "No page was converted; nothing was written", false},
    };
    for (const Case& c : cases) {
        TJobResult result;
        result.Outcome = c.Outcome;
        result.OutputPath = "/out/a.pdf";
        result.PagesWritten = c.Pages;
        const TRunReport report = RunReport(result, c.Exists);
        EXPECT_TRUE(report.Text.startsWith(QString::fromUtf8(c.Starts)))
            << c.Name << ": " << report.Text.toStdString();
        EXPECT_EQ(report.Status, QString::fromUtf8(c.Status)) << c.Name;
        EXPECT_EQ(report.OfferOpen, c.OfferOpen) << c.Name;
    }
}

TEST(RunTextsTest, SkippedFilesFollowTheSummaryUpToTwenty) {
    TJobResult result;
    result.Outcome = TJobOutcome::Completed;
    result.OutputPath = "/out/a.pdf";
    result.PagesWritten = 1;
    for (int i = 0; i < 23; ++i)
        result.Skipped.push_back({"/in/f" + std::to_string(i) + ".tif", i % 2 ? 2 : -1, "damaged"});
    const QString text = RunReport(result, true).Text;
    EXPECT_TRUE(
        text.contains(QStringLiteral("\n\nSome files did not become complete pages of the PDF file:\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n/in/f0.tif: damaged")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n/in/f1.tif (frame 3): damaged")));
    EXPECT_TRUE(text.contains(QStringLiteral("/in/f19.tif")));
    EXPECT_FALSE(text.contains(QStringLiteral("/in/f20.tif")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("... and 3 more.")));
}

} // namespace
