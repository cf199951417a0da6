// The PCX row of the format registry: how a PCX file is read and recognised.
#include "codecs/pcx/PcxReader.h"
#include "imaging/params/FormatEntry.h"
#include "platform/Stream.h"

namespace {
void ReadPcx(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadPcxStream(s, b, p, c.HeaderOnly, pr, s.Remaining(), m);
}
} // namespace

const TFormatEntry& PcxFormat() {
    static const TFormatEntry format{.Id = ioPCX, .IsFormat = IsPcxStream, .Read = ReadPcx};
    return format;
}
