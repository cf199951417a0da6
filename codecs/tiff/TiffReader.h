#pragma once
// The TIFF reader: one frame (image file directory) of a TIFF stream into a TIEBitmap, the TIFF and EXIF
// fields of the parameter record, and the number of frames in the file.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cstdint>
#include <memory>

// Reads frame Params.TiffFrameIndex of the TIFF data at Stream's position.
// FrameCount: set to the number of directories in the file's chain, also when the wanted frame is not
//   among them (the bitmap and parameters are then left as they were, without an error).
// ForceDecode: decode even when the directory gives no width or height.
// IgnoreAlpha: build no mask from alpha samples.
// RelativeOffsets: offsets count from the stream position at entry (else from position 0).
// Mask: receives the alpha samples (255 opaque) of images that carry them; created when needed and
//   handed to the caller.
// HeaderOnly: fill the parameters, decode nothing.
// Bad or truncated data sets *Progress.Aborting and returns; rows decoded so far stay. No exception
// leaves the reader.
void ReadTiffStream(TIEBitmap& Bitmap, TStream& Stream, int& FrameCount, bool ForceDecode, bool IgnoreAlpha,
                    bool RelativeOffsets, std::unique_ptr<TIEMask>& Mask, bool HeaderOnly,
                    TIEProgressRecord& Progress, TIOParamsVals& Params);

// Number of directories in the chain of the TIFF data at Stream's position; 0 for data that is not TIFF.
// The stream position is the same on return as on entry.
int GetTiffFrameCount(TStream& Stream);

// Content check for format detection: the stream holds more than 8 bytes and the two at its position
// are "II" or "MM". The stream position is the same on return as on entry.
bool IsTiffStream(TStream& Stream);

// The built-in TIFF LZW decoder (a TTiffLzwDecoder, see IOParams.h for the calling protocol): codes of
// 9 to 12 bits, most significant bit first, also the old bit order of early writers (least significant
// bit first, recognised by its first two bytes). Never reads outside data[0, dataSize). Rows the data
// does not reach are delivered as zeros.
std::uint8_t* TiffLzwDecode(const std::uint8_t* data, std::int64_t dataSize, int rowLength, void** state,
                            int* decoded = nullptr);

// This format's row of the format registry (imaging/params/FormatEntry.h).
struct TFormatEntry;
const TFormatEntry& TiffFormat();
