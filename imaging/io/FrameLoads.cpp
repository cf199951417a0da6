// TIFF and GIF frame loads: one frame of a multi-frame file into the current bitmap, with the file's
// frame count as the result. GIF frames are composed over the earlier ones as a player shows them.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/io/Readers.h"
#include "platform/Stream.h"

#include <algorithm>
#include <cmath>

int TPictoraIO::LoadTiffStream(TStream& stream) {
    Aborting = false;
    TIEProgressRecord progress = MakeProgress();
    if (!PrepareBitmap()) {
        FinishWork();
        return 0;
    }
    FParams.ResetImageInfo();
    int count = 0;
    const TReader reader = readers::Tiff(count);
    // Own stream headers are never written by this system, so a stream cannot carry one.
    if (StreamHeaders || !reader) {
        Aborting = true;
        FinishWork();
        return 0;
    }
    FBitmap->DropAlphaPlane();
    std::unique_ptr<TIEMask> mask;
    reader(stream, *FBitmap, FParams, progress, mask, false);
    ApplyDefaultDpi();
    MaskToAlpha(mask);
    AdjustDpi();
    if (FView) FView->SetDpi(FParams.HorizontalDpi, FParams.VerticalDpi);
    FParams.LoadedFileName.clear();
    FParams.FileFormat = ioTIFF;
    NotifyBitmapChanged();
    FinishWork();
    return count;
}

int TPictoraIO::LoadTiffFile(const std::string& path) {
    TFileStream file(path, fmOpenRead | fmShareDenyWrite);
    const int count = LoadTiffStream(file);
    FParams.LoadedFileName = path;
    return count;
}

namespace {
// Canvas fill value for a background colour in the canvas's pixel type.
double FillValueFor(TIEBitmap& bitmap, TIERgbTriple colour) {
    if (bitmap.PixelType() == ie1Bit) return GrayOf(colour.r, colour.g, colour.b) >= 128 ? 1.0 : 0.0;
    return static_cast<double>(RGBColor(colour.r, colour.g, colour.b));
}

// Draws frame onto canvas at (left, top): alpha 0 keeps the canvas pixel, anything else replaces it.
void DrawFrame(TIEBitmap& canvas, TIEBitmap& frame, int left, int top) {
    const int fw = frame.Width(), fh = frame.Height();
    const int cw = canvas.Width(), ch = canvas.Height();
    TIEBitmap* alpha = frame.HasAlphaPlane() ? frame.AlphaPlane() : nullptr;
    const bool oneBit = canvas.PixelType() == ie1Bit;
    std::vector<std::uint8_t> alphaRow;
    for (int y = 0; y < fh; ++y) {
        const std::int64_t cy = std::int64_t(top) + y;
        if (cy < 0 || cy >= ch) continue;
        if (alpha) {
            const std::uint8_t* a = alpha->RowPointer(y);
            alphaRow.assign(a, a + fw);
        }
        // Copy the frame row first: a file-backed bitmap keeps only one row pointer valid at a time.
        const std::uint8_t* srcRow = frame.RowPointer(y);
        std::vector<std::uint8_t> src(srcRow, srcRow + frame.RowStride());
        std::uint8_t* dst = canvas.RowPointer(static_cast<int>(cy));
        for (int x = 0; x < fw; ++x) {
            const std::int64_t cx = std::int64_t(left) + x;
            if (cx < 0 || cx >= cw) continue;
            if (alpha && alphaRow[x] == 0) continue;
            if (oneBit) {
                const bool white = src[x >> 3] & (0x80 >> (x & 7));
                const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (cx & 7));
                if (white) dst[cx >> 3] |= bit;
                else dst[cx >> 3] &= static_cast<std::uint8_t>(~bit);
            } else {
                std::copy_n(&src[std::size_t(x) * 3], 3, &dst[std::size_t(cx) * 3]);
            }
        }
    }
}
} // namespace

int TPictoraIO::LoadGifStream(TStream& stream) {
    Aborting = false;
    if (!PrepareBitmap()) {
        FinishWork();
        return 0;
    }
    FParams.ResetImageInfo();
    TIEProgressRecord progress = MakeProgress();
    FBitmap->DropAlphaPlane();
    int count = 0;
    const TReader reader = readers::Gif(count);
    if (!reader) {
        Aborting = true;
        FinishWork();
        return 0;
    }

    const std::int64_t start = stream.Position();
    const int target = FParams.GifFrameIndex;
    TIEBitmap canvas;
    canvas.SetLocation(ieTBitmap);
    bool canvasEmpty = true;
    int previousDisposal = 0;
    int prevLeft = 0, prevTop = 0, prevWidth = 0, prevHeight = 0;
    // Disposal 3 ("restore to previous") puts back what the frame covered; players honour it, so a
    // page composed without it would show a frame that was never on screen at that moment.
    TIEBitmap covered, coveredAlpha;

    try {
        for (int i = 0;; ++i) {
            TIEBitmap frame;
            stream.SetPosition(start);
            FParams.GifFrameIndex = i;
            std::unique_ptr<TIEMask> mask;
            reader(stream, frame, FParams, progress, mask, false);
            ApplyDefaultDpi();
            const int W = std::max(FParams.GifScreenWidth, frame.Width());
            const int H = std::max(FParams.GifScreenHeight, frame.Height());
            if (mask) {
                frame.AlphaPlane()->AlphaFromMask(mask.get());
                mask.reset();
            }
            TIEBitmap* result = &frame;
            if (count > 1 && !Aborting && frame.PixelType() != ieNone) {
                // Frames of one file may differ in pixel type (a two-colour frame after a colour one):
                // compose in full colour then, so no earlier frame is thrown away.
                if (frame.PixelType() != ie1Bit && frame.PixelType() != ie24Rgb) frame.ConvertTo(ie24Rgb);
                if (!canvasEmpty && canvas.PixelType() != frame.PixelType()) {
                    canvas.ConvertTo(ie24Rgb);
                    frame.ConvertTo(ie24Rgb);
                }
                const TIERgbTriple bg = FParams.GifBackgroundColor;
                if (previousDisposal == 2 && !canvasEmpty) {
                    canvas.FillRectangle(prevLeft, prevTop, prevLeft + prevWidth - 1, prevTop + prevHeight - 1,
                                         FillValueFor(canvas, bg));
                    canvas.AlphaPlane()->FillRectangle(prevLeft, prevTop, prevLeft + prevWidth - 1,
                                                       prevTop + prevHeight - 1, 0);
                }
                if (previousDisposal == 3 && !canvasEmpty && covered.Width() > 0) {
                    if (covered.PixelType() != canvas.PixelType()) covered.ConvertTo(canvas.PixelType());
                    covered.CopyRectangle(canvas, 0, 0, covered.Width(), covered.Height(), prevLeft, prevTop);
                    coveredAlpha.CopyRectangle(*canvas.AlphaPlane(), 0, 0, coveredAlpha.Width(),
                                               coveredAlpha.Height(), prevLeft, prevTop);
                }
                if (canvasEmpty) {
                    canvas.Reallocate(W, H, frame.PixelType());
                    canvas.FillAll(FillValueFor(canvas, bg));
                    canvas.AlphaPlane()->FillAll(0);
                    canvasEmpty = false;
                }
                if (canvas.Width() < W || canvas.Height() < H)
                    canvas.ResizeCanvas(std::max(W, canvas.Width()), std::max(H, canvas.Height()),
                                        FillValueFor(canvas, bg), 255, 0, 0);
                if (FParams.GifDisposal == 3) {
                    covered.Reallocate(frame.Width(), frame.Height(), canvas.PixelType());
                    canvas.CopyRectangle(covered, FParams.GifFrameLeft, FParams.GifFrameTop, frame.Width(),
                                         frame.Height(), 0, 0);
                    coveredAlpha.Reallocate(frame.Width(), frame.Height(), ie8Gray);
                    canvas.AlphaPlane()->CopyRectangle(coveredAlpha, FParams.GifFrameLeft, FParams.GifFrameTop,
                                                       frame.Width(), frame.Height(), 0, 0);
                }
                DrawFrame(canvas, frame, FParams.GifFrameLeft, FParams.GifFrameTop);
                if (i == 0 || previousDisposal == 2) {
                    frame.AlphaPlane()->CopyRectangle(*canvas.AlphaPlane(), 0, 0, frame.Width(), frame.Height(),
                                                      FParams.GifFrameLeft, FParams.GifFrameTop);
                    canvas.AlphaPlane()->FullyOpaque = false;
                }
                prevLeft = FParams.GifFrameLeft;
                prevTop = FParams.GifFrameTop;
                prevWidth = frame.Width();
                prevHeight = frame.Height();
                previousDisposal = FParams.GifDisposal;
                result = &canvas;
            }
            if (Aborting) break;
            if (count > 0) {
                progress.PercentPerUnit = 100.0 / count;
                FBitmap->AssignFrom(static_cast<TIEBaseBitmap*>(result));
            }
            if (OnProgress) OnProgress(this, count > 0 ? static_cast<int>(std::trunc(i * 100.0 / count)) : 0);
            if (Aborting) break;
            if (i >= target || i + 1 >= count) break;
        }
    } catch (...) {
        FParams.GifFrameIndex = target;
        FinishWork();
        throw;
    }
    FParams.GifFrameIndex = target;
    AdjustDpi();
    SetBackground(FParams.GifHasTransparency
                      ? RGBColor(FParams.GifTransparentColor.r, FParams.GifTransparentColor.g,
                                 FParams.GifTransparentColor.b)
                      : RGBColor(FParams.GifBackgroundColor.r, FParams.GifBackgroundColor.g,
                                 FParams.GifBackgroundColor.b));
    FParams.FileFormat = ioGIF;
    FParams.LoadedFileName.clear();
    NotifyBitmapChanged();
    FinishWork();
    return count;
}

int TPictoraIO::LoadGifFile(const std::string& path) {
    TFileStream file(path, fmOpenRead | fmShareDenyWrite);
    const int count = LoadGifStream(file);
    FParams.LoadedFileName = path;
    return count;
}
