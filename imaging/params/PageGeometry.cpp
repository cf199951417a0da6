#include "imaging/params/PageGeometry.h"

#include "imaging/params/FormatIds.h"
#include "imaging/params/IOParams.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {
struct TDpiPair {
    int X = 0;
    int Y = 0;
};

// The resolutions a page is laid out with: an axis without one takes the default, and a pair too
// far apart to be a real pixel shape is taken as square at the finer of the two.
TDpiPair LayoutDpi(const TIOParamsVals& params) {
    TDpiPair dpi{params.HorizontalDpi >= 2 ? params.HorizontalDpi : DefaultDpiX,
                 params.VerticalDpi >= 2 ? params.VerticalDpi : DefaultDpiY};
    const int finer = std::max(dpi.X, dpi.Y), coarser = std::min(dpi.X, dpi.Y);
    if (std::int64_t(coarser) * kMaxPixelAspect < finer) dpi.X = dpi.Y = finer;
    return dpi;
}

// A positive length rounded to whole units, kept within what a page size can hold.
int RoundedSide(double value) {
    if (!(value >= 1.0)) return 1;
    if (value >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return static_cast<int>(std::lround(value));
}

TUprightSize Turned(TUprightSize size, const TIOParamsVals& params) {
    if (SwapsAxes(PageOrientation(params))) std::swap(size.Width, size.Height);
    return size;
}
} // namespace

TImageOrientation OrientationFromTag(std::int64_t value) {
    if (value < 1 || value > 8) return TImageOrientation::TopLeft;
    return static_cast<TImageOrientation>(value);
}

bool SwapsAxes(TImageOrientation orientation) {
    return orientation >= TImageOrientation::LeftTop;
}

TImageOrientation LoadedImageOrientation(const TIOParamsVals& params) {
    switch (params.FileFormat) {
    case ioTIFF:
        // A reader asked to turn the pixels has turned them: they stand upright already.
        if (params.TiffApplyOrientation) return TImageOrientation::TopLeft;
        return OrientationFromTag(params.TiffOrientation);
    case ioJPEG:
        return params.HasExifData ? OrientationFromTag(params.ExifOrientation) : TImageOrientation::TopLeft;
    default:
        return TImageOrientation::TopLeft;
    }
}

TImageOrientation PageOrientation(const TIOParamsVals& params) {
    return params.PdfAutoOrient ? LoadedImageOrientation(params) : TImageOrientation::TopLeft;
}

TUprightSize UprightImageSize(const TIOParamsVals& params, int bitmapWidth, int bitmapHeight) {
    if (bitmapWidth <= 0 || bitmapHeight <= 0) return Turned({bitmapWidth, bitmapHeight}, params);
    const TDpiPair dpi = LayoutDpi(params);
    if (dpi.X == dpi.Y) return Turned({bitmapWidth, bitmapHeight}, params);
    const double finer = std::max(dpi.X, dpi.Y);
    return Turned({RoundedSide(bitmapWidth * finer / dpi.X), RoundedSide(bitmapHeight * finer / dpi.Y)},
                  params);
}

TUprightSize PhysicalImageSize(const TIOParamsVals& params, int bitmapWidth, int bitmapHeight) {
    constexpr double kPointsPerInch = 72.0;
    const TDpiPair dpi = LayoutDpi(params);
    return Turned({RoundedSide(std::max(bitmapWidth, 0) * kPointsPerInch / dpi.X),
                   RoundedSide(std::max(bitmapHeight, 0) * kPointsPerInch / dpi.Y)},
                  params);
}
