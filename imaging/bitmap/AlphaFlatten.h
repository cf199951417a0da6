#pragma once
// Paper has no transparency: a page is what the image looks like laid on a sheet.
#include "imaging/bitmap/IEBitmap.h"

// Blends an ie24Rgb or ie1Bit bitmap over the paper colour through its alpha plane (an ie1Bit
// image takes the paper colour where alpha is below one half), then drops the plane. Opaque
// pixels keep their exact values; bitmaps of other types, or without a plane, are left alone.
void FlattenAlphaOntoPaper(TIEBitmap& bitmap, TIERgbTriple paper);

// Pages are printed on white paper.
constexpr TIERgbTriple kPaperWhite{255, 255, 255};

// The bitmap as its page shows it: ie1Bit stays 1-bit, every other type becomes ie24Rgb, and what
// is transparent shows the white paper, or with keepAlpha stays in the alpha plane for the page's
// soft mask.
void PreparePageBitmap(TIEBitmap& bitmap, bool keepAlpha = false);
