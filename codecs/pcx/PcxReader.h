#pragma once
// PCX reader: uncompressed and run-length files with one plane of 1, 2, 4 or 8 bits, 2 to 4 planes of
// 1 bit, three planes of 8 bits and four (red, green, blue, alpha).
#include <cstdint>
#include <memory>

class TStream;
class TIEBitmap;
class TIEMask;
struct TIOParamsVals;
struct TIEProgressRecord;

// Reads the PCX image whose 128-byte header starts at the stream's position.
// DataSize: bytes of the PCX data from the header on (the 256-colour palette is its last 768 bytes).
// HeaderOnly: fill the parameters only; the bitmap is untouched.
// A wrong manufacturer byte, more than 8 bits, an unknown encoding, an empty size or a size the data
// cannot back set *Progress.Aborting. A short file decodes partially: pixels not reached stay black
// (white in 1-bit images). Other plane and depth combinations are refused.
// Mask (created when empty, the caller owns it) receives the fourth plane of four 8-bit planes, unless
// all of it is 0.
void ReadPcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool HeaderOnly,
                   TIEProgressRecord& Progress, std::int64_t DataSize, std::unique_ptr<TIEMask>& Mask);

// Content check for format detection: more than 128 bytes, manufacturer byte 10 and version 0 to 5.
// The position is restored.
bool IsPcxStream(TStream& Stream);

// This format's row of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& PcxFormat();
