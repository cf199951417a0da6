#include "imaging/io/KeptPageData.h"

#include "codecs/jpeg/JpegCodedData.h"
#include "codecs/png/PngCodedData.h"
#include "codecs/tiff/TiffCodedData.h"
#include "codecs/tiff/TiffCodedJpeg.h"
#include "imaging/params/FormatIds.h"
#include "imaging/params/IOParams.h"
#include "platform/Stream.h"

#include <vector>

namespace {
// Whole files are read for JPEG and PNG data; the document holds them in memory in any case.
constexpr std::int64_t kLargestKeptFile = std::int64_t(1) << 30;

TKeptPageData None(std::string reason) {
    return {std::nullopt, std::move(reason)};
}

bool ReadWhole(TStream& file, std::vector<std::uint8_t>& bytes) {
    const std::int64_t size = file.Size();
    if (size <= 0 || size > kLargestKeptFile) return false;
    bytes.resize(static_cast<std::size_t>(size));
    file.SetPosition(0);
    return file.Read(bytes.data(), size) == size;
}

// JPEG data as a DCT image, with the colour space its components give.
TKeptPageData FromJpegData(std::vector<std::uint8_t> bytes, TKeptOrigin origin, bool rgbByContainer = false) {
    const TJpegCodedInfo info = ProbeJpegCodedData(bytes, rgbByContainer);
    if (!info.Carriable) return None(info.Refusal);
    TPdfCodedImage image;
    image.Filter = TCodedFilter::Dct;
    image.Width = info.Width;
    image.Height = info.Height;
    switch (info.Colours) {
    case TJpegCodedColours::Gray:
        image.ColourSpace = TCodedColourSpace::Gray;
        break;
    case TJpegCodedColours::YCbCrOrRgb:
        image.ColourSpace = TCodedColourSpace::Rgb;
        break;
    case TJpegCodedColours::Cmyk:
        image.ColourSpace = TCodedColourSpace::Cmyk;
        image.InvertedCmyk = info.AdobeMarker;
        break;
    }
    image.NoColourTransform = rgbByContainer;
    image.Origin = origin;
    image.Data = std::move(bytes);
    return {std::move(image), {}};
}

TKeptPageData FromJpeg(TStream& file, const TIOParamsVals& p) {
    if (p.JpegWarningCount != 0) return None("JPEG data has errors");
    if (p.JpegScaleUsed != 1) return None("JPEG was scaled when read");
    std::vector<std::uint8_t> bytes;
    if (!ReadWhole(file, bytes)) return None("file too large to keep");
    return FromJpegData(std::move(bytes), TKeptOrigin::JpegFile);
}

TKeptPageData FromPng(TStream& file) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWhole(file, bytes)) return None("file too large to keep");
    TPngCodedData png = ProbePngCodedData(bytes);
    if (!png.Carriable) return None(png.Refusal);
    TPdfCodedImage image;
    image.Filter = TCodedFilter::Flate;
    image.Width = png.Width;
    image.Height = png.Height;
    image.PredictorColors = png.Channels;
    switch (png.Colours) {
    case TPngCodedColours::Gray:
        image.ColourSpace = TCodedColourSpace::Gray;
        break;
    case TPngCodedColours::Rgb:
        image.ColourSpace = TCodedColourSpace::Rgb;
        break;
    case TPngCodedColours::Palette:
        image.ColourSpace = TCodedColourSpace::Indexed;
        image.Palette = std::move(png.Palette);
        break;
    }
    image.Origin = TKeptOrigin::PngData;
    image.Data = std::move(png.Data);
    return {std::move(image), {}};
}

TCodedColourSpace ColourSpaceOf(TTiffJpegColours colours) {
    switch (colours) {
    case TTiffJpegColours::Gray:
        return TCodedColourSpace::Gray;
    case TTiffJpegColours::Cmyk:
        return TCodedColourSpace::Cmyk;
    case TTiffJpegColours::YCbCr:
    case TTiffJpegColours::Rgb:
        break;
    }
    return TCodedColourSpace::Rgb;
}

TKeptPageData FromTiff(TStream& file, const TIOParamsVals& p, int frame) {
    if (p.TiffApplyOrientation && p.TiffOrientation >= 2 && p.TiffOrientation <= 8)
        return None("TIFF page turned when read");
    TTiffCodedJpeg jpeg = ProbeTiffJpegData(file, frame);
    if (jpeg.CodedAsJpeg) {
        if (!jpeg.Carriable) return None(jpeg.Refusal);
        const bool rgb = jpeg.Colours == TTiffJpegColours::Rgb;
        TKeptPageData kept = FromJpegData(std::move(jpeg.Data), TKeptOrigin::TiffJpeg, rgb);
        if (kept.Image && kept.Image->ColourSpace != ColourSpaceOf(jpeg.Colours))
            return None("JPEG data of other colours than the TIFF page says");
        return kept;
    }
    TTiffCodedFax fax = ProbeTiffFaxData(file, frame);
    if (!fax.Carriable) return None(fax.Refusal);
    TPdfCodedImage image;
    image.Filter = TCodedFilter::CcittFax;
    image.Width = fax.Width;
    image.Height = fax.Height;
    image.ColourSpace = TCodedColourSpace::Gray;
    image.BitsPerComponent = 1;
    image.BlackIs1 = fax.BlackIs1;
    switch (fax.Coding) {
    case TFaxCoding::Group4:
        image.CcittK = -1;
        image.Origin = TKeptOrigin::TiffG4;
        break;
    case TFaxCoding::Group3OneD:
        image.CcittK = 0;
        image.Origin = TKeptOrigin::TiffG3;
        break;
    case TFaxCoding::Group3TwoD:
        image.CcittK = 1;
        image.Origin = TKeptOrigin::TiffG3;
        break;
    case TFaxCoding::Huffman:
        image.CcittK = 0;
        image.EncodedByteAlign = true;
        image.Origin = TKeptOrigin::TiffHuffman;
        break;
    }
    image.JoinedBlocks = fax.Strips;
    image.Data = std::move(fax.Data);
    return {std::move(image), {}};
}
} // namespace

TKeptPageData ReadKeptPageData(TStream& file, const TIOParamsVals& image, int frame) {
    TKeptPageData kept;
    switch (image.FileFormat) {
    case ioJPEG:
        kept = FromJpeg(file, image);
        break;
    case ioPNG:
        kept = FromPng(file);
        break;
    case ioTIFF:
        kept = FromTiff(file, image, frame);
        break;
    default:
        return None(""); // the format has no data a PDF reads: nothing to explain
    }
    if (kept.Image && (kept.Image->Width != image.ImageWidth || kept.Image->Height != image.ImageHeight))
        return None("coded data of another size than the page");
    return kept;
}
