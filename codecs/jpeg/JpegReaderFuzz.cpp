// fuzz-seeds: jpeg
#include "codecs/jpeg/ExifReader.h"
#include "codecs/jpeg/JpegReader.h"

#include <cstddef>
#include <cstdint>

namespace {
// Reads every byte of every row handed over, so that a short row shows under the sanitizers.
class TTouchingRows : public TRowSink {
public:
    bool Begin(TIOParamsVals&, int width, int) override {
        Width = width;
        return true;
    }
    void Row(const std::uint8_t* bgr) override {
        for (int i = 0; i < Width * 3; ++i) Sum += bgr[i];
    }
    int Width = 0;
    unsigned Sum = 0;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    // The last byte picks the request, so one input also exercises scaling, raw components and rows
    // handed over instead of a bitmap.
    const std::uint8_t options = size ? data[size - 1] : 0;
    params.JpegScale = static_cast<std::uint8_t>(options % 5);
    params.JpegDctMethod = static_cast<std::uint8_t>((options >> 3) % 3);
    params.ImageWidth = params.ImageHeight = 64;
    TTouchingRows rows;
    ReadJpegStream(stream, nullptr, bitmap, params, progress, (options & 0x40) != 0, (options & 0x80) != 0,
                   (options & 0x20) ? &rows : nullptr);
    ReadExifFromMarkers(params.JpegMarkers, params);
    TIEIPTCInfoList iptc;
    ReadIptcFromMarkers(params.JpegMarkers, iptc);
    ReadExifTiffBlock(data, size, params);
    ReadIptcDatasets(data, size, iptc);
    return 0;
}
