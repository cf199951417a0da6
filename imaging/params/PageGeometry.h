#pragma once
// How a loaded image stands on its page: the orientation its file states and the shape of its
// pixels, both read from the parameter record that describes the image. The paper rule and the
// PDF writer ask the same questions here, so a page's size and its placement always agree.
#include <cstdint>

struct TIOParamsVals;

// How the stored rows relate to the upright picture, as the TIFF and EXIF Orientation tags number
// it: where the first stored row and the first stored column lie in the upright picture.
enum class TImageOrientation : std::uint8_t {
    TopLeft = 1,     // as stored
    TopRight = 2,    // mirrored left to right
    BottomRight = 3, // turned half round
    BottomLeft = 4,  // mirrored top to bottom
    LeftTop = 5,     // mirrored along the main diagonal
    RightTop = 6,    // stands upright when turned a quarter clockwise
    RightBottom = 7, // mirrored along the other diagonal
    LeftBottom = 8,  // stands upright when turned a quarter anticlockwise
};

// A tag value: anything outside 1..8 (0 for "not stated", or damaged data) means as stored.
TImageOrientation OrientationFromTag(std::int64_t value);

// True for the orientations whose upright picture is as wide as the stored one is high.
bool SwapsAxes(TImageOrientation orientation);

// The orientation the loaded image's file states: the Orientation tag of a TIFF page (unless the
// reader has already turned the pixels), the EXIF Orientation of a JPEG file; as stored otherwise.
TImageOrientation LoadedImageOrientation(const TIOParamsVals& params);

// What the next page is placed with: the loaded image's orientation when PdfAutoOrient asks for
// upright pictures, else as stored.
TImageOrientation PageOrientation(const TIOParamsVals& params);

// Resolutions further apart than this are taken as square pixels: no scanner or fax makes such
// pixels, but a file with one axis unstated (and so defaulted) may claim them.
inline constexpr int kMaxPixelAspect = 16;

struct TUprightSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TUprightSize&) const = default;
};

// The picture's size as its page shows it, in square-pixel units: the bitmap turned by
// PageOrientation and, when the two resolutions differ, the coarser axis stretched to the finer
// one's resolution so that the picture keeps its physical proportions. Square pixels (equal or
// unknown resolutions) and a bitmap without pixels give exactly the pixel counts (turned); the
// stretched side is at least 1.
TUprightSize UprightImageSize(const TIOParamsVals& params, int bitmapWidth, int bitmapHeight);

// The picture's physical size in points, turned as its page shows it: pixels / dpi x 72 on each
// axis, rounded, at least 1. An axis without a usable resolution (below 2) takes the default.
TUprightSize PhysicalImageSize(const TIOParamsVals& params, int bitmapWidth, int bitmapHeight);
