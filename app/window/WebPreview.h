#pragma once
// Previews of web addresses for the window: each download runs on a thread of its own, so the window
// never waits for a server, and its picture comes back on the GUI thread. Only the latest request
// counts: a new one cancels the one before, whose result is never delivered.
#include "platform/net/HttpClient.h"

#include <QImage>
#include <QObject>

#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <thread>

class TWebPreview : public QObject {
public:
    // Called on the GUI thread with the address and its picture, no larger than maxEdge on either
    // side; a null image when the download or the image failed, with the reason in words.
    using TDone =
        std::function<void(const std::string& url, const QImage& image, const std::string& failure)>;
    explicit TWebPreview(TDone done, QObject* parent = nullptr);
    // Cancels what is running and waits for it to end.
    ~TWebPreview() override;
    TWebPreview(const TWebPreview&) = delete;
    TWebPreview& operator=(const TWebPreview&) = delete;

    // A picture already made for this address and size comes back at once.
    void Request(const std::string& url, int maxEdge);
    void Cancel();

    THttpLimits Limits; // for the next downloads

private:
    struct TTask {
        std::string Url;
        int MaxEdge = 0;
        std::atomic<bool> Cancelled{false};
        std::atomic<bool> Finished{false};
        std::thread Thread;
    };
    void Run(const std::shared_ptr<TTask>& task);
    void Deliver(const std::shared_ptr<TTask>& task, const QImage& image, const std::string& failure);
    void ReapFinished();

    TDone FDone;
    // The current one last; cancelled ones stay until their thread ends. Shared with the queued
    // delivery, which may arrive after a task has left the list.
    std::list<std::shared_ptr<TTask>> FTasks;
    std::map<std::pair<std::string, int>, QImage> FCache;
};
