// The JPEG row of the format registry: how a JPEG file is read and recognised.
#include "codecs/jpeg/ExifReader.h"
#include "codecs/jpeg/JpegReader.h"
#include "imaging/params/FormatEntry.h"

#include <optional>

namespace {
// After a JPEG read: IPTC from APP13 and, where the file states no resolution of its own, the EXIF one.
void ReadJpegMetadata(TIOParamsVals& p) {
    ReadIptcFromMarkers(p.JpegMarkers, p.IPTCInfo);
    if (ReadExifFromMarkers(p.JpegMarkers, p) && p.HorizontalDpi == 1 && p.VerticalDpi == 1) {
        const double scale = p.ExifResolutionUnit == 3 ? 2.54 : 1.0;
        const double x = p.ExifXResolution * scale, y = p.ExifYResolution * scale;
        p.SetHorizontalDpi(x);
        p.SetVerticalDpi(y);
    }
}

// Rows handed over need the resolution the metadata gives before the first of them.
class TMetadataFirst : public TRowSink {
public:
    explicit TMetadataFirst(TRowSink& next) : Next(next) {}
    bool Begin(TIOParamsVals& params, int width, int height) override {
        ReadJpegMetadata(params);
        MetadataRead = true;
        return Next.Begin(params, width, height);
    }
    void Row(const std::uint8_t* bgr) override { Next.Row(bgr); }

    TRowSink& Next;
    bool MetadataRead = false;
};

void ReadJpeg(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
              TReadContext& c) {
    std::optional<TMetadataFirst> rows;
    if (c.Rows && !c.HeaderOnly) rows.emplace(*c.Rows);
    ReadJpegStream(s, nullptr, b, p, pr, c.HeaderOnly, false, rows ? &*rows : nullptr);
    if (!rows || !rows->MetadataRead) ReadJpegMetadata(p);
}
} // namespace

const TFormatEntry& JpegFormat() {
    static const TFormatEntry format{.Id = ioJPEG, .IsFormat = IsJpegStream, .Read = ReadJpeg};
    return format;
}
