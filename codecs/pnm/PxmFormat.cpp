// The PBM/PGM/PPM row of the format registry: how a PBM/PGM/PPM file is read and recognised.
#include "codecs/pnm/PxmReader.h"
#include "imaging/params/FormatEntry.h"

namespace {
void ReadPxm(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>&,
             TReadContext& c) {
    ReadPxmStream(s, b, p, c.HeaderOnly, pr);
}
} // namespace

const TFormatEntry& PxmFormat() {
    static const TFormatEntry format{.Id = ioPXM, .IsFormat = IsPxmStream, .Read = ReadPxm};
    return format;
}
