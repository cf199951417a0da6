// TIFF and GIF frame loads: one frame of a multi-frame file into the current bitmap, with the file's
// frame count as the result. GIF frames are composed over the earlier ones as a player shows them.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/io/GifComposition.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/io/Readers.h"
#include "platform/Stream.h"

#include <algorithm>
#include <cmath>
#include <sys/stat.h>

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
                if (white)
                    dst[cx >> 3] |= bit;
                else
                    dst[cx >> 3] &= static_cast<std::uint8_t>(~bit);
            } else {
                std::copy_n(&src[std::size_t(x) * 3], 3, &dst[std::size_t(cx) * 3]);
            }
        }
    }
}
} // namespace

int TPictoraIO::LoadGifStream(TStream& stream) {
    return LoadGifFrames(stream, std::string());
}

int TPictoraIO::LoadGifFrames(TStream& stream, const std::string& key) {
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
    // Continue an earlier composition of the same file when it stopped before this frame.
    std::unique_ptr<TGifComposition> c = std::move(FGifComposition);
    const bool resume = c && !key.empty() && c->Key == key && c->NextFrame > 0 && c->NextFrame <= target &&
                        c->NextFrame < c->Count;
    if (!resume) c = std::make_unique<TGifComposition>();
    c->Key = key;
    int i = resume ? c->NextFrame : 0;
    if (resume) count = c->Count;
    TIEBitmap& canvas = c->Canvas;

    try {
        for (;; ++i) {
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
                if (!c->CanvasEmpty && canvas.PixelType() != frame.PixelType()) {
                    canvas.ConvertTo(ie24Rgb);
                    frame.ConvertTo(ie24Rgb);
                }
                const TIERgbTriple bg = FParams.GifBackgroundColor;
                if (c->PreviousDisposal == 2 && !c->CanvasEmpty) {
                    canvas.FillRectangle(c->PrevLeft, c->PrevTop, c->PrevLeft + c->PrevWidth - 1,
                                         c->PrevTop + c->PrevHeight - 1, FillValueFor(canvas, bg));
                    canvas.AlphaPlane()->FillRectangle(c->PrevLeft, c->PrevTop,
                                                       c->PrevLeft + c->PrevWidth - 1,
                                                       c->PrevTop + c->PrevHeight - 1, 0);
                }
                if (c->PreviousDisposal == 3 && !c->CanvasEmpty && c->Covered.Width() > 0) {
                    if (c->Covered.PixelType() != canvas.PixelType())
                        c->Covered.ConvertTo(canvas.PixelType());
                    c->Covered.CopyRectangle(canvas, 0, 0, c->Covered.Width(), c->Covered.Height(),
                                             c->PrevLeft, c->PrevTop);
                    c->CoveredAlpha.CopyRectangle(*canvas.AlphaPlane(), 0, 0, c->CoveredAlpha.Width(),
                                                  c->CoveredAlpha.Height(), c->PrevLeft, c->PrevTop);
                }
                if (c->CanvasEmpty) {
                    canvas.Reallocate(W, H, frame.PixelType());
                    canvas.FillAll(FillValueFor(canvas, bg));
                    canvas.AlphaPlane()->FillAll(0);
                    c->CanvasEmpty = false;
                }
                if (canvas.Width() < W || canvas.Height() < H)
                    canvas.ResizeCanvas(std::max(W, canvas.Width()), std::max(H, canvas.Height()),
                                        FillValueFor(canvas, bg), 255, 0, 0);
                if (FParams.GifDisposal == 3) {
                    c->Covered.Reallocate(frame.Width(), frame.Height(), canvas.PixelType());
                    canvas.CopyRectangle(c->Covered, FParams.GifFrameLeft, FParams.GifFrameTop, frame.Width(),
                                         frame.Height(), 0, 0);
                    c->CoveredAlpha.Reallocate(frame.Width(), frame.Height(), ie8Gray);
                    canvas.AlphaPlane()->CopyRectangle(c->CoveredAlpha, FParams.GifFrameLeft,
                                                       FParams.GifFrameTop, frame.Width(), frame.Height(), 0,
                                                       0);
                }
                DrawFrame(canvas, frame, FParams.GifFrameLeft, FParams.GifFrameTop);
                if (i == 0 || c->PreviousDisposal == 2) {
                    frame.AlphaPlane()->CopyRectangle(*canvas.AlphaPlane(), 0, 0, frame.Width(),
                                                      frame.Height(), FParams.GifFrameLeft,
                                                      FParams.GifFrameTop);
                    canvas.AlphaPlane()->FullyOpaque = false;
                }
                c->PrevLeft = FParams.GifFrameLeft;
                c->PrevTop = FParams.GifFrameTop;
                c->PrevWidth = frame.Width();
                c->PrevHeight = frame.Height();
                c->PreviousDisposal = FParams.GifDisposal;
                result = &canvas;
            }
            if (Aborting) break;
            const bool last = i >= target || i + 1 >= count;
            // Only the final pass's result is seen by anyone: copy it once, not once per frame.
            if (count > 0 && last) {
                progress.PercentPerUnit = 100.0 / count;
                FBitmap->AssignFrom(static_cast<TIEBaseBitmap*>(result));
            }
            if (OnProgress) OnProgress(this, count > 0 ? static_cast<int>(std::trunc(i * 100.0 / count)) : 0);
            if (Aborting) break;
            if (last) break;
        }
    } catch (...) {
        FParams.GifFrameIndex = target;
        FinishWork();
        throw;
    }
    if (!Aborting && count > 1 && !c->CanvasEmpty) {
        c->NextFrame = i + 1;
        c->Count = count;
        FGifComposition = std::move(c);
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
    // The same path with the same size and time is the same animation.
    struct stat st {};
    std::string key;
    if (::fstat(file.Handle(), &st) == 0)
        key = path + "|" + std::to_string(st.st_size) + "|" + std::to_string(st.st_mtim.tv_sec) + "." +
              std::to_string(st.st_mtim.tv_nsec);
    const int count = LoadGifFrames(file, key);
    FParams.LoadedFileName = path;
    return count;
}
