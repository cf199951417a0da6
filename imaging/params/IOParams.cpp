#include "imaging/params/IOParams.h"

#include "imaging/params/FormatTable.h"

#include <cmath>

int DefaultDpiX = 300;
int DefaultDpiY = 300;
TTiffLzwDecoder DefaultTiffLzwDecoder = nullptr;
TGifLzwDecoder DefaultGifLzwDecoder = nullptr;

TIOParamsVals::TIOParamsVals(TIOParamsOwner* owner) : Owner(owner) {
    ResetToDefaults();
}

TIOParamsVals::~TIOParamsVals() = default;

void TIOParamsVals::FreePalette() {
    Palette.clear();
    Palette.shrink_to_fit();
    PaletteCount = 0;
}

void TIOParamsVals::SetPalette(const TIERgbTriple* entries, int count) {
    FreePalette();
    if (!entries || count <= 0) return;
    Palette.assign(entries, entries + count);
    PaletteCount = count;
}

void TIOParamsVals::ResetToDefaults() {
    // The defaults are those of a fresh TIOParamsFields; the image size, the resolution and the last
    // JPEG read's warnings survive.
    const int width = ImageWidth, height = ImageHeight, dpiX = HorizontalDpi, dpiY = VerticalDpi;
    const int warnings = JpegWarningCount, warningCode = JpegWarningCode;
    static_cast<TIOParamsFields&>(*this) = TIOParamsFields{};
    ImageWidth = width;
    ImageHeight = height;
    HorizontalDpi = dpiX;
    VerticalDpi = dpiY;
    JpegWarningCount = warnings;
    JpegWarningCode = warningCode;
    int w = 0, h = 0;
    if (Owner && Owner->OwnerBitmapSize(w, h)) {
        ImageWidth = w;
        ImageHeight = h;
    }
    int dx = 0, dy = 0;
    if (Owner && Owner->OwnerViewDpi(dx, dy)) {
        HorizontalDpi = dx;
        VerticalDpi = dy;
    }
}

void TIOParamsVals::ResetImageInfo() {
    // What the PDF writer and its encoders take from the image: a file that does not state it must
    // not inherit it from the file read before.
    HorizontalDpi = VerticalDpi = 0;
    TiffOrientation = 1; // a JPEG read after a turned TIFF page is not turned
    JpegProgressive = false;
    IPTCInfo.clear();
    ImagingAnnot.clear();
    JpegMarkers.clear();
    ClearExtraInfo();
    GifComments.clear();
    TiffDocumentName.clear();
    TiffImageDescription.clear();
    TiffPageName.clear();
    TgaImageId.clear();
    TgaAuthor.clear();
    TgaJobName.clear();
    PxmComments.clear();
}

void TIOParamsVals::ClearExtraInfo() {
    HasExifData = false;
    ExifData.clear();
    ExifImageDescription.clear();
    ExifMake.clear();
    ExifModel.clear();
    ExifDateTime.clear();
    ExifSoftware.clear();
    ExifCopyright.clear();
    ExifXResolution = 0.0;
    ExifYResolution = 0.0;
    ExifResolutionUnit = 0;
    ExifOrientation = 0;
}

void TIOParamsVals::SetHorizontalDpi(int value) {
    HorizontalDpi = value;
    ExifXResolution = value;
}

void TIOParamsVals::SetVerticalDpi(int value) {
    VerticalDpi = value;
    ExifYResolution = value;
}

namespace {
int TruncToInt(double v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(std::trunc(v));
}
} // namespace

void TIOParamsVals::SetHorizontalDpi(double value) {
    SetHorizontalDpi(TruncToInt(value));
}
void TIOParamsVals::SetVerticalDpi(double value) {
    SetVerticalDpi(TruncToInt(value));
}

void TIOParamsVals::SetTiffOrientation(int value) {
    TiffOrientation = value;
    ExifOrientation = value;
}

void TIOParamsVals::CopyImageDescription(const TIOParamsVals& o) {
    BitsPerSample = o.BitsPerSample;
    SamplesPerPixel = o.SamplesPerPixel;
    ImageWidth = o.ImageWidth;
    ImageHeight = o.ImageHeight;
    HorizontalDpi = o.HorizontalDpi;
    VerticalDpi = o.VerticalDpi;
    FileFormat = o.FileFormat;
    LoadedFileName = o.LoadedFileName;
    Palette = o.Palette;
    PaletteCount = o.PaletteCount;

    TiffCompression = o.TiffCompression;
    TiffPhotometric = o.TiffPhotometric;
    TiffPlanarConfig = o.TiffPlanarConfig;
    TiffXPosition = o.TiffXPosition;
    TiffYPosition = o.TiffYPosition;
    TiffDocumentName = o.TiffDocumentName;
    TiffImageDescription = o.TiffImageDescription;
    TiffPageName = o.TiffPageName;
    TiffPageNumber = o.TiffPageNumber;
    TiffPageCount = o.TiffPageCount;
    SetTiffOrientation(o.TiffOrientation);
    TiffFrameCount = o.TiffFrameCount;

    GifVersion = o.GifVersion;
    GifFrameLeft = o.GifFrameLeft;
    GifFrameTop = o.GifFrameTop;
    GifDelay = o.GifDelay;
    GifHasTransparency = o.GifHasTransparency;
    GifTransparentColor = o.GifTransparentColor;
    GifInterlaced = o.GifInterlaced;
    GifScreenWidth = o.GifScreenWidth;
    GifScreenHeight = o.GifScreenHeight;
    GifBackgroundColor = o.GifBackgroundColor;
    GifHasGlobalColorTable = o.GifHasGlobalColorTable;
    GifAspectRatio = o.GifAspectRatio;
    GifFrameCount = o.GifFrameCount;
    GifComments = o.GifComments;
    GifDisposal = o.GifDisposal;

    JpegColorSpace = o.JpegColorSpace;
    JpegProgressive = o.JpegProgressive;
    JpegMarkers = o.JpegMarkers;
    JpegScaleUsed = o.JpegScaleUsed;
    JpegWarningCount = o.JpegWarningCount;
    JpegWarningCode = o.JpegWarningCode;
    UnscaledWidth = o.UnscaledWidth;
    UnscaledHeight = o.UnscaledHeight;

    J2kColorSpace = o.J2kColorSpace;
    PcxCompressed = o.PcxCompressed;
    PcxVersion = o.PcxVersion;
    BmpHeaderKind = o.BmpHeaderKind;
    BmpRunLength = o.BmpRunLength;
    CursorHotSpotX = o.CursorHotSpotX;
    CursorHotSpotY = o.CursorHotSpotY;
    PngInterlaced = o.PngInterlaced;
    PngBackgroundColor = o.PngBackgroundColor;
    TgaXPosition = o.TgaXPosition;
    TgaYPosition = o.TgaYPosition;
    TgaCompressed = o.TgaCompressed;
    TgaImageId = o.TgaImageId;
    TgaAuthor = o.TgaAuthor;
    TgaJobName = o.TgaJobName;
    TgaDate = o.TgaDate;
    TgaKeyColor = o.TgaKeyColor;
    TgaAspectRatio = o.TgaAspectRatio;
    TgaGamma = o.TgaGamma;
    TgaGrayscale = o.TgaGrayscale;
    PxmComments = o.PxmComments;

    HasExifData = o.HasExifData;
    ExifXResolution = o.ExifXResolution;
    ExifYResolution = o.ExifYResolution;
    ExifResolutionUnit = o.ExifResolutionUnit;
    if (o.HasExifData) ExifOrientation = o.ExifOrientation; // else the TIFF orientation's mirror
    ExifData = o.ExifData;
    ExifImageDescription = o.ExifImageDescription;
    ExifMake = o.ExifMake;
    ExifModel = o.ExifModel;
    ExifDateTime = o.ExifDateTime;
    ExifSoftware = o.ExifSoftware;
    ExifCopyright = o.ExifCopyright;
    IPTCInfo = o.IPTCInfo;
    ImagingAnnot = o.ImagingAnnot;
}

void TIOParamsVals::CopyFrom(const TIOParamsVals& o) {
    static_cast<TIOParamsFields&>(*this) = o;
    FreePalette();
    if (!o.HasExifData) ExifOrientation = o.TiffOrientation; // as CopyImageDescription mirrors it
}

std::string TIOParamsVals::FormatDescription() const {
    const TIEFileFormatInfo* info = FindFormatById(FileFormat);
    if (!info) return {};
    std::string s = info->FullName.substr(0, 82) + " (" + FirstExtension(*info) + ")";
    auto pick = [](int v, std::initializer_list<const char*> texts) -> const char* {
        return (v >= 0 && v < static_cast<int>(texts.size())) ? *(texts.begin() + v) : "";
    };
    switch (FileFormat) {
    case ioTIFF:
        s += pick(TiffCompression, {" Uncompressed", " Huffman", " Group 3 Fax", " Group 3 Fax 2D",
                                    " Group 4 Fax", " LZW", " Jpeg v.5", " Jpeg", " PackBits RLE"});
        break;
    case ioGIF:
        if (GifInterlaced) s += " Interlaced";
        break;
    case ioJPEG:
        s += pick(JpegColorSpace, {"", " Gray level", " YCbCr", " CMYK", " YCbCrK"});
        break;
    case ioPCX:
        if (!PcxCompressed) s += " Uncompressed";
        break;
    case ioBMP:
        s += pick(BmpHeaderKind, {" ver.1", " ver.3", " OS/2 v.1", " OS/2 v.2"});
        break;
    case ioPNG:
        if (PngInterlaced) s += " Interlaced";
        break;
    case ioTGA:
        s += TgaCompressed ? " Compressed" : " Uncompressed";
        break;
    case ioJP2:
    case ioJ2K:
        s += pick(J2kColorSpace, {" Gray level", " RGB", " YCbCr"});
        break;
    default:
        break;
    }
    return s;
}

void TIOParamsVals::ClearTexts() {
    for (std::string* t :
         {&LoadedFileName, &GifVersion,   &TiffDocumentName, &TiffImageDescription, &TiffPageName,
          &TgaImageId,     &TgaAuthor,    &TgaJobName,       &ExifImageDescription, &ExifMake,
          &ExifModel,      &ExifDateTime, &ExifSoftware,     &ExifCopyright,        &PSTitle,
          &PdfTitle,       &PdfAuthor,    &PdfSubject,       &PdfKeywords,          &PdfCreator,
          &PdfProducer})
        t->clear();
}
