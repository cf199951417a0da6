#pragma once
// The portable bitmap, greymap and pixmap reader: ASCII P1-P3 and raw P4-P6. Bilevel files become
// ie1Bit bitmaps (1 white), the others ie24Rgb (blue, green, red).
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

// Reads the file at Stream's position. A bad magic, a missing, non-positive or unrepresentable size, a
// maximum sample value below 1 (grey and ASCII colour files) or an incomplete header sets Aborting.
// Raw grey and colour files with a maximum above 255 hold two-byte big-endian samples, scaled to 8
// bits. Short pixel data is no error: pixels it does not reach are black (white in bilevel files).
// A stated size the stream could not come close to holding sets Aborting before any allocation.
void ReadPxmStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool HeaderOnly,
                   TIEProgressRecord& Progress);

// Content check: a "P1" to "P6" magic followed by a positive width and height. Position restored.
bool IsPxmStream(TStream& Stream);

// This format's row of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& PxmFormat();
