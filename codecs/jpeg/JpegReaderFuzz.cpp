// fuzz-seeds: jpeg
#include "codecs/jpeg/ExifReader.h"
#include "codecs/jpeg/JpegReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, static_cast<std::int64_t>(size));
    TIEBitmap bitmap;
    TIOParamsVals params;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    // The last byte picks the request, so one input also exercises scaling and raw components.
    const std::uint8_t options = size ? data[size - 1] : 0;
    params.JpegScale = static_cast<std::uint8_t>(options % 5);
    params.JpegDctMethod = static_cast<std::uint8_t>((options >> 3) % 3);
    params.ImageWidth = params.ImageHeight = 64;
    ReadJpegStream(stream, nullptr, bitmap, params, progress, (options & 0x40) != 0, (options & 0x80) != 0);
    ReadExifFromMarkers(params.JpegMarkers, params);
    TIEIPTCInfoList iptc;
    ReadIptcFromMarkers(params.JpegMarkers, iptc);
    ReadExifTiffBlock(data, size, params);
    ReadIptcDatasets(data, size, iptc);
    return 0;
}
