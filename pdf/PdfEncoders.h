#pragma once
// Encoders for PDF image streams: run length (RunLengthDecode), CCITT Group 4 and Group 3 fax rows
// (CCITTFaxDecode with BlackIs1 true), DCT over libjpeg (DCTDecode), and the red/blue swap for
// uncompressed colour rows. They write bytes into a stream and know nothing of the object model.
#include <cstddef>
#include <cstdint>
#include <vector>

class TStream;
class TIEBitmap;
struct TIOParamsVals;
struct TIEProgressRecord;

// The most EncodeRunLength writes for count input bytes: (3 * count + 3) / 2.
constexpr std::size_t RunLengthBound(std::size_t count) {
    return (3 * count + 3) / 2;
}

// Encodes count bytes as one RunLengthDecode block ending in the end-of-data byte 128; output must
// hold RunLengthBound(count) bytes. Returns the number of bytes written.
std::size_t EncodeRunLength(const std::uint8_t* input, std::size_t count, std::uint8_t* output);

// What a CCITT encoder keeps between the rows of one image. Start each image with a fresh state.
struct CcittState {
    std::vector<std::uint8_t> ReferenceRow; // the previous row; empty before the first row
    bool HasReference = false;
    int CarriedBits = 0;                           // 0..7 bits not yet written...
    std::uint8_t CarriedByte = 0;                  // ...held in the most significant bits of this byte
    std::vector<std::uint8_t> Scratch;             // the bit buffer of one call, kept to save reallocations
    std::vector<int> RowChanges, ReferenceChanges; // colour change positions, likewise kept
};

// The most bytes one CCITT call produces for a row of width pixels. Each coding mode advances at
// least one pixel and costs at most 13.5 bits a pixel (a horizontal mode of two short runs), a
// one-dimensional run at most 12; EOL, tag bit, end codes and carried bits stay below 64 bits.
std::size_t CcittRowByteBound(int width);

// One call per ie1Bit row (ceil(width / 8) bytes read, leftmost pixel in the most significant bit),
// top to bottom, then one call with row null to finish the image. A 0 bit is coded as a white pixel,
// a 1 bit as a black one. Each call writes its whole bytes at once; a short write sets aborting.
//
// Group 4 (K -1): every row two-dimensional against the previous one (all white before the first);
// the finishing call writes the end-of-block and pads to a byte boundary.
void EncodeG4Row(const std::uint8_t* row, int width, TStream& output, bool& aborting, CcittState& state);
// Group 3 two-dimensional (K 1): EOL and tag bit before each row; the first row one-dimensional, the
// rest two-dimensional. The finishing call writes one EOL whose last partial byte stays in the state.
void EncodeG3Row(const std::uint8_t* row, int width, TStream& output, bool& aborting, CcittState& state);

// The colour space of a DCT stream, which its page must declare.
enum class TDctColourSpace { Gray, Rgb };

// Compresses an ie24Rgb or ie1Bit bitmap into output as one JPEG data stream and returns its colour
// space, which follows the bitmap's own pixels: a one-component (grey) JPEG when every pixel is grey,
// a YCbCr one otherwise. Density, markers and progressive coding come from params, which must
// describe this bitmap; quality and DCT method are requests. Zero width or height, any other pixel
// type, a short write or an abort request seen after a row set Aborting (the data written so far
// stays). A fatal library error sets Aborting and raises EIEJpegException.
TDctColourSpace EncodeDct(TStream& output, TIEBitmap& bitmap, TIOParamsVals& params,
                          TIEProgressRecord& progress);

// Exchanges bytes 0 and 2 of each of count 3-byte pixels in place (blue-green-red <-> red-green-blue).
void SwapRedBlue(std::uint8_t* pixels, std::size_t count);
