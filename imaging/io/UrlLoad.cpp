// Loading from web addresses: the download through the platform's HTTP client into memory, then the
// image by its content, as a stream load.
#include "imaging/io/FormatDetection.h"
#include "imaging/io/LoadScope.h"
#include "imaging/io/PictoraIO.h"
#include "platform/Stream.h"
#include "platform/net/HttpTexts.h"
#include "platform/net/WebAddress.h"

#ifndef FOLIANTO_VERSION
#error "FOLIANTO_VERSION is defined by the build"
#endif

namespace {
constexpr const char* kUserAgent = "Folianto/" FOLIANTO_VERSION;
} // namespace

bool TPictoraIO::DownloadUrl(const std::string& url, TMemoryStream& body, std::string* contentType) {
    Aborting = false;
    std::string reason;
    const std::optional<TWebAddress> address = ParseWebAddress(url, reason);
    if (!address) {
        FailLoad(reason);
        return false;
    }
    THttpRequest request;
    request.Url = ComposeWebAddress(*address);
    request.UserAgent = kUserAgent;
    request.Proxy = WebProxy;
    if (!WebProxy.empty()) {
        request.ProxyUserName = WebUserName;
        request.ProxyPassword = WebPassword;
    }
    request.Limits = DownloadLimits;
    request.KeepGoing = DownloadContinue;
    body.Clear();
    const THttpResponse response = HttpGet(request, body);
    if (!response.Ok()) {
        FailLoad(response.Reason);
        return false;
    }
    if (body.Size() == 0) {
        FailLoad("the server sent no data");
        return false;
    }
    body.SetPosition(0);
    if (contentType) *contentType = response.ContentType;
    return true;
}

void TPictoraIO::LoadFromUrl(const std::string& url) {
    TLoadScope scope(*this);
    if (!PrepareBitmap()) {
        Aborting = true;
        return;
    }
    TMemoryStream body;
    std::string contentType;
    if (!DownloadUrl(url, body, &contentType)) return;
    if (DetectStreamFormat(body) == ioUnknown) {
        // An error page served as a success, or a file of a kind no reader knows: no page, and the
        // server's own word for what it sent.
        FParams.LoadedFileName.clear();
        FParams.FileFormat = ioUnknown;
        FailLoad(NotAnImageText(contentType));
        return;
    }
    LoadFromStream(body);
}
