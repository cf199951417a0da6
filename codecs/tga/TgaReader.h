#pragma once
// Truevision Targa reader: uncompressed and run-length encoded colour-mapped, true-colour and
// greyscale images (types 1-3, 9-11), with the version 2 footer and extension area.
#include <memory>

class TStream;
class TIEBitmap;
class TIEMask;
struct TIOParamsVals;
struct TIEProgressRecord;

// Reads the image at the stream position into Bitmap (ie1Bit for 1-bit files, ie24Rgb otherwise) and
// fills the TGA fields of Params. Unless IgnoreAlpha, a 32-bit file with 8 alpha bits (and a 16-bit
// grey-and-alpha file) puts its alpha into Mask, created when empty and owned by the caller.
// HeaderOnly stops after the fields. A header outside the accepted types and depths, an image of
// zero size or one larger than the stream could hold sets Progress.Aborting; pixels that truncated
// data does not reach are black.
void ReadTgaStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
                   std::unique_ptr<TIEMask>& Mask, bool HeaderOnly, TIEProgressRecord& Progress);

// Content check of format detection: 18 header bytes with colour map type 0 or 1, image type 1, 2, 3,
// 9, 10 or 11 and pixel depth 1, 4, 8, 16, 24 or 32. The position is restored.
bool IsTgaStream(TStream& Stream);

// This format's row of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& TgaFormat();
