// The TGA row of the format registry: how a TGA file is read and recognised.
#include "codecs/tga/TgaReader.h"
#include "imaging/params/FormatEntry.h"

namespace {
void ReadTga(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    ReadTgaStream(s, b, p, false, m, c.HeaderOnly, pr);
}
} // namespace

const TFormatEntry& TgaFormat() {
    static const TFormatEntry format{.Id = ioTGA, .IsFormat = IsTgaStream, .Read = ReadTga};
    return format;
}
