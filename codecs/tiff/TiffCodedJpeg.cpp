#include "codecs/tiff/TiffCodedJpeg.h"

#include "codecs/tiff/TiffConvert.h"
#include "codecs/tiff/TiffIfd.h"
#include "codecs/tiff/TiffSources.h"

#include <algorithm>

namespace {
using namespace tiff;

constexpr std::uint8_t kMarkerLead = 0xFF, kSoi = 0xD8, kEoi = 0xD9;
constexpr std::uint32_t kPlanarChunky = 1;
constexpr std::uint32_t kInkSetCmyk = 1;
constexpr std::uint16_t kTagInkSet = 332;
// Shared tables hold quantisation and Huffman tables: a few kilobytes. More is not a tables stream.
constexpr std::size_t kLargestTables = std::size_t(1) << 20;

TTiffCodedJpeg Refuse(const char* why, bool codedAsJpeg = true) {
    TTiffCodedJpeg j;
    j.CodedAsJpeg = codedAsJpeg;
    j.Refusal = why;
    return j;
}

bool OpensWithSoi(const std::vector<std::uint8_t>& b) {
    return b.size() >= 2 && b[0] == kMarkerLead && b[1] == kSoi;
}
} // namespace

TTiffCodedJpeg ProbeTiffJpegData(TStream& stream, int frame) {
    TTiffSource src(stream, 0);
    const TTiffChain chain = WalkChain(src, frame);
    if (chain.BadHeader || !chain.Found) return Refuse("no such TIFF page", false);
    const TTiffDirectory& dir = chain.Wanted;
    if (dir.First(tagCompression, cmpNone) != cmpJpeg) return Refuse("TIFF page not coded as JPEG", false);
    if (dir.Has(tagTileWidth) || dir.Has(tagTileOffsets)) return Refuse("JPEG page in tiles");
    if (dir.First(tagPlanarConfig, kPlanarChunky) != kPlanarChunky)
        return Refuse("JPEG page in separate planes");
    if (dir.First(tagBitsPerSample, 8) != 8) return Refuse("JPEG page that is not 8 bits per sample");

    TTiffCodedJpeg j;
    j.CodedAsJpeg = true;
    const std::uint32_t samples = dir.First(tagSamplesPerPixel, 1);
    switch (dir.First(tagPhotometric, phBlackIsZero)) {
    case phBlackIsZero:
        j.Colours = TTiffJpegColours::Gray;
        if (samples != 1) return Refuse("JPEG page with extra samples");
        break;
    case phYCbCr:
        j.Colours = TTiffJpegColours::YCbCr;
        if (samples != 3) return Refuse("JPEG page with extra samples");
        break;
    case phRgb:
        j.Colours = TTiffJpegColours::Rgb;
        if (samples != 3) return Refuse("JPEG page with extra samples");
        break;
    case phSeparated:
        j.Colours = TTiffJpegColours::Cmyk;
        if (samples != 4 || dir.First(kTagInkSet, kInkSetCmyk) != kInkSetCmyk)
            return Refuse("JPEG page with inks other than CMYK");
        break;
    default:
        return Refuse("JPEG page in a colour model PDF does not take");
    }

    const std::uint32_t height = dir.First(tagImageLength, 0);
    if (height == 0) return Refuse("TIFF page without a size");
    if (dir.First(tagRowsPerStrip, height) < height) return Refuse("JPEG data in several strips");
    const std::vector<std::uint32_t> offsets = dir.Values(tagStripOffsets, 2);
    const std::vector<std::uint32_t> counts = dir.Values(tagStripByteCounts, 2);
    if (offsets.size() != 1 || counts.size() != 1) return Refuse("JPEG data in several strips");
    if (counts[0] < 4 || src.AvailableAt(offsets[0]) < counts[0]) return Refuse("JPEG strip not all there");

    std::vector<std::uint8_t> strip(counts[0]);
    if (!src.ReadAt(offsets[0], strip.data(), counts[0])) return Refuse("JPEG strip not all there");
    if (!OpensWithSoi(strip)) return Refuse("JPEG strip without a start of image");

    std::vector<std::uint8_t> tables;
    if (dir.Has(tagJpegTables)) {
        tables = dir.Bytes(tagJpegTables);
        if (tables.size() > kLargestTables || !OpensWithSoi(tables)) return Refuse("damaged JPEG tables");
    }
    // The tables stream is start-of-image, tables, end-of-image; its tables go between the strip's
    // start-of-image and the rest of the strip.
    std::size_t tablesEnd = tables.size();
    if (tablesEnd >= 4 && tables[tablesEnd - 2] == kMarkerLead && tables[tablesEnd - 1] == kEoi)
        tablesEnd -= 2;
    const std::size_t tablesBody = tables.empty() ? 0 : tablesEnd - 2;
    j.Data.reserve(strip.size() + tablesBody);
    j.Data.insert(j.Data.end(), strip.begin(), strip.begin() + 2);
    if (tablesBody > 0)
        j.Data.insert(j.Data.end(), tables.begin() + 2, tables.begin() + std::ptrdiff_t(tablesEnd));
    j.Data.insert(j.Data.end(), strip.begin() + 2, strip.end());
    j.Carriable = true;
    return j;
}
