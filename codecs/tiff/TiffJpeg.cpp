#include "codecs/tiff/TiffJpeg.h"

#include "codecs/jpeg/JpegReader.h"
#include "imaging/params/ReadFailures.h"
#include "platform/Stream.h"

#include <utility>

namespace tiff {

namespace {

// Only the decoding choices travel into the scratch record; everything the JPEG reader writes stays there.
void PrepareScratch(const TIOParamsVals& params, TIOParamsVals& scratch) {
    scratch.JpegDctMethod = params.JpegDctMethod;
    scratch.JpegScale = 1;
}

} // namespace

bool DecodeJpegBlock(std::span<const std::uint8_t> data, std::span<const std::uint8_t> tables, bool rgbCoded,
                     int maxWidth, int maxHeight, const TIOParamsVals& params, TIEProgressRecord& progress,
                     TIEBitmap& block) {
    if (data.empty()) return false;
    TReadOnlyMemoryStream stream(data.data(), std::int64_t(data.size()));
    TReadOnlyMemoryStream tablesStream(tables.data(), std::int64_t(tables.size()));
    TStream* tablesPtr = tables.empty() ? nullptr : &tablesStream;
    TIOParamsVals scratch;
    PrepareScratch(params, scratch);

    // The frame size first: a block's data cannot ask for a bitmap larger than the block.
    TIEProgressRecord quiet(*progress.Aborting);
    ReadJpegStream(stream, tablesPtr, block, scratch, quiet, true, rgbCoded);
    if (rgbCoded && progress.IsAborting()) {
        // Data marked as RGB (an Adobe marker, RGB component ids) cannot be delivered unconverted, but its
        // normal output is already red, green, blue: decode it that way.
        *progress.Aborting = false;
        stream.SetPosition(0);
        tablesStream.SetPosition(0);
        quiet = TIEProgressRecord(*progress.Aborting);
        ReadJpegStream(stream, tablesPtr, block, scratch, quiet, true, false);
        if (!progress.IsAborting() && scratch.JpegColorSpace != 0)
            progress.Fail("unsupported JPEG colour space");
        rgbCoded = false;
    }
    if (progress.IsAborting()) {
        progress.Fail(quiet.Outcome.Refusal.empty() ? "damaged JPEG data" : quiet.Outcome.Refusal);
        return false;
    }
    if (scratch.ImageWidth <= 0 || scratch.ImageHeight <= 0 || scratch.ImageWidth > maxWidth + 16 ||
        scratch.ImageHeight > maxHeight + 16) {
        progress.Fail("JPEG data larger than its strip or tile");
        return false;
    }
    stream.SetPosition(0);
    tablesStream.SetPosition(0);
    ReadJpegStream(stream, tablesPtr, block, scratch, progress, false, rgbCoded);
    if (progress.IsAborting()) return false;
    if (rgbCoded && block.PixelType() == ie24Rgb) {
        for (int y = 0; y < block.Height(); ++y) {
            std::uint8_t* p = block.RowPointer(y);
            for (int x = 0; x < block.Width(); ++x, p += 3) std::swap(p[0], p[2]);
        }
    }
    return true;
}

void DecodeOldJpeg(std::span<const std::uint8_t> data, const TIOParamsVals& params,
                   TIEProgressRecord& progress, std::int64_t maxBytes, TIEBitmap& bitmap) {
    TReadOnlyMemoryStream stream(data.data(), std::int64_t(data.size()));
    TIOParamsVals scratch;
    PrepareScratch(params, scratch);
    TIEProgressRecord quiet(*progress.Aborting);
    ReadJpegStream(stream, nullptr, bitmap, scratch, quiet, true, false);
    if (progress.IsAborting()) {
        progress.Fail(quiet.Outcome.Refusal.empty() ? "damaged JPEG data" : quiet.Outcome.Refusal);
        return;
    }
    if (std::int64_t(scratch.ImageWidth) * scratch.ImageHeight * 3 > maxBytes) {
        progress.Fail(reasons::kLargerThanFile);
        return;
    }
    stream.SetPosition(0);
    ReadJpegStream(stream, nullptr, bitmap, scratch, progress, false, false);
}

} // namespace tiff
