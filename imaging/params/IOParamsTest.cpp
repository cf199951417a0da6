#include "imaging/params/IOParams.h"
#include "imaging/params/FormatTable.h"

#include <array>
#include <string_view>

#include <gtest/gtest.h>

namespace {
struct FakeOwner : TIOParamsOwner {
    bool hasBitmap = true, hasView = true;
    bool OwnerBitmapSize(int& w, int& h) override {
        w = 640;
        h = 480;
        return hasBitmap;
    }
    bool OwnerViewDpi(int& x, int& y) override {
        x = 96;
        y = 72;
        return hasView;
    }
};
} // namespace

TEST(IOParams, ResetGivesDefaultsAndTheOwnersSizeAndResolution) {
    FakeOwner owner;
    TIOParamsVals p(&owner);
    EXPECT_EQ(p.PdfPaperWidth, 595);
    EXPECT_EQ(p.PdfPaperHeight, 842);
    EXPECT_EQ(p.PdfCompression, pdfGroup4);
    EXPECT_EQ(p.GifVersion, "GIF89a");
    EXPECT_EQ(p.ImageWidth, 640);
    EXPECT_EQ(p.HorizontalDpi, 96);
    EXPECT_EQ(p.VerticalDpi, 72);
    EXPECT_EQ(p.IconSizes[0][0], 64);
    EXPECT_EQ(p.IconBitDepths[0], 8);
    EXPECT_EQ(p.IconSizes[1][0], 0);

    owner.hasBitmap = owner.hasView = false; // without them the size and resolution stay as they were
    p.ImageWidth = 5;
    p.HorizontalDpi = 7;
    p.ResetToDefaults();
    EXPECT_EQ(p.ImageWidth, 5);
    EXPECT_EQ(p.HorizontalDpi, 7);
}

TEST(IOParams, ResetImageInfoKeepsRequests) {
    TIOParamsVals p;
    p.TiffFrameIndex = 3;
    p.GifFrameIndex = 2;
    p.PdfTitle = "t";
    p.PdfCompression = pdfDct;
    p.TiffPageName = "page";
    p.GifComments = {"c"};
    p.HasExifData = true;
    p.ExifXResolution = 200;
    p.JpegMarkers.push_back({0xE1, {1}});
    p.HorizontalDpi = 72;
    p.VerticalDpi = 72;
    p.JpegProgressive = true;
    p.ResetImageInfo();
    EXPECT_EQ(p.TiffFrameIndex, 3);
    EXPECT_EQ(p.GifFrameIndex, 2);
    EXPECT_EQ(p.PdfTitle, "t");
    EXPECT_EQ(p.PdfCompression, pdfDct);
    EXPECT_TRUE(p.TiffPageName.empty());
    EXPECT_TRUE(p.GifComments.empty());
    EXPECT_TRUE(p.JpegMarkers.empty());
    EXPECT_FALSE(p.HasExifData);
    EXPECT_EQ(p.ExifXResolution, 0.0);
    // What the PDF writer takes from an image never comes from the image read before.
    EXPECT_EQ(p.HorizontalDpi, 0);
    EXPECT_EQ(p.VerticalDpi, 0);
    EXPECT_FALSE(p.JpegProgressive);
}

TEST(IOParams, ResolutionSettersMirrorIntoExif) {
    TIOParamsVals p;
    p.SetHorizontalDpi(72);
    p.SetVerticalDpi(150.9);
    EXPECT_EQ(p.ExifXResolution, 72.0);
    EXPECT_EQ(p.VerticalDpi, 150);
    EXPECT_EQ(p.ExifYResolution, 150.0);
    p.SetVerticalDpi(1e300); // never undefined behaviour on absurd values
    EXPECT_EQ(p.VerticalDpi, 2147483647);
    p.SetTiffOrientation(6);
    EXPECT_EQ(p.ExifOrientation, 6);
}

TEST(IOParams, FormatDescriptionTexts) {
    struct Case {
        int format;
        void (*setup)(TIOParamsVals&);
        const char* text;
    };
    const Case cases[] = {
        {1, [](TIOParamsVals& p) { p.TiffCompression = 4; }, "TIFF Bitmap (TIF) Group 4 Fax"},
        {1, [](TIOParamsVals& p) { p.TiffCompression = 8; }, "TIFF Bitmap (TIF) PackBits RLE"},
        {1, [](TIOParamsVals& p) { p.TiffCompression = 9; }, "TIFF Bitmap (TIF)"},
        {8, [](TIOParamsVals&) {}, "Portable Network Graphics (PNG)"},
        {8, [](TIOParamsVals& p) { p.PngInterlaced = true; }, "Portable Network Graphics (PNG) Interlaced"},
        {3, [](TIOParamsVals& p) { p.JpegColorSpace = 4; }, "JPEG Bitmap (JPG) YCbCrK"},
        {3, [](TIOParamsVals& p) { p.JpegColorSpace = 0; }, "JPEG Bitmap (JPG)"},
        {5, [](TIOParamsVals& p) { p.BmpHeaderKind = 2; }, "Windows Bitmap (BMP) OS/2 v.1"},
        {11, [](TIOParamsVals& p) { p.TgaCompressed = false; }, "Targa Bitmap (TGA) Uncompressed"},
        {4, [](TIOParamsVals& p) { p.PcxCompressed = false; }, "PaintBrush (PCX) Uncompressed"},
        {2, [](TIOParamsVals& p) { p.GifInterlaced = true; }, "CompuServe Bitmap (GIF) Interlaced"},
        {14, [](TIOParamsVals& p) { p.J2kColorSpace = 2; }, "JPEG2000 Code Stream (J2K) YCbCr"},
        {12, [](TIOParamsVals&) {}, "Portable Pixmap, GrayMap, BitMap (PXM)"},
        {15, [](TIOParamsVals&) {}, ""}, // AVI has no table entry
        {0, [](TIOParamsVals&) {}, ""},
    };
    for (const Case& c : cases) {
        TIOParamsVals p;
        p.FileFormat = c.format;
        c.setup(p);
        EXPECT_EQ(p.FormatDescription(), c.text) << c.format;
    }
}

TEST(IOParams, ClearTextsEmptiesTextsOnly) {
    TIOParamsVals p;
    p.PdfAuthor = "a";
    p.LoadedFileName = "/x.tif";
    p.TiffFrameIndex = 4;
    p.GifComments = {"keep"};
    p.ClearTexts();
    EXPECT_TRUE(p.PdfAuthor.empty());
    EXPECT_TRUE(p.LoadedFileName.empty());
    EXPECT_TRUE(p.GifVersion.empty());
    EXPECT_TRUE(p.PSTitle.empty());
    EXPECT_EQ(p.TiffFrameIndex, 4);
    EXPECT_EQ(p.GifComments.size(), 1u);
}

TEST(IOParams, CopyFromTakesFieldsButNotThePalette) {
    TIOParamsVals a, b;
    const TIERgbTriple pal[2] = {CreateRGB(1, 2, 3), CreateRGB(4, 5, 6)};
    a.SetPalette(pal, 2);
    b.SetPalette(pal, 2);
    b.ImageWidth = 99;
    b.PdfKeywords = "k";
    b.TiffOrientation = 3;
    a.CopyFrom(b);
    EXPECT_EQ(a.ImageWidth, 99);
    EXPECT_EQ(a.PdfKeywords, "k");
    EXPECT_EQ(a.ExifOrientation, 3);
    EXPECT_EQ(a.PaletteCount, 0);
    EXPECT_TRUE(a.Palette.empty());
}

TEST(FormatTable, LookupsByIdAndExtension) {
    struct Case {
        const char* ext;
        int id;
    };
    const Case cases[] = {{"jpg", 3},  {"JPE", 3},  {"tiff", 1}, {"g3f", 1},   {"pix", 11},
                          {"pbm", 12}, {"j2c", 14}, {"jp2", 13}, {"wbmp", 16}, {"pdf", 18},
                          {"xyz", 0},  {"", 0},     {"TI", 0},   {"tif;", 0}};
    for (const Case& c : cases) {
        const TIEFileFormatInfo* f = FindFormatByExtension(c.ext);
        EXPECT_EQ(f ? f->FileType : 0, c.id) << c.ext;
    }
    ASSERT_NE(FindFormatById(7), nullptr);
    EXPECT_EQ(FindFormatById(7)->WriteFunction, nullptr); // cursors cannot be written
    EXPECT_EQ(FindFormatById(15), nullptr);
    EXPECT_EQ(FindFormatById(18)->ReadFunction, nullptr);
    EXPECT_EQ(FirstExtension(*FindFormatById(11)), "TGA");
}

// The page's record takes the frame's description from the record that loaded it, and keeps its own
// requests.
TEST(IOParams, CopyImageDescriptionTakesWhatReadersFillAndNoRequests) {
    TIOParamsVals loaded, page;
    loaded.ImageWidth = 77;
    loaded.HorizontalDpi = 200;
    loaded.VerticalDpi = 201;
    loaded.JpegMarkers = {{0xE1, {1}}};
    loaded.JpegProgressive = true;
    loaded.GifHasGlobalColorTable = true;
    loaded.ExifMake = "Camera";
    const TIERgbTriple palette[1] = {CreateRGB(1, 2, 3)};
    loaded.SetPalette(palette, 1);
    loaded.TiffFrameIndex = loaded.GifFrameIndex = 3;
    loaded.JpegQuality = 50;
    loaded.PdfPaperWidth = 100;
    loaded.PdfCompression = pdfDct;
    loaded.PdfTitle = "t";
    page.CopyImageDescription(loaded);
    EXPECT_EQ(page.ImageWidth, 77);
    EXPECT_EQ(page.HorizontalDpi, 200);
    EXPECT_EQ(page.VerticalDpi, 201);
    EXPECT_EQ(page.JpegMarkers.size(), 1u);
    EXPECT_TRUE(page.JpegProgressive);
    EXPECT_TRUE(page.GifHasGlobalColorTable);
    EXPECT_EQ(page.ExifMake, "Camera");
    EXPECT_EQ(page.PaletteCount, 1);
    EXPECT_EQ(page.TiffFrameIndex, 0);
    EXPECT_EQ(page.GifFrameIndex, 0);
    EXPECT_EQ(page.JpegQuality, 80);
    EXPECT_EQ(page.PdfPaperWidth, 595);
    EXPECT_EQ(page.PdfCompression, pdfGroup4);
    EXPECT_TRUE(page.PdfTitle.empty());
}

// One change per case: ResetToDefaults must undo it, and CopyFrom must carry it. The drifted
// defaults of old (the icon sizes, the TGA date, the page compression) have their own cases.
namespace {
struct FieldChange {
    const char* Name;
    void (*Change)(TIOParamsVals&);
};
#define FIELD_CHANGE(field, value)                                                                           \
    {                                                                                                        \
#field, [](TIOParamsVals & p) { p.field = value; }                                                   \
    }
std::uint8_t* FakeTiffLzw(const std::uint8_t*, std::int64_t, int, void**, int*) {
    return nullptr;
}
const FieldChange kFieldChanges[] = {
    FIELD_CHANGE(BitsPerSample, 1),
    FIELD_CHANGE(SamplesPerPixel, 4),
    FIELD_CHANGE(FileFormat, ioPNG),
    FIELD_CHANGE(LoadedFileName, "/a.png"),
    FIELD_CHANGE(NativePixelFormat, true),
    {"Palette", [](TIOParamsVals& p) { p.SetPalette(std::array{CreateRGB(1, 2, 3)}.data(), 1); }},
    FIELD_CHANGE(TiffCompression, 5),
    FIELD_CHANGE(TiffFrameIndex, 2),
    FIELD_CHANGE(TiffPhotometric, 0),
    FIELD_CHANGE(TiffPageName, "p"),
    {"TiffOrientation", [](TIOParamsVals& p) { p.SetTiffOrientation(6); }},
    FIELD_CHANGE(TiffLzwDecoder, FakeTiffLzw),
    FIELD_CHANGE(TiffJpegQuality, 10),
    FIELD_CHANGE(GifVersion, "GIF87a"),
    FIELD_CHANGE(GifTransparentColor, CreateRGB(9, 9, 9)),
    FIELD_CHANGE(GifComments, {"c"}),
    FIELD_CHANGE(GifDisposal, 2),
    FIELD_CHANGE(JpegColorSpace, 1),
    FIELD_CHANGE(JpegQuality, 50),
    FIELD_CHANGE(JpegScale, 4),
    FIELD_CHANGE(JpegMarkers, (TIEMarkerList{{0xE1, {1, 2}}})),
    FIELD_CHANGE(UnscaledWidth, 9),
    FIELD_CHANGE(J2kColorSpace, 2),
    FIELD_CHANGE(PcxCompressed, false),
    FIELD_CHANGE(BmpHeaderKind, 3),
    FIELD_CHANGE(IconBackgroundColor, CreateRGB(0, 0, 0)),
    {"IconSizes",
     [](TIOParamsVals& p) {
         p.IconSizes[0] = {32, 32};
     }},
    {"IconSizesSecond",
     [](TIOParamsVals& p) {
         p.IconSizes[1] = {16, 16};
     }},
    {"IconBitDepths", [](TIOParamsVals& p) { p.IconBitDepths[0] = 4; }},
    FIELD_CHANGE(CursorHotSpotX, 3),
    FIELD_CHANGE(PngBackgroundColor, CreateRGB(1, 1, 1)),
    FIELD_CHANGE(TgaDate, 0.0),
    FIELD_CHANGE(TgaGamma, 1.0),
    FIELD_CHANGE(PxmComments, {"x"}),
    FIELD_CHANGE(HasExifData, true),
    FIELD_CHANGE(ExifResolutionUnit, 3),
    FIELD_CHANGE(ExifData, {1}),
    FIELD_CHANGE(ExifCopyright, "c"),
    FIELD_CHANGE(IPTCInfo, {{1}}),
    FIELD_CHANGE(ImagingAnnot, {{1}}),
    FIELD_CHANGE(PSTitle, ""),
    FIELD_CHANGE(AVIFrameCount, 3),
    FIELD_CHANGE(PdfPaperWidth, 612),
    FIELD_CHANGE(PdfCompression, pdfDct),
    FIELD_CHANGE(PdfKeepAlpha, true),
    FIELD_CHANGE(PdfAutoOrient, true),
    FIELD_CHANGE(PdfProducer, "p"),
};
#undef FIELD_CHANGE

const TIOParamsFields& Values(const TIOParamsVals& p) {
    return p;
}

class IOParamsFieldTest : public testing::TestWithParam<FieldChange> {};
} // namespace

TEST_P(IOParamsFieldTest, ResetToDefaultsUndoesTheChange) {
    const TIOParamsVals fresh;
    TIOParamsVals p;
    GetParam().Change(p);
    ASSERT_FALSE(Values(p) == Values(fresh)) << "the case changes nothing";
    p.ResetToDefaults();
    EXPECT_TRUE(Values(p) == Values(fresh));
}

TEST_P(IOParamsFieldTest, CopyFromCarriesTheChangeButNoPalette) {
    TIOParamsVals source, copy, copyOfFresh;
    const TIOParamsVals fresh;
    GetParam().Change(source);
    copy.CopyFrom(source);
    copyOfFresh.CopyFrom(fresh);
    const bool isPalette = std::string_view(GetParam().Name) == "Palette";
    EXPECT_EQ(Values(copy) == Values(copyOfFresh), isPalette);
}

INSTANTIATE_TEST_SUITE_P(Fields, IOParamsFieldTest, testing::ValuesIn(kFieldChanges),
                         [](const testing::TestParamInfo<FieldChange>& info) { return info.param.Name; });

TEST(IOParams, ResetKeepsTheLastJpegWarningsAndFreshRecordsAgree) {
    TIOParamsVals p;
    p.JpegWarningCount = 2;
    p.JpegWarningCode = 7;
    p.ResetToDefaults();
    EXPECT_EQ(p.JpegWarningCount, 2);
    EXPECT_EQ(p.JpegWarningCode, 7);
    // The defaults a reset gives are the documented ones, whatever built the record.
    const TIOParamsVals q;
    EXPECT_EQ(q.IconSizes[0], (std::array<std::int32_t, 2>{64, 64}));
    EXPECT_EQ(q.IconSizes[1], (std::array<std::int32_t, 2>{0, 0}));
    EXPECT_DOUBLE_EQ(q.TgaDate, TodayAsDateTime());
    EXPECT_EQ(q.TiffOrientation, 1);
    EXPECT_EQ(q.ExifOrientation, 0);
    EXPECT_EQ(q.TiffLzwDecoder, DefaultTiffLzwDecoder);
}
