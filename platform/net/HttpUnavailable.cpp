// The HTTP client of a build made without libcurl: every download fails and says why.
#include "platform/net/HttpClient.h"

bool HttpAvailable() {
    return false;
}

THttpResponse HttpGet(const THttpRequest&, TStream&) {
    THttpResponse r;
    r.Failure = THttpFailure::Unavailable;
    r.Reason = "downloads are not part of this build (it was made without libcurl)";
    return r;
}
