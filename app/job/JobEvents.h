#pragma once
// What making one entry of the list gives, step by step: the run adds these to its document and
// result in list order, whichever thread made them.
#include "app/job/ConversionJob.h"
#include "pdf/PdfWriter.h"

#include <functional>
#include <memory>
#include <vector>

// A page ready to go into the document, with what the result says of it.
struct TMadePage {
    TIEPDFEncodedPage Encoded;
    bool Incomplete = false; // the encoder could not finish: the page goes in, and is reported
    TPageStored Stored;
    std::vector<TPageNote> Notes;
};

enum class TJobEventKind {
    PageStarted,   // Progress: the page about to be made
    FramesCounted, // Frames: the entry is a frame file holding this many frames
    Skipped,       // Skip: a source or frame that gave no page
    Page,          // Page: a page for the document
    FramesShared,  // Frames: the entry's frames are made as tasks of their own, each with its own
                   // events, read frame by frame before the entry's EntryDone
    FrameDone,     // one frame of a frame file was worked through
    EntryDone      // the entry's last event
};

struct TJobEvent {
    TJobEventKind Kind = TJobEventKind::EntryDone;
    TPageProgress Progress;
    int Frames = 0;
    TSkippedInput Skip;
    std::unique_ptr<TMadePage> Page;
};

// Takes one event of the entry being made; false when the run no longer wants any.
using TJobEventSink = std::function<bool(TJobEvent)>;
