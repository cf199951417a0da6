#pragma once
// CCITT fax decoding (ITU-T T.4 one- and two-dimensional coding, T.6) of one strip or tile.
// Rows come out packed, most significant bit first, 1 for white and 0 for black.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tiff {

enum class TCcittMode {
    ModifiedHuffman, // one-dimensional, every row starts at a byte boundary, no EOL codes
    Group3OneD,      // one-dimensional rows, not aligned, EOL codes between them
    Group3TwoD,      // EOL and a tag bit before each row: 1 one-dimensional, 0 two-dimensional
    Group4           // two-dimensional rows
};

class TCcittDecoder {
public:
    // data is read most significant bit first; bits past size read as 0.
    TCcittDecoder(const std::uint8_t* data, std::size_t size, int width, TCcittMode mode);

    // Decodes the next row into row ((width + 7) / 8 bytes). Returns false when the data was used up
    // before the row began (the row is then all white).
    bool DecodeRow(std::uint8_t* row);
    // The last row decoded ran into the end of the data before its last column.
    bool LastRowCut() const { return Cut; }
    // The last row needed mending: codes that match nothing, a row an EOL cut short, codes no row owns.
    // Decoders that take the codes as they stand may make a different page of such data.
    bool LastRowMended() const { return Mended; }
    // The last row held codes that match nothing: not a row of fax data as written.
    bool LastRowDamaged() const { return BadCodes; }
    // Whole bytes of data after the position reached.
    std::size_t BytesLeft() const { return Pos >= Bits ? 0 : (Bits - Pos) / 8; }

private:
    enum TColour { White = 0, Black = 1 };
    struct TRow;

    int Peek(int bits) const;
    void Skip(int bits) { Pos += std::size_t(bits); }
    bool AtEnd() const { return Pos >= Bits; }
    bool NextIsEol();
    int ReadRun(TColour colour);
    // Each returns the column the row reached (the width for a whole row, also one an EOL ends).
    int DecodeOneD(TRow& row);
    int DecodeTwoD(TRow& row);
    void SkipZeroRunsBeforeEol();
    bool Uncompressed(TRow& row, int& a, TColour& colour);
    void ChangesFromPixels(const std::uint8_t* row);

    const std::uint8_t* Data;
    std::size_t Bits;
    std::size_t Pos = 0;
    int Width;
    TCcittMode Mode;
    std::vector<int> Reference; // changing elements of the previous row, then sentinels
    std::vector<int> Current;   // changing elements of the row being decoded
    bool Cut = false;
    bool Mended = false;
    bool BadCodes = false;
    bool UsedUncompressed = false;
};

} // namespace tiff
