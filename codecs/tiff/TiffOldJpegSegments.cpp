#include "codecs/tiff/TiffOldJpegSegments.h"

#include "platform/ByteOrder.h"

#include <algorithm>

namespace tiff {

using namespace jpegmark;

namespace {

// A frame segment: marker (2), length (2), precision (1), height (2), width (2), component count (1),
// then three bytes per component.
constexpr std::size_t kFrameHeightAt = 5, kFrameWidthAt = 7, kFrameCountAt = 9, kFrameComponentsAt = 10;

bool IsRestart(std::uint8_t m) {
    return m >= kRst0 && m <= kRst7;
}

bool IsFrame(std::uint8_t m) {
    return m >= kSof0 && m <= kSofLast && m != kDht && m != kJpg && m != kDac;
}

void PutWord(std::vector<std::uint8_t>& out, std::size_t value) {
    out.push_back(std::uint8_t(value >> 8));
    out.push_back(std::uint8_t(value));
}

void PutMarker(std::vector<std::uint8_t>& out, std::uint8_t marker) {
    out.push_back(kPrefix);
    out.push_back(marker);
}

// The largest sampling factor of the frame's components: the high nibble (across) or low one (down).
int LargestFactor(const std::vector<std::uint8_t>& frame, bool across) {
    if (frame.size() < kFrameComponentsAt) return 1;
    int largest = 1;
    const std::size_t count = frame[kFrameCountAt];
    for (std::size_t i = 0; i < count && kFrameComponentsAt + 3 * i + 2 < frame.size(); ++i) {
        const std::uint8_t f = frame[kFrameComponentsAt + 3 * i + 1];
        largest = std::max(largest, across ? f >> 4 : f & 0x0F);
    }
    return largest;
}

} // namespace

int TOldJpegHeader::McuWidth() const {
    return LargestFactor(Frame, true);
}

int TOldJpegHeader::McuHeight() const {
    return LargestFactor(Frame, false);
}

bool StartsWithSegment(std::span<const std::uint8_t> data) {
    return data.size() >= 2 && data[0] == kPrefix && data[1] != kStuffed && !IsRestart(data[1]);
}

TSegmentWalk ReadSegments(std::span<const std::uint8_t> data, TOldJpegHeader& header) {
    TSegmentWalk walk;
    std::size_t at = 0;
    while (at + 1 < data.size()) {
        if (data[at] != kPrefix) break;
        const std::uint8_t m = data[at + 1];
        if (m == kPrefix) { // fill byte before a marker
            ++at;
            continue;
        }
        if (m == kSoi || IsRestart(m)) {
            at += 2;
            continue;
        }
        if (m == kStuffed || m == kEoi || at + 4 > data.size()) break;
        const std::size_t length = ReadBe16(&data[at + 2]);
        if (length < 2 || at + 2 + length > data.size()) break;
        const auto segment = data.subspan(at, 2 + length);
        at += 2 + length;
        if (IsFrame(m)) {
            header.Frame.assign(segment.begin(), segment.end());
        } else if (m == kDri) {
            if (length >= 4) header.RestartInterval = ReadBe16(&segment[4]);
        } else if (m == kSos) {
            header.Scan.assign(segment.begin(), segment.end());
            walk.SawScan = true;
            break;
        } else {
            header.Tables.insert(header.Tables.end(), segment.begin(), segment.end());
        }
    }
    walk.End = std::min(at, data.size());
    return walk;
}

std::span<const std::uint8_t> EntropyData(std::span<const std::uint8_t> data) {
    std::size_t begin = 0;
    while (begin + 1 < data.size() && data[begin] == kPrefix && IsRestart(data[begin + 1])) begin += 2;
    std::size_t end = begin;
    while (end < data.size()) {
        if (data[end] != kPrefix) {
            ++end;
            continue;
        }
        if (end + 1 >= data.size()) break; // a lone prefix byte at the end is no data
        const std::uint8_t next = data[end + 1];
        if (next == kStuffed || IsRestart(next))
            end += 2;
        else if (next == kPrefix)
            ++end; // fill bytes are dropped at copying
        else
            break;
    }
    // Restart markers (and fill bytes) the data ends with belong to no interval.
    while (end >= begin + 2 && data[end - 2] == kPrefix && IsRestart(data[end - 1])) end -= 2;
    while (end > begin && data[end - 1] == kPrefix) --end;
    return data.subspan(begin, end - begin);
}

std::vector<std::uint8_t> BuildJpegStream(const TOldJpegHeader& header, int width, int height,
                                          std::span<const std::span<const std::uint8_t>> pieces,
                                          bool resetBetween) {
    std::vector<std::uint8_t> out;
    if (header.Frame.size() < kFrameComponentsAt || header.Scan.empty() || width <= 0 || height <= 0 ||
        width > 0xFFFF || height > 0xFFFF)
        return out;
    std::size_t total = header.Tables.size() + header.Frame.size() + header.Scan.size() + 16;
    for (const auto& piece : pieces) total += piece.size() + 2;
    out.reserve(total);
    PutMarker(out, kSoi);
    out.insert(out.end(), header.Tables.begin(), header.Tables.end());
    const std::size_t frameAt = out.size();
    out.insert(out.end(), header.Frame.begin(), header.Frame.end());
    out[frameAt + kFrameHeightAt] = std::uint8_t(height >> 8);
    out[frameAt + kFrameHeightAt + 1] = std::uint8_t(height);
    out[frameAt + kFrameWidthAt] = std::uint8_t(width >> 8);
    out[frameAt + kFrameWidthAt + 1] = std::uint8_t(width);
    if (header.RestartInterval > 0) {
        PutMarker(out, kDri);
        PutWord(out, 4);
        PutWord(out, header.RestartInterval & 0xFFFF);
    }
    out.insert(out.end(), header.Scan.begin(), header.Scan.end());
    unsigned restart = 0;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const auto piece = pieces[p];
        if (p > 0 && resetBetween) PutMarker(out, std::uint8_t(kRst0 + (restart++ & 7)));
        for (std::size_t i = 0; i < piece.size(); ++i) {
            if (piece[i] != kPrefix || i + 1 >= piece.size()) {
                out.push_back(piece[i]);
                continue;
            }
            const std::uint8_t next = piece[i + 1];
            if (next == kPrefix) continue; // fill byte
            out.push_back(kPrefix);
            out.push_back(IsRestart(next) ? std::uint8_t(kRst0 + (restart++ & 7)) : next);
            ++i;
        }
    }
    PutMarker(out, kEoi);
    return out;
}

void AppendQuantTable(std::vector<std::uint8_t>& out, int id, std::span<const std::uint8_t, 64> table) {
    PutMarker(out, kDqt);
    PutWord(out, 2 + 1 + table.size());
    out.push_back(std::uint8_t(id & 0x0F)); // 8-bit entries
    out.insert(out.end(), table.begin(), table.end());
}

void AppendHuffmanTable(std::vector<std::uint8_t>& out, bool ac, int id, std::span<const std::uint8_t> counts,
                        std::span<const std::uint8_t> values) {
    PutMarker(out, kDht);
    PutWord(out, 2 + 1 + counts.size() + values.size());
    out.push_back(std::uint8_t((ac ? 0x10 : 0x00) | (id & 0x0F)));
    out.insert(out.end(), counts.begin(), counts.end());
    out.insert(out.end(), values.begin(), values.end());
}

std::vector<std::uint8_t> FrameSegment(int width, int height, std::span<const TFrameComponent> components) {
    std::vector<std::uint8_t> out;
    PutMarker(out, kSof0);
    PutWord(out, 8 + 3 * components.size());
    out.push_back(8); // sample precision
    PutWord(out, std::size_t(height) & 0xFFFF);
    PutWord(out, std::size_t(width) & 0xFFFF);
    out.push_back(std::uint8_t(components.size()));
    for (const TFrameComponent& c : components) {
        out.push_back(c.Id);
        out.push_back(std::uint8_t(c.H << 4 | c.V));
        out.push_back(c.QuantTable);
    }
    return out;
}

std::vector<std::uint8_t> ScanSegment(std::span<const TFrameComponent> components) {
    constexpr std::uint8_t kFirstCoefficient = 0, kLastCoefficient = 63, kNoApproximation = 0;
    std::vector<std::uint8_t> out;
    PutMarker(out, kSos);
    PutWord(out, 6 + 2 * components.size());
    out.push_back(std::uint8_t(components.size()));
    for (const TFrameComponent& c : components) {
        out.push_back(c.Id);
        out.push_back(std::uint8_t(c.DcTable << 4 | c.AcTable));
    }
    out.push_back(kFirstCoefficient);
    out.push_back(kLastCoefficient);
    out.push_back(kNoApproximation);
    return out;
}

} // namespace tiff
