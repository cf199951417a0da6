#include "imaging/params/IOParams.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/FormatTable.h"
#include "platform/DateTime.h"

#include <cctype>
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
    FreePalette();
    LoadedFileName.clear();
    FileFormat = 0;
    BitsPerSample = 8;
    SamplesPerPixel = 3;
    NativePixelFormat = false;
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
    // GIF
    GifVersion = "GIF89a";
    GifFrameIndex = 0;
    GifFrameLeft = GifFrameTop = 0;
    GifDelay = 0;
    GifHasTransparency = false;
    GifTransparentColor = {};
    GifInterlaced = false;
    GifScreenWidth = GifScreenHeight = 0;
    GifBackgroundColor = {};
    GifHasGlobalColorTable = false;
    GifAspectRatio = 0;
    GifFrameCount = 0;
    GifComments.clear();
    GifDisposal = 0;
    GifLzwDecoder = DefaultGifLzwDecoder;
    GifLzwEncoder = nullptr;
    // TIFF
    TiffCompression = 0;
    TiffFrameIndex = 0;
    TiffPhotometric = 2;
    TiffPlanarConfig = 1;
    TiffXPosition = TiffYPosition = 0;
    TiffDocumentName.clear();
    TiffImageDescription.clear();
    TiffPageName.clear();
    TiffPageNumber = TiffPageCount = 0;
    SetTiffOrientation(1);
    TiffLzwDecoder = DefaultTiffLzwDecoder;
    TiffLzwEncoder = nullptr;
    TiffApplyOrientation = false;
    TiffJpegQuality = 80;
    TiffJpegColorSpace = 2;
    TiffFrameCount = 0;
    // JPEG
    JpegColorSpace = 2;
    JpegQuality = 80;
    JpegDctMethod = 0;
    JpegOptimalCoding = false;
    JpegSmoothing = 0;
    JpegProgressive = false;
    JpegScale = 1;
    JpegMarkers.clear();
    JpegScaleUsed = 1;
    UnscaledWidth = UnscaledHeight = 0;
    // Other formats
    J2kColorSpace = 1;
    PcxCompressed = true;
    PcxVersion = 5;
    BmpHeaderKind = 1;
    BmpRunLength = false;
    IconImageIndex = 0;
    IconBackgroundColor = CreateRGB(255, 255, 255);
    for (auto& s : IconSizes) s = {0, 0};
    IconSizes[0] = {64, 64};
    IconBitDepths.fill(0);
    IconBitDepths[0] = 8;
    CursorImageIndex = 0;
    CursorHotSpotX = CursorHotSpotY = 0;
    CursorBackgroundColor = CreateRGB(255, 255, 255);
    PngInterlaced = false;
    PngBackgroundColor = {};
    TgaXPosition = TgaYPosition = 0;
    TgaCompressed = true;
    // TGA extension area
    TgaImageId.clear();
    TgaAuthor.clear();
    TgaJobName.clear();
    TgaDate = TodayAsDateTime();
    TgaKeyColor = {};
    TgaAspectRatio = 1.0;
    TgaGamma = 2.2;
    TgaGrayscale = false;
    // Lists and extra information
    IPTCInfo.clear();
    PxmComments.clear();
    ClearExtraInfo();
    // PostScript, video
    PSPaperWidth = 595;
    PSPaperHeight = 842;
    PSCompression = true;
    PSTitle = "No Title";
    AVIFrameCount = AVIFrameIndex = 0;
    // PDF
    PdfPaperWidth = 595;
    PdfPaperHeight = 842;
    PdfCompression = 2;
    PdfKeepAlpha = false;
    PdfAutoOrient = false;
    PdfTitle.clear();
    PdfAuthor.clear();
    PdfSubject.clear();
    PdfKeywords.clear();
    PdfCreator.clear();
    PdfProducer.clear();
    ImagingAnnot.clear();
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
    EXIFThumbnail.reset();
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
    EXIFThumbnail.reset(); // no reader keeps one; never one of another image
}

void TIOParamsVals::CopyFrom(const TIOParamsVals& o) {
    CopyImageDescription(o);
    FreePalette();
    NativePixelFormat = o.NativePixelFormat;

    TiffFrameIndex = o.TiffFrameIndex;
    TiffLzwDecoder = o.TiffLzwDecoder;
    TiffLzwEncoder = o.TiffLzwEncoder;
    TiffApplyOrientation = o.TiffApplyOrientation;
    TiffJpegQuality = o.TiffJpegQuality;
    TiffJpegColorSpace = o.TiffJpegColorSpace;

    GifFrameIndex = o.GifFrameIndex;
    GifLzwDecoder = o.GifLzwDecoder;
    GifLzwEncoder = o.GifLzwEncoder;

    JpegQuality = o.JpegQuality;
    JpegDctMethod = o.JpegDctMethod;
    JpegOptimalCoding = o.JpegOptimalCoding;
    JpegSmoothing = o.JpegSmoothing;
    JpegScale = o.JpegScale;

    IconImageIndex = o.IconImageIndex;
    IconBackgroundColor = o.IconBackgroundColor;
    IconSizes = o.IconSizes;
    IconBitDepths = o.IconBitDepths;
    CursorImageIndex = o.CursorImageIndex;
    CursorBackgroundColor = o.CursorBackgroundColor;

    PdfPaperWidth = o.PdfPaperWidth;
    PdfPaperHeight = o.PdfPaperHeight;
    PdfCompression = o.PdfCompression;
    PdfKeepAlpha = o.PdfKeepAlpha;
    PdfAutoOrient = o.PdfAutoOrient;
    PdfTitle = o.PdfTitle;
    PdfAuthor = o.PdfAuthor;
    PdfSubject = o.PdfSubject;
    PdfKeywords = o.PdfKeywords;
    PdfCreator = o.PdfCreator;
    PdfProducer = o.PdfProducer;
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
