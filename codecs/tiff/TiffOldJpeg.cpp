#include "codecs/tiff/TiffOldJpeg.h"

#include "imaging/params/ReadFailures.h"

#include <algorithm>
#include <array>

namespace tiff {

namespace {

// How far from JPEGInterchangeFormat a start-of-image marker is looked for: some writers point a few
// bytes past it or at padding before it.
constexpr std::int64_t kLookAhead = 100, kLookBack = 16;
// Marker segments at the start of the first block are looked for within this many bytes.
constexpr std::int64_t kPrefixLimit = 65536;
// JPEG frames and Huffman tables.
constexpr int kMaxFrameSide = 0xFFFF, kMaxComponents = 4, kHuffmanCounts = 16, kMaxHuffmanValues = 256;
constexpr std::size_t kQuantEntries = 64;
constexpr std::uint32_t kMaxRestartInterval = 0xFFFF;
constexpr int kLumaTable = 0, kChromaTable = 1;

const char* const kNoStream = "unsupported: old-style JPEG without an interchange stream";
const char* const kBadTables = "damaged JPEG tables";

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

// Block index's bytes as the file holds them (cut to the file), at most limit of them.
std::vector<std::uint8_t> ReadBlockBytes(TTiffSource& src, const TImageInfo& info, std::size_t index,
                                         std::int64_t limit) {
    if (index >= info.Offsets.size() || index >= info.ByteCounts.size()) return {};
    const std::int64_t at = info.Offsets[index];
    const std::int64_t length = std::min<std::int64_t>({info.ByteCounts[index], src.AvailableAt(at), limit});
    return ReadSpan(src, at, at + length);
}

// A complete stream: a scan header followed by coded data.
bool HoldsScan(std::span<const std::uint8_t> data, TOldJpegHeader& header) {
    const TSegmentWalk walk = ReadSegments(data, header);
    return walk.SawScan && !EntropyData(data.subspan(walk.End)).empty();
}

// The table of each component by the tags' offsets: components whose offsets agree share a table.
std::vector<int> TableIds(const std::vector<std::uint32_t>& offsets, int components) {
    std::vector<int> ids(std::size_t(components), 0);
    for (int i = 0; i < components; ++i)
        ids[std::size_t(i)] =
            int(std::find(offsets.begin(), offsets.begin() + i, offsets[std::size_t(i)]) - offsets.begin());
    return ids;
}

bool AppendHuffmanFromFile(TTiffSource& src, std::uint32_t offset, bool ac, int id,
                           std::vector<std::uint8_t>& out) {
    std::array<std::uint8_t, kHuffmanCounts> counts{};
    if (!src.ReadAt(offset, counts.data(), kHuffmanCounts)) return false;
    int total = 0;
    for (const std::uint8_t c : counts) total += c;
    if (total == 0 || total > kMaxHuffmanValues) return false;
    std::vector<std::uint8_t> values(static_cast<std::size_t>(total));
    if (!src.ReadAt(std::int64_t(offset) + kHuffmanCounts, values.data(), total)) return false;
    AppendHuffmanTable(out, ac, id, counts, values);
    return true;
}

// Tables, frame and scan from JPEGQTables, JPEGDCTables, JPEGACTables and the image's own tags. Empty
// when made, else why not.
std::string HeaderFromTags(TTiffSource& src, const TImageInfo& info, TOldJpegHeader& header) {
    const int n = ColourSamples(info.Photometric);
    if (n > kMaxComponents) return "unsupported: old-style JPEG with " + std::to_string(n) + " components";
    if (int(info.JpegQTables.size()) < n || int(info.JpegDcTables.size()) < n ||
        int(info.JpegAcTables.size()) < n)
        return kNoStream;
    const bool subsampled = info.Photometric == phYCbCr && n == 3;
    if (subsampled && !info.YCbCr.Valid())
        return "unsupported: YCbCr subsampling " + std::to_string(info.YCbCr.H) + " x " +
               std::to_string(info.YCbCr.V);
    const std::vector<int> q = TableIds(info.JpegQTables, n), dc = TableIds(info.JpegDcTables, n),
                           ac = TableIds(info.JpegAcTables, n);
    std::vector<std::uint8_t> tables;
    std::vector<TFrameComponent> components(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const std::size_t k = std::size_t(i);
        if (q[k] == i) {
            std::array<std::uint8_t, kQuantEntries> table{};
            if (!src.ReadAt(info.JpegQTables[k], table.data(), kQuantEntries)) return kBadTables;
            AppendQuantTable(tables, i, table);
        }
        if (dc[k] == i && !AppendHuffmanFromFile(src, info.JpegDcTables[k], false, i, tables))
            return kBadTables;
        if (ac[k] == i && !AppendHuffmanFromFile(src, info.JpegAcTables[k], true, i, tables))
            return kBadTables;
        TFrameComponent& c = components[k];
        c.Id = std::uint8_t(i + 1);
        c.H = std::uint8_t(subsampled && i == 0 ? info.YCbCr.H : 1);
        c.V = std::uint8_t(subsampled && i == 0 ? info.YCbCr.V : 1);
        c.QuantTable = std::uint8_t(q[k]);
        c.DcTable = std::uint8_t(dc[k]);
        c.AcTable = std::uint8_t(ac[k]);
    }
    header.Tables.insert(header.Tables.end(), tables.begin(), tables.end());
    header.Frame = FrameSegment(int(info.Width), int(info.Height), components);
    if (header.Scan.empty()) header.Scan = ScanSegment(components);
    return {};
}

// A scan over the frame's components in their order: the first with the luma tables, the others with
// the chroma ones, as encoders write them.
std::vector<std::uint8_t> DefaultScan(const std::vector<std::uint8_t>& frame) {
    constexpr std::size_t kCountAt = 9, kComponentsAt = 10;
    std::vector<TFrameComponent> components;
    for (std::size_t i = 0; frame.size() > kCountAt && i < frame[kCountAt] && i < kMaxComponents &&
                            kComponentsAt + 3 * i < frame.size();
         ++i) {
        TFrameComponent c;
        c.Id = frame[kComponentsAt + 3 * i];
        c.DcTable = c.AcTable = std::uint8_t(i == 0 ? kLumaTable : kChromaTable);
        components.push_back(c);
    }
    return ScanSegment(components);
}

// MCUs in one full strip.
std::int64_t McusPerStrip(const TImageInfo& info, const TOldJpegHeader& header) {
    const std::int64_t mcuWidth = 8 * std::int64_t(header.McuWidth());
    const std::int64_t mcuRows = 8 * std::int64_t(header.McuHeight());
    return (info.Width + mcuWidth - 1) / mcuWidth * (info.RowsPerStrip / mcuRows);
}

// Strips that each start afresh: whole MCU rows, and whole restart intervals when there are any.
bool StripsStandAlone(const TImageInfo& info, const TOldJpegHeader& header) {
    if (info.Tiled || info.Offsets.size() <= 1) return true;
    if (info.RowsPerStrip % (8 * std::int64_t(header.McuHeight())) != 0) return false;
    return header.RestartInterval == 0 || McusPerStrip(info, header) % header.RestartInterval == 0;
}

// All strips' coded data in one scan: with a restart marker between strips when each starts afresh,
// else running on from strip to strip.
std::vector<std::uint8_t> JoinedStream(TTiffSource& src, const TImageInfo& info, const TOldJpegHeader& header,
                                       bool resetBetween) {
    const std::int64_t fileEnd = src.AvailableAt(0);
    std::vector<std::vector<std::uint8_t>> blocks;
    std::vector<std::span<const std::uint8_t>> pieces;
    std::int64_t total = 0;
    for (std::size_t i = 0; i < info.Offsets.size(); ++i) {
        blocks.push_back(ReadBlockBytes(src, info, i, fileEnd));
        total += std::int64_t(blocks.back().size());
        // One image's data is never longer than the file: strips that repeat bytes stop here.
        if (total > fileEnd) break;
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        std::span<const std::uint8_t> data = blocks[i];
        if (i == 0 && StartsWithSegment(data)) {
            TOldJpegHeader ignored;
            data = data.subspan(ReadSegments(data, ignored).End);
        }
        pieces.push_back(EntropyData(data));
    }
    return BuildJpegStream(header, int(info.Width), int(info.Height), pieces, resetBetween);
}

} // namespace

std::vector<std::uint8_t> OldJpegBlockStream(const TOldJpegHeader& header,
                                             std::span<const std::uint8_t> block, int width, int height) {
    TOldJpegHeader own = header;
    if (StartsWithSegment(block)) block = block.subspan(ReadSegments(block, own).End);
    if (own.Scan.empty()) own.Scan = DefaultScan(own.Frame);
    const std::span<const std::uint8_t> data = EntropyData(block);
    if (data.empty()) return {};
    return BuildJpegStream(own, width, height, std::span(&data, 1), false);
}

TOldJpegPlan PlanOldJpeg(TTiffSource& src, const TImageInfo& info) {
    TOldJpegPlan plan;
    const std::int64_t fileEnd = src.AvailableAt(0);
    TOldJpegHeader header;
    if (info.JpegOffset > 0) {
        const std::int64_t start = FindSoiNear(src, info.JpegOffset);
        if (start >= 0) {
            // A stated length past the file is cut to the file; without one the stream runs to its end.
            const std::int64_t end = info.JpegLength > 0 ? start + std::int64_t(info.JpegLength) : fileEnd;
            plan.Stream = ReadSpan(src, start, std::min(end, fileEnd));
            if (HoldsScan(plan.Stream, header)) return plan;
            plan.Stream.clear(); // tables only: the scans are in the strips
        }
    }
    const bool blocks = !info.Offsets.empty() && info.Offsets.size() == info.ByteCounts.size();
    if (!blocks) {
        plan.Refusal = header.Frame.empty() ? std::string(reasons::kNoRowData) : kNoStream;
        return plan;
    }
    // No tables yet: strips that open with a start-of-image marker are the stream, cut into pieces, or
    // a stream each.
    if (header.Frame.empty() && header.Tables.empty()) {
        const std::int64_t first = FindSoiNear(src, info.Offsets[0]);
        const bool eachAStream =
            info.Offsets.size() > 1 && FindSoiNear(src, info.Offsets[1]) == info.Offsets[1];
        if (first >= 0 && !eachAStream) {
            for (std::size_t i = 0; i < info.Offsets.size(); ++i) {
                const std::int64_t at = i == 0 ? first : std::int64_t(info.Offsets[i]);
                const std::int64_t stated = std::int64_t(info.Offsets[i]) + std::int64_t(info.ByteCounts[i]);
                const std::int64_t end = std::min(stated, fileEnd);
                // One stream is never longer than the file: strips that repeat its bytes stop here.
                if (end > at && std::int64_t(plan.Stream.size()) + (end - at) > fileEnd) break;
                const std::vector<std::uint8_t> piece = ReadSpan(src, at, end);
                plan.Stream.insert(plan.Stream.end(), piece.begin(), piece.end());
            }
            TOldJpegHeader joined;
            if (HoldsScan(plan.Stream, joined)) return plan;
            plan.Stream.clear();
        }
    }

    // The scans are in the blocks: the first may open with the scan header (and more) for all of them.
    TOldJpegHeader opening;
    const std::vector<std::uint8_t> prefix = ReadBlockBytes(src, info, 0, kPrefixLimit);
    if (StartsWithSegment(prefix)) (void)ReadSegments(prefix, opening);
    if (header.Tables.empty()) header.Tables = opening.Tables;
    if (header.Frame.empty()) header.Frame = opening.Frame;
    if (header.Scan.empty()) header.Scan = opening.Scan;
    if (header.RestartInterval == 0) header.RestartInterval = opening.RestartInterval;
    if (header.RestartInterval == 0) header.RestartInterval = info.JpegRestartInterval;
    if (header.Frame.empty()) {
        if (info.JpegQTables.empty()) {
            plan.Refusal = kNoStream;
            return plan;
        }
        if (std::string why = HeaderFromTags(src, info, header); !why.empty()) {
            plan.Refusal = std::move(why);
            return plan;
        }
    }
    if (header.Scan.empty()) header.Scan = DefaultScan(header.Frame);
    const std::int64_t blockWidth = info.Tiled ? info.TileWidth : info.Width;
    const std::int64_t blockHeight = info.Tiled ? info.TileLength : info.RowsPerStrip;
    if (blockWidth > kMaxFrameSide || blockHeight > kMaxFrameSide) {
        plan.Refusal = "unsupported: old-style JPEG blocks larger than a JPEG frame";
        return plan;
    }
    // Strips are decoded as one scan, so that chroma is smoothed across their edges as in one image:
    // a strip that starts afresh is one restart interval, as old-form readers take it.
    const bool standAlone = StripsStandAlone(info, header);
    if (!info.Tiled) {
        TOldJpegHeader joined = header;
        if (standAlone && info.Offsets.size() > 1 && joined.RestartInterval == 0)
            joined.RestartInterval =
                std::uint32_t(std::min<std::int64_t>(McusPerStrip(info, header), kMaxRestartInterval + 1));
        if (joined.RestartInterval <= kMaxRestartInterval)
            plan.Stream = JoinedStream(src, info, joined, standAlone);
        if (!plan.Stream.empty()) return plan;
        // Larger than one frame or one restart interval allows: strip by strip.
        if (!standAlone) {
            plan.Refusal = "unsupported: old-style JPEG larger than a JPEG frame";
            return plan;
        }
    }
    plan.Mode = TOldJpegPlan::TMode::Blocks;
    plan.Header = std::move(header);
    return plan;
}

} // namespace tiff
