// Web addresses in the window: what a browser's drop carries, and previews made off the GUI thread.
#include "app/window/WebPreview.h"
#include "app/window/WebDrop.h"
#include "testsupport/HttpTestServer.h"
#include "testsupport/TestSupport.h"

#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using namespace std::chrono_literals;

namespace {
QByteArray Utf16(const QString& text) {
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}
} // namespace

TEST(WebDrop, BrowserFormatsGiveHttpAddressesOnceAndLocalFilesInOrder) {
    QMimeData mime;
    // Address and title lines, UTF-16 with a byte order mark, as a browser writes them.
    mime.setData("text/x-moz-url",
                 Utf16(QStringLiteral("\uFEFFhttps://a.example/pics/My Photo.png\nMy photo\n"
                                      "http://b.example/anim.gif?x=1\nAnimation")));
    mime.setUrls({QUrl("http://b.example/anim.gif?x=1"), QUrl::fromLocalFile("/tmp/local.png"),
                  QUrl("ftp://c.example/x.png"), QUrl("http://c.example"), QUrl("https://d.example/e.jpg")});
    EXPECT_EQ(DroppedEntries(mime),
              (QStringList{"https://a.example/pics/My%20Photo.png", "http://b.example/anim.gif?x=1",
                           "/tmp/local.png", "https://d.example/e.jpg"}));

    QMimeData plain; // some send the moz type in UTF-8; no other type
    plain.setData("text/x-moz-url", QByteArray("http://f.example/g.tif\ntitle"));
    EXPECT_EQ(DroppedEntries(plain), QStringList{"http://f.example/g.tif"});

    QMimeData files; // a file manager's drop: every file, a repeated one too
    files.setUrls({QUrl::fromLocalFile("/tmp/b.png"), QUrl::fromLocalFile("/tmp/a.png"),
                   QUrl::fromLocalFile("/tmp/b.png")});
    EXPECT_EQ(DroppedEntries(files), (QStringList{"/tmp/b.png", "/tmp/a.png", "/tmp/b.png"}));

    QMimeData others; // schemes the loader cannot fetch, and addresses it refuses
    others.setUrls({QUrl("ftp://c.example/x.png"), QUrl("data:image/png;base64,AAAA"),
                    QUrl("http://user@h.example/a.png"), QUrl("http://h.example")});
    EXPECT_TRUE(DroppedEntries(others).isEmpty());
}

namespace {
class WebPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HttpAvailable()) GTEST_SKIP() << "this build has no HTTP client";
        testsupport::RgbImage image;
        image.Width = 80;
        image.Height = 40;
        image.Pixels.assign(80 * 40 * 3, 90);
        ASSERT_TRUE(testsupport::WritePpm(dir.File("wide.ppm"), image));
        server = std::make_unique<testsupport::THttpTestServer>(dir.Path());
        ASSERT_TRUE(server->Running()) << server->Error();
    }
    TWebPreview::TDone Record() {
        return [this](const std::string& url, const QImage& image, const std::string& failure) {
            results.push_back({url, image, failure});
        };
    }
    testsupport::TempDir dir;
    std::unique_ptr<testsupport::THttpTestServer> server;
    struct Result {
        std::string Url;
        QImage Image;
        std::string Failure;
    };
    std::vector<Result> results;
};
} // namespace

TEST_F(WebPreviewTest, PictureArrivesScaledOrNothingForAFailure) {
    TWebPreview preview(Record());
    const std::string good = server->Url("/files/wide.ppm");
    preview.Request(good, 40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !results.empty(); }, 10000));
    EXPECT_EQ(results[0].Url, good);
    EXPECT_EQ(results[0].Image.size(), QSize(40, 20));

    preview.Request(server->Url("/status/404"), 40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return results.size() == 2; }, 10000));
    EXPECT_TRUE(results[1].Image.isNull());
    EXPECT_EQ(results[1].Failure, "HTTP 404 Not Found");
    EXPECT_TRUE(results[0].Failure.empty());

    // Back to the first entry: no second download, the answer comes at once.
    preview.Request(good, 40);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[2].Image.size(), QSize(40, 20));

    preview.Request(server->Url("/html"), 40); // a web page is no picture
    ASSERT_TRUE(QTest::qWaitFor([&] { return results.size() == 4; }, 10000));
    EXPECT_TRUE(results[3].Image.isNull());
    EXPECT_FALSE(results[3].Failure.empty());
}

TEST_F(WebPreviewTest, ANewRequestReplacesOneThatWaitsAndClosingDoesNotWait) {
    const auto start = std::chrono::steady_clock::now();
    {
        TWebPreview preview(Record());
        preview.Request(server->StallUrl("/late.png"), 40);
        QTest::qWait(200);
        preview.Request(server->Url("/files/wide.ppm"), 40);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !results.empty(); }, 10000));
        QTest::qWait(300); // nothing more may come from the abandoned download
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].Url, server->Url("/files/wide.ppm"));
        preview.Request(server->StallUrl("/late.png"), 40); // still waiting when the window goes
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(results.size(), 1u);
}
