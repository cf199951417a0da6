#include "app/cli/InputList.h"

#include "app/cli/NaturalOrder.h"
#include "imaging/params/FormatTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace {
bool ReadAll(std::istream& in, std::string& data) {
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool ReadListFile(const std::string& list, bool nulSeparated, std::istream& standardInput,
                  std::vector<std::string>& paths, std::string& error) {
    std::string data;
    if (list == "-") {
        if (!ReadAll(standardInput, data)) {
            error = "cannot read the list from standard input";
            return false;
        }
    } else {
        std::ifstream in(list, std::ios::binary);
        std::error_code ec;
        if (!in || fs::is_directory(list, ec)) {
            error = "cannot read list file " + list + ": " +
                    (fs::is_directory(list, ec) ? std::string(std::strerror(EISDIR)) : std::strerror(errno));
            return false;
        }
        if (!ReadAll(in, data)) {
            error = "cannot read list file " + list + ": " + std::strerror(errno);
            return false;
        }
    }
    const std::vector<std::string> entries = SplitPathList(data, nulSeparated);
    paths.insert(paths.end(), entries.begin(), entries.end());
    return true;
}

// Adds one path as the user named it: a file as it is (a missing one is reported by the run), a
// folder's images with --recursive.
bool AddPath(const std::string& path, bool recursive, std::vector<std::string>& paths, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
        paths.push_back(path);
        return true;
    }
    if (!recursive) {
        error = path + " is a folder (use --recursive to convert the images in it)";
        return false;
    }
    std::vector<std::string> images;
    if (!ImagesInFolder(path, images, error)) return false;
    if (images.empty()) {
        error = "no images in folder " + path;
        return false;
    }
    paths.insert(paths.end(), images.begin(), images.end());
    return true;
}
} // namespace

std::vector<std::string> SplitPathList(const std::string& data, bool nulSeparated) {
    const char end = nulSeparated ? '\0' : '\n';
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t stop = data.find(end, start);
        if (stop == std::string::npos) stop = data.size();
        if (stop > start) out.push_back(data.substr(start, stop - start));
        start = stop + 1;
    }
    return out;
}

bool HasImageExtension(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return false;
    const TIEFileFormatInfo* format = FindFormatByExtension(name.substr(dot + 1));
    // Formats the table lists for writing only (PostScript, PDF) carry no read function.
    return format && format->ReadFunction;
}

bool ImagesInFolder(const std::string& folder, std::vector<std::string>& images, std::string& error) {
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec) {
        error = "cannot read folder " + folder + ": " + ec.message();
        return false;
    }
    std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
        return NaturalCompare(a.path().filename().string(), b.path().filename().string()) < 0;
    });
    for (const fs::directory_entry& e : entries) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code kind;
        if (e.is_directory(kind)) {
            // A link back up the tree would never end.
            if (e.is_symlink(kind)) continue;
            if (!ImagesInFolder(e.path().string(), images, error)) return false;
        } else if (HasImageExtension(name)) {
            images.push_back(e.path().string());
        }
    }
    return true;
}

bool BuildInputList(const TCliOptions& o, std::istream& standardInput, std::vector<std::string>& paths,
                    std::string& error) {
    std::vector<std::string> named = o.Files;
    for (const std::string& list : o.ListFiles)
        if (!ReadListFile(list, o.NullSeparated, standardInput, named, error)) return false;
    paths.clear();
    for (const std::string& path : named)
        if (!AddPath(path, o.Recursive, paths, error)) return false;
    if (o.Order == TInputOrder::Natural) std::stable_sort(paths.begin(), paths.end(), TNaturalLess{});
    if (o.Order == TInputOrder::Name) std::stable_sort(paths.begin(), paths.end());
    if (paths.empty()) {
        error = "no input files (the lists named with --from-file are empty)";
        return false;
    }
    return true;
}
