#pragma once
// Image data that is already coded in a form a PDF filter decodes: a source file's own JPEG, CCITT or
// zlib data, taken into the document unchanged. And how each page's image ended up stored.
#include <cstdint>
#include <vector>

enum class TCodedFilter : std::uint8_t { Dct, CcittFax, Flate };
enum class TCodedColourSpace : std::uint8_t { Gray, Rgb, Cmyk, Indexed };

// Where kept data came from, for reports.
enum class TKeptOrigin : std::uint8_t {
    None,
    JpegFile,    // a JPEG file's own bytes
    PngData,     // a PNG file's image data chunks, joined
    TiffG4,      // a TIFF page's Group 4 data
    TiffG3,      // a TIFF page's Group 3 data (strips joined when there are several)
    TiffHuffman, // a TIFF page's modified Huffman rows
    TiffJpeg,    // a TIFF page's JPEG strip with the file's shared tables
};

struct TPdfCodedImage {
    TCodedFilter Filter = TCodedFilter::Flate;
    int Width = 0, Height = 0;
    TCodedColourSpace ColourSpace = TCodedColourSpace::Rgb;
    int BitsPerComponent = 8;
    bool InvertedCmyk = false;         // Adobe CMYK: stored inverted, decoded with [1 0 1 0 1 0 1 0]
    bool NoColourTransform = false;    // DCT: three components stored as RGB, not YCbCr
    std::vector<std::uint8_t> Palette; // Indexed: red, green, blue per entry (at most 256)
    // CCITT data.
    int CcittK = -1; // -1 Group 4, 0 one-dimensional, above 0 mixed
    bool BlackIs1 = false;
    bool EncodedByteAlign = false;
    // Flate data: the channels of PNG-predicted rows (0: no predictor).
    int PredictorColors = 0;
    TKeptOrigin Origin = TKeptOrigin::None;
    int JoinedBlocks = 1; // strips joined into Data
    std::vector<std::uint8_t> Data;
};

// How a page's image was stored.
enum class TPageCoding : std::uint8_t {
    Uncompressed,
    RunLength,
    Group4,
    Group3,
    Dct,
    Flate,
    Kept // TPdfPageStorage::Origin says what was kept
};
struct TPdfPageStorage {
    TPageCoding Coding = TPageCoding::Uncompressed;
    TKeptOrigin Origin = TKeptOrigin::None;
    int JoinedBlocks = 1;
    bool Gray = false;           // one channel
    bool Indexed = false;        // palette indexes
    bool SoftMask = false;       // the image has a soft mask
    int DctQuality = 0;          // the quality asked of the DCT encoder
    std::int64_t ImageBytes = 0; // the image stream's data, with the soft mask's
};
