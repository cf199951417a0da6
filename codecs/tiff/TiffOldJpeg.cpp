#include "codecs/tiff/TiffOldJpeg.h"

#include "imaging/params/ReadFailures.h"

#include <algorithm>
#include <array>

namespace tiff {

namespace {

// How far from JPEGInterchangeFormat a start-of-image marker is looked for: some writers point a few
// bytes past it or at padding before it.
constexpr std::int64_t kLookAhead = 100, kLookBack = 16;

bool IsSoi(const std::uint8_t* p) {
    return p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF;
}

// The start-of-image marker nearest to offset, after it first, then before it; -1 when none is near.
std::int64_t FindSoiNear(TTiffSource& src, std::int64_t offset) {
    const std::int64_t from = std::max<std::int64_t>(0, offset - kLookBack);
    const std::int64_t count = std::min(src.AvailableAt(from), offset - from + kLookAhead);
    if (count < 3) return -1;
    std::array<std::uint8_t, kLookBack + kLookAhead> window{};
    if (!src.ReadAt(from, window.data(), count)) return -1;
    for (std::int64_t at = offset; at + 3 <= from + count; ++at)
        if (IsSoi(window.data() + (at - from))) return at;
    for (std::int64_t at = std::min(offset, from + count - 3) - 1; at >= from; --at)
        if (IsSoi(window.data() + (at - from))) return at;
    return -1;
}

// The bytes from start to end (both within the file).
std::vector<std::uint8_t> ReadSpan(TTiffSource& src, std::int64_t start, std::int64_t end) {
    std::vector<std::uint8_t> data(std::size_t(std::max<std::int64_t>(0, end - start)));
    if (!data.empty() && !src.ReadAt(start, data.data(), std::int64_t(data.size()))) data.clear();
    return data;
}

} // namespace

TOldJpegStream FindOldJpegStream(TTiffSource& src, const TImageInfo& info) {
    TOldJpegStream out;
    const std::int64_t fileEnd = src.AvailableAt(0);
    if (info.JpegOffset > 0) {
        const std::int64_t start = FindSoiNear(src, info.JpegOffset);
        if (start >= 0) {
            // A stated length past the file is cut to the file; without one the stream runs to its end.
            const std::int64_t end = info.JpegLength > 0 ? start + std::int64_t(info.JpegLength) : fileEnd;
            out.Data = ReadSpan(src, start, std::min(end, fileEnd));
            if (!out.Data.empty()) return out;
        }
    }
    // No usable JPEGInterchangeFormat: strips that open with a start-of-image marker are the stream,
    // cut into pieces.
    if (!info.Offsets.empty() && info.Offsets.size() == info.ByteCounts.size()) {
        const std::int64_t first = FindSoiNear(src, info.Offsets[0]);
        if (first >= 0) {
            for (std::size_t i = 0; i < info.Offsets.size(); ++i) {
                const std::int64_t at = i == 0 ? first : std::int64_t(info.Offsets[i]);
                const std::int64_t stated = std::int64_t(info.Offsets[i]) + std::int64_t(info.ByteCounts[i]);
                const std::int64_t end = std::min(stated, fileEnd);
                // One stream is never longer than the file: strips that repeat its bytes stop here.
                if (end > at && std::int64_t(out.Data.size()) + (end - at) > fileEnd) break;
                const std::vector<std::uint8_t> piece = ReadSpan(src, at, end);
                out.Data.insert(out.Data.end(), piece.begin(), piece.end());
            }
            if (!out.Data.empty()) return out;
        }
        out.Refusal = "unsupported: old-style JPEG without an interchange stream";
        return out;
    }
    out.Refusal = std::string(reasons::kNoRowData);
    return out;
}

} // namespace tiff
