#include "app/cli/FrameNote.h"

#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatIds.h"
#include "platform/Ascii.h"
#include "platform/FileSystem.h"
#include "platform/net/WebAddress.h"

#include <array>
#include <string_view>

namespace {
constexpr std::array<std::string_view, 3> kFirstFrameOnly = {".fax", ".g3n", ".g3f"};
}

bool IsFirstFrameOnlyExtension(const std::string& path) {
    const std::string ext = AsciiLower(ExtractFileExt(IsWebAddress(path) ? WebAddressPath(path) : path));
    for (std::string_view e : kFirstFrameOnly)
        if (ext == e) return true;
    return false;
}

std::string FirstFrameOnlyNote(const std::string& path, int frames) {
    if (frames < 2) return {};
    return path + ": " + std::to_string(frames) +
           " frames, only the first becomes a page; name it .tif for all";
}

std::string FirstFrameOnlyNote(const std::string& path) {
    // For an address the frame count would cost a download of its own before the real one.
    if (IsWebAddress(path) || !IsFirstFrameOnlyExtension(path)) return {};
    TPictoraIO io;
    io.ReadParamsFromFile(path); // header and frame count only; never raises
    if (io.Params().FileFormat != ioTIFF) return {};
    return FirstFrameOnlyNote(path, io.Params().TiffFrameCount);
}
