#pragma once
// One worker of a conversion run: its own view and I/O components, which load an entry of the list
// and encode its pages apart from the document. Nothing here is shared with another worker.
#include "app/job/JobEvents.h"
#include "pdf/PdfCodedImage.h"

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TIEView;
class TPictoraIO;

// What every page of a run is made with.
struct TPageSettings {
    int Compression = 0; // CompressionItems index
    int PaperIndex = 0;  // PaperItems index
    bool KeepAlpha = false;
    bool AutoOrient = true;
};

class TDctPageSink;
class TIEPDFSpool;
class TPageHelpBoard;

class TPageWorker {
public:
    // Works with the given view and its frame component (attached to the view).
    TPageWorker(TIEView& view, TPictoraIO& frameIO);
    // A worker with components of its own, set up like the model's.
    static std::unique_ptr<TPageWorker> Like(TPageWorker& model);
    ~TPageWorker();
    TPageWorker(const TPageWorker&) = delete;
    TPageWorker& operator=(const TPageWorker&) = delete;

    TIEView& View() { return *FView; }
    TPictoraIO& PageIO();
    TPictoraIO& FrameIO() { return *FFrameIO; }

    // Makes the pages of one entry (a frame file: each frame in order) and gives every step to sink,
    // the last being EntryDone. A cleared run flag ends a frame file at the next frame and an entry
    // not yet begun at once. Stops quietly when sink wants no more. Only a failure of the output
    // (EWriteError, which the sink may raise) leaves it.
    // shareFrames, when given, may take the frames of a TIFF file on disk off this worker once they
    // are counted: then the entry's events end with FramesShared and EntryDone, and each frame is made
    // by MakeSharedFrame, on whichever worker. It is told 0 frames at once for a file whose frames are
    // never shared (any but a TIFF file).
    void MakeEntry(const std::string& path, const TPageProgress& progress, const TPageSettings& settings,
                   const std::atomic<int>& runFlag, const TJobEventSink& sink,
                   const std::function<void(int frames)>& shareFrames = {});
    // Makes frame (zero-based) of the frames of a shared TIFF file, its events ending with FrameDone.
    // A cleared run flag gives the FrameDone alone.
    void MakeSharedFrame(const std::string& path, int frame, int frames, const TPageProgress& progress,
                         const TPageSettings& settings, const std::atomic<int>& runFlag,
                         const TJobEventSink& sink);

    // Sets the page size for the bitmap about to become a page, from the picture as the page shows it
    // (upright when asked, in its physical proportions).
    void SetPaper(int paperIndex, int paperHeight, int paperWidth);

    // From now on, each page's image goes into spool (one of the document's page spools) before the
    // page is given to the sink; none: the page keeps its image for the document to spool.
    void SpoolPagesTo(TIEPDFSpool* spool) { FPageSpool = spool; }
    // From now on, the photos this worker encodes as it decodes them are offered on board, where an
    // idle worker may take over their encoding; none: no help.
    void OfferPagesOn(TPageHelpBoard* board) { FHelpBoard = board; }

private:
    TPageWorker() = default;
    bool MakeFrames(const std::string& path, bool gif, const TPageSettings& settings, TPageProgress progress,
                    const std::atomic<int>& runFlag, const std::function<bool(TJobEvent)>& emit,
                    const std::function<void(int frames)>& shareFrames);
    // One frame of a frame file; load reads it into the frame component.
    bool MakeFrame(const std::string& path, int frame, int frames, TPageProgress progress,
                   const TPageSettings& settings, const std::function<int()>& load,
                   const std::function<bool(TJobEvent)>& emit);
    // loader: the component whose load filled the current bitmap, or whose rows went to rows (then
    // complete) instead.
    bool MakePage(const std::string& path, int frame, TPictoraIO& loader, const TPageSettings& settings,
                  const std::function<bool(TJobEvent)>& emit, TDctPageSink* rows = nullptr);
    // One image file's page.
    void MakeImagePage(const std::string& path, const TPageSettings& settings,
                       const std::function<bool(TJobEvent)>& emit);
    void SetPaperFor(int paperIndex, int paperHeight, int paperWidth, int width, int height);

    std::unique_ptr<TIEView> FOwnView;
    std::unique_ptr<TPictoraIO> FOwnFrameIO;
    TIEView* FView = nullptr;
    TPictoraIO* FFrameIO = nullptr;
    int FDownloadCount = 0; // names each download's frames apart
    TIEPDFSpool* FPageSpool = nullptr;
    TPageHelpBoard* FHelpBoard = nullptr;
};

// A failure's words for the report.
std::string JobFailureReason(const std::exception& e);

// The page's coded data from its file, when the load left the bitmap exactly as the file codes it;
// otherwise none, and why not.
std::optional<TPdfCodedImage> KeptPageImage(const std::string& path, int frame, TPictoraIO& loader,
                                            std::string& reason);
