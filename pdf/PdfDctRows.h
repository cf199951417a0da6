#pragma once
// One JPEG data stream made row by row: what the DCT encoder does for a bitmap, and what a page does
// whose rows arrive while its file is decoded.
#include "codecs/jpeg/JpegEncoderGlue.h"
#include "imaging/params/IOParams.h"

#include <cstdint>

class TStream;

// Room to reserve for the data stream of a width x height picture: four bits a pixel (photos need one
// to three), at most 64 MiB. Growing step by step would copy the data several times, each time into
// memory never touched before, which costs more than the copying on some machines.
inline std::int64_t DctDataReservation(int width, int height) {
    constexpr std::int64_t kLargest = std::int64_t(64) << 20;
    const std::int64_t estimate = std::int64_t(width) * height / 2;
    return estimate < kLargest ? estimate : kLargest;
}

class TDctRowEncoder {
public:
    // Starts the stream in output: density, markers and coding choices from params, which must
    // describe this image. Grey: one component, from rows whose three components are equal. A short
    // write sets *aborting; a fatal library error raises EIEJpegException.
    TDctRowEncoder(TStream& output, const TIOParamsVals& params, int width, int height, bool grey,
                   bool* aborting);
    // The next row from the top: width blue-green-red triples.
    void Row(const std::uint8_t* bgr) { FCompressor.WriteRow(bgr); }
    // The end of the data stream.
    void Finish() { FCompressor.Finish(); }

private:
    TJpegCompressor FCompressor;
};
