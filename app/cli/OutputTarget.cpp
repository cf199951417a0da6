#include "app/cli/OutputTarget.h"

#include "platform/Ascii.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr char kPdfExtension[] = ".pdf";
constexpr std::size_t kPdfExtensionLength = sizeof kPdfExtension - 1;

bool EndsWithPdf(const std::string& name) {
    return name.size() >= kPdfExtensionLength &&
           EqualsIgnoringAsciiCase(std::string_view(name).substr(name.size() - kPdfExtensionLength),
                                   kPdfExtension);
}

// Any entry at all, a dangling symbolic link included: none may be replaced without --force.
bool EntryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TOutputEntry EntryAt(const std::string& path) {
    if (DirectoryExists(path)) return TOutputEntry::Folder;
    return EntryExists(path) ? TOutputEntry::Other : TOutputEntry::None;
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool CopyToStandardOutput(const std::string& path, std::string& error) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = std::string("cannot read the finished document: ") + std::strerror(errno);
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::string("cannot read the finished document: ") + std::strerror(errno);
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n && ok;) {
            const ssize_t w =
                ::write(STDOUT_FILENO, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                error = std::string("cannot write to standard output: ") + std::strerror(errno);
                ok = false;
            } else {
                done += w;
            }
        }
        if (!ok) break;
    }
    ::close(in);
    return ok;
}
} // namespace

TOutputAction DecideOutput(TOutputEntry entry, bool force) {
    switch (entry) {
    case TOutputEntry::Folder:
        return TOutputAction::RefuseFolder;
    case TOutputEntry::Other:
        return force ? TOutputAction::Replace : TOutputAction::RefuseExisting;
    case TOutputEntry::None:
        break;
    }
    // With --force a file that appears during the run is replaced as well.
    return force ? TOutputAction::Replace : TOutputAction::Create;
}

std::string OutputFileFor(const std::string& output) {
    return EndsWithPdf(ExtractFileName(output)) ? output : output + kPdfExtension;
}

TOutputTarget::~TOutputTarget() {
    if (!Delivered) Discard();
}

std::string TOutputTarget::WorkPath() const {
    return Folder + Name + kPdfExtension;
}

std::string TOutputTarget::DisplayName() const {
    return Stdout ? "standard output" : Final;
}

bool TOutputTarget::Plan(const std::string& output, bool force, std::string& error) {
    if (output == "-") {
        if (::isatty(STDOUT_FILENO)) {
            error = "standard output is a terminal (redirect it, as in > out.pdf, or name a file with -o)";
            return false;
        }
        std::string templ = SystemTempFolder() + "/folianto-convert-XXXXXX";
        if (!::mkdtemp(templ.data())) {
            error = "cannot create a temporary folder in " + SystemTempFolder() + ": " + std::strerror(errno);
            return false;
        }
        Stdout = true;
        TempFolder = templ;
        Folder = templ + "/";
        Name = "document";
        return true;
    }
    if (output.back() == '/' || DirectoryExists(output)) {
        const std::string folder = WithoutTrailingSlash(output);
        error = "output is a folder: " + folder + " (name a file, as in " +
                IncludeTrailingPathDelimiter(folder) + "document.pdf)";
        return false;
    }
    Final = OutputFileFor(output);
    const std::string name = ExtractFileName(Final);
    const std::string folder = ExtractFilePath(Final);
    Folder = folder.empty() ? "./" : folder;
    if (!DirectoryExists(Folder)) {
        error = "no such folder: " + WithoutTrailingSlash(folder) + " (create it first, or choose another)";
        return false;
    }
    switch (DecideOutput(EntryAt(Final), force)) {
    case TOutputAction::RefuseFolder:
        error = "output is a folder: " + Final + " (choose another name)";
        return false;
    case TOutputAction::RefuseExisting:
        error = "output exists: " + Final + " (use --force to replace it)";
        return false;
    case TOutputAction::Replace:
        Replace = true;
        break;
    case TOutputAction::Create:
        Replace = false;
        break;
    }
    Name = "." + name + ".partial-" + std::to_string(::getpid());
    return true;
}

bool TOutputTarget::Deliver(std::string& error) {
    const std::string work = WorkPath();
    bool ok = true;
    if (Stdout) {
        ok = CopyToStandardOutput(work, error);
    } else if (Replace) {
        if (std::rename(work.c_str(), Final.c_str()) != 0) {
            error = "cannot replace " + Final + ": " + std::strerror(errno);
            ok = false;
        }
    } else if (::link(work.c_str(), Final.c_str()) != 0) {
        // A new link never replaces a file that appeared during the run. File systems without hard
        // links get a plain rename after one more look.
        const int reason = errno;
        if (reason == EEXIST || EntryExists(Final)) {
            error = "output exists: " + Final + " (it appeared during the run; use --force to replace it)";
            ok = false;
        } else if (std::rename(work.c_str(), Final.c_str()) != 0) {
            error = "cannot write " + Final + ": " + std::strerror(errno);
            ok = false;
        }
    }
    Discard();
    Delivered = ok;
    return ok;
}

void TOutputTarget::Discard() {
    if (Name.empty()) return;
    ::unlink(WorkPath().c_str());
    if (!TempFolder.empty()) ::rmdir(TempFolder.c_str());
}
