#include "app/cli/FolderOpener.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
constexpr char kOpener[] = "xdg-open";

std::string Absolute(const std::string& folder) {
    if (!folder.empty() && folder.front() == '/') return folder;
    std::vector<char> cwd(4096);
    while (!::getcwd(cwd.data(), cwd.size())) {
        if (errno != ERANGE) return folder;
        cwd.resize(cwd.size() * 2);
    }
    std::string base = cwd.data();
    if (base.back() != '/') base += '/';
    return folder == "." || folder == "./" ? base : base + folder;
}

// posix_spawn objects, destroyed on every path.
struct TSpawnSetup {
    posix_spawn_file_actions_t Actions;
    TSpawnSetup() { posix_spawn_file_actions_init(&Actions); }
    ~TSpawnSetup() { posix_spawn_file_actions_destroy(&Actions); }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;
};
} // namespace

bool OpenFolder(const std::string& folder, std::string& error) {
    std::string path = Absolute(folder);
    std::string program = kOpener;
    std::vector<char*> argv = {program.data(), path.data(), nullptr};
    TSpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.Actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.Actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&setup.Actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, kOpener, &setup.Actions, nullptr, argv.data(), environ);
    if (rc != 0) {
        error = std::string("cannot start ") + kOpener + ": " + std::strerror(rc);
        return false;
    }
    return true;
}
