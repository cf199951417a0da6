#pragma once
// Limits and small geometry helpers the canvas source files share.
#include "codecs/metafile/MetafileCanvas.h"

#include <cmath>
#include <utility>

namespace metafile {

// Destination coordinates beyond this are refused: cairo's fixed-point range ends near 2^23.
inline constexpr double kMaxDeviceCoord = 4.0e6;
inline constexpr double kPi = 3.14159265358979323846;

inline bool Finite(double v) {
    return std::isfinite(v);
}

inline TRectD Normalized(TRectD r) {
    if (r.Left > r.Right) std::swap(r.Left, r.Right);
    if (r.Top > r.Bottom) std::swap(r.Top, r.Bottom);
    return r;
}

} // namespace metafile
