// Loading web addresses through the I/O component, against a loopback server.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "platform/Stream.h"
#include "testsupport/HttpTestServer.h"
#include "testsupport/TestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;
using testsupport::RunCommand;
using testsupport::ShellQuote;
using testsupport::THttpTestServer;

namespace {
class UrlLoadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Root = std::make_unique<testsupport::TempDir>();
        const auto make = [](const std::string& args, const std::string& name) {
            return RunCommand("/usr/bin/convert " + args + " " + ShellQuote(Root->File(name))) == 0;
        };
        Made = make("-size 8x6 xc:red", "red.png") && make("-size 10x4 xc:blue", "blue.jpg") &&
               make("-size 6x5 xc:red xc:lime xc:blue", "anim.gif");
        Server = std::make_unique<THttpTestServer>(Root->Path(), true);
    }
    static void TearDownTestSuite() {
        Server.reset();
        Root.reset();
    }
    void SetUp() override {
        if (!HttpAvailable()) GTEST_SKIP() << "this build has no HTTP client";
        ASSERT_TRUE(Made);
        ASSERT_TRUE(Server->Running()) << Server->Error();
        io.SetAttachedPictora(&view);
        io.DownloadLimits.StallTimeout = 3s; // a loaded machine may pause the server for a while
        io.DownloadLimits.MaxBodyBytes = std::int64_t(1) << 20;
        io.OnFinishWork = [this](TPictoraIO*) { ++finished; };
    }
    TIERgbTriple Pixel(int x, int y) { return view.IEBitmap()->PixelAsRgb(x, y); }

    static std::unique_ptr<testsupport::TempDir> Root;
    static std::unique_ptr<THttpTestServer> Server;
    static bool Made;
    TIEView view;
    TPictoraIO io;
    int finished = 0;
};
std::unique_ptr<testsupport::TempDir> UrlLoadTest::Root;
std::unique_ptr<THttpTestServer> UrlLoadTest::Server;
bool UrlLoadTest::Made = false;

struct RefusalCase {
    const char* Name;
    const char* Path; // on the plain server
    const char* Reason;
    std::chrono::milliseconds Stall = 3s;
};

const RefusalCase kRefusals[] = {
    {"NotFound", "/status/404", "HTTP 404 Not Found"},
    {"ServerError", "/status/500", "HTTP 500 Internal Server Error"},
    {"RedirectLoop", "/loop/a", "redirect loop"},
    {"EndlessBody", "/endless", "the download is larger than 1 MiB"},
    {"WebPage", "/html", "not an image (the server sent text/html; charset=utf-8)"},
    {"NothingSent", "/empty", "the server sent no data"},
    {"StalledBody", "/stall-body", "no data from 127.0.0.1:", 500ms},
};

class UrlRefusalTest : public UrlLoadTest, public ::testing::WithParamInterface<RefusalCase> {};

// A failed download must not leave a page behind: Aborting, a reason, the bitmap as it was.
TEST_P(UrlRefusalTest, FailsWithItsReasonAndLeavesTheBitmap) {
    io.LoadFromFile(Server->Url("/files/red.png"));
    ASSERT_FALSE(io.Aborting) << io.LastLoad().Refusal;
    finished = 0;
    io.DownloadLimits.StallTimeout = GetParam().Stall;
    io.LoadFromFile(Server->Url(GetParam().Path));
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(io.LastLoad().Refusal.rfind(GetParam().Reason, 0), 0u) << io.LastLoad().Refusal;
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(view.BitmapWidth(), 8);
    EXPECT_EQ(Pixel(0, 0).r, 255);
}

INSTANTIATE_TEST_SUITE_P(Server, UrlRefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.Name); });
} // namespace

TEST_F(UrlLoadTest, ImagesLoadByTheirContentWhateverTheAddressSays) {
    io.LoadFromFile(Server->Url("/files/red.png"));
    EXPECT_FALSE(io.Aborting) << io.LastLoad().Refusal;
    EXPECT_EQ(io.Params().FileFormat, 8);
    EXPECT_EQ(view.BitmapWidth(), 8);
    EXPECT_EQ(view.BitmapHeight(), 6);
    EXPECT_EQ(io.Params().LoadedFileName, ""); // a stream load names no file
    EXPECT_EQ(finished, 1);

    // No extension in the address, a redirect on the way, upper-case scheme: the bytes decide.
    std::string shouted = Server->Url("/redirect/2/blue.jpg");
    shouted.replace(0, 4, "HTTP");
    io.LoadFromUrl(shouted);
    EXPECT_FALSE(io.Aborting) << io.LastLoad().Refusal;
    EXPECT_EQ(io.Params().FileFormat, 3);
    EXPECT_EQ(view.BitmapWidth(), 10);
    EXPECT_GT(Pixel(5, 2).b, 200);

    // Loaded as a whole, an animation gives its first frame.
    io.LoadFromFile(Server->Url("/chunked/anim.gif"));
    EXPECT_FALSE(io.Aborting) << io.LastLoad().Refusal;
    EXPECT_EQ(io.Params().FileFormat, 2);
    EXPECT_EQ(Pixel(0, 0).r, 255);
    EXPECT_EQ(Pixel(0, 0).g, 0);
}

TEST_F(UrlLoadTest, HttpsLoadsWithATrustedCertificateOnly) {
    io.LoadFromFile(Server->HttpsUrl("/files/red.png"));
    EXPECT_TRUE(io.Aborting);
    EXPECT_NE(io.LastLoad().Refusal.find("certificate"), std::string::npos) << io.LastLoad().Refusal;

    io.DownloadLimits.TrustStore = Server->CertificateFile();
    io.LoadFromFile(Server->HttpsUrl("/files/red.png"));
    EXPECT_FALSE(io.Aborting) << io.LastLoad().Refusal;
    EXPECT_EQ(view.BitmapWidth(), 8);
}

TEST_F(UrlLoadTest, AddressesThatNameNoServerOrNoFileFailBeforeAnyTraffic) {
    const int port = testsupport::UnusedLoopbackPort();
    io.LoadFromUrl("http://127.0.0.1:" + std::to_string(port) + "/a.png");
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(io.LastLoad().Refusal,
              "could not connect to 127.0.0.1:" + std::to_string(port) + " (connection refused)");
    // Without a "/" after the host the address names nothing to load.
    io.LoadFromUrl("http://127.0.0.1");
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(io.LastLoad().Refusal, "the web address names no file: nothing follows the host");
    EXPECT_EQ(finished, 2);
}

TEST_F(UrlLoadTest, ProxySettingsCarryTheCredentials) {
    io.WebProxy = Server->ProxyAddress();
    io.WebUserName = "user";
    io.WebPassword = "secret";
    io.LoadFromUrl("http://pictures.example.invalid/files/red.png");
    EXPECT_FALSE(io.Aborting) << io.LastLoad().Refusal;
    EXPECT_EQ(view.BitmapWidth(), 8);
    io.WebPassword = "guess";
    io.LoadFromUrl("http://pictures.example.invalid/files/red.png");
    EXPECT_EQ(io.LastLoad().Refusal, "HTTP 407 Proxy Authentication Required");
}

TEST_F(UrlLoadTest, TheStopRequestEndsADownload) {
    int asked = 0;
    io.DownloadContinue = [&] { return ++asked < 2; };
    io.DownloadLimits.StallTimeout = 20s;
    const auto start = std::chrono::steady_clock::now();
    io.LoadFromUrl(Server->StallUrl("/a.png"));
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(io.LastLoad().Refusal, "the download was stopped");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    // The frame loops read a download as a stream: the body comes back whole, from its start.
    io.DownloadContinue = nullptr;
    TMemoryStream body;
    ASSERT_TRUE(io.DownloadUrl(Server->Url("/files/anim.gif"), body));
    EXPECT_EQ(body.Position(), 0);
    EXPECT_EQ(body.Bytes(), testsupport::ReadFileBytes(Root->File("anim.gif")));

    // Servers learn which program asks.
    ASSERT_TRUE(io.DownloadUrl(Server->Url("/echo"), body));
    const std::string request(body.Bytes().begin(), body.Bytes().end());
    EXPECT_NE(request.find("User-Agent: Folianto/"), std::string::npos) << request;
}
