#include "pdf/PdfDctPageSink.h"

#include "pdf/PdfDctRows.h"

#include <cstring>
#include <exception>

namespace {
bool RowHasColour(const std::uint8_t* bgr, int width) {
    for (int x = 0; x < width; ++x, bgr += 3)
        if (bgr[0] != bgr[1] || bgr[1] != bgr[2]) return true;
    return false;
}
} // namespace

TDctPageSink::TDctPageSink() = default;

TDctPageSink::~TDctPageSink() {
    Settle();
}

bool TDctPageSink::Begin(TIOParamsVals& params, int width, int height) {
    if (params.SamplesPerPixel < 3 || width <= 0 || height <= 0) return false;
    FWidth = width;
    FHeight = height;
    FData.Reserve(DctDataReservation(width, height));
    try {
        FEncoder = std::make_unique<TDctRowEncoder>(FData, params, width, height, false, &FFailed);
    } catch (const std::exception&) {
        // The bitmap's encoding meets the same failure and reports it.
        FEncoder.reset();
        return false;
    }
    FTakesHelp.store(height > kRowsWorthHelp, std::memory_order_release);
    return true;
}

void TDctPageSink::Row(const std::uint8_t* bgr) {
    if (!FSharing && FAsked.load(std::memory_order_acquire)) StartSharing();
    if (FSharing) {
        QueueRow(bgr);
        return;
    }
    if (FFailed) return;
    if (!FColoured) FColoured = RowHasColour(bgr, FWidth);
    EncodeRow(bgr);
    if (++FRows == FHeight - kRowsWorthHelp) FTakesHelp.store(false, std::memory_order_relaxed);
}

void TDctPageSink::EncodeRow(const std::uint8_t* bgr) {
    if (FFailed) return;
    try {
        FEncoder->Row(bgr);
    } catch (const std::exception&) {
        // Not the file's fault: the reader must not take it for damaged data.
        FFailed = true;
    }
}

std::uint8_t* TDctPageSink::BatchRow(std::size_t batch, int row) {
    const std::size_t rowBytes = std::size_t(FWidth) * 3;
    return FBatches.data() + ((batch % kBatches) * kBatchRows + std::size_t(row)) * rowBytes;
}

void TDctPageSink::StartSharing() {
    FAsked.store(false, std::memory_order_relaxed);
    const std::lock_guard<std::mutex> hold(FLock);
    if (FHelp != THelp::Asked) return;
    // A failed encoder has nothing to hand over; the page goes the bitmap's way.
    FHelp = FFailed ? THelp::Declined : THelp::Sharing;
    FSharing = FHelp == THelp::Sharing;
    FChanged.notify_all();
}

void TDctPageSink::QueueRow(const std::uint8_t* bgr) {
    if (!FColoured) FColoured = RowHasColour(bgr, FWidth);
    if (FFilling == 0) {
        // The batch about to be filled must be one the helper is done with.
        std::unique_lock<std::mutex> hold(FLock);
        FChanged.wait(hold, [&] { return FPublished - FEncoded < kBatches; });
    }
    std::memcpy(BatchRow(FPublished, FFilling), bgr, std::size_t(FWidth) * 3);
    ++FRows;
    if (++FFilling == kBatchRows) Publish(false);
}

void TDctPageSink::Publish(bool last) {
    const std::lock_guard<std::mutex> hold(FLock);
    if (FFilling > 0) ++FPublished;
    FLastRows = FFilling > 0 ? FFilling : kBatchRows;
    FFilling = 0;
    FEnded = last;
    FChanged.notify_all();
}

void TDctPageSink::Settle() {
    FTakesHelp.store(false, std::memory_order_relaxed);
    std::unique_lock<std::mutex> hold(FLock);
    if (FHelp == THelp::Sharing) {
        if (!FEnded) {
            hold.unlock();
            Publish(true);
            hold.lock();
        }
    } else {
        // Whoever asks from now on, or asked and was not yet answered, is turned away.
        FHelp = THelp::Declined;
        FChanged.notify_all();
    }
    FChanged.wait(hold, [&] { return !FHelperInside; });
}

bool TDctPageSink::AskForHelp() {
    if (!FTakesHelp.load(std::memory_order_acquire)) return false;
    const std::lock_guard<std::mutex> hold(FLock);
    if (FHelp != THelp::None) return false;
    FHelp = THelp::Reserved;
    FHelperInside = true;
    return true;
}

void TDctPageSink::Help() {
    // The batches are made here, so their fresh memory costs this thread rather than the decoding one.
    std::vector<std::uint8_t> batches(kBatches * kBatchRows * std::size_t(FWidth) * 3);
    std::unique_lock<std::mutex> hold(FLock);
    if (FHelp == THelp::Reserved) {
        FBatches.swap(batches);
        FHelp = THelp::Asked;
        FAsked.store(true, std::memory_order_release);
    }
    FChanged.wait(hold, [&] { return FHelp == THelp::Sharing || FHelp == THelp::Declined; });
    if (FHelp == THelp::Sharing) {
        for (std::size_t batch = FEncoded;;) {
            FChanged.wait(hold, [&] { return FPublished > batch || FEnded; });
            if (FPublished == batch) break; // the rows ended
            const int rows = FEnded && batch + 1 == FPublished ? FLastRows : kBatchRows;
            hold.unlock();
            for (int r = 0; r < rows; ++r) EncodeRow(BatchRow(batch, r));
            hold.lock();
            FEncoded = ++batch;
            FChanged.notify_all();
        }
    }
    FHelperInside = false;
    FChanged.notify_all();
}

bool TDctPageSink::Complete() const {
    return FEncoder && !FFailed && FColoured && FRows == FHeight;
}

TIEPDFEncodedPage TDctPageSink::Finish(TIOParamsVals& params) {
    Settle();
    if (!Complete()) return {};
    FEncoder->Finish();
    FEncoder.reset();
    return EncodedDctPage(FData.TakeBytes(), params, FWidth, FHeight);
}
