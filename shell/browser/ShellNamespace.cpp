#include "shell/browser/ShellNamespace.h"
#include "platform/ByteOrder.h"

#include <QList>
#include <QString>

#include <glib.h>
#include <sys/stat.h>

#include <array>

namespace {

constexpr std::size_t MaxItemBytes = 0xFFFF - 2;

// Walks the readable items; f(offset of the item's bytes, byte count). Stops at a terminator, a
// count below 2 or a count that runs past the end.
template <typename F> void ForEachItem(const TItemIDList& list, F&& f) {
    std::size_t pos = 0;
    while (pos + 2 <= list.size()) {
        const std::size_t count = ReadLe16(list.data() + pos);
        if (count < 2 || count > list.size() - pos) break;
        if (!f(pos + 2, count - 2)) break;
        pos += count;
    }
}

void AppendItem(TItemIDList& out, const std::uint8_t* bytes, std::size_t n) {
    const std::size_t count = n + 2;
    out.push_back(std::uint8_t(count & 0xFF));
    out.push_back(std::uint8_t(count >> 8));
    out.insert(out.end(), bytes, bytes + n);
}

void Terminate(TItemIDList& out) {
    out.push_back(0);
    out.push_back(0);
}

std::string JoinPath(const std::vector<std::string>& components) {
    if (components.empty()) return "/";
    std::string path;
    for (const std::string& c : components) path += "/" + c;
    return path;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FromGlib(const char* s) {
    return s ? std::string(s) : std::string();
}

std::string UserDir(GUserDirectory which, bool homeFallback) {
    std::string dir = FromGlib(g_get_user_special_dir(which));
    if (IsDirectory(dir)) return dir;
    return homeFallback ? FromGlib(g_get_home_dir()) : std::string();
}

std::string FirstSystemDir(const gchar* const* dirs, const char* sub) {
    for (; dirs && *dirs; ++dirs) {
        std::string dir = std::string(*dirs) + sub;
        if (IsDirectory(dir)) return dir;
    }
    return {};
}

constexpr std::array<int, ShellSpecialFolderCount> kCsidl = {
    0x11, 0x0A, 0x03, 0x00, 0x10, 0x11, 0x14, 0x13, 0x12, 0x05, 0x04, 0x02, 0x08,
    0x09, 0x0B, 0x07, 0x15, 0x06, 0x16, 0x18, 0x19, 0x1A, 0x1B, 0x1F, 0x20, 0x21,
    0x22, 0x17, 0x1D, 0x23, 0x2E, 0x01, 0x1C, 0x27, 0x26, 0x25, 0x2B};

} // namespace

TItemIDList EmptyIDList() {
    return TItemIDList{0, 0};
}

std::optional<TItemIDList> MakeIDListItem(std::string_view component) {
    if (component.empty() || component.size() > MaxItemBytes) return std::nullopt;
    if (component.find('/') != std::string_view::npos || component.find('\0') != std::string_view::npos)
        return std::nullopt;
    TItemIDList out;
    AppendItem(out, reinterpret_cast<const std::uint8_t*>(component.data()), component.size());
    Terminate(out);
    return out;
}

std::size_t IDListSize(const TItemIDList& list) {
    std::size_t size = 2;
    ForEachItem(list, [&](std::size_t, std::size_t n) {
        size += n + 2;
        return true;
    });
    return size;
}

TItemIDList CopyIDList(const TItemIDList& list) {
    return IDListFirstItems(list, IDListItemCount(list));
}

TItemIDList ConcatIDLists(const TItemIDList& first, const TItemIDList& second) {
    TItemIDList out;
    for (const TItemIDList* l : {&first, &second}) {
        ForEachItem(*l, [&](std::size_t at, std::size_t n) {
            AppendItem(out, l->data() + at, n);
            return true;
        });
    }
    Terminate(out);
    return out;
}

int IDListItemCount(const TItemIDList& list) {
    int count = 0;
    ForEachItem(list, [&](std::size_t, std::size_t) {
        ++count;
        return true;
    });
    return count;
}

TItemIDList IDListItem(const TItemIDList& list, int n) {
    TItemIDList out;
    int index = 0;
    ForEachItem(list, [&](std::size_t at, std::size_t bytes) {
        if (index++ != n) return true;
        AppendItem(out, list.data() + at, bytes);
        return false;
    });
    Terminate(out);
    return out;
}

TItemIDList IDListFirstItems(const TItemIDList& list, int n) {
    TItemIDList out;
    int index = 0;
    ForEachItem(list, [&](std::size_t at, std::size_t bytes) {
        if (index++ >= n) return false;
        AppendItem(out, list.data() + at, bytes);
        return true;
    });
    Terminate(out);
    return out;
}

std::vector<std::string> IDListComponents(const TItemIDList& list) {
    std::vector<std::string> out;
    ForEachItem(list, [&](std::size_t at, std::size_t n) {
        out.emplace_back(reinterpret_cast<const char*>(list.data() + at), n);
        return true;
    });
    return out;
}

bool SameIDList(const TItemIDList& a, const TItemIDList& b) {
    return IDListComponents(a) == IDListComponents(b);
}

std::optional<TItemIDList> PathToIDList(const TItemIDList* folder, const std::string& path) {
    if (path.empty()) return EmptyIDList();
    if (path.size() > MaxShellPathLength || path.find('\0') != std::string::npos) return std::nullopt;
    std::vector<std::string> components;
    if (path.front() != '/') {
        if (!folder) return std::nullopt;
        components = IDListComponents(*folder);
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!components.empty()) components.pop_back();
        } else if (!part.empty() && part != ".") {
            if (part.size() > MaxItemBytes) return std::nullopt;
            components.push_back(part);
        }
        start = end + 1;
    }
    const std::string full = JoinPath(components);
    if (full.size() > MaxShellPathLength || !Exists(full)) return std::nullopt;
    TItemIDList out;
    for (const std::string& c : components)
        AppendItem(out, reinterpret_cast<const std::uint8_t*>(c.data()), c.size());
    Terminate(out);
    return out;
}

std::string IDListToPath(const std::optional<TItemIDList>& list) {
    if (!list) return {};
    return JoinPath(IDListComponents(*list));
}

int SpecialFolderCsidl(TShellSpecialFolder folder) {
    return folder < ShellSpecialFolderCount ? kCsidl[folder] : -1;
}

std::string SpecialFolderPath(TShellSpecialFolder folder) {
    const std::string data = FromGlib(g_get_user_data_dir());
    const std::string config = FromGlib(g_get_user_config_dir());
    std::string dir;
    switch (folder) {
    case SF_FILESYSTEMFOLDER:
    case SF_DESKTOP:
    case SF_DRIVES:
        dir = "/";
        break;
    case SF_BITBUCKET:
        dir = data.empty() ? "" : data + "/Trash/files";
        break;
    case SF_DESKTOPDIRECTORY:
        dir = UserDir(G_USER_DIRECTORY_DESKTOP, true);
        break;
    case SF_PERSONAL:
        dir = UserDir(G_USER_DIRECTORY_DOCUMENTS, true);
        break;
    case SF_MYPICTURES:
        dir = UserDir(G_USER_DIRECTORY_PICTURES, true);
        break;
    case SF_TEMPLATES:
        dir = UserDir(G_USER_DIRECTORY_TEMPLATES, false);
        break;
    case SF_COMMON_DOCUMENTS:
        dir = UserDir(G_USER_DIRECTORY_PUBLIC_SHARE, false);
        break;
    case SF_FONTS:
        dir = data.empty() ? "" : data + "/fonts";
        break;
    case SF_PROGRAMS:
        dir = data.empty() ? "" : data + "/applications";
        break;
    case SF_STARTUP:
        dir = config.empty() ? "" : config + "/autostart";
        break;
    case SF_APPDATA:
        dir = config;
        break;
    case SF_LOCAL_APPDATA:
        dir = data;
        break;
    case SF_INTERNET_CACHE:
        dir = FromGlib(g_get_user_cache_dir());
        break;
    case SF_COMMON_PROGRAMS:
        dir = FirstSystemDir(g_get_system_data_dirs(), "/applications");
        break;
    case SF_COMMON_STARTUP:
        dir = FirstSystemDir(g_get_system_config_dirs(), "/autostart");
        break;
    case SF_COMMON_APPDATA:
        dir = FirstSystemDir(g_get_system_config_dirs(), "");
        break;
    case SF_PROGRAM_FILES:
        dir = "/usr/bin";
        break;
    default:
        break; // no equivalent on this desktop
    }
    return IsDirectory(dir) ? dir : std::string();
}

std::optional<TItemIDList> SpecialFolderLocation(TShellSpecialFolder folder) {
    const std::string dir = SpecialFolderPath(folder);
    if (dir.empty()) return std::nullopt;
    return PathToIDList(nullptr, dir);
}

TShellSpecialFolder SpecialFolderIndex(const TItemIDList& list) {
    for (int i = 1; i < ShellSpecialFolderCount; ++i) {
        const auto location = SpecialFolderLocation(TShellSpecialFolder(i));
        if (location && SameIDList(*location, list)) return TShellSpecialFolder(i);
    }
    return SF_FILESYSTEMFOLDER;
}

bool MatchesMask(const std::string& name, const std::string& mask) {
    const auto fold = [](const std::string& s) { return QString::fromUtf8(s).toCaseFolded().toUcs4(); };
    const QList<uint> n = fold(name), m = fold(mask);
    // Greedy with one backtrack point: linear in practice, quadratic at worst, never exponential.
    qsizetype i = 0, j = 0, star = -1, mark = 0;
    while (i < n.size()) {
        if (j < m.size() && m[j] == '*') {
            star = j++;
            mark = i;
        } else if (j < m.size() && (m[j] == '?' || m[j] == n[i])) {
            ++i;
            ++j;
        } else if (star >= 0) {
            j = star + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (j < m.size() && m[j] == '*') ++j;
    return j == m.size();
}
