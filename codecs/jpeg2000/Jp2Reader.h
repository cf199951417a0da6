#pragma once
// JPEG 2000 reader: decodes a JP2 file or a bare JPEG 2000 code stream into a TIEBitmap
// (ie1Bit for one 1-bit component, ie24Rgb otherwise) and the basic parameter fields.
#include <memory>

class TStream;
class TIEBitmap;
class TIEMask;
struct TIOParamsVals;
struct TIEProgressRecord;

// True when the next 12 bytes are the JP2 signature box; the position is restored.
bool IsJp2Stream(TStream& Stream);
// True when the next 4 bytes are FF 4F FF 51 (start of code stream, image size marker); position restored.
bool IsJ2kStream(TStream& Stream);

// Reads either kind, recognised by content, from the stream's position. HeaderOnly fills the
// parameters only. Every failure sets *Progress.Aborting; nothing is raised. A component the file
// marks as opacity goes to Mask (created when empty, the caller owns it); colours stored premultiplied
// by it are divided back. CMYK images are converted to RGB.
void ReadJp2Stream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool HeaderOnly,
                   TIEProgressRecord& Progress, std::unique_ptr<TIEMask>& Mask);

// This format's rows of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& Jp2Format(); // JP2 files
const TFormatEntry& J2kFormat(); // bare code streams
