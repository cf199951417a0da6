#include "imaging/params/PageGeometry.h"

#include "imaging/params/FormatIds.h"
#include "imaging/params/IOParams.h"

#include <gtest/gtest.h>

#include <climits>

namespace {
using O = TImageOrientation;

// ---- which orientation a loaded image has

struct TLoadedCase {
    const char* Name;
    int Format;
    bool HasExif;
    int ExifTag;
    int TiffTag;
    bool ReaderTurned; // TiffApplyOrientation
    O Expected;
};

const TLoadedCase kLoadedCases[] = {
    {"JpegExifSix", ioJPEG, true, 6, 1, false, O::RightTop},
    {"JpegExifEight", ioJPEG, true, 8, 1, false, O::LeftBottom},
    {"JpegExifMirror", ioJPEG, true, 2, 1, false, O::TopRight},
    {"JpegExifZeroIsAsStored", ioJPEG, true, 0, 1, false, O::TopLeft},
    {"JpegExifNineIsAsStored", ioJPEG, true, 9, 1, false, O::TopLeft},
    {"JpegExifHugeIsAsStored", ioJPEG, true, 65535, 1, false, O::TopLeft},
    // A field left over from elsewhere must not turn a JPEG whose EXIF block did not read.
    {"JpegWithoutExifIgnoresField", ioJPEG, false, 6, 6, false, O::TopLeft},
    {"TiffTagFive", ioTIFF, false, 5, 5, false, O::LeftTop},
    {"TiffTagSeven", ioTIFF, true, 1, 7, false, O::RightBottom}, // the tag, not an EXIF copy
    {"TiffTagZeroIsAsStored", ioTIFF, false, 0, 0, false, O::TopLeft},
    {"TiffTurnedByTheReader", ioTIFF, false, 6, 6, true, O::TopLeft},
    {"PngNeverTurned", ioPNG, true, 6, 6, false, O::TopLeft},
};

class LoadedOrientation : public ::testing::TestWithParam<TLoadedCase> {};

TEST_P(LoadedOrientation, ComesFromTheTagOfTheFilesFormat) {
    const TLoadedCase& c = GetParam();
    TIOParamsVals p;
    p.FileFormat = c.Format;
    p.HasExifData = c.HasExif;
    p.TiffOrientation = c.TiffTag;
    p.ExifOrientation = c.ExifTag;
    p.TiffApplyOrientation = c.ReaderTurned;
    EXPECT_EQ(LoadedImageOrientation(p), c.Expected);
    p.PdfAutoOrient = false;
    EXPECT_EQ(PageOrientation(p), O::TopLeft); // kept as stored when not asked
    p.PdfAutoOrient = true;
    EXPECT_EQ(PageOrientation(p), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Tags, LoadedOrientation, ::testing::ValuesIn(kLoadedCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PageGeometry, EveryLoadStartsAsStored) {
    TIOParamsVals p;
    p.FileFormat = ioTIFF;
    p.SetTiffOrientation(6);
    p.HasExifData = true;
    p.ExifOrientation = 6;
    p.ResetImageInfo();
    EXPECT_EQ(p.TiffOrientation, 1);
    EXPECT_EQ(p.ExifOrientation, 0);
    EXPECT_FALSE(p.HasExifData);
}

TEST(PageGeometry, OnlyTheQuarterTurnsSwapTheAxes) {
    for (int tag = 0; tag <= 9; ++tag)
        EXPECT_EQ(SwapsAxes(OrientationFromTag(tag)), tag >= 5 && tag <= 8) << tag;
    EXPECT_EQ(OrientationFromTag(-6), O::TopLeft);
    EXPECT_EQ(OrientationFromTag(0x100000006LL), O::TopLeft); // no truncation into range
}

// ---- the picture's shape on the page

struct TSizeCase {
    const char* Name;
    int Width, Height, DpiX, DpiY, Tag;
    TUprightSize Upright;  // square-pixel units
    TUprightSize Physical; // points
};

const TSizeCase kSizeCases[] = {
    // Square pixels keep their pixel counts exactly, whatever the resolution.
    {"SquareAsStored", 1000, 500, 300, 300, 1, {1000, 500}, {240, 120}},
    {"SquareTurned", 1000, 500, 300, 300, 6, {500, 1000}, {120, 240}},
    {"SquareMirrored", 1000, 500, 72, 72, 2, {1000, 500}, {1000, 500}},
    {"A4Scan", 2480, 3508, 300, 300, 1, {2480, 3508}, {595, 842}},
    // Standard fax: twice as many pixels across as down per inch.
    {"FaxStandard", 1728, 1145, 204, 98, 1, {1728, 2383}, {610, 841}},
    {"FaxTurned", 1728, 1145, 204, 98, 8, {2383, 1728}, {841, 610}},
    {"CoarserAcross", 100, 100, 100, 200, 1, {200, 100}, {72, 36}},
    // Unstated axes take the default of 300; a pair too far apart is no pixel shape.
    {"NoResolution", 600, 300, 0, 0, 1, {600, 300}, {144, 72}},
    {"AspectClaimNotAShape", 600, 300, 2, 300, 1, {600, 300}, {144, 72}},
    {"LimitOfAShape", 100, 100, 16, 256, 1, {1600, 100}, {450, 28}},
    {"OnePixel", 1, 1, 600, 600, 1, {1, 1}, {1, 1}},
    {"LargeStaysInRange", INT_MAX, 4, 200, 100, 1, {INT_MAX, 8}, {773094113, 3}},
};

class PictureSize : public ::testing::TestWithParam<TSizeCase> {};

TEST_P(PictureSize, FollowsTheResolutionAndTheTurn) {
    const TSizeCase& c = GetParam();
    TIOParamsVals p;
    p.FileFormat = ioJPEG;
    p.HasExifData = true;
    p.ExifOrientation = c.Tag;
    p.PdfAutoOrient = true;
    p.HorizontalDpi = c.DpiX;
    p.VerticalDpi = c.DpiY;
    EXPECT_EQ(UprightImageSize(p, c.Width, c.Height), c.Upright);
    EXPECT_EQ(PhysicalImageSize(p, c.Width, c.Height), c.Physical);
}

INSTANTIATE_TEST_SUITE_P(Shapes, PictureSize, ::testing::ValuesIn(kSizeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PageGeometry, ABitmapWithoutPixelsKeepsItsCounts) {
    TIOParamsVals p;
    p.HorizontalDpi = 204;
    p.VerticalDpi = 98;
    EXPECT_EQ(UprightImageSize(p, 0, 7), (TUprightSize{0, 7}));
    EXPECT_EQ(UprightImageSize(p, 5, -1), (TUprightSize{5, -1}));
}
} // namespace
