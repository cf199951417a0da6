#pragma once
// The Flate encoder for lossless pages: zlib data of rows that each start with a PNG predictor byte,
// as /FlateDecode with /DecodeParms << /Predictor 15 >> reads them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TStream;

// The PNG row filters, by their predictor byte.
enum class TPngFilter : std::uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// Writes filter's byte and the filtered row (rowBytes bytes) into out, which holds rowBytes + 1.
// previous is the row above, or null for the first row; bytesPerPixel is the distance Sub, Average
// and Paeth look back.
void FilterRow(TPngFilter filter, const std::uint8_t* row, const std::uint8_t* previous, std::size_t rowBytes,
               std::size_t bytesPerPixel, std::uint8_t* out);

// The filter whose output has the smallest sum of absolute values taken as signed bytes, the usual
// guess at what deflate compresses best; the earlier filter wins a tie. scratch is reused.
TPngFilter ChooseRowFilter(const std::uint8_t* row, const std::uint8_t* previous, std::size_t rowBytes,
                           std::size_t bytesPerPixel, std::vector<std::uint8_t>& scratch);

// Deflates rows of a fixed length into output, one call per row from the top, then Finish. With
// adaptive filtering each row gets ChooseRowFilter's pick; without (palette indexes, where
// differences mean nothing) every row is left unfiltered. Output never exceeds the rows plus one byte
// per row and zlib's framing. A short write sets aborting; rows after it are still taken.
class TFlateRowEncoder {
public:
    TFlateRowEncoder(TStream& output, std::size_t rowBytes, std::size_t bytesPerPixel, bool adaptive);
    ~TFlateRowEncoder();
    TFlateRowEncoder(const TFlateRowEncoder&) = delete;
    TFlateRowEncoder& operator=(const TFlateRowEncoder&) = delete;

    void AddRow(const std::uint8_t* row, bool& aborting);
    void Finish(bool& aborting);

private:
    struct TState;
    void Deflate(const std::uint8_t* data, std::size_t size, bool finish, bool& aborting);

    TStream& Output;
    std::size_t RowBytes, BytesPerPixel;
    bool Adaptive;
    bool Finished = false;
    std::vector<std::uint8_t> Previous, Filtered, Scratch, OutBuffer;
    bool HavePrevious = false;
    std::unique_ptr<TState> State;
};
