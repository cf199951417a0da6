#include "testsupport/HttpTestServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport {
namespace {
constexpr int kStartMilliseconds = 15000;

// Runs a program with its output discarded; its exit status, or -1.
int RunQuietly(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The number after "name=" in the server's first line, 0 when absent.
int PortIn(const std::string& line, const std::string& name) {
    const std::size_t at = line.find(name + "=");
    return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + name.size() + 1);
}

// One line from fd within the start-up time; empty when none came.
std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kStartMilliseconds) <= 0) return {};
        if (read(fd, &c, 1) != 1 || c == '\n') return line;
        line += c;
    }
}
} // namespace

THttpTestServer::THttpTestServer(const std::string& root, bool https) {
    Folder =
        std::filesystem::temp_directory_path() / ("folianto-http-" + std::to_string(getpid()) + "-" +
                                                  std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(Folder);
    std::vector<std::string> args = {"/usr/bin/python3", FOLIANTO_HTTP_TEST_SERVER, "--root", root};
    if (https) {
        if (!MakeCertificate(Folder)) return;
        args.insert(args.end(), {"--cert", Certificate, "--key", Folder + "/key.pem"});
    }
    // Close-on-exec, so no other test process keeps the server's input open.
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return;
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    const int rc = posix_spawn(&Child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    ChildInput = input[1];
    if (rc != 0) {
        Child = -1;
        close(output[0]);
        Failure = "cannot start /usr/bin/python3: " + std::string(std::strerror(rc));
        return;
    }
    const std::string line = ReadLine(output[0]);
    close(output[0]);
    HttpPort = PortIn(line, "http");
    HttpsPort = PortIn(line, "https");
    StallPort = PortIn(line, "stall");
    if (!Running()) Failure = "the test server did not start (it said \"" + line + "\")";
}

THttpTestServer::~THttpTestServer() {
    if (ChildInput >= 0) close(ChildInput);
    if (Child > 0) {
        kill(Child, SIGTERM);
        int status = 0;
        while (waitpid(Child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(Folder, ec);
}

bool THttpTestServer::MakeCertificate(const std::string& folder) {
    Certificate = folder + "/cert.pem";
    const int rc = RunQuietly({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                               "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", folder + "/key.pem",
                               "-out", Certificate, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                               "subjectAltName=IP:127.0.0.1,DNS:localhost"});
    if (rc != 0) Failure = "openssl could not make a certificate";
    return rc == 0;
}

std::string THttpTestServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(HttpPort) + path;
}

std::string THttpTestServer::HttpsUrl(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(HttpsPort) + path;
}

std::string THttpTestServer::StallUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(StallPort) + path;
}

std::string THttpTestServer::ProxyAddress() const {
    return "127.0.0.1:" + std::to_string(HttpPort);
}

int UnusedLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

} // namespace testsupport
