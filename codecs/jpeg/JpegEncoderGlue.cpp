#include "codecs/jpeg/JpegEncoderGlue.h"

#include "platform/Stream.h"

namespace {
constexpr std::size_t kDestinationBufferSize = 65536;

// The layout of the rows handed to libjpeg. libjpeg-turbo takes our blue-green-red rows as they are;
// another libjpeg gets red-green-blue triples in the pixel order it was built with.
#if defined(JCS_EXTENSIONS)
constexpr J_COLOR_SPACE kInputSpace = JCS_EXT_BGR;
constexpr bool kRowsDirect = true;
constexpr int kRed = 2, kGreen = 1, kBlue = 0, kPixelSize = 3;
#elif defined(RGB_RED)
constexpr J_COLOR_SPACE kInputSpace = JCS_RGB;
constexpr bool kRowsDirect = false;
constexpr int kRed = RGB_RED, kGreen = RGB_GREEN, kBlue = RGB_BLUE, kPixelSize = RGB_PIXELSIZE;
#else
constexpr J_COLOR_SPACE kInputSpace = JCS_RGB;
constexpr bool kRowsDirect = false;
constexpr int kRed = 0, kGreen = 1, kBlue = 2, kPixelSize = 3;
#endif

TJpegStreamDestination& DestinationOf(j_compress_ptr cinfo) {
    return *reinterpret_cast<TJpegStreamDestination*>(cinfo->dest);
}

// Hands count bytes to the stream. A short write sets Aborting; libjpeg is told the block went out
// regardless, so compression goes on. A stream that raises leaves the library call with its exception.
void Send(j_compress_ptr cinfo, std::size_t count) {
    TJpegStreamDestination& d = DestinationOf(cinfo);
    const auto n = static_cast<std::int64_t>(count);
    bool failed = false;
    try {
        if (n > 0 && d.Output->Write(d.Buffer.data(), n) != n) *d.Aborting = true;
    } catch (...) {
        KeepJpegCallbackException(JpegErrorManagerOf(reinterpret_cast<j_common_ptr>(cinfo)));
        failed = true;
    }
    if (failed) LeaveJpegLibrary(JpegErrorManagerOf(reinterpret_cast<j_common_ptr>(cinfo)));
}

void InitDestination(j_compress_ptr cinfo) {
    TJpegStreamDestination& d = DestinationOf(cinfo);
    d.Pub.next_output_byte = d.Buffer.data();
    d.Pub.free_in_buffer = d.Buffer.size();
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    Send(cinfo, DestinationOf(cinfo).Buffer.size()); // libjpeg calls this only with a full buffer
    InitDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    TJpegStreamDestination& d = DestinationOf(cinfo);
    Send(cinfo, d.Buffer.size() - d.Pub.free_in_buffer);
}
} // namespace

TJpegCompressor::TJpegCompressor(TStream& output, bool* aborting) {
    FDestination.Output = &output;
    FDestination.Aborting = aborting;
    FDestination.Pub.init_destination = InitDestination;
    FDestination.Pub.empty_output_buffer = EmptyOutputBuffer;
    FDestination.Pub.term_destination = TermDestination;
    FInfo.err = InitJpegErrorManager(FErrors, aborting);
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    jpeg_create_compress(&FInfo);
    FCreated = true;
    FDestination.Buffer.resize(kDestinationBufferSize);
    FInfo.dest = &FDestination.Pub;
}

TJpegCompressor::~TJpegCompressor() {
    if (FCreated) jpeg_destroy_compress(&FInfo);
}

// Each call below sets the jump target and then enters the library; a fatal error comes back to the
// setjmp with the library object left as it was, and the exception starts from this frame.
void TJpegCompressor::Start(const TJpegCompressSettings& settings) {
    FInfo.image_width = static_cast<JDIMENSION>(settings.Width);
    FInfo.image_height = static_cast<JDIMENSION>(settings.Height);
    FInfo.input_components = 3;
    FInfo.in_color_space = kInputSpace;
    if (!kRowsDirect) FRow.resize(static_cast<std::size_t>(settings.Width) * kPixelSize);
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    jpeg_set_defaults(&FInfo);
    jpeg_set_colorspace(&FInfo, settings.Grey ? JCS_GRAYSCALE : JCS_YCbCr);
    FInfo.density_unit = 1; // dots per inch
    FInfo.X_density = settings.DensityX;
    FInfo.Y_density = settings.DensityY;
    ApplyJpegDctMethod(settings.DctMethod, FInfo.dct_method);
    if (settings.OptimalCoding) FInfo.optimize_coding = TRUE;
    FInfo.smoothing_factor = settings.Smoothing;
    jpeg_set_quality(&FInfo, settings.Quality, TRUE);
    if (settings.Progressive) jpeg_simple_progression(&FInfo);
    jpeg_start_compress(&FInfo, TRUE);
}

void TJpegCompressor::WriteMarker(int code, const std::uint8_t* data, unsigned length) {
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    jpeg_write_marker(&FInfo, code, data, length);
}

void TJpegCompressor::WriteRow(const std::uint8_t* bgr) {
    // The library only reads the row; its interface is not const.
    JSAMPROW row = const_cast<JSAMPLE*>(bgr);
    if (!kRowsDirect) {
        JSAMPLE* out = FRow.data();
        for (JDIMENSION x = 0; x < FInfo.image_width; ++x, out += kPixelSize, bgr += 3) {
            out[kRed] = bgr[2];
            out[kGreen] = bgr[1];
            out[kBlue] = bgr[0];
        }
        row = FRow.data();
    }
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    jpeg_write_scanlines(&FInfo, &row, 1);
}

void TJpegCompressor::Finish() {
    if (setjmp(FErrors.Jump)) RaiseJpegFailure(FErrors);
    jpeg_finish_compress(&FInfo);
}
