#pragma once
// Previews of web addresses for the window: each download runs off the GUI thread (TPreviewThreads),
// so the window never waits for a server. Only the latest request counts.
#include "platform/net/HttpClient.h"
#include "shell/preview/PreviewThreads.h"

#include <QImage>

#include <functional>
#include <string>

class TWebPreview {
public:
    // Called on the GUI thread with the address and its picture, no larger than maxEdge on either
    // side; a null image when the download or the image failed, with the reason in words.
    using TDone =
        std::function<void(const std::string& url, const QImage& image, const std::string& failure)>;
    explicit TWebPreview(TDone done);

    // A picture already made for this address and size comes back at once.
    void Request(const std::string& url, int maxEdge) { FThreads.Request(url, QSize(maxEdge, maxEdge)); }
    void Cancel() { FThreads.Cancel(); }

    THttpLimits Limits; // for the next downloads

private:
    TPreviewResult Make(const std::string& url, QSize box, const std::atomic<bool>& cancelled) const;

    TPreviewThreads FThreads; // last: its threads end before the limits go
};
