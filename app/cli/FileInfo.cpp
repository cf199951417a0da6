#include "app/cli/FileInfo.h"

#include "app/cli/FrameNote.h"
#include "imaging/io/FormatDetection.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatIds.h"
#include "imaging/params/FormatTable.h"
#include "platform/Ascii.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/net/HttpTexts.h"
#include "platform/net/WebAddress.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::array<std::string_view, 19> kShortNames = {
    "",    "TIFF", "GIF",        "JPEG",      "PCX",
    "BMP", "ICO",  "CUR",        "PNG",       "WMF",
    "EMF", "TGA",  "PNM",        "JPEG 2000", "JPEG 2000 code stream",
    "AVI", "WBMP", "PostScript", "PDF"};

// Why the file cannot be read at all, or empty when it can be opened. Non-blocking, so that a pipe
// without a writer cannot stall the report.
std::string OpenProblem(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return folder ? std::strerror(EISDIR) : std::string();
}

// Formats that detection by content never names but the converter reads by their extension.
bool ReadOnlyByExtension(int id) {
    return id == ioWMF || id == ioEMF || id == ioWBMP;
}

int FormatOfExtension(const std::string& path) {
    std::string ext = ExtractFileExt(path);
    if (ext.size() < 2) return ioUnknown;
    const TIEFileFormatInfo* f = FindFormatByExtension(ext.substr(1));
    return f ? f->FileType : ioUnknown;
}

void Problem(std::FILE* out, std::FILE* err, const std::string& path, const std::string& text) {
    std::fflush(out); // keep the report in order when both streams are one terminal
    std::fprintf(err, "folianto-convert: %s: %s\n", path.c_str(), text.c_str());
}

void Describe(std::FILE* out, const std::string& path, int id, const TIOParamsVals& p) {
    const std::string description = p.FormatDescription();
    std::fprintf(out, "%s: %s%s%s\n", path.c_str(), FormatShortName(id).c_str(),
                 description.empty() ? "" : " - ", description.c_str());
    std::fprintf(out, "  size %d x %d, resolution %d x %d dpi, %d bits per sample, %d samples per pixel\n",
                 p.ImageWidth, p.ImageHeight, p.HorizontalDpi, p.VerticalDpi, p.BitsPerSample,
                 p.SamplesPerPixel);
    const int frames = id == ioTIFF ? p.TiffFrameCount : id == ioGIF ? p.GifFrameCount : 0;
    if (id == ioTIFF || id == ioGIF) std::fprintf(out, "  frames: %d\n", frames);
    if (IsFirstFrameOnlyExtension(path) && frames > 1)
        std::fprintf(out, "  only the first frame becomes a page; name it .tif for all\n");
}

// An address is downloaded and described by its content, as the converter would read it.
bool DescribeAddress(const std::string& url, std::FILE* out, std::FILE* err) {
    TPictoraIO io;
    TMemoryStream body;
    std::string contentType;
    if (!io.DownloadUrl(url, body, &contentType)) {
        Problem(out, err, url, io.LastLoad().Refusal);
        return false;
    }
    io.ReadParamsFromStream(body);
    if (io.Params().FileFormat == ioUnknown) {
        Problem(out, err, url, NotAnImageText(contentType));
        return false;
    }
    Describe(out, url, io.Params().FileFormat, io.Params());
    return true;
}

bool DescribeFile(const std::string& path, std::FILE* out, std::FILE* err) {
    if (IsWebAddress(path)) return DescribeAddress(path, out, err);
    if (const std::string problem = OpenProblem(path); !problem.empty()) {
        Problem(out, err, path, "cannot open: " + problem);
        return false;
    }
    TPictoraIO io;
    io.ReadParamsFromFile(path);
    if (io.Params().FileFormat != ioUnknown) {
        Describe(out, path, io.Params().FileFormat, io.Params());
        return true;
    }
    const int byName = FormatOfExtension(path);
    if (ReadOnlyByExtension(byName)) {
        // No header-only read exists for these: load the image as the converter would.
        try {
            io.LoadFromFile(path);
        } catch (const std::exception&) {
            io.Aborting = true;
        }
        if (!io.Aborting && io.Params().ImageWidth > 0) {
            io.Params().FileFormat = byName;
            Describe(out, path, byName, io.Params());
            return true;
        }
        Problem(out, err, path,
                std::string("not a ") + FormatShortName(byName) + " file this program can read");
        return false;
    }
    const int byContent = DetectFileFormat(path, false);
    if (byContent != ioUnknown) {
        const TIEFileFormatInfo* f = FindFormatById(byContent);
        const std::string ext = f ? FirstExtension(*f) : std::string();
        std::string fix = "the converter goes by the name";
        if (!ext.empty()) {
            fix += ": rename it to .";
            fix += AsciiLower(ext);
        }
        Problem(out, err, path, FormatShortName(byContent) + " data under another extension (" + fix + ")");
        return false;
    }
    Problem(out, err, path, "not an image this program reads");
    return false;
}
} // namespace

std::string FormatShortName(int formatId) {
    if (formatId <= 0 || formatId >= static_cast<int>(kShortNames.size())) return {};
    return std::string(kShortNames[static_cast<std::size_t>(formatId)]);
}

int DescribeFiles(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err) {
    bool all = true;
    for (const std::string& path : paths)
        if (!DescribeFile(path, out, err)) all = false;
    std::fflush(out);
    return all ? 0 : 1;
}
