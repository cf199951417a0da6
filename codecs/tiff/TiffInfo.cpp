#include "codecs/tiff/TiffInfo.h"

#include <algorithm>
#include <cmath>

namespace tiff {

namespace {

constexpr std::uint32_t kUnassociatedAlpha = 2;

// The parameter record's code for a Compression value.
std::uint8_t CompressionCode(std::uint32_t compression, std::uint32_t t4Options) {
    switch (compression) {
    case cmpNone:
        return 0;
    case cmpHuffman:
        return 1;
    case cmpFax3:
        return (t4Options & 1) ? 3 : 2;
    case cmpFax4:
        return 4;
    case cmpLzw:
        return 5;
    case cmpOldJpeg:
        return 6;
    case cmpJpeg:
        return 7;
    case cmpPackBits:
        return 8;
    default:
        return 9;
    }
}

} // namespace

std::int32_t ClampToInt32(double v) {
    if (!(v == v)) return 0; // NaN
    return std::int32_t(std::clamp(std::trunc(v), -2147483648.0, 2147483647.0));
}

TImageInfo ReadInfo(const TTiffDirectory& dir, int bitsPerSample) {
    TImageInfo info;
    info.Width = dir.Single(tagImageWidth, 0);
    info.Height = dir.Single(tagImageLength, 0);
    info.BitsPerSample = bitsPerSample;
    info.Compression = dir.Single(tagCompression, cmpNone);
    info.Photometric = int(std::min<std::uint32_t>(dir.Single(tagPhotometric, phRgb), 0xFFFF));
    info.FillOrder = dir.Single(tagFillOrder, 1);
    info.SamplesPerPixel = int(std::min<std::uint32_t>(dir.Single(tagSamplesPerPixel, 1), 0xFFFF));
    // Without the tag, one sample of more than a bit and other than 16 bits (5-5-5 colour) is grey.
    if (!dir.Has(tagPhotometric) && info.SamplesPerPixel == 1 && bitsPerSample > 1 && bitsPerSample != 16)
        info.Photometric = phBlackIsZero;
    const std::uint32_t rows = dir.Single(tagRowsPerStrip, std::uint32_t(info.Height));
    // 0xFFFFFFFF means one strip; 0 would mean no rows at all, read the same way.
    info.RowsPerStrip = (rows == 0 || rows > info.Height) ? info.Height : rows;
    info.Planar = dir.Single(tagPlanarConfig, 1);
    info.T4Options = dir.Single(tagT4Options, 0);
    info.Predictor = dir.Single(tagPredictor, 1);
    info.Extras = dir.Values(tagExtraSamples, 16);
    info.ExtraCount = int(info.Extras.size());
    info.SampleFormat = dir.First(tagSampleFormat, 1);
    info.Orientation = int(std::min<std::uint32_t>(dir.Single(tagOrientation, 1), 0xFFFF));
    info.JpegProc = dir.Single(tagJpegProc, 0);
    info.JpegOffset = dir.Single(tagJpegInterchangeFormat, 0);
    info.JpegLength = dir.Single(tagJpegInterchangeFormatLength, 0);
    info.JpegRestartInterval = dir.Single(tagJpegRestartInterval, 0);
    // More tables than JPEG components can have say nothing more.
    constexpr std::uint32_t kMaxTables = 4;
    info.JpegQTables = dir.Values(tagJpegQTables, kMaxTables);
    info.JpegDcTables = dir.Values(tagJpegDcTables, kMaxTables);
    info.JpegAcTables = dir.Values(tagJpegAcTables, kMaxTables);
    info.Software = dir.Text(tagSoftware);
    info.JpegTables = dir.Bytes(tagJpegTables);
    info.YCbCr = ReadYCbCr(dir);
    (void)dir.Values(tagTransferFunction, 3 * 65536); // read, not applied

    info.Tiled = dir.Has(tagTileWidth) || dir.Has(tagTileLength);
    if (info.Tiled) {
        info.TileWidth = dir.Single(tagTileWidth, 0);
        info.TileLength = dir.Single(tagTileLength, 0);
    }
    const bool tileArrays = info.Tiled && dir.Has(tagTileOffsets);
    info.Offsets = dir.Values(tileArrays ? tagTileOffsets : tagStripOffsets);
    info.ByteCounts = dir.Values(tileArrays ? tagTileByteCounts : tagStripByteCounts);

    // A bilevel image that claims RGB (also the value when the tag is absent) is white-is-zero.
    if (info.SamplesPerPixel == 1 && info.BitsPerSample == 1 && info.Photometric == phRgb &&
        info.Compression != cmpOldJpeg && info.Compression != cmpJpeg)
        info.Photometric = phWhiteIsZero;

    const std::vector<std::uint32_t> map = dir.Values(tagColorMap, 3 * 65536);
    std::size_t n = map.size() / 3;
    if (info.BitsPerSample <= 16) n = std::min<std::size_t>(n, std::size_t(1) << info.BitsPerSample);
    info.ColorMap.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        info.ColorMap[i] = CreateRGB(std::uint8_t(map[i] >> 8), std::uint8_t(map[i + n] >> 8),
                                     std::uint8_t(map[i + 2 * n] >> 8));
    return info;
}

void FillParams(const TTiffDirectory& dir, const TImageInfo& info, int frameCount, TIOParamsVals& p) {
    p.ImageWidth = ClampToInt32(double(info.Width));
    p.ImageHeight = ClampToInt32(double(info.Height));
    p.BitsPerSample = info.BitsPerSample;
    p.SamplesPerPixel = info.SamplesPerPixel;
    p.TiffCompression = CompressionCode(info.Compression, info.T4Options);
    if (info.Photometric >= 0 && info.Photometric <= 6)
        p.TiffPhotometric = std::uint8_t(info.Photometric);
    else if (info.Photometric == phCieLab)
        p.TiffPhotometric = 7;
    p.TiffPlanarConfig = ClampToInt32(double(info.Planar));
    p.SetTiffOrientation(info.Orientation);
    p.TiffDocumentName = dir.Text(tagDocumentName);
    p.TiffImageDescription = dir.Text(tagImageDescription);
    p.TiffPageName = dir.Text(tagPageName);
    const std::vector<std::uint32_t> page = dir.Values(tagPageNumber, 2);
    p.TiffPageNumber = page.size() > 0 ? std::int32_t(page[0]) : 0;
    p.TiffPageCount = page.size() > 1 ? std::int32_t(page[1]) : 0;

    const double factor = dir.Single(tagResolutionUnit, 2) == 3 ? 2.54 : 1.0;
    p.TiffXPosition = ClampToInt32(dir.Rational(tagXPosition) * factor);
    p.TiffYPosition = ClampToInt32(dir.Rational(tagYPosition) * factor);
    const std::int32_t dpiX = ClampToInt32(dir.Rational(tagXResolution) * factor);
    const std::int32_t dpiY = ClampToInt32(dir.Rational(tagYResolution) * factor);
    p.SetHorizontalDpi(dpiX <= 0 ? DefaultDpiX : dpiX);
    p.SetVerticalDpi(dpiY <= 0 ? DefaultDpiY : dpiY);

    p.FreePalette();
    if (!info.ColorMap.empty()) p.SetPalette(info.ColorMap.data(), int(info.ColorMap.size()));
    p.TiffFrameCount = frameCount;

    // The descriptive fields that have a place in the record.
    p.ExifImageDescription = p.TiffImageDescription;
    p.ExifMake = dir.Text(tagMake);
    p.ExifModel = dir.Text(tagModel);
    p.ExifDateTime = dir.Text(tagDateTime);
    p.ExifSoftware = info.Software;
    p.ExifCopyright = dir.Text(tagCopyright);
    if (dir.Has(tagXResolution)) p.ExifXResolution = dir.Rational(tagXResolution);
    if (dir.Has(tagYResolution)) p.ExifYResolution = dir.Rational(tagYResolution);
    if (dir.Has(tagResolutionUnit))
        p.ExifResolutionUnit = ClampToInt32(double(dir.Single(tagResolutionUnit, 2)));

    p.IPTCInfo.clear();
    if (std::vector<std::uint8_t> iptc = dir.Bytes(tagIptc); !iptc.empty())
        p.IPTCInfo.push_back(std::move(iptc));
    if (std::vector<std::uint8_t> annot = dir.Bytes(tagAnnotation); !annot.empty()) {
        p.ImagingAnnot.clear();
        p.ImagingAnnot.push_back(std::move(annot));
    }
}

int ColourSamples(int photometric) {
    switch (photometric) {
    case phRgb:
    case phYCbCr:
    case phCieLab:
        return 3;
    case phSeparated:
        return 4;
    default:
        return 1;
    }
}

int AlphaSample(const TImageInfo& info) {
    const int colours = ColourSamples(info.Photometric);
    if (info.SamplesPerPixel <= colours) return -1;
    for (std::size_t i = 0; i < info.Extras.size() && colours + int(i) < info.SamplesPerPixel; ++i)
        if (info.Extras[i] == kAssociatedAlpha || info.Extras[i] == kUnassociatedAlpha)
            return colours + int(i);
    const bool oneExtra = info.SamplesPerPixel == colours + 1;
    return oneExtra && (info.Photometric == phRgb || colours == 1) ? colours : -1;
}

} // namespace tiff
