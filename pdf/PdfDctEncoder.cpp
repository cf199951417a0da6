// The DCT (JPEG) encoder for colour pages, over the JPEG codec's libjpeg glue.
#include "codecs/jpeg/JpegEncoderGlue.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/FormatIds.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "pdf/PdfDctRows.h"
#include "pdf/PdfEncoders.h"
#include "platform/Stream.h"

#include <algorithm>
#include <vector>

namespace {
std::uint16_t Density(std::int32_t dpi, int fallback) {
    const std::int64_t v = dpi == 0 ? fallback : dpi;
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 1, 65535));
}

// Only APPn (except the Adobe APP14, which the library writes itself when needed) and COM markers go
// out, and only with data a marker segment can hold; anything else would break the stream.
bool WritableMarker(const TIEMarker& m) {
    const bool kind = (m.Code >= 0xE0 && m.Code <= 0xEF && m.Code != 0xEE) || m.Code == 0xFE;
    return kind && m.Data.size() <= 65533;
}
} // namespace

TDctRowEncoder::TDctRowEncoder(TStream& output, const TIOParamsVals& params, int width, int height, bool grey,
                               bool* aborting)
    : FCompressor(output, aborting) {
    TJpegCompressSettings settings;
    settings.Width = width;
    settings.Height = height;
    settings.Grey = grey;
    settings.DensityX = Density(params.HorizontalDpi, DefaultDpiX);
    settings.DensityY = Density(params.VerticalDpi, DefaultDpiY);
    settings.DctMethod = params.JpegDctMethod;
    settings.OptimalCoding = params.JpegOptimalCoding;
    settings.Smoothing = std::clamp(params.JpegSmoothing, 0, 100);
    settings.Quality = params.JpegQuality;
    settings.Progressive = params.JpegProgressive;
    FCompressor.Start(settings);
    for (const TIEMarker& m : params.JpegMarkers)
        if (WritableMarker(m))
            FCompressor.WriteMarker(m.Code, m.Data.data(), static_cast<unsigned>(m.Data.size()));
}

TDctColourSpace EncodeDct(TStream& output, TIEBitmap& bitmap, TIOParamsVals& params,
                          TIEProgressRecord& progress) {
    bool localAborting = false;
    bool* aborting = progress.Aborting ? progress.Aborting : &localAborting;

    const TIEPixelFormat type = bitmap.PixelType();
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (width <= 0 || height <= 0 || (type != ie24Rgb && type != ie1Bit)) {
        *aborting = true;
        return TDctColourSpace::Rgb;
    }
    // From the page's own pixels, never from what an earlier file was: a grey page is one component.
    const TDctColourSpace space = bitmap.IsGreyscale() ? TDctColourSpace::Gray : TDctColourSpace::Rgb;
    if (*aborting) return space;
    TDctRowEncoder encoder(output, params, width, height, space == TDctColourSpace::Gray, aborting);

    // One row of blue-green-red triples for bilevel pages; colour rows go from the bitmap as they are.
    std::vector<std::uint8_t> rowBuffer;
    if (type == ie1Bit) rowBuffer.resize(static_cast<std::size_t>(width) * 3);
    progress.ProgressCounter = 0;
    progress.PercentPerUnit = 100.0 / height;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = bitmap.RowPointer(y);
        if (type == ie1Bit) {
            std::uint8_t* out = rowBuffer.data();
            for (int x = 0; x < width; ++x, out += 3)
                out[0] = out[1] = out[2] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            src = rowBuffer.data();
        }
        encoder.Row(src);
        ++progress.ProgressCounter;
        progress.Report();
        if (*aborting) break;
    }
    // After an abort the data stays incomplete: no end-of-image marker.
    if (!*aborting) encoder.Finish();
    return space;
}
