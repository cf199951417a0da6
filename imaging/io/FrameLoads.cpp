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
    BeginLoad();
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
        FailLoad(StreamHeaders ? "streams with headers are not read" : "TIFF is not part of this build");
        FinishWork();
        return 0;
    }
    FBitmap->DropAlphaPlane();
    std::unique_ptr<TIEMask> mask;
    reader(stream, *FBitmap, FParams, progress, mask, false);
    ApplyDefaultDpi();
    MaskToAlpha(mask);
    KeepOutcome(progress);
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

int TPictoraIO::LoadGifStream(TStream& stream) {
    return LoadGifFrames(stream, std::string());
}

int TPictoraIO::LoadGifStream(TStream& stream, const std::string& key) {
    return LoadGifFrames(stream, key);
}

int TPictoraIO::LoadGifFrames(TStream& stream, const std::string& key) {
    BeginLoad();
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
        FailLoad("GIF is not part of this build");
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
            if (mask) {
                frame.AlphaPlane()->AlphaFromMask(mask.get());
                mask.reset();
            }
            TIEBitmap* result = &frame;
            if (count > 1 && !Aborting && frame.PixelType() != ieNone) {
                ComposeGifFrame(*c, frame, FParams);
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
    // The reader has marked what a cut frame lacks in its own mask, so no rows are cleared here.
    FLastLoad = progress.Outcome;
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
