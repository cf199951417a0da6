#pragma once
// The progress/abort record every reader, encoder and writer receives.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "imaging/params/ReadFailures.h"

class TObjectBase; // the sender's type is opaque to readers
using TIEProgressEvent = std::function<void(void* sender, int percent)>;

// What a read found beyond the Aborting flag: why it gave no image, or which part of the image its
// data did not reach. The I/O component keeps the outcome of its last load for its caller.
struct TIELoadOutcome {
    // Why the file gave no image, in a few lower-case words a user reads ("unsupported bit depth
    // 30000"); empty when the reader gave none.
    std::string Refusal;
    // The data ended before the image did; the image keeps what was decoded.
    bool DataEndsEarly = false;
    // The rows (0-based, inclusive) the data did not reach; -1 when the missing part is not a run of
    // rows (interlaced or progressive data).
    std::int32_t FirstMissingRow = -1;
    std::int32_t LastMissingRow = -1;

    bool MissingRowsKnown() const { return FirstMissingRow >= 0 && LastMissingRow >= FirstMissingRow; }
};

struct TIEProgressRecord {
    TIEProgressEvent OnProgress; // may be empty
    void* Sender = nullptr;
    std::int32_t ProgressCounter = 0;
    double PercentPerUnit = 0.0;
    double PercentPerStrip = 0.0;
    bool* Aborting = nullptr; // the component's flag; always set by the entry points
    TIELoadOutcome Outcome;

    explicit TIEProgressRecord(bool& aborting) : Aborting(&aborting) {}
    TIEProgressRecord(TIEProgressEvent onProgress, void* sender, bool& aborting)
        : OnProgress(std::move(onProgress)), Sender(sender), Aborting(&aborting) {}

    bool IsAborting() const { return Aborting && *Aborting; }
    void Abort() {
        if (Aborting) *Aborting = true;
    }
    // Aborts and says why. The first reason given stands: it is the most specific one, as the
    // catch-all handlers at a reader's edge come last.
    void Fail(std::string_view reason) {
        Abort();
        if (Outcome.Refusal.empty()) Outcome.Refusal = reason;
    }
    // The data ended before rows first..last (0-based, inclusive) of an image of height rows were
    // reached; the read goes on as a success and the image keeps what was decoded. When no row was
    // reached the read fails: a page of nothing but paper is not the picture. A later report widens
    // the run of missing rows.
    void DataEndsEarly(std::int64_t first, std::int64_t last, std::int64_t height) {
        if (first <= 0 && last >= height - 1) {
            Fail(reasons::kNoRowData);
            return;
        }
        Outcome.DataEndsEarly = true;
        if (first < 0 || last < first) return;
        const auto f = static_cast<std::int32_t>(std::min<std::int64_t>(first, INT32_MAX));
        const auto l = static_cast<std::int32_t>(std::min<std::int64_t>(last, INT32_MAX));
        if (!Outcome.MissingRowsKnown()) {
            Outcome.FirstMissingRow = f;
            Outcome.LastMissingRow = l;
            return;
        }
        Outcome.FirstMissingRow = std::min(Outcome.FirstMissingRow, f);
        Outcome.LastMissingRow = std::max(Outcome.LastMissingRow, l);
    }
    // The data ended early and the missing part is not a run of rows.
    void DataEndsEarly() { Outcome.DataEndsEarly = true; }

    // OnProgress(Sender, Trunc(ProgressCounter * PercentPerUnit)) when assigned.
    void Report() const {
        if (OnProgress) OnProgress(Sender, static_cast<int>(std::trunc(ProgressCounter * PercentPerUnit)));
    }
    void ReportPercent(int percent) const {
        if (OnProgress) OnProgress(Sender, percent);
    }
};
