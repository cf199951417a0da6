#pragma once
// The progress/abort record every reader, encoder and writer receives.
#include <cmath>
#include <cstdint>
#include <functional>

class TObjectBase; // the sender's type is opaque to readers
using TIEProgressEvent = std::function<void(void* sender, int percent)>;

struct TIEProgressRecord {
    TIEProgressEvent OnProgress; // may be empty
    void* Sender = nullptr;
    std::int32_t ProgressCounter = 0;
    double PercentPerUnit = 0.0;
    double PercentPerStrip = 0.0;
    bool* Aborting = nullptr; // the component's flag; always set by the entry points

    explicit TIEProgressRecord(bool& aborting) : Aborting(&aborting) {}
    TIEProgressRecord(TIEProgressEvent onProgress, void* sender, bool& aborting)
        : OnProgress(std::move(onProgress)), Sender(sender), Aborting(&aborting) {}

    bool IsAborting() const { return Aborting && *Aborting; }
    void Abort() {
        if (Aborting) *Aborting = true;
    }
    // OnProgress(Sender, Trunc(ProgressCounter * PercentPerUnit)) when assigned.
    void Report() const {
        if (OnProgress) OnProgress(Sender, static_cast<int>(std::trunc(ProgressCounter * PercentPerUnit)));
    }
    void ReportPercent(int percent) const {
        if (OnProgress) OnProgress(Sender, percent);
    }
};
