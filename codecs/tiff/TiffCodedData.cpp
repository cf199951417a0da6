#include "codecs/tiff/TiffCodedData.h"

#include "codecs/tiff/CcittDecoder.h"
#include "codecs/tiff/TiffConvert.h"
#include "codecs/tiff/TiffIfd.h"
#include "codecs/tiff/TiffSources.h"

#include <limits>
#include <vector>

namespace {
using namespace tiff;

constexpr int kEolZeros = 11; // an end-of-line code is eleven 0 bits and a 1
constexpr std::uint32_t kT4TwoDimensional = 1;
constexpr std::uint32_t kFillOrderLsbFirst = 2;

TTiffCodedFax Refuse(TTiffCodedFax f, const char* why) {
    f.Carriable = false;
    f.Refusal = why;
    f.Data.clear();
    return f;
}

std::uint8_t Reversed(std::uint8_t b) {
    b = std::uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = std::uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return std::uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Whether data (most significant bit first) opens with an end-of-line code, after any fill bits;
// twoDimensional: and the tag bit after it says the next row is coded on its own.
bool OpensWithEol(const std::uint8_t* data, std::size_t size, bool twoDimensional) {
    std::size_t bit = 0;
    const std::size_t bits = size * 8;
    const auto at = [&](std::size_t i) { return (data[i / 8] >> (7 - i % 8)) & 1; };
    while (bit < bits && at(bit) == 0) ++bit;
    if (bit < std::size_t(kEolZeros) || bit >= bits) return false;
    if (!twoDimensional) return true;
    return bit + 1 < bits && at(bit + 1) == 1;
}
// Wider than any fax machine scans; wider pages are not decoded twice just to be carried.
constexpr int kMaxCheckedWidth = 1 << 16;

TCcittMode DecoderMode(TFaxCoding coding) {
    switch (coding) {
    case TFaxCoding::Group4:
        return TCcittMode::Group4;
    case TFaxCoding::Group3OneD:
        return TCcittMode::Group3OneD;
    case TFaxCoding::Group3TwoD:
        return TCcittMode::Group3TwoD;
    case TFaxCoding::Huffman:
        break;
    }
    return TCcittMode::ModifiedHuffman;
}

// A PDF reader takes the codes as they stand. Data whose rows our decoder had to mend (codes no row owns,
// a row an EOL cuts short, codes that match nothing) or that ends before the last row gives a different
// page there, often shifted or garbled from that row on: such pages are decoded and coded afresh.
bool DecodesCleanly(const TTiffCodedFax& f) {
    if (f.Width > kMaxCheckedWidth) return false;
    TCcittDecoder decoder(f.Data.data(), f.Data.size(), f.Width, DecoderMode(f.Coding));
    std::vector<std::uint8_t> row(std::size_t((f.Width + 7) / 8));
    for (int y = 0; y < f.Height; ++y)
        if (!decoder.DecodeRow(row.data()) || decoder.LastRowCut() || decoder.LastRowMended()) return false;
    return true;
}
} // namespace

TTiffCodedFax ProbeTiffFaxData(TStream& stream, int frame) {
    TTiffCodedFax f;
    TTiffSource src(stream, 0);
    const TTiffChain chain = WalkChain(src, frame);
    if (chain.BadHeader || !chain.Found) return Refuse(f, "no such TIFF page");
    const TTiffDirectory& dir = chain.Wanted;

    const std::uint32_t compression = dir.First(tagCompression, cmpNone);
    const std::uint32_t t4 = dir.First(tagT4Options, 0);
    switch (compression) {
    case cmpFax4:
        f.Coding = TFaxCoding::Group4;
        break;
    case cmpFax3:
        f.Coding = (t4 & kT4TwoDimensional) ? TFaxCoding::Group3TwoD : TFaxCoding::Group3OneD;
        break;
    case cmpHuffman:
        f.Coding = TFaxCoding::Huffman;
        break;
    default:
        return Refuse(f, "TIFF page not coded as fax");
    }
    const std::uint32_t width = dir.First(tagImageWidth, 0), height = dir.First(tagImageLength, 0);
    constexpr auto kMaxSide = std::uint32_t(std::numeric_limits<int>::max());
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return Refuse(f, "TIFF page without a size");
    f.Width = int(width);
    f.Height = int(height);
    if (dir.First(tagBitsPerSample, 1) != 1 || dir.First(tagSamplesPerPixel, 1) != 1)
        return Refuse(f, "fax page with more than one bit a pixel");
    const std::uint32_t photometric = dir.First(tagPhotometric, phWhiteIsZero);
    if (photometric != phWhiteIsZero && photometric != phBlackIsZero)
        return Refuse(f, "fax page with a colour map");
    f.BlackIs1 = photometric == phBlackIsZero;
    if (dir.Has(tagTileWidth) || dir.Has(tagTileOffsets)) return Refuse(f, "fax page in tiles");

    const std::uint32_t rowsPerStrip = std::min(dir.First(tagRowsPerStrip, height), height);
    if (rowsPerStrip == 0) return Refuse(f, "fax page without strips");
    const std::uint64_t strips = (std::uint64_t(height) + rowsPerStrip - 1) / rowsPerStrip;
    const std::vector<std::uint32_t> offsets = dir.Values(tagStripOffsets, std::uint32_t(strips));
    const std::vector<std::uint32_t> counts = dir.Values(tagStripByteCounts, std::uint32_t(strips));
    if (offsets.size() != strips || counts.size() != strips)
        return Refuse(f, "fax page whose strips are not all there");
    if (strips > 1 && f.Coding == TFaxCoding::Group4) return Refuse(f, "Group 4 data in several strips");

    std::uint64_t total = 0;
    for (std::size_t i = 0; i < strips; ++i) {
        if (counts[i] == 0 || src.AvailableAt(offsets[i]) < counts[i])
            return Refuse(f, "fax page whose strips are not all there");
        total += counts[i];
    }
    const bool reversed = dir.First(tagFillOrder, 1) == kFillOrderLsbFirst;
    f.Data.resize(static_cast<std::size_t>(total)); // every byte was found in the stream above
    std::size_t at = 0;
    for (std::size_t i = 0; i < strips; ++i) {
        std::uint8_t* piece = f.Data.data() + at;
        if (!src.ReadAt(offsets[i], piece, counts[i]))
            return Refuse(f, "fax page whose strips are not all there");
        if (reversed)
            for (std::size_t k = 0; k < counts[i]; ++k) piece[k] = Reversed(piece[k]);
        const bool group3 = f.Coding == TFaxCoding::Group3OneD || f.Coding == TFaxCoding::Group3TwoD;
        // A joined strip must not lean on the row before it: it opens with an end-of-line code and,
        // two-dimensional, a row coded on its own. Two-dimensional rows are found only through their
        // end-of-line codes, so the first strip needs one too. Modified Huffman rows never lean on
        // another row.
        const bool twoD = f.Coding == TFaxCoding::Group3TwoD;
        if ((i > 0 || twoD) && group3 && !OpensWithEol(piece, counts[i], twoD))
            return Refuse(f, "Group 3 strips that cannot be joined");
        at += counts[i];
    }
    f.Strips = int(strips);
    if (!DecodesCleanly(f)) return Refuse(f, "fax data other readers may misread");
    f.Carriable = true;
    return f;
}
