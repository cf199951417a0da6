// The libcurl glue: the only file that calls libcurl, through the functions CurlLibrary loads on the
// first download. The transfer runs through a multi handle in a loop of our own, so time-outs, the stop
// request and the caller's event pumping happen here, outside libcurl's frames. The two callbacks that run
// inside them never throw: they record a failure and answer libcurl's abort value.
#include "platform/Ascii.h"
#include "platform/Stream.h"
#include "platform/net/CurlLibrary.h"
#include "platform/net/HttpClient.h"
#include "platform/net/HttpTexts.h"
#include "platform/net/WebAddress.h"

#include <cstring>
#include <memory>
#include <optional>
#include <set>

namespace {
using TClock = std::chrono::steady_clock;

// How long the loop waits for the sockets before it looks at the clock and the stop request again.
constexpr int kPollMilliseconds = 100;
constexpr std::size_t kDetailLength = 120;
constexpr std::size_t kContentTypeLength = 100;

struct TEasyDeleter {
    const TCurlLibrary* Curl;
    void operator()(CURL* handle) const { Curl->EasyCleanup(handle); }
};
struct TMultiDeleter {
    const TCurlLibrary* Curl;
    void operator()(CURLM* handle) const { Curl->MultiCleanup(handle); }
};
struct TListDeleter {
    const TCurlLibrary* Curl;
    void operator()(curl_slist* list) const { Curl->SlistFreeAll(list); }
};
using TEasyHandle = std::unique_ptr<CURL, TEasyDeleter>;
using TMultiHandle = std::unique_ptr<CURLM, TMultiDeleter>;
using THeaderList = std::unique_ptr<curl_slist, TListDeleter>;

// The easy handle belongs to the multi handle for one request; leaving unfinished aborts it.
class THopMembership {
public:
    THopMembership(const TCurlLibrary& curl, CURLM* multi, CURL* easy)
        : Curl(curl), Multi(multi), Easy(easy) {
        Added = curl.MultiAddHandle(multi, easy) == CURLM_OK;
    }
    ~THopMembership() {
        if (Added) Curl.MultiRemoveHandle(Multi, Easy);
    }
    THopMembership(const THopMembership&) = delete;
    THopMembership& operator=(const THopMembership&) = delete;
    bool Added = false;

private:
    const TCurlLibrary& Curl;
    CURLM* Multi;
    CURL* Easy;
};

// What the callbacks see, and what they record for the loop.
struct TTransferState {
    TStream* Body = nullptr;
    std::int64_t Cap = 0;
    std::string Server; // "host:port" of the current request, for the texts
    int Status = 0;
    std::string Phrase;
    std::int64_t BodyBytes = 0;  // of the 2xx answer, written to Body
    std::int64_t OtherBytes = 0; // of any other answer, dropped
    // Set once the connection (with its TLS handshake) stands and the request goes out: from then
    // on silence counts as a stall; before, libcurl's connect time-out rules.
    bool RequestSent = false;
    TClock::time_point LastData;
    THttpFailure Failure = THttpFailure::None;
    std::string Reason;

    void StartRequest(std::string server) {
        Server = std::move(server);
        Status = 0;
        Phrase.clear();
        OtherBytes = 0;
        RequestSent = false;
        LastData = TClock::now();
    }
    void Record(THttpFailure failure, std::string reason) {
        if (Failure != THttpFailure::None) return; // the first cause stands
        Failure = failure;
        Reason = std::move(reason);
    }
    std::string TooLargeText() const { return "the download is larger than " + ByteCountText(Cap); }
};

// "HTTP/1.1 404 Not Found": the status and the phrase after it.
void ParseStatusLine(std::string_view line, TTransferState& s) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) return;
    int status = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') return;
        status = status * 10 + (line[i] - '0');
    }
    s.Status = status;
    std::string_view phrase = line.substr(space + 4);
    while (!phrase.empty() && (phrase.back() == '\r' || phrase.back() == '\n')) phrase.remove_suffix(1);
    s.Phrase = std::string(phrase);
}

int OnRequestReady(void* user, char*, char*, int, int) noexcept {
    auto& s = *static_cast<TTransferState*>(user);
    s.RequestSent = true;
    s.LastData = TClock::now();
    return CURL_PREREQFUNC_OK;
}

// An error status ends the request when its headers are complete: its page is of no use here.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& s = *static_cast<TTransferState*>(user);
    const std::size_t n = size * count;
    try {
        s.LastData = TClock::now();
        const std::string_view line(data, n);
        if (line.rfind("HTTP/", 0) == 0) {
            ParseStatusLine(line, s);
        } else if ((line == "\r\n" || line == "\n") && s.Status >= 400) {
            s.Record(THttpFailure::Status, HttpStatusText(s.Status, s.Phrase));
            return 0;
        }
        return n;
    } catch (...) {
        s.Record(THttpFailure::Broken, "out of memory while reading the answer");
        return 0;
    }
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& s = *static_cast<TTransferState*>(user);
    const std::size_t n = size * count;
    try {
        s.LastData = TClock::now();
        const auto bytes = static_cast<std::int64_t>(n);
        const bool kept = s.Status >= 200 && s.Status < 300;
        std::int64_t& total = kept ? s.BodyBytes : s.OtherBytes;
        if (bytes > s.Cap - total) {
            s.Record(THttpFailure::TooLarge, s.TooLargeText());
            return CURL_WRITEFUNC_ERROR;
        }
        if (kept) s.Body->WriteBuffer(data, bytes);
        total += bytes;
        return n;
    } catch (const std::exception& e) {
        s.Record(THttpFailure::Broken, std::string("the download could not be kept: ") + e.what());
        return CURL_WRITEFUNC_ERROR;
    } catch (...) {
        s.Record(THttpFailure::Broken, "the download could not be kept");
        return CURL_WRITEFUNC_ERROR;
    }
}

// One option; the value goes through the variadic call with the type the option takes.
template <class T> bool Set(const TCurlLibrary& curl, CURL* easy, CURLoption option, T value) {
    return curl.EasySetopt(easy, option, value) == CURLE_OK;
}

bool Configure(const TCurlLibrary& curl, CURL* easy, const THttpRequest& r, curl_slist* headers,
               char* errorText, TTransferState& s) {
    const auto set = [&curl, easy](CURLoption option, auto value) { return Set(curl, easy, option, value); };
    const THttpLimits& l = r.Limits;
    bool ok = set(CURLOPT_NOSIGNAL, 1L) && set(CURLOPT_ERRORBUFFER, errorText) &&
              set(CURLOPT_PROTOCOLS_STR, "http,https") && set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
              set(CURLOPT_FOLLOWLOCATION, 0L) && set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1)) &&
              set(CURLOPT_USERAGENT, r.UserAgent.c_str()) && set(CURLOPT_HTTPHEADER, headers) &&
              set(CURLOPT_CONNECTTIMEOUT_MS, long(l.ConnectTimeout.count())) &&
              set(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(l.MaxBodyBytes)) &&
              set(CURLOPT_PREREQFUNCTION, &OnRequestReady) && set(CURLOPT_PREREQDATA, &s) &&
              set(CURLOPT_HEADERFUNCTION, &OnHeader) && set(CURLOPT_HEADERDATA, &s) &&
              set(CURLOPT_WRITEFUNCTION, &OnBody) && set(CURLOPT_WRITEDATA, &s);
    // An empty proxy text also keeps the environment's proxy variables out: the caller chose.
    ok = ok && set(CURLOPT_PROXY, r.Proxy.c_str());
    if (!r.Proxy.empty()) {
        ok = ok && set(CURLOPT_NOPROXY, "");
        if (!r.ProxyUserName.empty())
            ok = ok && set(CURLOPT_PROXYUSERNAME, r.ProxyUserName.c_str()) &&
                 set(CURLOPT_PROXYPASSWORD, r.ProxyPassword.c_str());
    }
    if (!l.TrustStore.empty()) ok = ok && set(CURLOPT_CAINFO, l.TrustStore.c_str());
    return ok;
}

// libcurl's own words for a failure, without the prefix a certificate complaint carries.
std::string Detail(const TCurlLibrary& curl, CURLcode code, const char* errorText) {
    std::string_view text = errorText[0] ? errorText : curl.EasyStrerror(code);
    constexpr std::string_view kPrefix = "SSL certificate problem: ";
    if (text.rfind(kPrefix, 0) == 0) text.remove_prefix(kPrefix.size());
    return PrintableText(text, kDetailLength);
}

// Why the connection could not be made, from the system's error number.
std::string ConnectDetail(const TCurlLibrary& curl, CURL* easy, CURLcode code, const char* errorText) {
    long osError = 0;
    if (curl.EasyGetinfo(easy, CURLINFO_OS_ERRNO, &osError) == CURLE_OK && osError != 0) {
        std::string text = std::strerror(static_cast<int>(osError));
        if (!text.empty()) text[0] = AsciiLower(text[0]);
        return text;
    }
    return Detail(curl, code, errorText);
}

void Classify(const TCurlLibrary& curl, CURL* easy, CURLcode code, const char* errorText,
              const THttpRequest& r, TTransferState& s) {
    const std::string proxy = "the proxy " + PrintableText(r.Proxy, kDetailLength);
    const std::string& server = s.Server;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        s.Record(THttpFailure::Connect, "could not connect to " + server + " (host name not found)");
        return;
    case CURLE_COULDNT_RESOLVE_PROXY:
        s.Record(THttpFailure::Connect, "could not connect to " + proxy + " (host name not found)");
        return;
    case CURLE_COULDNT_CONNECT:
        s.Record(THttpFailure::Connect, "could not connect to " + (r.Proxy.empty() ? server : proxy) + " (" +
                                            ConnectDetail(curl, easy, code, errorText) + ")");
        return;
    case CURLE_OPERATION_TIMEDOUT: // the only time-out libcurl keeps is the one for connecting
        s.Record(THttpFailure::Connect, "could not connect to " + (r.Proxy.empty() ? server : proxy) +
                                            " (no answer within " + SecondsText(r.Limits.ConnectTimeout) +
                                            ")");
        return;
    case CURLE_PROXY:
        s.Record(THttpFailure::Connect,
                 proxy + " refused the connection (" + Detail(curl, code, errorText) + ")");
        return;
    case CURLE_PEER_FAILED_VERIFICATION:
        s.Record(THttpFailure::Certificate, "the certificate of " + server + " was not accepted (" +
                                                Detail(curl, code, errorText) + ")");
        return;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_ENGINE_INITFAILED:
        s.Record(THttpFailure::Secure,
                 "the secure connection to " + server + " failed (" + Detail(curl, code, errorText) + ")");
        return;
    case CURLE_FILESIZE_EXCEEDED:
        s.Record(THttpFailure::TooLarge, s.TooLargeText());
        return;
    case CURLE_GOT_NOTHING:
        s.Record(THttpFailure::Broken, server + " closed the connection without an answer");
        return;
    case CURLE_PARTIAL_FILE:
        s.Record(THttpFailure::Broken,
                 "the connection to " + server + " closed before the whole file arrived");
        return;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        s.Record(THttpFailure::BadAddress,
                 "not a web address this program can load (" + Detail(curl, code, errorText) + ")");
        return;
    default:
        s.Record(THttpFailure::Broken,
                 "the download from " + server + " failed (" + Detail(curl, code, errorText) + ")");
        return;
    }
}

// Runs one request to its end, a failure the loop sees, or a stop. Returns libcurl's result when the
// transfer ended by itself.
CURLcode RunRequest(const TCurlLibrary& curl, CURLM* multi, CURL* easy, const THttpRequest& r,
                    TTransferState& s, TClock::time_point start) {
    THopMembership member(curl, multi, easy);
    if (!member.Added) {
        s.Record(THttpFailure::Broken, "the download could not be started");
        return CURLE_FAILED_INIT;
    }
    for (;;) {
        int running = 0;
        const CURLMcode mc = curl.MultiPerform(multi, &running);
        if (mc != CURLM_OK) {
            s.Record(THttpFailure::Broken,
                     std::string("the download failed (") + curl.MultiStrerror(mc) + ")");
            return CURLE_FAILED_INIT;
        }
        if (!running) break;
        if (s.Failure != THttpFailure::None) return CURLE_ABORTED_BY_CALLBACK;
        const auto now = TClock::now();
        if (s.RequestSent && now - s.LastData >= r.Limits.StallTimeout) {
            s.Record(THttpFailure::Stalled,
                     "no data from " + s.Server + " for " + SecondsText(r.Limits.StallTimeout));
            return CURLE_OPERATION_TIMEDOUT;
        }
        if (now - start >= r.Limits.TotalTimeout) {
            s.Record(THttpFailure::TooSlow,
                     "the download did not finish within " + SecondsText(r.Limits.TotalTimeout));
            return CURLE_OPERATION_TIMEDOUT;
        }
        if (r.KeepGoing && !r.KeepGoing()) {
            s.Record(THttpFailure::Stopped, "the download was stopped");
            return CURLE_ABORTED_BY_CALLBACK;
        }
        curl.MultiPoll(multi, nullptr, 0, kPollMilliseconds, nullptr);
    }
    int left = 0;
    while (CURLMsg* message = curl.MultiInfoRead(multi, &left))
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) return message->data.result;
    return CURLE_OK;
}

THttpResponse Failed(THttpFailure failure, std::string reason, int status = 0) {
    THttpResponse r;
    r.Failure = failure;
    r.Reason = std::move(reason);
    r.Status = status;
    return r;
}

std::string InfoText(const TCurlLibrary& curl, CURL* easy, CURLINFO info) {
    char* text = nullptr;
    if (curl.EasyGetinfo(easy, info, &text) != CURLE_OK || !text) return {};
    return text;
}
} // namespace

bool HttpAvailable() {
    std::string reason;
    return CurlLibrary(reason) != nullptr;
}

THttpResponse HttpGet(const THttpRequest& request, TStream& body) {
    std::string reason;
    std::optional<TWebAddress> address = ParseWebAddress(request.Url, reason);
    if (!address) return Failed(THttpFailure::BadAddress, reason);

    const TCurlLibrary* library = CurlLibrary(reason);
    if (!library) return Failed(THttpFailure::Unavailable, reason);
    const TCurlLibrary& curl = *library;
    TEasyHandle easy(curl.EasyInit(), TEasyDeleter{&curl});
    TMultiHandle multi(curl.MultiInit(), TMultiDeleter{&curl});
    // Reload, as a browser's reload does: no cache between here and the server answers.
    THeaderList headers(curl.SlistAppend(nullptr, "Cache-Control: no-cache"), TListDeleter{&curl});
    char errorText[CURL_ERROR_SIZE] = {};
    TTransferState state;
    state.Body = &body;
    state.Cap = request.Limits.MaxBodyBytes;
    if (!easy || !multi || !headers || !Configure(curl, easy.get(), request, headers.get(), errorText, state))
        return Failed(THttpFailure::Broken, "the download could not be started");

    const std::int64_t origin = body.Position();
    std::set<std::string> visited;
    std::string url = ComposeWebAddress(*address);
    const auto start = TClock::now();
    for (int redirects = 0;; ++redirects) {
        visited.insert(url);
        state.StartRequest(HostAndPort(*address));
        errorText[0] = '\0';
        if (!Set(curl, easy.get(), CURLOPT_URL, url.c_str()))
            return Failed(THttpFailure::BadAddress, "not a web address this program can load");
        const CURLcode code = RunRequest(curl, multi.get(), easy.get(), request, state, start);
        if (state.Failure == THttpFailure::None && code != CURLE_OK)
            Classify(curl, easy.get(), code, errorText, request, state);
        if (state.Failure != THttpFailure::None) {
            if (state.BodyBytes > 0) body.SetSize(origin); // part of an image is no image
            return Failed(state.Failure, state.Reason, state.Status);
        }

        long status = 0;
        curl.EasyGetinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
        const int answer = static_cast<int>(status);
        if (answer >= 300 && answer < 400) {
            const std::string next = InfoText(curl, easy.get(), CURLINFO_REDIRECT_URL);
            if (next.empty())
                return Failed(THttpFailure::Status, HttpStatusText(answer, state.Phrase), answer);
            address = ParseWebAddress(next, reason);
            if (!address)
                return Failed(THttpFailure::BadAddress,
                              "redirected to an address this program cannot load (" +
                                  PrintableText(next, kDetailLength) + ")");
            url = ComposeWebAddress(*address);
            if (visited.count(url)) return Failed(THttpFailure::RedirectLoop, "redirect loop");
            if (redirects >= request.Limits.MaxRedirects)
                return Failed(THttpFailure::TooManyRedirects,
                              "more than " + std::to_string(request.Limits.MaxRedirects) + " redirects");
            continue;
        }
        if (answer < 200 || answer >= 300)
            return Failed(THttpFailure::Status, HttpStatusText(answer, state.Phrase), answer);

        THttpResponse ok;
        ok.Status = answer;
        ok.ContentType = PrintableText(InfoText(curl, easy.get(), CURLINFO_CONTENT_TYPE), kContentTypeLength);
        ok.FinalUrl = url;
        return ok;
    }
}
