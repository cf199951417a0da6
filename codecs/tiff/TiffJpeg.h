#pragma once
// JPEG data inside TIFF files, decoded by the JPEG reader: one stream per strip or tile, or the old form
// with one interchange-format stream for the whole image.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"

#include <cstdint>
#include <span>

namespace tiff {

// Decodes one strip or tile into block (ie24Rgb). tables: the JPEGTables bytes (may be empty).
// rgbCoded: the data holds red, green, blue components, taken unconverted and reordered here.
// A frame larger than maxWidth x maxHeight is refused. False (with Aborting set) on failure; a fatal
// error in the tables leaves as EIEJpegException.
bool DecodeJpegBlock(std::span<const std::uint8_t> data, std::span<const std::uint8_t> tables, bool rgbCoded,
                     int maxWidth, int maxHeight, const TIOParamsVals& params, TIEProgressRecord& progress,
                     TIEBitmap& block);

// Decodes an old-form interchange-format stream straight into bitmap, with a scratch parameter record so
// that the TIFF fields stay as they are. Frames of more than maxBytes of pixels are refused (Aborting).
void DecodeOldJpeg(std::span<const std::uint8_t> data, const TIOParamsVals& params,
                   TIEProgressRecord& progress, std::int64_t maxBytes, TIEBitmap& bitmap);

} // namespace tiff
