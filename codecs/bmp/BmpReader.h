#pragma once
// Windows bitmap reader (.bmp, .dib, .rle): core and info headers of every size; 1, 4, 8, 16, 24 and
// 32 bits per pixel; run-length encoded 4- and 8-bit data; bit fields.
#include <cstdint>
#include <memory>

class TStream;
class TIEBitmap;
class TIEMask;
struct TIOParamsVals;
struct TIEProgressRecord;

// Reads the bitmap whose file header starts at the stream's position.
// DataSize: bytes of the bitmap data (below 1: the file header's size field, when set).
// HeaderOnly: fill the parameters only; the bitmap is untouched (so is it for a zero width or height).
// A stream not starting "BM", impossible sizes or sizes the stream cannot back set *Progress.Aborting.
// Truncated data decodes partially: pixels not reached stay black (white in 1-bit images).
// Mask (created when empty, the caller owns it) receives the alpha of bit fields with an alpha mask
// (unless every alpha is 0) and, for run-length data, which pixels the codes painted (unless all).
void ReadBmpStream(TStream& Stream, TIEBitmap& Bitmap, std::int64_t DataSize, bool HeaderOnly,
                   TIEProgressRecord& Progress, TIOParamsVals& Params, std::unique_ptr<TIEMask>& Mask);

// This format's row of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& BmpFormat();
