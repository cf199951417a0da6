#pragma once
// A web server on the loopback interface for the download tests (http_test_server.py beside this
// file, run by Debian's python3). It serves the files of one folder and the failure cases the script
// lists; with https it also serves over TLS with a certificate for 127.0.0.1 made when it starts.
#include <string>
#include <sys/types.h>

namespace testsupport {

class THttpTestServer {
public:
    explicit THttpTestServer(const std::string& root, bool https = false);
    ~THttpTestServer();
    THttpTestServer(const THttpTestServer&) = delete;
    THttpTestServer& operator=(const THttpTestServer&) = delete;

    // False when the server did not start; Error() says why.
    bool Running() const { return HttpPort > 0; }
    const std::string& Error() const { return Failure; }

    // http://127.0.0.1:port + path ("/files/a.png").
    std::string Url(const std::string& path) const;
    std::string HttpsUrl(const std::string& path) const;
    // A server that accepts connections and never answers.
    std::string StallUrl(const std::string& path) const;
    // "127.0.0.1:port" of the plain server, as a proxy setting names it.
    std::string ProxyAddress() const;
    // The certificate the https server shows, to be trusted by the client under test.
    const std::string& CertificateFile() const { return Certificate; }

private:
    bool MakeCertificate(const std::string& folder);

    std::string Folder; // scratch folder for the certificate
    std::string Certificate;
    std::string Failure;
    pid_t Child = -1;
    int ChildInput = -1; // its standard input: closing it ends the server
    int HttpPort = 0, HttpsPort = 0, StallPort = 0;
};

// A loopback port nothing listens on (bound and released at once).
int UnusedLoopbackPort();

} // namespace testsupport
