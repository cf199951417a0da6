// The TIFF row of the format registry: how a TIFF file is read and recognised.
#include "codecs/tiff/TiffReader.h"
#include "imaging/params/FormatEntry.h"

namespace {
void ReadTiff(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
              TReadContext& c) {
    ReadTiffStream(b, s, c.FrameCount, false, false, false, m, c.HeaderOnly, pr, p);
}
} // namespace

const TFormatEntry& TiffFormat() {
    static const TFormatEntry format{.Id = ioTIFF,
                                     .IsFormat = IsTiffStream,
                                     .Read = ReadTiff,
                                     .CountImages = GetTiffFrameCount,
                                     .ImageCountField = &TIOParamsVals::TiffFrameCount,
                                     .RefusesStreamHeaders = true};
    return format;
}
