#include "pdf/PdfDctPageSink.h"

#include "pdf/PdfDctRows.h"

#include <exception>

namespace {
bool RowHasColour(const std::uint8_t* bgr, int width) {
    for (int x = 0; x < width; ++x, bgr += 3)
        if (bgr[0] != bgr[1] || bgr[1] != bgr[2]) return true;
    return false;
}
} // namespace

TDctPageSink::TDctPageSink() = default;
TDctPageSink::~TDctPageSink() = default;

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
    return true;
}

void TDctPageSink::Row(const std::uint8_t* bgr) {
    if (FFailed) return;
    if (!FColoured) FColoured = RowHasColour(bgr, FWidth);
    try {
        FEncoder->Row(bgr);
        ++FRows;
    } catch (const std::exception&) {
        // Not the file's fault: the reader must not take it for damaged data.
        FFailed = true;
    }
}

bool TDctPageSink::Complete() const {
    return FEncoder && !FFailed && FColoured && FRows == FHeight;
}

TIEPDFEncodedPage TDctPageSink::Finish(TIOParamsVals& params) {
    if (!Complete()) return {};
    FEncoder->Finish();
    FEncoder.reset();
    return EncodedDctPage(FData.TakeBytes(), params, FWidth, FHeight);
}
