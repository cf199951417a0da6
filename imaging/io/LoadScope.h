#pragma once
// The scope of one load of the I/O component (inside the component only).
#include "imaging/io/PictoraIO.h"

#include <exception>

// Starts a load: the outcome and the per-image information begin afresh, so nothing of the image read
// before survives a failure. Ends it: FinishWork once, when the outermost load ends, on every exit.
class TPictoraIO::TLoadScope {
public:
    explicit TLoadScope(TPictoraIO& io) : FIo(io), FOuter(io.FLoadDepth++ == 0) {
        if (!FOuter) return;
        FIo.FLastLoad = {};
        FIo.FParams.ResetImageInfo();
    }
    ~TLoadScope() noexcept(false) {
        --FIo.FLoadDepth;
        if (!FOuter) return;
        const bool unwinding = std::uncaught_exceptions() > FExceptions;
        try {
            FIo.FinishWork();
        } catch (...) {
            // The exception already on its way is the one the caller hears of.
            if (!unwinding) throw;
        }
    }
    TLoadScope(const TLoadScope&) = delete;
    TLoadScope& operator=(const TLoadScope&) = delete;

private:
    TPictoraIO& FIo;
    const bool FOuter;
    const int FExceptions = std::uncaught_exceptions();
};
