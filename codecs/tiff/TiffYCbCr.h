#pragma once
// YCbCr samples outside JPEG: data units of H x V luma samples and one Cb and one Cr sample, turned into
// red, green, blue with the file's coefficients and reference black and white.
#include "codecs/tiff/TiffIfd.h"

#include <cstdint>

namespace tiff {

struct TYCbCr {
    int H = 2, V = 2;                             // YCbCrSubSampling: luma samples per chroma sample
    double Lr = 0.299, Lg = 0.587, Lb = 0.114;    // YCbCrCoefficients
    double Ref[6] = {0, 255, 128, 255, 128, 255}; // ReferenceBlackWhite: Y, Cb, Cr black and white
    std::int64_t UnitBytes() const { return std::int64_t(H) * V + 2; }
    // Bytes of one row of data units across width pixels.
    std::int64_t UnitRowBytes(std::int64_t width) const { return (width + H - 1) / H * UnitBytes(); }
    // Subsampling the format allows (1, 2 or 4 each way, vertical at most horizontal).
    bool Valid() const;
    // The coefficients and full range a JPEG decoder converts with.
    bool IsJpegStandard() const;
};

// Reads the YCbCr tags of a directory (defaults where absent or unreadable).
TYCbCr ReadYCbCr(const TTiffDirectory& dir);

// Converts one row of data units into rows[0..count) of width pixels, each blue, green, red (ie24Rgb);
// count is at most V (the last unit row of an image may be cut).
// Converts width pixels (blue, green, red) that a JPEG decoder made from YCbCr with its standard
// coefficients and full range into those the file's coefficients and reference black and white give.
void RecodeJpegColours(const TYCbCr& c, std::uint8_t* pixels, int width);

void YCbCrUnitsToRows(const TYCbCr& c, const std::uint8_t* units, int width, std::uint8_t* const* rows,
                      int count);

} // namespace tiff
