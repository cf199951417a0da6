// The PNG row of the format registry: how a PNG file is read and recognised.
#include "codecs/png/PngReader.h"
#include "imaging/params/FormatEntry.h"

namespace {
void ReadPng(TStream& s, TIEBitmap& b, TIOParamsVals& p, TIEProgressRecord& pr, std::unique_ptr<TIEMask>& m,
             TReadContext& c) {
    const TColor bg = ColorToRGB(c.Background);
    p.PngBackgroundColor = CreateRGB(ColorRed(bg), ColorGreen(bg), ColorBlue(bg));
    // Header-only reads composite over the background; whole loads hand the alpha to the mask.
    ReadPngStream(s, b, p, c.HeaderOnly, m, c.HeaderOnly, pr);
    c.FileBackground = p.PngBackgroundColor;
}
} // namespace

const TFormatEntry& PngFormat() {
    static const TFormatEntry format{
        .Id = ioPNG, .IsFormat = IsPngStream, .Read = ReadPng, .KeepsFileBackground = true};
    return format;
}
