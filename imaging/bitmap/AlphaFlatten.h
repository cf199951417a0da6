#pragma once
// Paper has no transparency: a page is what the image looks like laid on a sheet.
#include "imaging/bitmap/IEBitmap.h"

// Blends an ie24Rgb or ie1Bit bitmap over the paper colour through its alpha plane (an ie1Bit
// image takes the paper colour where alpha is below one half), then drops the plane. Opaque
// pixels keep their exact values; bitmaps of other types, or without a plane, are left alone.
void FlattenAlphaOntoPaper(TIEBitmap& bitmap, TIERgbTriple paper);
