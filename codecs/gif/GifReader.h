#pragma once
// GIF reader: decodes one image (frame) of a GIF87a or GIF89a file at its own size, fills the GIF
// fields of the parameters, builds a transparency mask and counts the images of the file. Putting
// frames together on the logical screen is the I/O component's job; everything it needs (frame
// position, disposal, transparency, screen size, background) lands in the parameters.
#include <cstdint>
#include <memory>
#include <string>

class TStream;
class TIEBitmap;
class TIEMask;
struct TIOParamsVals;
struct TIEProgressRecord;

// Reads frame Params.GifFrameIndex from Stream (positioned at the signature) into Bitmap.
// FrameCount receives the number of image descriptors met before the trailer, the end of the stream
// or an abort (also stored in Params.GifFrameCount). Unless IgnoreAlpha, Mask is created when empty,
// sized to the frame at 8 bits and opaque except the transparent index and the pixels a cut frame's
// data does not reach (which Progress reports). HeaderOnly fills the frame's fields without decoding
// pixels. LZW decoding goes through Params.GifLzwDecoder, else DefaultGifLzwDecoder; with neither
// the read aborts. Bad data fails the read with its reason; the bitmap is only reallocated once the
// frame's pixels are decoded. Params.GifScreenWidth and GifScreenHeight give the logical screen; a
// screen far larger than the file's data could fill is cut to the union of its images' rectangles,
// so that composing the frames takes what the file holds, not what it claims.
void ReadGifStream(TStream& Stream, TIEBitmap& Bitmap, int& FrameCount, bool IgnoreAlpha,
                   std::unique_ptr<TIEMask>& Mask, bool HeaderOnly, TIEProgressRecord& Progress,
                   TIOParamsVals& Params);

// The built-in LZW decoder (TGifLzwDecoder protocol). Reads the minimum code size byte and the data
// sub-blocks of one image and writes up to Width x Height palette indexes into Data, row by row from
// the top or in the four interlace passes; returns how many it wrote. Pixels the data does not reach
// keep what Data held. On success the stream is left after the block terminator; on failure (a
// minimum code size outside 1 to 11, a code beyond the string table, an end code straight after clear
// codes with data left) it is put back where the call started.
std::int64_t GifLzwDecode(TStream& Stream, int Height, int Width, std::uint8_t* Data, bool Interlaced);

// Number of image descriptors in a GIF stream, walking its blocks without decoding; 0 when the stream
// does not start with "GIF". The stream position is left where the walk ended.
int CountGifFrames(TStream& Stream);
// Opens the file and counts its images; raises EFOpenError when it cannot be opened.
int GetGifFrameCount(const std::string& FileName);

// Content check of format detection: the stream holds more than 13 bytes in all and the three bytes
// at the position are "GIF". The position is restored.
bool IsGifStream(TStream& Stream);

// This format's row of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& GifFormat();
