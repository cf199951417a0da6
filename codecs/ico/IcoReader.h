#pragma once
// Icon (.ico) and cursor (.cur) readers: one image of the directory, with its transparency mask.
// Entries hold a device-independent bitmap of 1, 4, 8, 24 or 32 bits with an AND mask, or a PNG stream.
#include <memory>

class TStream;
class TIEBitmap;
class TIEMask;
struct TIOParamsVals;
struct TIEProgressRecord;

// Reads entry Params.IconImageIndex of the icon directory at the stream's position into Bitmap and Mask
// (8 bits, 255 opaque; created when Mask is empty, and then owned by the caller). Transparent pixels of
// 1- to 24-bit images take Params.IconBackgroundColor. A stream starting "BM" is read as a bitmap file.
// An index outside the directory returns without any change; bad data sets *Progress.Aborting.
void ReadIcoStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, std::unique_ptr<TIEMask>& Mask,
                   TIEProgressRecord& Progress, bool HeaderOnly);

// The same for entry Params.CursorImageIndex of a cursor directory; also fills the hot spot, and
// transparent pixels take Params.CursorBackgroundColor.
void ReadCurStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, std::unique_ptr<TIEMask>& Mask,
                   TIEProgressRecord& Progress, bool HeaderOnly);

// Content checks for format detection: a directory of type 1 (icon) or 2 (cursor) whose entries all
// look sound. The position is restored.
bool IsIcoStream(TStream& Stream);
bool IsCurStream(TStream& Stream);

// The entry count of the directory header at the position (0 when there is none); position restored.
int GetIcoImageCount(TStream& Stream);

// This format's rows of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& IcoFormat();
const TFormatEntry& CurFormat();
