#pragma once
// What the reader takes from one directory: the image's layout and coding, and the parameter fields.
#include "codecs/tiff/TiffConvert.h"
#include "codecs/tiff/TiffIfd.h"
#include "codecs/tiff/TiffSources.h"
#include "codecs/tiff/TiffYCbCr.h"
#include "imaging/bitmap/PixelTypes.h"
#include "imaging/params/IOParams.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tiff {

struct TImageInfo {
    std::int64_t Width = 0, Height = 0;
    std::uint32_t Compression = cmpNone;
    int Photometric = phRgb;
    std::uint32_t FillOrder = 1;
    int SamplesPerPixel = 1;
    int BitsPerSample = 1;
    std::int64_t RowsPerStrip = 0;
    std::uint32_t Planar = 1;
    std::uint32_t T4Options = 0;
    std::uint32_t Predictor = 1;
    std::vector<std::uint32_t> Extras; // ExtraSamples: what each sample beyond the colour ones means
    int ExtraCount = 0;                // samples per pixel beyond the colour ones
    std::uint32_t SampleFormat = 1;
    int Orientation = 1;
    std::uint32_t JpegProc = 0;
    std::uint32_t JpegOffset = 0, JpegLength = 0;
    // The old form's tables by tag: offsets of each component's quantization and Huffman tables.
    std::uint32_t JpegRestartInterval = 0;
    std::vector<std::uint32_t> JpegQTables, JpegDcTables, JpegAcTables;
    bool Tiled = false;
    std::int64_t TileWidth = 0, TileLength = 0;
    std::vector<std::uint32_t> Offsets, ByteCounts; // of the strips or tiles that will be decoded
    std::vector<TIERgbTriple> ColorMap;
    TYCbCr YCbCr;
    std::vector<std::uint8_t> JpegTables;
    std::string Software;
};

// The layout and coding of the directory's image; bitsPerSample is the (common) BitsPerSample value.
TImageInfo ReadInfo(const TTiffDirectory& dir, int bitsPerSample);

// Fills the TIFF, resolution, palette and descriptive fields of the parameter record.
void FillParams(const TTiffDirectory& dir, const TImageInfo& info, int frameCount, TIOParamsVals& p);

// Samples of each pixel that make its colour.
int ColourSamples(int photometric);

// The sample that holds each pixel's opacity, or -1: the first extra sample said to be alpha, or, in
// files that say nothing more precise, the second of two grey or palette samples and the fourth of four
// RGB ones.
int AlphaSample(const TImageInfo& info);

// ExtraSamples value of premultiplied (associated) alpha.
constexpr std::uint32_t kAssociatedAlpha = 1;

// A double from the file as an int32, saturated (NaN is 0).
std::int32_t ClampToInt32(double v);

} // namespace tiff
