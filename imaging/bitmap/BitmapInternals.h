#pragma once
// Helpers the TIEBitmap source files share; nothing outside imaging/bitmap includes this.
#include "imaging/bitmap/IEBitmap.h"
#include "platform/PlatformBitmap.h"

#include <cstdint>

namespace bitmapinternals {

// A float grey level scaled to 0..255 (values outside 0..1 and NaN are clamped).
inline std::uint8_t FloatTo8(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return static_cast<std::uint8_t>(v * 255.0f);
}

inline bool IsValidType(TIEPixelFormat t) {
    return t <= ie32f;
}

inline TPixelFormat PlatformFormatOf(TIEPixelFormat t) {
    switch (t) {
    case ie1Bit:
        return pf1bit;
    case ie8Palette:
    case ie8Gray:
    case ie16Gray:
        return pf8bit;
    default:
        return pf24bit;
    }
}

inline int AlignmentOf(int rowAlignmentBits) {
    return (rowAlignmentBits >= 8 && rowAlignmentBits <= 1024 && rowAlignmentBits % 8 == 0) ? rowAlignmentBits
                                                                                            : 32;
}

// Whole-row loops set the access flags they need (no reading of rows about to be overwritten, no writing
// back of rows only read) and restore them afterwards.
class TAccessScope {
public:
    TAccessScope(TIEBaseBitmap& bitmap, std::uint8_t access) : FBitmap(bitmap), FOld(bitmap.Access) {
        bitmap.Access = access;
    }
    ~TAccessScope() { FBitmap.Access = FOld; }
    TAccessScope(const TAccessScope&) = delete;
    TAccessScope& operator=(const TAccessScope&) = delete;

private:
    TIEBaseBitmap& FBitmap;
    std::uint8_t FOld;
};

} // namespace bitmapinternals
