// The icon and cursor row of the format registry: how a icon and cursor file is read and recognised.
#include "codecs/ico/IcoReader.h"
#include "imaging/params/FormatEntry.h"

namespace {
void ReadIco(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadIcoStream(s, b, p, m, pr, c.HeaderOnly);
}

void ReadCur(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadCurStream(s, b, p, m, pr, c.HeaderOnly);
}
} // namespace

const TFormatEntry& IcoFormat() {
    static const TFormatEntry format{
        .Id = ioICO, .IsFormat = IsIcoStream, .Read = ReadIco, .CountImages = GetIcoImageCount};
    return format;
}

const TFormatEntry& CurFormat() {
    static const TFormatEntry format{.Id = ioCUR, .IsFormat = IsCurStream, .Read = ReadCur};
    return format;
}
