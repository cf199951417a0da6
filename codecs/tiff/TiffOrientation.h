#pragma once
// Turns a decoded image into its normal orientation as the TIFF Orientation tag (2 to 8) describes it.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"

namespace tiff {

// orientation: the tag value; 1 and values outside 2..8 change nothing. 5 to 8 swap width and height.
// mask, when given, is turned the same way (it must have the bitmap's size).
void ApplyTiffOrientation(TIEBitmap& bitmap, TIEMask* mask, int orientation);

} // namespace tiff
