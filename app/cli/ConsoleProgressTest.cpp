#include "app/cli/ConsoleProgress.h"
#include "app/cli/FrameNote.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {
// A run of three files: a photo, a four-frame TIFF and a file that gives no page.
struct Step {
    enum { Entry, Frames, Page } Kind;
    int Value;
    int Known, Done;
};
const Step kRun[] = {
    {Step::Entry, 0, 3, 0}, {Step::Page, 1, 3, 1},   // photo.jpg
    {Step::Entry, 0, 3, 1}, {Step::Frames, 4, 6, 1}, // scan.tif holds four frames
    {Step::Page, 2, 6, 2},  {Step::Page, 3, 6, 3},   {Step::Page, 4, 6, 4},
    {Step::Page, 5, 6, 5},  {Step::Entry, 0, 6, 5}, // broken.png gives nothing
};

TEST(PageCount, CountsPagesKnownSoFarAndNeverGoesBack) {
    TPageCount count(3);
    EXPECT_EQ(count.PagesKnown(), 3);
    double last = 0;
    for (const Step& s : kRun) {
        if (s.Kind == Step::Entry) count.EntryStarted();
        if (s.Kind == Step::Frames) count.FramesCounted(s.Value);
        if (s.Kind == Step::Page) count.PageAdded(s.Value);
        EXPECT_EQ(count.PagesKnown(), s.Known) << "after step with value " << s.Value;
        EXPECT_EQ(count.PagesDone(), s.Done);
        EXPECT_GE(count.Fraction(), last);
        last = count.Fraction();
    }
    EXPECT_EQ(count.Entry(), 3);
}

// Captures what the progress writes.
class Captured {
public:
    Captured() : Stream(open_memstream(&Buffer, &Size)) {}
    ~Captured() {
        std::fclose(Stream);
        std::free(Buffer);
    }
    std::string Text() {
        std::fflush(Stream);
        return std::string(Buffer, Size);
    }
    std::FILE* Stream;

private:
    char* Buffer = nullptr;
    std::size_t Size = 0;
};

TEST(ConsoleProgress, BarOnATerminalLinesElsewhereNothingWhenQuiet) {
    struct Case {
        const char* Name;
        bool Enabled, Terminal;
        std::vector<std::string> Present, Absent;
    };
    const Case cases[] = {
        {"Terminal", true, true, {"] 5 of 6 pages  2/2 scan.tif", "\r\033[K"}, {"converting"}},
        {"Plain",
         true,
         false,
         {"converting /in/photo.jpg (file 1 of 2)\n", "converting /in/scan.tif (file 2 of 2)\n"},
         {"\r", "pages"}},
        {"Quiet", false, true, {}, {"converting", "pages", "\r"}},
    };
    for (const Case& c : cases) {
        Captured out;
        TConsoleProgress p(out.Stream, c.Enabled, c.Terminal, 2);
        p.EntryStarted("/in/photo.jpg");
        p.PageAdded(1);
        p.EntryStarted("/in/scan.tif");
        p.FramesCounted(5);
        for (int page = 2; page <= 5; ++page) p.PageAdded(page);
        p.Finish();
        const std::string text = out.Text();
        for (const std::string& s : c.Present)
            EXPECT_NE(text.find(s), std::string::npos) << c.Name << ": " << text;
        for (const std::string& s : c.Absent)
            EXPECT_EQ(text.find(s), std::string::npos) << c.Name << ": " << text;
    }
}

TEST(ConsoleProgress, NotesClearTheBarAndCutNamesAtCharacters) {
    Captured out;
    TConsoleProgress p(out.Stream, true, true, 1);
    p.EntryStarted("a.fax");
    p.Note("a.fax: 4 frames");
    EXPECT_NE(out.Text().find("\r\033[Kfolianto-convert: a.fax: 4 frames\n\r\033[K["), std::string::npos);
    EXPECT_EQ(TruncateUtf8("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(TruncateUtf8("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_EQ(TruncateUtf8("abc", 2), "ab");
}

TEST(FrameNote, NamesTheFramesOnlyForOnePageExtensions) {
    EXPECT_EQ(FirstFrameOnlyNote("fax.fax", 4),
              "fax.fax: 4 frames, only the first becomes a page; name it .tif for all");
    EXPECT_EQ(FirstFrameOnlyNote("one.fax", 1), "");
    for (const char* yes : {"a.fax", "b.G3N", "c.g3f"}) EXPECT_TRUE(IsFirstFrameOnlyExtension(yes)) << yes;
    for (const char* no : {"a.tif", "b.tiff", "fax", "c.fax.png"})
        EXPECT_FALSE(IsFirstFrameOnlyExtension(no)) << no;
}
} // namespace
