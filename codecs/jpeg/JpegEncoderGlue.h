#pragma once
// Owner of one libjpeg compression object with the shared error handler and a destination that writes
// a TStream in 65,536-byte blocks. Every library call goes through a member here, which sets the error
// handler's jump target first; a fatal error leaves the member as EIEJpegException (or the stream's own
// exception), never through the library's frames.
#include "codecs/jpeg/JpegErrorManager.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class TStream;

// What the encoder asks of the library, in its own terms.
struct TJpegCompressSettings {
    int Width = 0;
    int Height = 0;
    bool Grey = false;           // one component; otherwise YCbCr
    std::uint16_t DensityX = 72; // dots per inch, 1 to 65535
    std::uint16_t DensityY = 72;
    int DctMethod = 0; // as ApplyJpegDctMethod takes it
    bool OptimalCoding = false;
    int Smoothing = 0; // 0 to 100
    int Quality = 75;
    bool Progressive = false;
};

struct TJpegStreamDestination {
    jpeg_destination_mgr Pub{}; // first member: libjpeg's pointer is the record's address
    TStream* Output = nullptr;
    bool* Aborting = nullptr;
    std::vector<JOCTET> Buffer;
};

class TJpegCompressor {
public:
    // Creates the compression object writing to output; a short write sets *aborting and compression
    // goes on. Raises EIEJpegException when libjpeg cannot create the object.
    TJpegCompressor(TStream& output, bool* aborting);
    ~TJpegCompressor();
    TJpegCompressor(const TJpegCompressor&) = delete;
    TJpegCompressor& operator=(const TJpegCompressor&) = delete;

    // Sets the image's size, colour space, density and coding choices, then starts the data stream.
    void Start(const TJpegCompressSettings& settings);
    void WriteMarker(int code, const std::uint8_t* data, unsigned length);
    // One row of Width blue-green-red triples (the bitmap's own layout).
    void WriteRow(const std::uint8_t* bgr);
    // Writes the end of the data stream.
    void Finish();

private:
    TIEJpegErrorManager FErrors;
    TJpegStreamDestination FDestination;
    jpeg_compress_struct FInfo{};
    std::vector<JSAMPLE> FRow; // a row in the library's pixel order, when that is not ours
    bool FCreated = false;
};
