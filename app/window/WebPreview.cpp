#include "app/window/WebPreview.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/PictoraIO.h"
#include "shell/browser/ShellFileInfo.h"

#include <algorithm>

namespace {
constexpr const char* kUnreadable = "the image could not be read";
} // namespace

TWebPreview::TWebPreview(TDone done)
    : FThreads([this](const std::string& url, QSize box,
                      const std::atomic<bool>& cancelled) { return Make(url, box, cancelled); },
               [done = std::move(done)](const std::string& url, const TPreviewResult& result) {
                   if (done) done(url, result.Image, result.Failure);
               },
               true) {}

// On the request's thread: a component of its own.
TPreviewResult TWebPreview::Make(const std::string& url, QSize box,
                                 const std::atomic<bool>& cancelled) const {
    TPreviewResult result;
    TPictoraIO io;
    io.DownloadLimits = Limits;
    io.DownloadContinue = [&cancelled] { return !cancelled; };
    io.LoadFromUrl(url);
    const int edge = std::min(box.width(), box.height());
    if (io.Aborting) {
        result.Failure = io.LastLoad().Refusal.empty() ? kUnreadable : io.LastLoad().Refusal;
    } else if (!cancelled && io.IEBitmap()) {
        result.Image = BitmapToImage(*io.IEBitmap(), edge);
        if (!result.Image.isNull() && (result.Image.width() > edge || result.Image.height() > edge))
            result.Image = result.Image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    if (result.Image.isNull() && result.Failure.empty()) result.Failure = kUnreadable;
    return result;
}
