#pragma once
// Flate image streams: lossless colour pages in the fewest channels their pixels need, and soft masks.
#include "pdf/PdfObjects.h"

#include <cstdint>
#include <memory>
#include <vector>

class TIEBitmap;

// How a colour page's pixels are best stored without loss.
enum class TFlateColours {
    Gray,    // every pixel grey: one channel
    Indexed, // at most 256 colours: one palette index per pixel
    Rgb      // three channels
};
struct TFlateColourPlan {
    TFlateColours Kind = TFlateColours::Rgb;
    std::vector<std::uint8_t> Palette; // red, green, blue per entry, in order of first appearance
};
// Looks at every pixel of an ie24Rgb bitmap (stops early once neither grey nor a palette can hold it).
TFlateColourPlan PlanFlateColours(TIEBitmap& bitmap);

// An ie24Rgb bitmap as a FlateDecode image: colour space from PlanFlateColours, 8 bits per component,
// PNG predictors. A short write sets aborting.
std::unique_ptr<TIEPDFStreamObject> FlateColourImage(TIEBitmap& bitmap, TFlateColours* kind, bool& aborting);

// The alpha plane (ie8Gray, or ie1Bit taken as 0 and 255) as a soft-mask image of width x height:
// FlateDecode /DeviceGray, 8 bits. Rows or columns the plane lacks are opaque.
std::unique_ptr<TIEPDFStreamObject> SoftMaskImage(TIEBitmap& plane, int width, int height, bool& aborting);

// True when every value of the plane within width x height is opaque (no mask is needed).
bool AlphaPlaneOpaque(TIEBitmap& plane, int width, int height);

// << /Predictor 15 /Colors colors /BitsPerComponent 8 /Columns columns >>
TIEPDFDictionaryObject* PngPredictorParms(int colors, int columns);
