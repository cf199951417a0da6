// The one load routine behind every entry point: a scope that starts each load afresh and finishes it
// on every exit, the read itself (one image, or the frames of an animation composed up to the one
// asked for), and the one step every read ends with.
#include "codecs/gif/GifComposition.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/io/FormatDetection.h"
#include "imaging/io/FormatRegistry.h"
#include "imaging/io/IEView.h"
#include "imaging/io/LoadScope.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatTable.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/net/WebAddress.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <sys/stat.h>

namespace {
constexpr std::string_view kFormatNotBuilt = "this image type is not part of this build";
constexpr std::string_view kNotAnImageType = "not a supported image file";
constexpr std::string_view kStreamHeadersNotRead = "streams with headers are not read";

// The same path with the same size and time is the same animation.
std::string AnimationKey(TFileStream& file, const std::string& path) {
    struct stat st {};
    if (::fstat(file.Handle(), &st) != 0) return {};
    return path + "|" + std::to_string(st.st_size) + "|" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

// The entry when it names a format added at run time with its own read function, else null. The
// built-in entries' read functions are markers: those formats are read through the format registry.
const TIEFileFormatInfo* RegisteredFormat(const TIEFileFormatInfo* info) {
    return info && info->ReadFunction && info->FileType > ioPDF ? info : nullptr;
}

TColor ColorOf(const TIERgbTriple& c) {
    return RGBColor(c.r, c.g, c.b);
}

// Runs the after-read resolution steps before the first row goes on: the sink encodes rows with the
// resolution the page will carry.
class TResolvedRows : public TRowSink {
public:
    TResolvedRows(TRowSink& next, std::function<void()> resolve) : Next(next), Resolve(std::move(resolve)) {}
    bool Begin(TIOParamsVals& params, int width, int height) override {
        Resolve();
        return Next.Begin(params, width, height);
    }
    void Row(const std::uint8_t* bgr) override { Next.Row(bgr); }

private:
    TRowSink& Next;
    std::function<void()> Resolve;
};
} // namespace

// ---- the after-read steps

TIEProgressRecord TPictoraIO::MakeProgress() {
    return TIEProgressRecord(OnProgress, this, Aborting);
}

void TPictoraIO::MaskToAlpha(TIEBitmap& bitmap, std::unique_ptr<TIEMask>& mask) {
    if (!mask) return;
    bitmap.AlphaPlane()->AlphaFromMask(mask.get());
    mask.reset();
}

void TPictoraIO::FailLoad(std::string_view reason) {
    Aborting = true;
    FLastLoad.Refusal = reason;
}

void TPictoraIO::KeepOutcome(const TIEProgressRecord& progress, bool clearMissingRows) {
    FLastLoad = progress.Outcome;
    if (!clearMissingRows || Aborting || !FLastLoad.MissingRowsKnown()) return;
    const int last = std::min(FLastLoad.LastMissingRow, FBitmap->Height() - 1);
    if (FLastLoad.FirstMissingRow > last || FBitmap->Width() <= 0) return;
    // Rows the data never reached are no part of the picture: transparent, they show the paper.
    TIEBitmap* alpha = FBitmap->AlphaPlane();
    alpha->FillRectangle(0, FLastLoad.FirstMissingRow, FBitmap->Width() - 1, last, 0);
    alpha->FullyOpaque = false;
}

void TPictoraIO::AdjustDpi() {
    if (!AutoAdjustDPI) return;
    const int hd = FParams.HorizontalDpi, vd = FParams.VerticalDpi;
    if (hd == vd || hd <= 0 || vd <= 0) return;
    // Resampling belongs to image processing, which this system does not carry: the bitmap keeps its
    // pixels and only the recorded resolution is equalised, so nothing is distorted silently.
    if (FParams.ImageHeight < FParams.ImageWidth)
        FParams.SetVerticalDpi(hd);
    else
        FParams.SetHorizontalDpi(vd);
}

void TPictoraIO::AfterRead(const TFormatEntry& format, const TReadContext& context,
                           const TIEProgressRecord& progress, const std::string& fileName) {
    // An animation's reader marks what a cut frame lacks in its own mask, so no rows are cleared.
    KeepOutcome(progress, format.Form == TLoadForm::Image);
    AdjustDpi();
    FParams.FileFormat = format.Id;
    FParams.LoadedFileName = fileName;
    if (FView) FView->SetDpi(FParams.HorizontalDpi, FParams.VerticalDpi);
    if (format.KeepsFileBackground && !Aborting) SetBackground(ColorOf(context.FileBackground));
    if (format.Form == TLoadForm::Animation)
        SetBackground(FParams.GifHasTransparency ? ColorOf(FParams.GifTransparentColor)
                                                 : ColorOf(FParams.GifBackgroundColor));
    NotifyBitmapChanged();
}

// ---- the reads

void TPictoraIO::ReadImage(TStream& stream, const TFormatEntry& format, TReadContext& context,
                           TIEProgressRecord& progress) {
    FBitmap->DropAlphaPlane();
    std::unique_ptr<TIEMask> mask;
    // Both steps only fill what is unset or unequal, so running them again after the read changes nothing.
    std::optional<TResolvedRows> rows;
    if (RowSink) {
        rows.emplace(*RowSink, [this] {
            ApplyDefaultDpi();
            AdjustDpi();
        });
        context.Rows = &*rows;
    }
    format.Read(stream, *FBitmap, FParams, progress, mask, context);
    context.Rows = nullptr;
    ApplyDefaultDpi();
    MaskToAlpha(*FBitmap, mask);
}

void TPictoraIO::ReadAnimation(TStream& stream, const TFormatEntry& format, TReadContext& context,
                               TIEProgressRecord& progress, const std::string& key) {
    FBitmap->DropAlphaPlane();
    const std::int64_t start = stream.Position();
    const int target = FParams.GifFrameIndex;
    // Continue an earlier composition of the same file when it stopped before this frame.
    std::unique_ptr<TGifComposition> c = std::move(FGifComposition);
    const bool resume = c && !key.empty() && c->Key == key && c->NextFrame > 0 && c->NextFrame <= target &&
                        c->NextFrame < c->Count;
    if (!resume) c = std::make_unique<TGifComposition>();
    c->Key = key;
    int i = resume ? c->NextFrame : 0;
    int& count = context.FrameCount;
    if (resume) count = c->Count;
    TIEBitmap& canvas = c->Canvas;

    try {
        for (;; ++i) {
            TIEBitmap frame;
            stream.SetPosition(start);
            FParams.GifFrameIndex = i;
            std::unique_ptr<TIEMask> mask;
            format.Read(stream, frame, FParams, progress, mask, context);
            ApplyDefaultDpi();
            MaskToAlpha(frame, mask);
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
            if (Aborting || last) break;
        }
    } catch (...) {
        FParams.GifFrameIndex = target;
        throw;
    }
    if (!Aborting && count > 1 && !c->CanvasEmpty) {
        c->NextFrame = i + 1;
        c->Count = count;
        FGifComposition = std::move(c);
    }
    FParams.GifFrameIndex = target;
}

int TPictoraIO::LoadWith(TStream& stream, const TFormatEntry& format, const std::string& fileName,
                         const std::string& animationKey) {
    TLoadScope scope(*this);
    Aborting = true;
    if (!PrepareBitmap()) return 0;
    // This system never writes streams with an own header, so a stream cannot carry one.
    if (format.RefusesStreamHeaders && StreamHeaders) {
        FailLoad(kStreamHeadersNotRead);
        return 0;
    }
    Aborting = false;
    TIEProgressRecord progress = MakeProgress();
    TReadContext context;
    if (format.Form == TLoadForm::Animation)
        ReadAnimation(stream, format, context, progress, animationKey);
    else
        ReadImage(stream, format, context, progress);
    AfterRead(format, context, progress, fileName);
    return context.FrameCount;
}

int TPictoraIO::LoadFile(const std::string& path, TIOFileFormat id) {
    TLoadScope scope(*this);
    const TFormatEntry* format = ReadableFormat(id);
    if (!format) {
        FailLoad(kFormatNotBuilt);
        return 0;
    }
    Aborting = true; // until the reader runs: a file that cannot be opened raises a failed load
    TFileStream file(path, fmOpenRead | fmShareDenyWrite);
    return LoadWith(file, *format, path,
                    format->Form == TLoadForm::Animation ? AnimationKey(file, path) : "");
}

int TPictoraIO::LoadStream(TStream& stream, TIOFileFormat id, const std::string& animationKey) {
    TLoadScope scope(*this);
    const TFormatEntry* format = ReadableFormat(id);
    if (!format) {
        FailLoad(kFormatNotBuilt);
        return 0;
    }
    return LoadWith(stream, *format, {}, animationKey);
}

// A format added at run time reads through its own function; a failure of it is a failed load.
void TPictoraIO::LoadRegisteredFormat(TStream& stream, const TIEFileFormatInfo& info,
                                      const std::string& fileName) {
    TFormatEntry format;
    format.Id = static_cast<TIOFileFormat>(info.FileType);
    format.Read = [read = info.ReadFunction](TStream& s, TIEBitmap& b, TIOParamsVals& p,
                                             TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
                                             TReadContext&) {
        try {
            read(s, b, p, false, pr);
        } catch (...) {
            pr.Abort();
        }
    };
    LoadWith(stream, format, fileName, {});
}

void TPictoraIO::RefuseFormat() {
    FParams.LoadedFileName.clear();
    FParams.FileFormat = ioUnknown;
    FailLoad(kNotAnImageType);
}

// ---- entry points

void TPictoraIO::LoadJpegFile(const std::string& p) {
    LoadFile(p, ioJPEG);
}
void TPictoraIO::LoadJpegStream(TStream& s) {
    LoadStream(s, ioJPEG);
}
void TPictoraIO::LoadPcxFile(const std::string& p) {
    LoadFile(p, ioPCX);
}
void TPictoraIO::LoadPcxStream(TStream& s) {
    LoadStream(s, ioPCX);
}
void TPictoraIO::LoadBmpFile(const std::string& p) {
    LoadFile(p, ioBMP);
}
void TPictoraIO::LoadBmpStream(TStream& s) {
    LoadStream(s, ioBMP);
}
void TPictoraIO::LoadIcoFile(const std::string& p) {
    LoadFile(p, ioICO);
}
void TPictoraIO::LoadIcoStream(TStream& s) {
    LoadStream(s, ioICO);
}
void TPictoraIO::LoadCurFile(const std::string& p) {
    LoadFile(p, ioCUR);
}
void TPictoraIO::LoadCurStream(TStream& s) {
    LoadStream(s, ioCUR);
}
void TPictoraIO::LoadPngFile(const std::string& p) {
    LoadFile(p, ioPNG);
}
void TPictoraIO::LoadPngStream(TStream& s) {
    LoadStream(s, ioPNG);
}
void TPictoraIO::LoadTgaFile(const std::string& p) {
    LoadFile(p, ioTGA);
}
void TPictoraIO::LoadTgaStream(TStream& s) {
    LoadStream(s, ioTGA);
}
void TPictoraIO::LoadPxmFile(const std::string& p) {
    LoadFile(p, ioPXM);
}
void TPictoraIO::LoadPxmStream(TStream& s) {
    LoadStream(s, ioPXM);
}
void TPictoraIO::LoadWbmpFile(const std::string& p) {
    LoadFile(p, ioWBMP);
}
void TPictoraIO::LoadWbmpStream(TStream& s) {
    LoadStream(s, ioWBMP);
}
// The JPEG 2000 entry points take the format from the extension, not from the content.
void TPictoraIO::LoadJp2File(const std::string& p) {
    LoadFile(p, ioJP2);
}
void TPictoraIO::LoadJp2Stream(TStream& s) {
    LoadStream(s, ioJP2);
}
void TPictoraIO::LoadJ2kFile(const std::string& p) {
    LoadFile(p, ioJ2K);
}
void TPictoraIO::LoadJ2kStream(TStream& s) {
    LoadStream(s, ioJ2K);
}
int TPictoraIO::LoadTiffFile(const std::string& path) {
    return LoadFile(path, ioTIFF);
}
int TPictoraIO::LoadTiffStream(TStream& stream) {
    return LoadStream(stream, ioTIFF);
}
int TPictoraIO::LoadGifFile(const std::string& path) {
    return LoadFile(path, ioGIF);
}
int TPictoraIO::LoadGifStream(TStream& stream) {
    return LoadStream(stream, ioGIF);
}
int TPictoraIO::LoadGifStream(TStream& stream, const std::string& key) {
    return LoadStream(stream, ioGIF, key);
}

// ---- by extension and by content

void TPictoraIO::LoadFromFile(const std::string& path) {
    if (!FBitmap) return;
    TLoadScope scope(*this);
    if (path.empty()) {
        FailLoad("no file name");
        return;
    }
    if (IsWebAddress(path)) {
        LoadFromUrl(path);
        return;
    }
    const std::string ext = ExtractFileExt(path);
    const TIEFileFormatInfo* info = FindFormatByExtension(ext.empty() ? ext : ext.substr(1));
    const TIOFileFormat id = info ? static_cast<TIOFileFormat>(info->FileType) : ioUnknown;
    if (id == ioWMF || id == ioEMF) {
        LoadMetafile(path, -1, true, -1);
    } else if (ReadableFormat(id)) {
        LoadFile(path, id);
    } else if (const TIEFileFormatInfo* registered = RegisteredFormat(info)) {
        TFileStream file(path, fmOpenRead | fmShareDenyWrite);
        LoadRegisteredFormat(file, *registered, path);
    } else {
        RefuseFormat();
    }
}

void TPictoraIO::LoadFromStream(TStream& stream) {
    TLoadScope scope(*this);
    const std::int64_t pos = stream.Position();
    const int id = DetectStreamFormat(stream);
    stream.SetPosition(pos);
    if (ReadableFormat(id))
        LoadStream(stream, static_cast<TIOFileFormat>(id));
    else if (const TIEFileFormatInfo* registered = RegisteredFormat(FindFormatById(id)))
        LoadRegisteredFormat(stream, *registered, {});
    else
        RefuseFormat();
}
