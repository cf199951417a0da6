#include "app/window/WebPreview.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/PictoraIO.h"
#include "shell/browser/ShellFileInfo.h"

#include <QMetaObject>

namespace {
// Enough for going back and forth in a list; every picture is small.
constexpr std::size_t kCachedPictures = 16;
constexpr const char* kUnreadable = "the image could not be read";
} // namespace

TWebPreview::TWebPreview(TDone done, QObject* parent) : QObject(parent), FDone(std::move(done)) {
    InstallDefaultDecoders(); // once here, before any thread reads them
}

TWebPreview::~TWebPreview() {
    for (auto& task : FTasks) task->Cancelled = true;
    for (auto& task : FTasks)
        if (task->Thread.joinable()) task->Thread.join();
}

void TWebPreview::Cancel() {
    for (auto& task : FTasks) task->Cancelled = true;
    ReapFinished();
}

void TWebPreview::Request(const std::string& url, int maxEdge) {
    Cancel();
    if (const auto cached = FCache.find({url, maxEdge}); cached != FCache.end()) {
        if (FDone) FDone(url, cached->second, std::string());
        return;
    }
    auto task = std::make_shared<TTask>();
    task->Url = url;
    task->MaxEdge = maxEdge;
    FTasks.push_back(task);
    task->Thread = std::thread([this, task] { Run(task); });
}

// On the task's own thread: a component of its own, nothing shared with the window but the result.
void TWebPreview::Run(const std::shared_ptr<TTask>& task) {
    QImage image;
    std::string failure;
    try {
        TPictoraIO io;
        io.DownloadLimits = Limits;
        io.DownloadContinue = [&task] { return !task->Cancelled; };
        io.LoadFromUrl(task->Url);
        const int edge = task->MaxEdge;
        if (io.Aborting) {
            failure = io.LastLoad().Refusal.empty() ? kUnreadable : io.LastLoad().Refusal;
        } else if (!task->Cancelled && io.IEBitmap()) {
            image = BitmapToImage(*io.IEBitmap(), edge);
            if (!image.isNull() && (image.width() > edge || image.height() > edge))
                image = image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        }
        if (image.isNull() && failure.empty()) failure = kUnreadable;
    } catch (const std::exception& e) {
        image = QImage(); // a preview that cannot be made is no preview
        failure = e.what();
    }
    // Queued to this object: if the window goes first, Qt drops the call with it.
    QMetaObject::invokeMethod(
        this, [this, task, image, failure] { Deliver(task, image, failure); }, Qt::QueuedConnection);
    task->Finished = true;
}

void TWebPreview::Deliver(const std::shared_ptr<TTask>& task, const QImage& image,
                          const std::string& failure) {
    ReapFinished();
    if (task->Cancelled) return;
    if (!image.isNull()) {
        if (FCache.size() >= kCachedPictures) FCache.erase(FCache.begin());
        FCache[{task->Url, task->MaxEdge}] = image;
    }
    if (FDone) FDone(task->Url, image, failure);
}

void TWebPreview::ReapFinished() {
    for (auto it = FTasks.begin(); it != FTasks.end();) {
        if ((*it)->Finished) {
            (*it)->Thread.join();
            it = FTasks.erase(it);
        } else {
            ++it;
        }
    }
}
