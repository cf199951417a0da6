#include "shell/browser/ShellBrowser.h"

#include "platform/Ascii.h"
#include "shell/browser/ShellFileInfo.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <glib.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithTrailingSlash(std::string s) {
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

// The folder's entries in name order, hidden ones included; no list when it cannot be read.
std::optional<std::vector<std::string>> ReadFolder(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TShellBrowser::TShellBrowser(QObject* owner) : QObject(owner) {
    SetFolder("");
}

TShellBrowser::~TShellBrowser() = default;

std::string TShellBrowser::Version() const {
    return "TShellBrowser V3.32";
}

QWidget* TShellBrowser::OwnerWindow() const {
    if (!ShowErrorMessages) return nullptr;
    if (auto* widget = qobject_cast<QWidget*>(parent())) return widget->window();
    return QApplication::activeWindow();
}

// ---- folder

void TShellBrowser::SetFolder(const std::string& value) {
    // The file system is case-sensitive here: only the very same path is "no change".
    if (!value.empty() && WithTrailingSlash(value) == FFolder) return;
    const std::optional<TItemIDList> list =
        value.empty() ? SpecialFolderLocation(SF_DRIVES) : PathToIDList(nullptr, value);
    if (!list) throw EShellBrowserError("Cannot Find Folder: " + value);
    SetFolderIDList(*list);
}

void TShellBrowser::SetFolderIDList(const TItemIDList& list) {
    // Checked before anything changes, so a failure leaves the old folder fully in place.
    const std::string path = IDListToPath(list);
    if (!IsDirectory(path))
        throw EShellBrowserError("ShellBrowser.SetFolderIDList: Desktop.BindToObject: Could not get Folder");
    FWalk.reset();
    FFolderIDList = CopyIDList(list);
    FObject.reset();
    FFolder = WithTrailingSlash(path);
}

bool TShellBrowser::SetSpecialFolder(TShellSpecialFolder folder) {
    try {
        const std::optional<TItemIDList> list = SpecialFolderLocation(folder);
        if (!list) return false;
        SetFolderIDList(*list);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// ---- object

void TShellBrowser::ClearObject() {
    FObject.reset();
}

void TShellBrowser::SetObjectIDList(const TItemIDList& item) {
    FObject = IDListFirstItems(item, 1);
}

void TShellBrowser::SetObjectName(const std::string& value) {
    std::string name = value;
    if (name.empty()) {
        ClearObject();
        return;
    }
    if (name.size() > 1 && name.back() == '/') name.pop_back();
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos) {
        if (name != "." && name != ".." && Exists(FFolder + name)) {
            if (const auto item = MakeIDListItem(name)) {
                SetObjectIDList(*item);
                return;
            }
        }
        FWalk.reset();
        bool found = false;
        while (NextObject()) {
            if (SameTextIgnoringCase(ObjectDisplayName(), name) || SameTextIgnoringCase(ObjectName(), name)) {
                found = true;
                break;
            }
        }
        FWalk.reset();
        if (!found) {
            ClearObject(); // not whatever the walk stopped at
            throw EShellBrowserError("Error! Cannot find Object \"" + name + "\" in Folder \"" + FFolder +
                                     "\"");
        }
        return;
    }
    if (name == "/") {
        // The root is its own object: it has no parent folder to be named in.
        SetFolder("/");
        FObject = EmptyIDList();
        return;
    }
    SetFolder(name.substr(0, slash + 1));
    SetObjectName(name.substr(slash + 1));
}

std::string TShellBrowser::ObjectName() const {
    if (!FObject) return {};
    const std::vector<std::string> parts = IDListComponents(*FObject);
    return parts.empty() ? std::string("/") : parts.front();
}

std::string TShellBrowser::ObjectPath() const {
    if (!FObject) return {};
    if (IDListItemCount(*FObject) == 0) return "/";
    return FFolder + ObjectName();
}

std::string TShellBrowser::ObjectDisplayName() const {
    const std::string name = ObjectName();
    if (name.empty()) return {};
    char* display = g_filename_display_name(name.c_str());
    std::string result = display ? display : "";
    g_free(display);
    return result.empty() ? name : result;
}

std::uint32_t TShellBrowser::ObjectAttributes(std::uint32_t requested) const {
    const std::string path = ObjectPath();
    struct stat own {};
    if (path.empty() || ::lstat(path.c_str(), &own) != 0) return 0;
    std::uint32_t attributes = SFGAO_FILESYSTEM;
    if (IsDirectory(path)) attributes |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR;
    if (S_ISLNK(own.st_mode)) attributes |= SFGAO_LINK;
    if (ObjectName().front() == '.') attributes |= SFGAO_HIDDEN;
    if (::access(path.c_str(), W_OK) != 0) attributes |= SFGAO_READONLY;
    if (path != "/" && ::access(FFolder.c_str(), W_OK) == 0) attributes |= SFGAO_CANRENAME | SFGAO_CANDELETE;
    return attributes & requested;
}

bool TShellBrowser::ObjectIsFolder() const {
    if (!FObject) return false;
    if (!FileSystemOnly) return ObjectAttributes(SFGAO_FOLDER) != 0;
    const std::uint32_t a = ObjectAttributes(SFGAO_FOLDER | SFGAO_FILESYSANCESTOR);
    return (a & SFGAO_FOLDER) && (a & SFGAO_FILESYSANCESTOR);
}

// ---- filter and walk

void TShellBrowser::SetFilter(const std::string& value) {
    std::string text = value.empty() ? "*;" : value;
    if (text.back() != ';') text += ';';
    FMasks.clear();
    std::size_t start = 0;
    for (std::size_t semi = text.find(';'); semi != std::string::npos; semi = text.find(';', start)) {
        FMasks.push_back(text.substr(start, semi - start));
        start = semi + 1;
    }
}

std::string TShellBrowser::Filter() const {
    std::string text;
    for (const std::string& mask : FMasks) text += mask + ";";
    if (!text.empty()) text.pop_back();
    return text;
}

bool TShellBrowser::NameMatchesFilter(const std::string& name) const {
    return std::any_of(FMasks.begin(), FMasks.end(),
                       [&](const std::string& m) { return MatchesMask(name, m); });
}

bool TShellBrowser::ObjectMatchesFilter() const {
    return ObjectIsFolder() || NameMatchesFilter(ObjectName());
}

bool TShellBrowser::NextObject() {
    if (!FWalk) {
        FWalk = ReadFolder(FFolder);
        FWalkPos = 0;
        if (!FWalk) return false;
    }
    const auto fetch = [this]() -> bool {
        while (FWalkPos < FWalk->size()) {
            if (const auto item = MakeIDListItem((*FWalk)[FWalkPos++])) {
                SetObjectIDList(*item);
                return true;
            }
        }
        FWalk.reset();
        return false;
    };
    try {
        while (fetch()) {
            if (FileSystemOnly && ObjectAttributes(SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR) == 0) {
                const std::string head = AsciiUpper(ObjectName().substr(0, 7));
                const TShellSpecialFolder special =
                    SpecialFolderIndex(ConcatIDLists(FFolderIDList, *FObject));
                if (head != "RECYCLE" && special != SF_DRIVES && special != SF_NETWORK) continue;
            }
            if (ObjectMatchesFilter()) return true;
        }
        return false;
    } catch (const std::exception&) {
        return FWalk && fetch();
    }
}

// ---- objects for the menu and the info tip

std::vector<std::string> TShellBrowser::CollectObjectPaths() {
    if (MultiObjects.empty()) {
        const std::string path = ObjectPath();
        return path.empty() ? std::vector<std::string>{} : std::vector<std::string>{path};
    }
    // Names with a folder part move the browser; both folder and object come back afterwards, and the
    // list is emptied even when a name cannot be found.
    const std::vector<std::string> names = std::move(MultiObjects);
    MultiObjects.clear();
    const TItemIDList folder = FFolderIDList;
    const std::optional<TItemIDList> object = FObject;
    const auto restore = [&] {
        if (!SameIDList(folder, FFolderIDList)) {
            try {
                SetFolderIDList(folder);
            } catch (const std::exception&) {
                return; // the old folder is gone: stay where the names led
            }
        }
        FObject = object;
    };
    std::vector<std::string> paths;
    try {
        for (const std::string& name : names) {
            if (name.find('/') == std::string::npos && name != "." && name != ".." &&
                Exists(FFolder + name)) {
                paths.push_back(FFolder + name);
            } else {
                SetObjectName(name);
                paths.push_back(ObjectPath());
            }
        }
    } catch (...) {
        restore();
        throw;
    }
    restore();
    return paths;
}

// ---- info tip and thumbnail

std::string TShellBrowser::ObjectInfoTip() {
    const std::vector<std::string> paths = CollectObjectPaths();
    return paths.empty() ? std::string() : FileInfoTip(paths.front());
}

QImage TShellBrowser::ExtractThumbnail(int width, int height) {
    return FileThumbnail(ObjectPath(), width, height);
}

bool TShellBrowser::AssignThumbnail(QLabel* image) {
    if (!image) return false;
    const QImage thumbnail = ExtractThumbnail(image->width(), image->height());
    if (thumbnail.isNull()) return false;
    image->setPixmap(QPixmap::fromImage(thumbnail));
    return true;
}
