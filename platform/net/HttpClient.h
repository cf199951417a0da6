#pragma once
// Downloads over HTTP and HTTPS for the image loader: one GET, redirects followed up to a limit, the
// body capped, dead and stalled servers given up on, and every failure told in words a user reads.
// The interface shows nothing of the library underneath; a build without it, or a system where it is
// missing, answers every request with a failure that says so.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class TStream;

// The bounds of one download. The defaults suit a person waiting for an image; tests shorten them.
struct THttpLimits {
    // Connecting, TLS handshake included.
    std::chrono::milliseconds ConnectTimeout{15'000};
    // Given up when no byte arrives for this long, once the request is on its way.
    std::chrono::milliseconds StallTimeout{30'000};
    // The whole download, redirects included: a server that trickles cannot hold a run for ever.
    std::chrono::milliseconds TotalTimeout{600'000};
    std::int64_t MaxBodyBytes = std::int64_t(256) << 20;
    int MaxRedirects = 10;
    // A PEM file of the certificate authorities that https trusts instead of the system's. Only tests
    // set it (for a certificate they made); certificate checks are never switched off.
    std::string TrustStore;
};

struct THttpRequest {
    std::string Url; // http:// or https://, as ComposeWebAddress writes it
    std::string UserAgent;
    // Empty: a direct connection, whatever the environment names. Otherwise "host:port" of an HTTP
    // proxy, with optional credentials for it.
    std::string Proxy;
    std::string ProxyUserName;
    std::string ProxyPassword;
    THttpLimits Limits;
    // Asked several times a second while the download runs; false stops it.
    std::function<bool()> KeepGoing;
};

enum class THttpFailure {
    None,
    Unavailable,      // this build cannot download, or the library it downloads with is missing
    BadAddress,       // the address or a redirect target is not one this client follows
    Connect,          // no connection to the server (or the proxy)
    Certificate,      // https: the server's certificate is not trusted or not for that host
    Secure,           // https: the secure connection failed otherwise
    Status,           // the server answered with an error status
    RedirectLoop,     // a redirect led back to an address already visited
    TooManyRedirects, // more redirects than the limit
    TooLarge,         // the body is larger than the cap
    Stalled,          // no byte for StallTimeout
    TooSlow,          // not finished within TotalTimeout
    Stopped,          // KeepGoing answered false
    Broken            // the transfer broke off otherwise
};

struct THttpResponse {
    THttpFailure Failure = THttpFailure::None;
    std::string Reason; // empty on success: "HTTP 404 Not Found", "could not connect to host:80 (...)"
    int Status = 0;     // the last status the server sent, 0 when none arrived
    std::string ContentType;
    std::string FinalUrl; // after redirects
    bool Ok() const { return Failure == THttpFailure::None; }
};

// Whether downloads can work at all: the build has the client and the system the library underneath,
// which this loads when it is not loaded yet.
bool HttpAvailable();

// GETs the address with HTTP/1.1 and writes the body of the final (2xx) answer into body from its
// current position; after a failure the stream ends where it stood on entry. Network and server failures come
// back in the response, never as exceptions; an exception from KeepGoing passes through after the transfer is
// closed.
THttpResponse HttpGet(const THttpRequest& request, TStream& body);
