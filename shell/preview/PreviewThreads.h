#pragma once
// Pictures for the window made off the GUI thread: each request runs on a thread of its own, so the
// window never waits for a decode or a download, and its result comes back on the GUI thread. Only
// the latest request counts: a new one cancels the one before, whose result is never delivered.
#include <QImage>
#include <QObject>
#include <QSize>

#include <any>
#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

// What a request gives: a picture that fits the box asked for, the words to show on hover, or why
// there is no picture; Extra carries what a maker gives beyond these (copyable, e.g. a shared_ptr).
struct TPreviewResult {
    QImage Image;
    std::string Tip;
    std::string Failure;
    std::any Extra;
};

class TPreviewThreads : public QObject {
public:
    // Makes the result for a key on a request's thread; it should give up early once cancelled
    // turns true. It must not touch the window.
    using TMaker =
        std::function<TPreviewResult(const std::string& key, QSize box, const std::atomic<bool>& cancelled)>;
    // Called on the GUI thread with the latest request's key and result.
    using TDone = std::function<void(const std::string& key, const TPreviewResult& result)>;
    // keepPictures: a picture made for a key and box comes back at once when asked for again.
    TPreviewThreads(TMaker maker, TDone done, bool keepPictures, QObject* parent = nullptr);
    // Cancels what is running and waits for it to end.
    ~TPreviewThreads() override;
    TPreviewThreads(const TPreviewThreads&) = delete;
    TPreviewThreads& operator=(const TPreviewThreads&) = delete;

    // maker, when given, makes this request's result instead of the one given at construction (it
    // may hold the settings of the moment the request was made).
    void Request(const std::string& key, QSize box, TMaker maker = {});
    void Cancel();
    // A request whose result has not been delivered yet.
    bool Pending() const;

private:
    struct TTask {
        std::string Key;
        QSize Box;
        TMaker Maker;
        std::atomic<bool> Cancelled{false};
        std::atomic<bool> Finished{false};
        std::thread Thread;
    };
    void Run(const std::shared_ptr<TTask>& task);
    void Deliver(const std::shared_ptr<TTask>& task, const TPreviewResult& result);
    void ReapFinished();

    TMaker FMaker;
    TDone FDone;
    bool FKeepPictures;
    // The current one last; cancelled ones stay until their thread ends. Shared with the queued
    // delivery, which may arrive after a task has left the list.
    std::list<std::shared_ptr<TTask>> FTasks;
    std::map<std::tuple<std::string, int, int>, TPreviewResult> FKept;
};
