#pragma once
// The conversion run: validates the output, loads every source and adds it (or each of its frames)
// as a page of one PDF document. Several workers may load and encode pages at once; the pages, the
// callbacks and the result come out in list order all the same. It has no window: everything a
// window supplies comes in as plain values and callbacks.
#include "app/job/ConversionTables.h"
#include "pdf/PdfCodedImage.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TIEView;
class TPictoraIO;
class TPageWorker;

struct TConversionInputs {
    std::string OutputFolder;
    std::string OutputName; // without ".pdf"
    std::vector<std::string> SourcePaths;
    int CompressionIndex = CompressionDctIndex; // CompressionItems
    int PaperIndex = 12;                        // PaperItems
    bool KeepAlpha = false;                     // transparency as a soft mask instead of laid on white paper
    bool AutoOrient = true;                     // turn pages upright as the files' orientation tags say
    int Jobs = 1; // workers loading and encoding pages at once (1: all on the calling thread)
    std::string Title, Subject, Author, Creator, Producer, Keywords;
};

// A source, or one frame of it, that gave no page.
struct TSkippedInput {
    std::string Path;
    int Frame = -1; // zero-based frame, or -1 for the whole file
    std::string Reason;
};

// What a page that is in the document lacks, or how it was changed so that viewers show it.
enum class TNoteKind {
    DataMissing, // the file's data ended early: part of the picture is paper
    PageResized  // the page was scaled into the sizes PDF viewers accept
};
struct TPageNote {
    std::string Path;
    int Frame = -1; // zero-based frame, or -1 for the whole file
    TNoteKind Kind = TNoteKind::DataMissing;
    std::string Text;
};

// The page sizes PDF viewers accept, in PDF units (points), on each side.
inline constexpr int kLargestPageSide = 14400;
inline constexpr int kSmallestPageSide = 3;

enum class TJobOutcome {
    NotStarted, // a validation message was shown; nothing was written
    Completed,  // every entry was worked through
    Stopped,    // the run flag was cleared; the pages done so far were written
    NoPages,    // no page was converted (every entry skipped, or a stop before the first page):
                // a document without pages is no document, so no output file is left
    Failed      // the run broke off; the message told why and no output file is left
};

// How one page's image went into the document.
struct TPageStored {
    std::string Path;
    int Frame = -1;       // zero-based frame, or -1 for the whole file
    int SourceFormat = 0; // the file's format id
    TPdfPageStorage Storage;
    bool KeepAsked = false; // the compression keeps original data where it can
    // Asked to keep original data and did not: why, in a few lower-case words (empty for formats
    // that have no data a PDF reads).
    std::string NotKeptReason;
};

struct TJobResult {
    TJobOutcome Outcome = TJobOutcome::NotStarted;
    std::string OutputPath;
    int PagesWritten = 0; // pages the document holds
    std::vector<TSkippedInput> Skipped;
    std::vector<TPageNote> Notes;
    std::vector<TPageStored> Stored; // one per page, in page order
    int PagesKept = 0;               // pages whose file data went in unchanged
    std::string Message;             // the validation message or the failure's text
};

// The page about to be made: entry (1-based) of entries in the list, and page (1-based) of the pages
// that entry gives (1 of 1 for a single image).
struct TPageProgress {
    std::string Path;
    int Entry = 0, Entries = 0;
    int Page = 0, Pages = 0;
};

// The number of workers a run uses unless told otherwise: one per core.
int DefaultJobCount();

// The callbacks are all made on the thread that called Execute, in list order.
struct TConversionCallbacks {
    std::function<void(const std::string& text)> ShowMessage; // information box with OK
    std::function<void(int max)> SetProgressMax;
    std::function<void(int position)> SetProgressPosition;
    std::function<void()> Beep;
    std::function<void(const std::string& folder)> OpenFolder;
    std::function<void()> ProcessMessages;
    std::function<void(bool enabled)> SetInputsEnabled; // the window's list, panels and actions
    std::function<void(const std::string& path)> EntryStarted;
    std::function<void(const TPageProgress& page)> PageStarted;
    std::function<void(int pagesDone)> PageAdded;
    // A .tif, .tiff or .gif entry was opened and holds this many frames, each to become a page.
    std::function<void(const std::string& path, int frames)> FramesCounted;
    // After the document is written: every source or frame that gave no page, and every page that
    // lacks part of its picture or was resized. Called when either list is not empty.
    std::function<void(const std::vector<TSkippedInput>& skipped, const std::vector<TPageNote>& notes)>
        ReportSkipped;
};

class TConversionJob {
public:
    // view: its own I/O component loads single images; frameIO, attached to the same view, the frames
    // of .tif, .tiff and .gif files. They are the first worker's; other workers make their own.
    TConversionJob(TIEView& view, TPictoraIO& frameIO);
    ~TConversionJob();
    TConversionJob(const TConversionJob&) = delete;
    TConversionJob& operator=(const TConversionJob&) = delete;

    // 1 while a run may go on; anyone, on any thread, may set 0 to stop it (the window's Tag).
    std::atomic<int> RunFlag{0};
    // Kept by RequestStop so that a stop asked for just before a run sets RunFlag to 1 still counts;
    // whoever starts runs on another thread clears it before each.
    std::atomic<bool> StopRequested{false};
    // Stops the run after its current page, or a run about to begin before its first. Lock-free, so a
    // signal handler may call it.
    void RequestStop() {
        StopRequested = true;
        RunFlag = 0;
    }

    TJobResult Execute(const TConversionInputs& inputs, const TConversionCallbacks& callbacks);

    // Sets the page size for the bitmap about to become a page, from the picture as the page shows it
    // (upright when asked, in its physical proportions).
    void ParamPaper(int paperIndex, int paperHeight, int paperWidth);

    // Scales a page size into kSmallestPageSide..kLargestPageSide on each side, keeping its
    // proportions as far as those limits allow; a size within them stays exactly as it is. Returns the
    // note text when the size changed, empty otherwise.
    static std::string BoundPageSize(int& width, int& height);

    // The validation message for these inputs, or empty when the run may start.
    static std::string Validate(const TConversionInputs& inputs, std::string& folderPath,
                                std::string& outputPath);

private:
    TIEView& View;
    std::unique_ptr<TPageWorker> FWorker; // on the given components
};
