#include "shell/preview/PreviewThreads.h"

#include "imaging/io/PictoraIO.h"

#include <QMetaObject>

namespace {
// Enough for going back and forth in a list; every picture is small.
constexpr std::size_t kKeptPictures = 16;
} // namespace

TPreviewThreads::TPreviewThreads(TMaker maker, TDone done, bool keepPictures, QObject* parent)
    : QObject(parent), FMaker(std::move(maker)), FDone(std::move(done)), FKeepPictures(keepPictures) {
    InstallDefaultDecoders(); // once here, before any thread reads them
}

TPreviewThreads::~TPreviewThreads() {
    for (auto& task : FTasks) task->Cancelled = true;
    for (auto& task : FTasks)
        if (task->Thread.joinable()) task->Thread.join();
}

void TPreviewThreads::Cancel() {
    for (auto& task : FTasks) task->Cancelled = true;
    ReapFinished();
}

bool TPreviewThreads::Pending() const {
    return !FTasks.empty() && !FTasks.back()->Cancelled;
}

void TPreviewThreads::Request(const std::string& key, QSize box, TMaker maker) {
    Cancel();
    if (const auto kept = FKept.find({key, box.width(), box.height()}); kept != FKept.end()) {
        if (FDone) FDone(key, kept->second);
        return;
    }
    auto task = std::make_shared<TTask>();
    task->Key = key;
    task->Box = box;
    task->Maker = maker ? std::move(maker) : FMaker;
    FTasks.push_back(task);
    task->Thread = std::thread([this, task] { Run(task); });
}

// On the task's own thread: nothing shared with the window but the result.
void TPreviewThreads::Run(const std::shared_ptr<TTask>& task) {
    TPreviewResult result;
    try {
        result = task->Maker(task->Key, task->Box, task->Cancelled);
    } catch (const std::exception& e) {
        result = {}; // a preview that cannot be made is no preview
        result.Failure = e.what();
    }
    // Queued to this object: if the window goes first, Qt drops the call with it.
    QMetaObject::invokeMethod(
        this, [this, task, result] { Deliver(task, result); }, Qt::QueuedConnection);
    task->Finished = true;
}

void TPreviewThreads::Deliver(const std::shared_ptr<TTask>& task, const TPreviewResult& result) {
    ReapFinished();
    if (task->Cancelled) return;
    // Delivered: no longer pending.
    task->Cancelled = true;
    if (FKeepPictures && !result.Image.isNull()) {
        if (FKept.size() >= kKeptPictures) FKept.erase(FKept.begin());
        FKept[{task->Key, task->Box.width(), task->Box.height()}] = result;
    }
    if (FDone) FDone(task->Key, result);
}

void TPreviewThreads::ReapFinished() {
    for (auto it = FTasks.begin(); it != FTasks.end();) {
        if ((*it)->Finished) {
            (*it)->Thread.join();
            it = FTasks.erase(it);
        } else {
            ++it;
        }
    }
}
