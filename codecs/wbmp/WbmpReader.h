#pragma once
// The wireless bitmap reader (type 0): a 1-bit image, 1 white, rows from the top.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

// Reads the file at Stream's position into an ie1Bit bitmap. Width and height are the format's
// multi-byte integers. A type or fixed header byte other than 0, an incomplete header or a zero or
// unrepresentable size sets Aborting. A short file is no error: rows it does not reach are white.
// A stated size the stream could not come close to holding sets Aborting before any allocation.
void ReadWbmpStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool HeaderOnly,
                    TIEProgressRecord& Progress);

// Content check: a type 0 header with a positive size whose rows the stream holds. Position restored.
bool IsWbmpStream(TStream& Stream);

// This format's row of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& WbmpFormat();
