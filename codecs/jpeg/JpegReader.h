#pragma once
// The JPEG reader: JFIF, EXIF and Adobe data streams into an ie24Rgb bitmap (blue, green, red) and the
// JPEG fields of the parameter record. Decoding itself is libjpeg's; this is the adapter around it.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/FormatEntry.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cstdint>

// Absolute position of the first FF D8 FF among the 100 positions from the current one, or -1.
// The stream position is the same on return as on entry.
std::int32_t FindJpegStart(TStream& Stream);

// Content check for format detection: FindJpegStart finds a start-of-image marker.
bool IsJpegStream(TStream& Stream);

// Reads the JPEG data that starts within 100 bytes of Stream's position.
// TablesStream: a tables-only stream (abbreviated, no image) read first (null or &Stream: none); a fatal
//   error while reading it sets Aborting and leaves this function as EIEJpegException, the only
//   exception that does.
// HeaderOnly: fills the parameters (size after scaling, colour fields, resolution, markers) and leaves
//   the bitmap untouched.
// RawComponents: delivers the three coded components of YCbCr- or RGB-coded data unconverted, in
//   coded order, straight into the rows (the TIFF reader's RGB strips); other data sets Aborting.
// Rows: when given and its Begin accepts, the rows go there one by one and the bitmap is left empty;
//   the markers are recorded before Begin.
// Every failure sets *Progress.Aborting; success leaves it as it was.
void ReadJpegStream(TStream& Stream, TStream* TablesStream, TIEBitmap& Bitmap, TIOParamsVals& Params,
                    TIEProgressRecord& Progress, bool HeaderOnly, bool RawComponents = false,
                    TRowSink* Rows = nullptr);

// This format's row of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& JpegFormat();
