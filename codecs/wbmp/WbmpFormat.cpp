// The WBMP row of the format registry: how a WBMP file is read and recognised.
#include "codecs/wbmp/WbmpReader.h"
#include "imaging/params/FormatEntry.h"

namespace {
void ReadWbmp(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
              TReadContext& c) {
    ReadWbmpStream(s, b, p, c.HeaderOnly, pr);
}
} // namespace

const TFormatEntry& WbmpFormat() {
    static const TFormatEntry format{.Id = ioWBMP, .IsFormat = IsWbmpStream, .Read = ReadWbmp};
    return format;
}
