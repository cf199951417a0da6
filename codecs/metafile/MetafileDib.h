#pragma once
// Device-independent bitmaps inside metafile records: header parsing and bounded decoding into
// premultiplied ARGB images.
#include "codecs/metafile/MetafileCanvas.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace metafile {

// Largest bitmap side the decoder accepts, and the most pixels it produces for one image.
constexpr int kMaxDibSide = 1 << 16;
constexpr std::int64_t kMaxDecodedPixels = std::int64_t(1) << 24;

// DIB_PAL_MONO: no colour table follows the header; entry 0 is black, the others white.
enum : std::uint32_t { DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1, DIB_PAL_MONO = 2 };
// Compression of a DIB's bits.
enum : std::uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };

struct TDibHeader {
    int Width = 0, Height = 0; // Height positive; TopDown tells the row order
    bool TopDown = false;
    int BitCount = 0;
    std::uint32_t Compression = BI_RGB;
    std::uint32_t Masks[3] = {0, 0, 0};
    std::vector<TRgb> Colors;  // colour table, resolved through the palette for DIB_PAL_COLORS
    std::size_t InfoBytes = 0; // header, masks and colour table: where packed bits start
};

// Parses a BITMAPCOREHEADER, BITMAPINFOHEADER or a later version with its masks and colour table.
// False for anything not decodable (JPEG/PNG compression, bad sizes, a colour table past the data).
bool ParseDibHeader(const std::uint8_t* p, std::size_t n, std::uint32_t usage, const TPalette* palette,
                    TDibHeader& h);

// Decodes the crop rectangle (top-down pixel coordinates; clamped to the bitmap) from bits, taking every
// k-th pixel so that the result is at most maxW x maxH. Rows the data does not hold stay transparent.
// With keepAlpha, 32-bit pixels keep their (premultiplied) alpha. Null when nothing is left to decode.
std::shared_ptr<TImage> DecodeDib(const TDibHeader& h, const std::uint8_t* bits, std::size_t n, int cropX,
                                  int cropY, int cropW, int cropH, int maxW, int maxH,
                                  bool keepAlpha = false);

// A WMF Bitmap16 (device-dependent, one plane, one bit per pixel): 0 bits take fg, 1 bits bg.
std::shared_ptr<TImage> DecodeMonoBitmap16(const std::uint8_t* bits, std::size_t n, int width, int height,
                                           int widthBytes, TRgb fg, TRgb bg);

} // namespace metafile
