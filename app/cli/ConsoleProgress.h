#pragma once
// folianto-convert's progress on standard error: a bar redrawn in place on a terminal, one line per
// file otherwise, nothing when quiet.
#include <cstdio>
#include <string>

// What a run has done so far, counted in pages. Until a file is opened it is expected to give one
// page; a multi-frame file gives one per frame once its frames are counted; a file that ends with
// fewer pages than expected counts what it gave.
class TPageCount {
public:
    explicit TPageCount(int entries) : Entries(entries) {}
    void EntryStarted();
    void FramesCounted(int frames);
    void PageAdded(int pagesDone);

    int Entry() const { return Current; } // 1-based, 0 before the first
    int EntryCount() const { return Entries; }
    int PagesDone() const { return Done; }
    // Pages done, plus what the current and the remaining entries are expected to give.
    int PagesKnown() const;
    // Share of the run done, 0 to 1; it never goes back when a file turns out to hold many frames.
    double Fraction() const;

private:
    int Entries;
    int Current = 0;
    int Done = 0;
    int DoneBeforeEntry = 0;
    int Expected = 1; // pages the current entry should give
};

class TConsoleProgress {
public:
    // stream: where to draw (standard error); terminal: redraw one line in place.
    TConsoleProgress(std::FILE* stream, bool enabled, bool terminal, int entries);
    void EntryStarted(const std::string& path);
    void FramesCounted(int frames);
    void PageAdded(int pagesDone);
    // A message line ("folianto-convert: " and text) that leaves the bar intact below it.
    void Note(const std::string& text);
    // Clears the bar for good.
    void Finish();
    const TPageCount& Count() const { return Pages; }

private:
    void Draw();
    void Clear();

    std::FILE* Stream;
    bool Enabled, Terminal;
    bool Drawn = false;
    TPageCount Pages;
    std::string Current; // file name of the entry in progress
};

// The text's first bytes that fit in maxBytes without splitting a UTF-8 character.
std::string TruncateUtf8(const std::string& text, std::size_t maxBytes);
