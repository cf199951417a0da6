#pragma once
// Row sources: one per strip, tile or plane, each turning the block's compressed bytes into rows of a
// fixed length. Reads never pass the block's end.
#include "imaging/params/IOParams.h"

#include <cstdint>
#include <memory>
#include <span>

namespace tiff {

enum class TRowStatus {
    Row,     // a whole row was delivered
    Partial, // the data ended inside this row: its start was delivered, the rest holds the pad byte or 0
    Missing, // the data ended before this row: nothing delivered
    Failed   // the data is corrupt: the block ends
};

class TRowSource {
public:
    virtual ~TRowSource() = default;
    // Writes RowLength bytes into row.
    virtual TRowStatus Next(std::uint8_t* row) = 0;
    // Rows delivered so far whose codes were damaged and mended (fax data, which has no other way to
    // say that it is not what its tag claims).
    virtual int DamagedRows() const { return 0; }
};

// TIFF compression tag values.
enum TCompression : std::uint32_t {
    cmpNone = 1,
    cmpHuffman = 2,
    cmpFax3 = 3,
    cmpFax4 = 4,
    cmpLzw = 5,
    cmpOldJpeg = 6,
    cmpJpeg = 7,
    cmpAdobeDeflate = 8,
    cmpPackBits = 32773,
    cmpDeflate = 32946,
    cmpLzma = 34925,
    cmpZstd = 50000,
    cmpWebp = 50001
};

struct TSourceOptions {
    std::uint32_t Compression = cmpNone;
    std::uint32_t T4Options = 0;
    int Width = 0;        // pixels per row (CCITT, WebP)
    int RowLength = 0;    // bytes per row
    int Rows = 0;         // rows in the block (whole-block decompressors)
    int Samples = 0;      // samples per pixel (WebP)
    std::uint8_t Pad = 0; // fills rows that uncompressed or run-length data leaves short
    TTiffLzwDecoder Lzw = nullptr;
};

// A source for the compressions that code rows (none, CCITT, LZW, PackBits, Deflate) or whole blocks
// (Zstandard, LZMA, WebP); null for others.
// data must outlive the source.
std::unique_ptr<TRowSource> MakeRowSource(const TSourceOptions& options, std::span<const std::uint8_t> data);

// Whether MakeRowSource handles the compression.
bool IsRowCompression(std::uint32_t compression);

} // namespace tiff
