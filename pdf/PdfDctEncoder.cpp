// The DCT (JPEG) encoder for colour pages, over libjpeg with the shared error handler.
#include "codecs/jpeg/JpegErrorManager.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/FormatIds.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "pdf/PdfEncoders.h"
#include "platform/Stream.h"

#include <algorithm>
#include <vector>

#include <jpeglib.h>

namespace {
constexpr std::size_t kDestinationBufferSize = 65536;

// The layout of the rows handed to libjpeg. libjpeg-turbo takes our blue-green-red rows as they are;
// another libjpeg gets red-green-blue triples in the pixel order it was built with.
#if defined(JCS_EXTENSIONS)
constexpr J_COLOR_SPACE kInputSpace = JCS_EXT_BGR;
constexpr bool kBitmapRowsDirect = true;
constexpr int kRed = 2, kGreen = 1, kBlue = 0, kPixelSize = 3;
#elif defined(RGB_RED)
constexpr J_COLOR_SPACE kInputSpace = JCS_RGB;
constexpr bool kBitmapRowsDirect = false;
constexpr int kRed = RGB_RED, kGreen = RGB_GREEN, kBlue = RGB_BLUE, kPixelSize = RGB_PIXELSIZE;
#else
constexpr J_COLOR_SPACE kInputSpace = JCS_RGB;
constexpr bool kBitmapRowsDirect = false;
constexpr int kRed = 0, kGreen = 1, kBlue = 2, kPixelSize = 3;
#endif

// Hands libjpeg's output to a TStream in 65,536-byte blocks. A short write sets Aborting; libjpeg is
// told the block went out regardless, so compression goes on.
struct TDctDestination {
    jpeg_destination_mgr Pub{}; // first member: libjpeg's pointer is the record's address
    TStream* Output = nullptr;
    bool* Aborting = nullptr;
    std::vector<JOCTET> Buffer;

    static TDctDestination& Of(j_compress_ptr cinfo) {
        return *reinterpret_cast<TDctDestination*>(cinfo->dest);
    }

    void Send(std::size_t count) {
        const auto n = static_cast<std::int64_t>(count);
        if (n > 0 && Output->Write(Buffer.data(), n) != n) *Aborting = true;
    }

    static void Init(j_compress_ptr cinfo) {
        TDctDestination& d = Of(cinfo);
        d.Pub.next_output_byte = d.Buffer.data();
        d.Pub.free_in_buffer = d.Buffer.size();
    }
    static boolean Empty(j_compress_ptr cinfo) {
        TDctDestination& d = Of(cinfo);
        d.Send(d.Buffer.size()); // libjpeg calls this only with a full buffer
        Init(cinfo);
        return TRUE;
    }
    static void Term(j_compress_ptr cinfo) {
        TDctDestination& d = Of(cinfo);
        d.Send(d.Buffer.size() - d.Pub.free_in_buffer);
    }
};

// Owns the compression object; destroyed on every path, also when libjpeg raises.
class TJpegCompressor {
public:
    explicit TJpegCompressor(TIEJpegErrorManager& err, bool* aborting) {
        Info.err = InitJpegErrorManager(err, aborting);
        jpeg_create_compress(&Info);
        Created = true;
    }
    ~TJpegCompressor() {
        if (Created) jpeg_destroy_compress(&Info);
    }
    TJpegCompressor(const TJpegCompressor&) = delete;
    TJpegCompressor& operator=(const TJpegCompressor&) = delete;
    jpeg_compress_struct Info{};

private:
    bool Created = false;
};

UINT16 Density(std::int32_t dpi, int fallback) {
    const std::int64_t v = dpi == 0 ? fallback : dpi;
    return static_cast<UINT16>(std::clamp<std::int64_t>(v, 1, 65535));
}

// Only APPn (except the Adobe APP14, which the library writes itself when needed) and COM markers go
// out, and only with data a marker segment can hold; anything else would break the stream.
bool WritableMarker(const TIEMarker& m) {
    const bool kind = (m.Code >= 0xE0 && m.Code <= 0xEF && m.Code != 0xEE) || m.Code == 0xFE;
    return kind && m.Data.size() <= 65533;
}
} // namespace

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

    // The destination outlives the compressor that points at it.
    TDctDestination dest;
    dest.Output = &output;
    dest.Aborting = aborting;
    dest.Pub.init_destination = TDctDestination::Init;
    dest.Pub.empty_output_buffer = TDctDestination::Empty;
    dest.Pub.term_destination = TDctDestination::Term;

    TIEJpegErrorManager err;
    TJpegCompressor compressor(err, aborting);
    jpeg_compress_struct& info = compressor.Info;
    dest.Buffer.resize(kDestinationBufferSize);
    info.dest = &dest.Pub;
    if (*aborting) return space;

    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = kInputSpace;
    const bool directRows = kBitmapRowsDirect && type == ie24Rgb;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, space == TDctColourSpace::Gray ? JCS_GRAYSCALE : JCS_YCbCr);
    info.density_unit = 1; // dots per inch
    info.X_density = Density(params.HorizontalDpi, DefaultDpiX);
    info.Y_density = Density(params.VerticalDpi, DefaultDpiY);
    ApplyJpegDctMethod(params.JpegDctMethod, info.dct_method);
    if (params.JpegOptimalCoding) info.optimize_coding = TRUE;
    info.smoothing_factor = std::clamp(params.JpegSmoothing, 0, 100);
    jpeg_set_quality(&info, params.JpegQuality, TRUE);
    if (params.JpegProgressive) jpeg_simple_progression(&info);

    jpeg_start_compress(&info, TRUE);
    for (const TIEMarker& m : params.JpegMarkers)
        if (WritableMarker(m))
            jpeg_write_marker(&info, m.Code, m.Data.data(), static_cast<unsigned>(m.Data.size()));

    // One row buffer, used when a row cannot go straight from the bitmap.
    std::vector<JSAMPLE> rowBuffer;
    if (!directRows) rowBuffer.resize(static_cast<std::size_t>(width) * kPixelSize);
    progress.ProgressCounter = 0;
    progress.PercentPerUnit = 100.0 / height;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* src = bitmap.RowPointer(y);
        JSAMPROW row = src;
        if (!directRows) {
            JSAMPLE* out = rowBuffer.data();
            for (int x = 0; x < width; ++x, out += kPixelSize) {
                if (type == ie1Bit) {
                    const JSAMPLE v = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
                    out[kRed] = out[kGreen] = out[kBlue] = v;
                } else {
                    out[kRed] = src[3 * x + 2];
                    out[kGreen] = src[3 * x + 1];
                    out[kBlue] = src[3 * x];
                }
            }
            row = rowBuffer.data();
        }
        jpeg_write_scanlines(&info, &row, 1);
        ++progress.ProgressCounter;
        progress.Report();
        if (*aborting) break;
    }
    // After an abort the data stays incomplete: no end-of-image marker.
    if (!*aborting) jpeg_finish_compress(&info);
    return space;
}
