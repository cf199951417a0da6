// The HTTP client against a server on the loopback interface that plays every failure a download
// can meet. Time-outs are shortened so the whole file runs in seconds.
#include "platform/net/HttpClient.h"
#include "platform/Stream.h"
#include "testsupport/HttpTestServer.h"
#include "testsupport/TestSupport.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;
using testsupport::THttpTestServer;

namespace {
// 5000 bytes that are not all alike, so a body cut or shifted anywhere shows.
std::vector<std::uint8_t> Payload() {
    std::vector<std::uint8_t> bytes(5000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return bytes;
}

// Generous where a loaded machine may pause the server, short where a test waits for a limit.
THttpLimits FastLimits() {
    THttpLimits l;
    l.StallTimeout = 3s;
    l.TotalTimeout = 10s;
    l.MaxBodyBytes = std::int64_t(1) << 20;
    l.MaxRedirects = 3;
    return l;
}

class HttpClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Root = std::make_unique<testsupport::TempDir>();
        testsupport::WriteFileBytes(Root->File("data.bin"), Payload());
        Server = std::make_unique<THttpTestServer>(Root->Path(), true);
    }
    static void TearDownTestSuite() {
        Server.reset();
        Root.reset();
    }
    void SetUp() override {
        if (!HttpAvailable()) GTEST_SKIP() << "this build has no HTTP client";
        ASSERT_TRUE(Server->Running()) << Server->Error();
    }

    THttpResponse Get(const std::string& url, THttpLimits limits = FastLimits()) {
        THttpRequest r;
        r.Url = url;
        r.UserAgent = "FoliantoTest/1";
        r.Limits = std::move(limits);
        body = std::make_unique<TMemoryStream>();
        return HttpGet(r, *body);
    }
    bool BodyIsPayload() const { return body && body->Bytes() == Payload(); }

    static std::unique_ptr<testsupport::TempDir> Root;
    static std::unique_ptr<THttpTestServer> Server;
    std::unique_ptr<TMemoryStream> body;
};
std::unique_ptr<testsupport::TempDir> HttpClientTest::Root;
std::unique_ptr<THttpTestServer> HttpClientTest::Server;

struct FailureCase {
    const char* Name;
    const char* Path;
    THttpFailure Failure;
    const char* Reason;
};

const FailureCase kFailureCases[] = {
    {"NotFound", "/status/404", THttpFailure::Status, "HTTP 404 Not Found"},
    {"ServerError", "/status/500", THttpFailure::Status, "HTTP 500 Internal Server Error"},
    {"RedirectLoop", "/loop/a", THttpFailure::RedirectLoop, "redirect loop"},
    {"OneRedirectTooMany", "/redirect/4/data.bin", THttpFailure::TooManyRedirects, "more than 3 redirects"},
    {"RedirectOffTheWeb", "/to-ftp", THttpFailure::BadAddress,
     "redirected to an address this program cannot load (ftp://127.0.0.1/image.png)"},
    {"EndlessBody", "/endless", THttpFailure::TooLarge, "the download is larger than 1 MiB"},
    {"DeclaredTooLarge", "/huge-length", THttpFailure::TooLarge, "the download is larger than 1 MiB"},
};

class HttpFailureTest : public HttpClientTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(HttpFailureTest, SaysWhyAndKeepsNoBody) {
    const FailureCase& c = GetParam();
    const THttpResponse r = Get(Server->Url(c.Path));
    EXPECT_EQ(r.Failure, c.Failure);
    EXPECT_EQ(r.Reason, c.Reason);
    EXPECT_EQ(body->Size(), 0); // an error page or a redirect's body is never taken for the image
}

INSTANTIATE_TEST_SUITE_P(Server, HttpFailureTest, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.Name); });
} // namespace

TEST_F(HttpClientTest, BodiesArriveWholeWithOrWithoutLengthAndThroughRedirects) {
    for (const char* path : {"/files/data.bin", "/chunked/data.bin", "/redirect/3/data.bin"}) {
        const THttpResponse r = Get(Server->Url(path));
        EXPECT_TRUE(r.Ok()) << path << ": " << r.Reason;
        EXPECT_EQ(r.Status, 200) << path;
        EXPECT_TRUE(BodyIsPayload()) << path;
    }
    const THttpResponse r = Get(Server->Url("/redirect/2/data.bin"));
    EXPECT_EQ(r.FinalUrl, Server->Url("/files/data.bin"));
}

TEST_F(HttpClientTest, ContentTypeAndEmptyBodiesAreReported) {
    THttpResponse r = Get(Server->Url("/html"));
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.ContentType, "text/html; charset=utf-8");
    r = Get(Server->Url("/empty"));
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(body->Size(), 0);
}

TEST_F(HttpClientTest, RequestIsHttp11GetWithAgentAndNoCacheAndIgnoresEnvironmentProxies) {
    // A proxy named by the environment would swallow the request: an empty proxy setting means direct.
    const std::string dead = "http://127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort());
    ::setenv("http_proxy", dead.c_str(), 1);
    ::setenv("HTTP_PROXY", dead.c_str(), 1);
    const THttpResponse r = Get(Server->Url("/echo"));
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    ASSERT_TRUE(r.Ok()) << r.Reason;
    const std::string text(body->Bytes().begin(), body->Bytes().end());
    EXPECT_EQ(text.rfind("GET /echo HTTP/1.1\n", 0), 0u) << text;
    EXPECT_NE(text.find("User-Agent: FoliantoTest/1"), std::string::npos) << text;
    EXPECT_NE(text.find("Cache-Control: no-cache"), std::string::npos) << text;
}

TEST_F(HttpClientTest, DeadAndStalledServersAreGivenUp) {
    const int port = testsupport::UnusedLoopbackPort();
    THttpResponse r = Get("http://127.0.0.1:" + std::to_string(port) + "/x.png");
    EXPECT_EQ(r.Failure, THttpFailure::Connect);
    EXPECT_EQ(r.Reason, "could not connect to 127.0.0.1:" + std::to_string(port) + " (connection refused)");

    // Silent before the answer, and silent in the middle of the body.
    THttpLimits quick = FastLimits();
    quick.StallTimeout = 500ms;
    for (const std::string& url : {Server->StallUrl("/x.png"), Server->Url("/stall-body")}) {
        const auto start = std::chrono::steady_clock::now();
        r = Get(url, quick);
        EXPECT_EQ(r.Failure, THttpFailure::Stalled) << url;
        EXPECT_EQ(r.Reason.rfind("no data from 127.0.0.1:", 0), 0u) << r.Reason;
        EXPECT_NE(r.Reason.find(" for 0.5 s"), std::string::npos) << r.Reason;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }

    // A server that keeps sending a little, never enough, meets the overall limit.
    THttpLimits slow = FastLimits();
    slow.StallTimeout = 20s;
    slow.TotalTimeout = 700ms;
    r = Get(Server->Url("/stall-body"), slow);
    EXPECT_EQ(r.Failure, THttpFailure::TooSlow);
    EXPECT_EQ(r.Reason, "the download did not finish within 0.7 s");
}

TEST_F(HttpClientTest, StopRequestEndsAWaitingDownloadPromptly) {
    THttpRequest req;
    req.Url = Server->StallUrl("/x.png");
    req.Limits = FastLimits();
    req.Limits.StallTimeout = 20s;
    int asked = 0;
    req.KeepGoing = [&] { return ++asked < 3; };
    TMemoryStream out;
    const auto start = std::chrono::steady_clock::now();
    const THttpResponse r = HttpGet(req, out);
    EXPECT_EQ(r.Failure, THttpFailure::Stopped);
    EXPECT_EQ(r.Reason, "the download was stopped");
    EXPECT_EQ(asked, 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(HttpClientTest, ProxyIsUsedWithItsCredentials) {
    THttpRequest req;
    // The proxy answers for any host: this name is never looked up.
    req.Url = "http://images.example.invalid/files/data.bin";
    req.Limits = FastLimits();
    req.Proxy = Server->ProxyAddress();
    req.ProxyUserName = "user";
    req.ProxyPassword = "secret";
    TMemoryStream out;
    THttpResponse r = HttpGet(req, out);
    ASSERT_TRUE(r.Ok()) << r.Reason;
    EXPECT_EQ(out.Bytes(), Payload());

    req.ProxyPassword = "wrong";
    TMemoryStream refused;
    r = HttpGet(req, refused);
    EXPECT_EQ(r.Reason, "HTTP 407 Proxy Authentication Required");
    EXPECT_EQ(refused.Size(), 0);
}

TEST_F(HttpClientTest, HttpsChecksTheCertificate) {
    THttpLimits trusted = FastLimits();
    trusted.TrustStore = Server->CertificateFile();
    THttpResponse r = Get(Server->HttpsUrl("/files/data.bin"), trusted);
    ASSERT_TRUE(r.Ok()) << r.Reason;
    EXPECT_TRUE(BodyIsPayload());
    r = Get(Server->HttpsUrl("/status/404"), trusted);
    EXPECT_EQ(r.Reason, "HTTP 404 Not Found");

    // The system's authorities do not know the certificate made for this test.
    r = Get(Server->HttpsUrl("/files/data.bin"));
    EXPECT_EQ(r.Failure, THttpFailure::Certificate);
    EXPECT_EQ(r.Reason.rfind("the certificate of 127.0.0.1:", 0), 0u) << r.Reason;
    EXPECT_NE(r.Reason.find("self-signed"), std::string::npos) << r.Reason;
    EXPECT_EQ(body->Size(), 0);
}

TEST(HttpClient, AddressesOutsideTheWebAreRefusedBeforeAnyConnection) {
    THttpRequest req;
    for (const char* url : {"http://nohost", "file:///etc/passwd", "http://u:p@127.0.0.1/x"}) {
        req.Url = url;
        TMemoryStream out;
        const THttpResponse r = HttpGet(req, out);
        EXPECT_EQ(r.Failure, HttpAvailable() ? THttpFailure::BadAddress : THttpFailure::Unavailable) << url;
        EXPECT_FALSE(r.Reason.empty());
    }
}
