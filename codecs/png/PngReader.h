#pragma once
// PNG reader: decodes a PNG stream into a TIEBitmap, an optional 8-bit transparency mask and the
// PNG fields of the parameter record.
#include <memory>

class TStream;
class TIEBitmap;
class TIEMask;
struct TIOParamsVals;
struct TIEProgressRecord;

// Reads the PNG at the stream's position.
// ApplyBackground: composite transparency over the file's bKGD colour (else Params.PngBackgroundColor)
//   and make no mask; false: alpha goes to Mask, created there when empty (the caller owns it).
// HeaderOnly: fill the parameters only; the bitmap is untouched.
// Bad or truncated data sets *Progress.Aborting; rows not reached stay black. Allocation failures and
// other exceptions pass to the caller.
void ReadPngStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool ApplyBackground,
                   std::unique_ptr<TIEMask>& Mask, bool HeaderOnly, TIEProgressRecord& Progress);

// True when the bytes at the position start 89 50 4E 47; the position is restored.
bool IsPngStream(TStream& Stream);

// This format's row of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& PngFormat();
