#pragma once
// TIOParamsVals: the parameter record of one I/O component. Callers put requests in (frame indexes,
// page size, compression, document information); readers fill in what they found.
#include "imaging/bitmap/PixelTypes.h"
#include "imaging/params/FormatIds.h"
#include "imaging/params/PdfCompression.h"
#include "platform/DateTime.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class TStream;

// TIFF LZW decoder, calling protocol: with *state empty, create the state for the strip at data and
// return its first row; with data and *state set, return the next row; with data null, release the
// state and return null. Returns null on failure. dataSize bounds every read of the strip. When
// decoded is given it receives how many bytes of the row came from the data (the rest are zeros).
using TTiffLzwDecoder = std::uint8_t* (*)(const std::uint8_t* data, std::int64_t dataSize, int rowLength,
                                          void** state, int* decoded);
// GIF LZW decoder: reads the minimum code size and the data sub-blocks of one image and writes
// width x height palette indexes into data (row by row from the top). Returns how many indexes the
// data gave. On success the stream is left after the block terminator; on failure it is put back
// where the call started.
using TGifLzwDecoder = std::int64_t (*)(TStream& stream, int height, int width, std::uint8_t* data,
                                        bool interlaced);
// Encoders belong to the writers, which this system does not carry; the fields stay for the record.
using TLzwEncoder = void (*)();

extern TTiffLzwDecoder DefaultTiffLzwDecoder;
extern TGifLzwDecoder DefaultGifLzwDecoder;

// The owner's side of the record: what ResetToDefaults asks of its component.
class TIOParamsOwner {
public:
    virtual ~TIOParamsOwner() = default;
    // The owner's current bitmap size, when it holds one.
    virtual bool OwnerBitmapSize(int& width, int& height) = 0;
    // The attached view's resolution, when a view is attached.
    virtual bool OwnerViewDpi(int& x, int& y) = 0;
};

struct TIEMarker {
    std::uint8_t Code = 0; // 0xE0 + n for APPn, 0xFE for COM
    std::vector<std::uint8_t> Data;
    bool operator==(const TIEMarker&) const = default;
};
using TIEMarkerList = std::vector<TIEMarker>;
// IPTC records and annotations: byte blocks nothing in this system interprets.
using TIEIPTCInfoList = std::vector<std::vector<std::uint8_t>>;
using TIEImagingAnnot = std::vector<std::vector<std::uint8_t>>;

// The values of the record, with their defaults: a default-made TIOParamsFields is what
// ResetToDefaults gives, except the few fields it keeps (marked below).
struct TIOParamsFields {
    // General
    std::int32_t BitsPerSample = 8;
    std::int32_t SamplesPerPixel = 3;
    // ResetToDefaults keeps these four unless the owner gives them.
    std::int32_t ImageWidth = 0;
    std::int32_t ImageHeight = 0;
    std::int32_t HorizontalDpi = 0;
    std::int32_t VerticalDpi = 0;
    std::int32_t FileFormat = 0;
    std::string LoadedFileName;
    bool NativePixelFormat = false;
    std::vector<TIERgbTriple> Palette; // empty: none
    std::int32_t PaletteCount = 0;

    // TIFF
    std::uint8_t TiffCompression = 0;
    std::int32_t TiffFrameIndex = 0;
    std::uint8_t TiffPhotometric = 2;
    std::int32_t TiffPlanarConfig = 1;
    std::int32_t TiffXPosition = 0;
    std::int32_t TiffYPosition = 0;
    std::string TiffDocumentName;
    std::string TiffImageDescription;
    std::string TiffPageName;
    std::int32_t TiffPageNumber = 0;
    std::int32_t TiffPageCount = 0;
    std::int32_t TiffOrientation = 1;
    TTiffLzwDecoder TiffLzwDecoder = DefaultTiffLzwDecoder;
    TLzwEncoder TiffLzwEncoder = nullptr;
    bool TiffApplyOrientation = false;
    std::int32_t TiffJpegQuality = 80;
    std::uint8_t TiffJpegColorSpace = 2;
    std::int32_t TiffFrameCount = 0;

    // GIF
    std::string GifVersion = "GIF89a";
    std::int32_t GifFrameIndex = 0;
    std::int32_t GifFrameLeft = 0;
    std::int32_t GifFrameTop = 0;
    std::int32_t GifDelay = 0;
    bool GifHasTransparency = false;
    TIERgbTriple GifTransparentColor{};
    bool GifInterlaced = false;
    std::int32_t GifScreenWidth = 0;
    std::int32_t GifScreenHeight = 0;
    TIERgbTriple GifBackgroundColor{};
    bool GifHasGlobalColorTable = false; // GifBackgroundColor names a colour only with that table
    std::int32_t GifAspectRatio = 0;
    std::int32_t GifFrameCount = 0;
    std::vector<std::string> GifComments;
    std::uint8_t GifDisposal = 0;
    TGifLzwDecoder GifLzwDecoder = DefaultGifLzwDecoder;
    TLzwEncoder GifLzwEncoder = nullptr;

    // JPEG
    std::uint8_t JpegColorSpace = 2; // 0 RGB, 1 grey, 2 YCbCr, 3 CMYK, 4 YCCK
    std::int32_t JpegQuality = 80;
    std::uint8_t JpegDctMethod = 0;
    bool JpegOptimalCoding = false;
    std::int32_t JpegSmoothing = 0;
    bool JpegProgressive = false;
    std::uint8_t JpegScale = 1;
    TIEMarkerList JpegMarkers;
    std::int32_t JpegScaleUsed = 1;
    std::int32_t JpegWarningCount = 0; // kept by ResetToDefaults: set by every JPEG read
    std::int32_t JpegWarningCode = 0;  // kept by ResetToDefaults, as the count
    std::int32_t UnscaledWidth = 0;
    std::int32_t UnscaledHeight = 0;

    // Other formats
    std::uint8_t J2kColorSpace = 1; // 0 grey, 1 RGB, 2 YCbCr
    bool PcxCompressed = true;
    std::int32_t PcxVersion = 5;
    std::uint8_t BmpHeaderKind = 1; // 0 other, 1 40-byte, 2 12-byte core, 3 64-byte
    bool BmpRunLength = false;
    std::int32_t IconImageIndex = 0;
    TIERgbTriple IconBackgroundColor = CreateRGB(255, 255, 255);
    std::array<std::array<std::int32_t, 2>, 16> IconSizes{{{64, 64}}};
    std::array<std::int32_t, 16> IconBitDepths{8};
    std::int32_t CursorImageIndex = 0;
    std::int32_t CursorHotSpotX = 0;
    std::int32_t CursorHotSpotY = 0;
    TIERgbTriple CursorBackgroundColor = CreateRGB(255, 255, 255);
    bool PngInterlaced = false;
    TIERgbTriple PngBackgroundColor{};
    std::int32_t TgaXPosition = 0;
    std::int32_t TgaYPosition = 0;
    bool TgaCompressed = true;
    std::string TgaImageId;
    std::string TgaAuthor;
    std::string TgaJobName;
    double TgaDate = TodayAsDateTime();
    TIERgbTriple TgaKeyColor{};
    double TgaAspectRatio = 1.0;
    double TgaGamma = 2.2;
    bool TgaGrayscale = false;
    std::vector<std::string> PxmComments;

    // Image information shared by formats
    bool HasExifData = false;
    double ExifXResolution = 0.0;
    double ExifYResolution = 0.0;
    std::int32_t ExifResolutionUnit = 0; // 3: centimetres
    std::int32_t ExifOrientation = 0;
    std::vector<std::uint8_t> ExifData; // the raw block, when kept
    std::string ExifImageDescription, ExifMake, ExifModel, ExifDateTime, ExifSoftware, ExifCopyright;
    TIEIPTCInfoList IPTCInfo;
    TIEImagingAnnot ImagingAnnot;

    // Writers and video (kept for the record)
    std::int32_t PSPaperWidth = 595;
    std::int32_t PSPaperHeight = 842;
    bool PSCompression = true;
    std::string PSTitle = "No Title";
    std::int32_t AVIFrameCount = 0;
    std::int32_t AVIFrameIndex = 0;

    // PDF
    std::int32_t PdfPaperWidth = 595;
    std::int32_t PdfPaperHeight = 842;
    TPdfCompression PdfCompression = pdfGroup4;
    // Transparency: false lays the image on white paper; true gives the page image a soft mask.
    bool PdfKeepAlpha = false;
    bool PdfAutoOrient = false; // place pages upright as the file's orientation tag says
    std::string PdfTitle;
    std::string PdfAuthor;
    std::string PdfSubject;
    std::string PdfKeywords;
    std::string PdfCreator;
    std::string PdfProducer;

    bool operator==(const TIOParamsFields&) const = default;
};

struct TIOParamsVals : TIOParamsFields {
    explicit TIOParamsVals(TIOParamsOwner* owner = nullptr);
    ~TIOParamsVals();
    TIOParamsVals(const TIOParamsVals&) = delete;
    TIOParamsVals& operator=(const TIOParamsVals&) = delete;

    void ResetToDefaults();
    void ResetImageInfo();
    void ClearExtraInfo();
    void SetHorizontalDpi(int value);
    void SetVerticalDpi(int value);
    void SetHorizontalDpi(double value);
    void SetVerticalDpi(double value);
    void SetTiffOrientation(int value);
    // Makes this record describe the image other describes: everything a reader fills (size, bits,
    // resolution, format, palette, per-format details, markers and metadata), none of the requests
    // (frame indexes, decoding and writing choices, page, compression, document texts).
    void CopyImageDescription(const TIOParamsVals& other);
    // Every value of other (its image description and its requests), except the palette: this one's is
    // freed. The owner stays.
    void CopyFrom(const TIOParamsVals& other);
    std::string FormatDescription() const;
    // Empties every text field in place; numbers, lists and objects stay.
    void ClearTexts();
    // Replaces the palette (count triples, blue-green-red); count 0 frees it.
    void SetPalette(const TIERgbTriple* entries, int count);
    void FreePalette();

    TIOParamsOwner* Owner = nullptr;
};
