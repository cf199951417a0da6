#include "platform/net/WebAddress.h"
#include "platform/net/HttpTexts.h"

#include <gtest/gtest.h>

namespace {
struct ParseCase {
    const char* Name;
    const char* Text;
    bool Valid;
    TWebScheme Scheme;
    const char* Host;
    int Port;
    const char* Path; // or, for an invalid address, a word of the reason
};

const ParseCase kParseCases[] = {
    {"PlainHttp", "http://example.com/a/b.png", true, TWebScheme::Http, "example.com", 80, "/a/b.png"},
    {"SchemeInAnyCase", "HTTP://Example.com:8080/x", true, TWebScheme::Http, "Example.com", 8080, "/x"},
    {"PortNotANumber", "http://host:abc/x", true, TWebScheme::Http, "host", 80, "/x"},
    {"EmptyPort", "http://host:/x", true, TWebScheme::Http, "host", 80, "/x"},
    {"PortOutOfRange", "http://host:70000/x", true, TWebScheme::Http, "host", 80, "/x"},
    {"HttpsDefaultPort", "https://host/x", true, TWebScheme::Https, "host", 443, "/x"},
    {"QueryKeptFragmentDropped", "https://host:8443/x?y=1#top", true, TWebScheme::Https, "host", 8443,
     "/x?y=1"},
    {"Ipv6WithPort", "http://[::1]:8080/x", true, TWebScheme::Http, "::1", 8080, "/x"},
    {"Ipv6WithoutPort", "http://[::1]/x", true, TWebScheme::Http, "::1", 80, "/x"},
    {"NoPathAfterHost", "http://host", false, TWebScheme::Http, "", 0, "names no file"},
    {"UserNameRefused", "http://user:pw@host/x", false, TWebScheme::Http, "", 0, "user name"},
    {"EmptyHost", "http:///x", false, TWebScheme::Http, "", 0, "host name"},
    {"BlankInHost", "http://ho st/x", false, TWebScheme::Http, "", 0, "host name"},
    {"UnclosedIpv6", "http://[::1/x", false, TWebScheme::Http, "", 0, "host name"},
    {"QueryBeforePath", "http://host?x=/y", false, TWebScheme::Http, "", 0, "host name"},
    {"OtherScheme", "ftp://host/x", false, TWebScheme::Http, "", 0, "not a web address"},
};

class ParseWebAddressTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseWebAddressTest, SplitsOrSaysWhy) {
    const ParseCase& c = GetParam();
    std::string reason;
    const auto a = ParseWebAddress(c.Text, reason);
    ASSERT_EQ(a.has_value(), c.Valid) << reason;
    if (!c.Valid) {
        EXPECT_NE(reason.find(c.Path), std::string::npos) << reason;
        return;
    }
    EXPECT_EQ(a->Scheme, c.Scheme);
    EXPECT_EQ(a->Host, c.Host);
    EXPECT_EQ(a->Port, c.Port);
    EXPECT_EQ(a->Path, c.Path);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseWebAddressTest, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.Name); });
} // namespace

TEST(ComposeWebAddress, EscapesWhatCannotStandAndKeepsEscapes) {
    EXPECT_EQ(ComposeWebAddress({TWebScheme::Http, "h", 80, "/a b/\xC3\xBC.png"}),
              "http://h/a%20b/%C3%BC.png");
    EXPECT_EQ(ComposeWebAddress({TWebScheme::Http, "h", 80, "/%41%zz/100%"}), "http://h/%41%25zz/100%25");
    EXPECT_EQ(ComposeWebAddress({TWebScheme::Http, "h", 80, "/a\"<>{}|\\^`"}),
              "http://h/a%22%3C%3E%7B%7D%7C%5C%5E%60");
    EXPECT_EQ(ComposeWebAddress({TWebScheme::Http, "h", 8080, "/x?q=1"}), "http://h:8080/x?q=1");
    EXPECT_EQ(ComposeWebAddress({TWebScheme::Https, "::1", 8443, "/x"}), "https://[::1]:8443/x");
    EXPECT_EQ(ComposeWebAddress({TWebScheme::Https, "h", 443, "/x"}), "https://h/x");
    EXPECT_EQ(HostAndPort({TWebScheme::Http, "::1", 8080, "/"}), "[::1]:8080");
    EXPECT_EQ(HostAndPort({TWebScheme::Https, "h", 443, "/"}), "h:443");
}

TEST(WebAddressParts, RecognitionPathAndDisplayName) {
    EXPECT_TRUE(IsWebAddress("HTTPS://x/"));
    EXPECT_TRUE(IsWebAddress("http://x"));
    EXPECT_FALSE(IsWebAddress("http:/x"));
    EXPECT_FALSE(IsWebAddress("/home/me/http://x"));

    // The extension rule reads the path alone: a query or fragment must not hide ".gif".
    EXPECT_EQ(WebAddressPath("http://h/a/b.GIF?x=1.png#y.jpg"), "/a/b.GIF");
    EXPECT_EQ(WebAddressPath("http://h.example/#x"), "/");
    EXPECT_EQ(WebAddressPath("http://h.gif"), "");
    EXPECT_EQ(WebAddressPath("/local/a.gif"), "");

    EXPECT_EQ(WebAddressDisplayName("http://h/dir/My%20Photo.jpg?s=1"), "My Photo.jpg");
    EXPECT_EQ(WebAddressDisplayName("https://h:8080/dir/"), "h:8080");
    EXPECT_EQ(WebAddressDisplayName("http://h/a%0Ab%2"), "a%0Ab%2"); // no control character, no half escape
}

TEST(HttpTexts, SizesDurationsAndServerText) {
    EXPECT_EQ(ByteCountText(std::int64_t(256) << 20), "256 MiB");
    EXPECT_EQ(ByteCountText(std::int64_t(2) << 30), "2 GiB");
    EXPECT_EQ(ByteCountText(2048), "2 KiB");
    EXPECT_EQ(ByteCountText(1536), "1536 bytes");
    EXPECT_EQ(ByteCountText(1), "1 byte");
    EXPECT_EQ(SecondsText(std::chrono::milliseconds(30000)), "30 s");
    EXPECT_EQ(SecondsText(std::chrono::milliseconds(1500)), "1.5 s");
    EXPECT_EQ(HttpStatusText(404, "Not Found"), "HTTP 404 Not Found");
    EXPECT_EQ(HttpStatusText(502, ""), "HTTP 502");
    // A server's words reach a terminal or a dialog: no escape sequences, no endless lines.
    EXPECT_EQ(HttpStatusText(500, "\x1b[31mBad\r"), "HTTP 500 ?[31mBad?");
    EXPECT_EQ(PrintableText("  " + std::string(500, 'x') + "  ", 60), std::string(60, 'x'));
}
