#pragma once
// Row stages after decompression: unpacking of sub-byte samples, horizontal differencing, and the
// conversion of one row of samples into the bitmap's pixel format.
#include "imaging/bitmap/PixelTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tiff {

enum class TConversion {
    Unsupported,
    Bilevel,      // 1 bit grey: packed bits copied, inverted for white-is-zero
    Gray,         // 2 to 8 bit grey, and any extra samples
    Gray16,       // one 16 bit grey sample
    Rgb,          // 1 to 8 bits per sample, three or more samples
    Rgb555,       // one 16 bit sample holding 5-5-5 bits
    Palette,      // 1 to 8 bit colour-map index
    PaletteAlpha, // 1 to 8 bit index and extra samples
    Cmyk,         // 8 bit separated, four or more samples
    YCbCr,        // 8 bit luma and chroma in data units (not a row conversion: see TiffYCbCr.h)
    Lab           // 8 bit CIELab
};

// Photometric interpretations as the file gives them.
enum TPhotometric : int {
    phWhiteIsZero = 0,
    phBlackIsZero = 1,
    phRgb = 2,
    phPalette = 3,
    phSeparated = 5,
    phYCbCr = 6,
    phCieLab = 8
};

TConversion ClassifyConversion(int photometric, int samplesPerPixel, int bitsPerSample, bool hasColorMap);

struct TRowFormat {
    TConversion Kind = TConversion::Unsupported;
    TIEPixelFormat Target = ie24Rgb;
    int Photometric = phBlackIsZero;
    int SamplesPerPixel = 1;
    int BitsPerSample = 8;
    bool BigEndian = false;
    bool InvertBilevel = false;         // bilevel rows are inverted into the bitmap
    int GreyShift = 8;                  // 16 bit grey: value >> GreyShift, at most 255
    int AlphaIndex = -1;                // the sample of each pixel that holds its opacity, or none
    std::vector<TIERgbTriple> ColorMap; // palette images
};

// Samples that arrive as whole bytes (or 16 bit words) after unpacking; bilevel rows stay packed.
bool NeedsUnpack(const TRowFormat& format);

// Unpacks count samples of bits (1 to 7) each, most significant bits first, one byte per sample.
void UnpackSamples(const std::uint8_t* packed, int bits, std::size_t count, std::uint8_t* out);

// Horizontal differencing undone in place: every sample is added to the one stride samples before it.
// 8 bit samples are bytes, 16, 32 and 64 bit samples words in the file's byte order; other depths are
// left alone.
void UndoPredictor(std::uint8_t* samples, std::size_t count, int stride, int bits, bool bigEndian);

// Converts one row of width pixels into out (pixels of format.Target from its first byte). alpha, when
// given, receives width opacity bytes when the format has an alpha sample (and returns true then).
bool ConvertRow(const TRowFormat& format, const std::uint8_t* samples, int width, std::uint8_t* out,
                std::uint8_t* alpha);

// 8-bit CIELab (D50; L unsigned, a and b signed) to sRGB red, green, blue.
TIERgbTriple LabToRgb(std::uint8_t l, std::uint8_t a, std::uint8_t b);

} // namespace tiff
