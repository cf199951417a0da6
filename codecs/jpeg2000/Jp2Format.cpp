// The JPEG 2000 row of the format registry: how a JPEG 2000 file is read and recognised.
#include "codecs/jpeg2000/Jp2Reader.h"
#include "imaging/params/FormatEntry.h"

namespace {
// One reader serves both kinds: it recognises them by content.
void ReadJpeg2000(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr,
                  std::unique_ptr<TIEMask>& m, TReadContext& c) {
    ReadJp2Stream(s, b, p, c.HeaderOnly, pr, m);
}
} // namespace

const TFormatEntry& Jp2Format() {
    static const TFormatEntry format{.Id = ioJP2, .IsFormat = IsJp2Stream, .Read = ReadJpeg2000};
    return format;
}

const TFormatEntry& J2kFormat() {
    static const TFormatEntry format{.Id = ioJ2K, .IsFormat = IsJ2kStream, .Read = ReadJpeg2000};
    return format;
}
