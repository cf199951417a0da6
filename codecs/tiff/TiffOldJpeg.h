#pragma once
// Finding the old form's JPEG stream, wherever writers left it: at JPEGInterchangeFormat (or a few bytes
// beside it), over a length that may be wrong, or in the strips when that tag is missing.
#include "codecs/tiff/TiffIfd.h"
#include "codecs/tiff/TiffInfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tiff {

struct TOldJpegStream {
    std::vector<std::uint8_t> Data; // starts at a start-of-image marker; empty when none was found
    std::string Refusal;            // why not, when Data is empty
};

TOldJpegStream FindOldJpegStream(TTiffSource& src, const TImageInfo& info);

} // namespace tiff
