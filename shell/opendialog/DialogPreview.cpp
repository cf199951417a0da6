#include "shell/opendialog/DialogPreview.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/FormatRegistry.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatIds.h"
#include "platform/Ascii.h"
#include "platform/FileSystem.h"
#include "shell/opendialog/PreviewViews.h"

#include <QFileInfo>

#include <algorithm>

TDialogPreview::TDialogPreview() = default;
TDialogPreview::~TDialogPreview() = default;
TDialogPreview::TDialogPreview(TDialogPreview&&) noexcept = default;
TDialogPreview& TDialogPreview::operator=(TDialogPreview&&) noexcept = default;

namespace {

constexpr unsigned kPaperWhite = 0xFFFFFF;

// A view of its own for each preview, white behind transparent pixels, whose loads stop once the
// preview is no longer wanted.
std::unique_ptr<TIEView> PreviewView(const std::atomic<bool>& cancelled, const TIEProgressEvent& progress) {
    auto view = std::make_unique<TIEView>();
    view->Background = clWhite;
    TPictoraIO* io = view->IOComponent();
    io->OnProgress = [io, &cancelled, progress](void* sender, int percent) {
        if (cancelled) io->Aborting = true;
        if (progress) progress(sender, percent);
    };
    return view;
}

// The images of a file of a format with several; 1 for the others.
int ImagesOf(const std::string& path, const TIOParamsVals& params) {
    if (params.FileFormat == ioAVI) return params.AVIFrameCount;
    const TFormatEntry* entry = ReadableFormat(params.FileFormat);
    return entry && entry->CountImages ? CountImagesInFile(path, params.FileFormat) : 1;
}

void ReadFrames(const std::string& path, int frames, const std::atomic<bool>& cancelled,
                const TIEProgressEvent& progress, const TDialogPreviewRequest& request, TDialogPreview& out) {
    std::unique_ptr<TIEView> view = PreviewView(cancelled, progress);
    TPictoraIO& io = *view->IOComponent();
    TIOParamsVals& p = io.Params();
    const int wanted = std::min(frames, kMaxThumbnailFrames);
    for (int i = 0; i < wanted && !cancelled; ++i) {
        if (out.FramesAreGif) {
            p.GifFrameIndex = i;
            io.LoadGifFile(path);
        } else {
            p.TiffFrameIndex = i;
            io.LoadTiffFile(path);
        }
        if (io.Aborting) break;
        out.Frames.push_back({TIEFrameView::FitThumbnail(DisplayImage(*view->IEBitmap(), kPaperWhite)),
                              out.FramesAreGif ? p.GifDelay * 10 : 0});
        if (i == 0) out.Texts = PreviewInfoTexts(p, frames, out.FileSize, request.Language);
    }
    if (out.Frames.empty() || cancelled) return;
    out.Kind = TDialogPreview::TKind::Frames;
    out.FrameCount = frames;
}

} // namespace

TDialogPreview MakeDialogPreview(const std::string& path, const TDialogPreviewRequest& request,
                                 const std::atomic<bool>& cancelled, const TIEProgressEvent& progress) {
    TDialogPreview out;
    try {
        const QFileInfo info(QString::fromStdString(path));
        if (path.empty() || cancelled || !info.isFile() || !info.isReadable()) return out;
        out.FileSize = info.size();
        std::unique_ptr<TIEView> view = PreviewView(cancelled, progress);
        TPictoraIO& io = *view->IOComponent();
        if (!request.Decode) {
            io.ReadParamsFromFile(path);
            out.Kind = TDialogPreview::TKind::Information;
            out.FrameCount = 1;
            if (io.Params().FileFormat != ioUnknown)
                out.Texts = PreviewInfoTexts(io.Params(), out.FrameCount, out.FileSize, request.Language);
            return out;
        }
        const std::string ext = AsciiLower(ExtractFileExt(path));
        const bool isGif = ext == ".gif", isTiff = ext == ".tif" || ext == ".tiff";
        if (request.ShowAllFrames && (isGif || isTiff)) {
            const int frames = CountImagesInFile(path, isGif ? ioGIF : ioTIFF);
            if (frames > 1) {
                out.FramesAreGif = isGif;
                ReadFrames(path, frames, cancelled, progress, request, out);
                return out;
            }
        }
        TIOParamsVals& p = io.Params();
        p.ImageWidth = request.ViewWidth;
        p.ImageHeight = request.ViewHeight;
        p.JpegScale = 0; // large JPEG files decode reduced to the view's size
        io.AutoAdjustDPI = request.AutoAdjustDPI;
        io.FilteredAdjustDPI = request.FilteredAdjustDPI;
        io.LoadFromFile(path);
        if (io.Aborting || cancelled || p.FileFormat == ioUnknown) return out;
        out.FrameCount = ImagesOf(path, p);
        out.Texts = PreviewInfoTexts(p, out.FrameCount, out.FileSize, request.Language);
        out.Kind = TDialogPreview::TKind::Image;
        io.OnProgress = nullptr; // the view outlives this call and its cancellation flag
        out.View = std::move(view);
    } catch (...) {
        // A file that cannot be previewed leaves the panel blank; the dialog goes on.
        out = TDialogPreview();
    }
    return out;
}
