#pragma once
// The pieces of a JPEG stream that old-style TIFF files spread over tags, a tables-only stream and their
// strips or tiles, and the standalone streams built from them.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tiff {

namespace jpegmark {
constexpr std::uint8_t kPrefix = 0xFF, kStuffed = 0x00;
constexpr std::uint8_t kSof0 = 0xC0, kDht = 0xC4, kJpg = 0xC8, kDac = 0xCC, kSofLast = 0xCF;
constexpr std::uint8_t kRst0 = 0xD0, kRst7 = 0xD7, kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kDqt = 0xDB;
constexpr std::uint8_t kDri = 0xDD;
} // namespace jpegmark

struct TOldJpegHeader {
    std::vector<std::uint8_t> Tables; // whole segments in file order: quantization, Huffman, APPn, comments
    std::vector<std::uint8_t> Frame;  // the start-of-frame segment; empty when none was seen
    std::vector<std::uint8_t> Scan;   // the start-of-scan segment; empty when none was seen
    std::uint32_t RestartInterval = 0;

    // Data units of the largest component across and down one MCU (1 when there is no frame).
    int McuWidth() const;
    int McuHeight() const;
};

struct TSegmentWalk {
    std::size_t End = 0;  // where the walk stopped: just past the scan header, or where the markers ended
    bool SawScan = false; // it stopped just past a start-of-scan segment
};

// Reads the marker segments at the start of data into header, up to and including the first scan
// header. Later segments of a kind replace or follow earlier ones, as in one stream. A segment whose
// length runs past data ends the walk before it.
TSegmentWalk ReadSegments(std::span<const std::uint8_t> data, TOldJpegHeader& header);

// True when data opens with a marker segment rather than entropy-coded bytes.
bool StartsWithSegment(std::span<const std::uint8_t> data);

// The entropy-coded bytes of data: from its start to the first marker other than a restart marker,
// without restart markers at its ends. Stuffed bytes stay.
std::span<const std::uint8_t> EntropyData(std::span<const std::uint8_t> data);

// A stream the JPEG decoder reads on its own: header's tables, its frame set to width x height, the
// restart interval when there is one, its scan header, the entropy-coded pieces and an end marker.
// Between pieces a restart marker is put when resetBetween is set; every restart marker is numbered
// afresh in order. Empty when header has no frame or scan, or the frame is too short.
std::vector<std::uint8_t> BuildJpegStream(const TOldJpegHeader& header, int width, int height,
                                          std::span<const std::span<const std::uint8_t>> pieces,
                                          bool resetBetween);

// Segment writers for headers made from tags.
void AppendQuantTable(std::vector<std::uint8_t>& out, int id, std::span<const std::uint8_t, 64> table);
// counts: the 16 code-length counts; values: their symbols.
void AppendHuffmanTable(std::vector<std::uint8_t>& out, bool ac, int id, std::span<const std::uint8_t> counts,
                        std::span<const std::uint8_t> values);

struct TFrameComponent {
    std::uint8_t Id = 0, H = 1, V = 1, QuantTable = 0, DcTable = 0, AcTable = 0;
};
// A baseline frame and a scan over all components.
std::vector<std::uint8_t> FrameSegment(int width, int height, std::span<const TFrameComponent> components);
std::vector<std::uint8_t> ScanSegment(std::span<const TFrameComponent> components);

} // namespace tiff
