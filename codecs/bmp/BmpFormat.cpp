// The BMP row of the format registry: how a BMP file is read and recognised.
#include "codecs/bmp/BmpReader.h"
#include "imaging/params/FormatEntry.h"
#include "platform/Stream.h"

namespace {
void ReadBmp(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadBmpStream(s, b, s.Remaining(), c.HeaderOnly, pr, p, m);
}
} // namespace

// Recognised by its signature alone.
const TFormatEntry& BmpFormat() {
    static const TFormatEntry format{.Id = ioBMP, .Read = ReadBmp};
    return format;
}
