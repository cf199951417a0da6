// How pages are stored, end to end: sources made by independent tools (libjpeg's cjpeg, libtiff's
// tiffcp, ImageMagick) go through the real folianto-convert; kept data must be the source's bytes,
// and every lossless page must render to the reference decoder's pixels in poppler and MuPDF.
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
using testsupport::RgbImage;
using testsupport::RunCommand;
using testsupport::ShellQuote;

enum class TCheck {
    SourceBytes, // the image stream's data is the source file, byte for byte
    Exact,       // renders to the reference decoder's pixels
    WithinOne,   // renders within one level of them (16-bit samples cut to 8)
    Stated       // only what --verbose says (no reference decoder agrees on the page)
};

struct StorageCase {
    const char* Name;
    const char* Make;    // shell commands run in the test folder; they write src.<ext>
    const char* Source;  // the file converted
    const char* Verbose; // what --verbose says of the page
    TCheck Check;
    const char* ImageDictionary = ""; // text the image dictionary must hold
    const char* Reference = "";       // a command writing ref.ppm, else ImageMagick decodes the source
};

constexpr char kPhoto[] = "/usr/bin/convert -seed 4 -size 96x64 plasma: -depth 8 photo.ppm && ";
constexpr char kPage[] = "/usr/bin/convert -size 203x70 xc:white -fill black -draw 'circle 100,35 100,5' "
                         "-draw 'rectangle 3,3 40,60' -monochrome page.pbm && "
                         "/usr/bin/convert page.pbm -compress None b.tif && ";

std::string RunIn(const testsupport::TempDir& dir, const std::string& command, int& status) {
    std::string out;
    status = RunCommand("cd " + ShellQuote(dir.Path()) + " && " + command + " 2>&1", &out);
    return out;
}

bool HaveTools() {
    for (const char* tool : {"qpdf", "pdftocairo", "mutool", "cjpeg", "djpeg", "tiffcp", "/usr/bin/convert"})
        if (!testsupport::ToolAvailable(tool)) return false;
    return true;
}

// The page rendered at one pixel per point by poppler and by MuPDF.
std::vector<RgbImage> Render(const testsupport::TempDir& dir, const std::string& pdf) {
    int status = 0;
    RunIn(dir, "pdftocairo -r 72 -png -singlefile " + ShellQuote(pdf) + " cairo", status);
    EXPECT_EQ(status, 0);
    RunIn(dir, "mutool draw -q -r 72 -c rgb -o mu.png " + ShellQuote(pdf) + " 1", status);
    EXPECT_EQ(status, 0);
    std::vector<RgbImage> images(2);
    EXPECT_TRUE(testsupport::DecodeWithImageMagick(dir.File("cairo.png"), images[0]));
    EXPECT_TRUE(testsupport::DecodeWithImageMagick(dir.File("mu.png"), images[1]));
    return images;
}

const char* const kRenderers[] = {"poppler", "MuPDF"};

// Converts source to out.pdf with the given options; returns what --verbose said.
std::string Convert(const testsupport::TempDir& dir, const std::string& options, const std::string& source,
                    int expectedStatus = 0) {
    int status = 0;
    const std::string said = RunIn(
        dir, std::string(FOLIANTO_CONVERT) + " --quiet --verbose -f " + options + " -o out.pdf " + source,
        status);
    EXPECT_EQ(status, expectedStatus) << said;
    std::string check;
    EXPECT_EQ(RunCommand("qpdf --check " + ShellQuote(dir.File("out.pdf")) + " 2>&1", &check), 0) << check;
    EXPECT_NE(check.find("No syntax or stream encoding errors"), std::string::npos) << check;
    return said;
}

std::string ObjectText(const testsupport::TempDir& dir, int object) {
    std::string out;
    RunCommand("qpdf --show-object=" + std::to_string(object) + " " + ShellQuote(dir.File("out.pdf")), &out);
    return out;
}

std::vector<std::uint8_t> ObjectData(const testsupport::TempDir& dir, int object) {
    RunCommand("qpdf --show-object=" + std::to_string(object) + " --raw-stream-data " +
               ShellQuote(dir.File("out.pdf")) + " > " + ShellQuote(dir.File("stream.bin")));
    return testsupport::ReadFileBytes(dir.File("stream.bin"));
}

int MostDifference(TCheck check) {
    switch (check) {
    case TCheck::Exact:
        return 0;
    case TCheck::WithinOne:
        return 1;
    case TCheck::SourceBytes:
    case TCheck::Stated:
        break;
    }
    return 0;
}

class CliStorageTest : public testing::TestWithParam<StorageCase> {};

TEST_P(CliStorageTest, PageHoldsTheSourceFaithfully) {
    if (!HaveTools()) GTEST_SKIP() << "qpdf, poppler, MuPDF, libjpeg, libtiff or ImageMagick tools missing";
    const StorageCase& c = GetParam();
    testsupport::TempDir dir;
    int status = 0;
    const std::string made = RunIn(dir, c.Make, status);
    ASSERT_EQ(status, 0) << made;
    const std::string said = Convert(dir, "", c.Source, c.Check == TCheck::Stated ? 1 : 0);
    EXPECT_NE(said.find(std::string(": ") + c.Verbose + ","), std::string::npos) << said;
    const std::string dictionary = ObjectText(dir, 3); // the first page's image
    EXPECT_NE(dictionary.find("/Subtype /Image"), std::string::npos) << dictionary;
    EXPECT_NE(dictionary.find(c.ImageDictionary), std::string::npos) << dictionary;

    if (c.Check == TCheck::Stated) return;
    if (c.Check == TCheck::SourceBytes) {
        EXPECT_EQ(ObjectData(dir, 3), testsupport::ReadFileBytes(dir.File(c.Source)));
        return;
    }
    RgbImage reference;
    if (*c.Reference) {
        ASSERT_EQ(RunIn(dir, c.Reference, status), "");
        ASSERT_TRUE(testsupport::ReadPnm(dir.File("ref.ppm"), reference));
    } else {
        ASSERT_TRUE(testsupport::DecodeWithImageMagick(dir.File(c.Source), reference));
    }
    const std::vector<RgbImage> rendered = Render(dir, dir.File("out.pdf"));
    for (std::size_t r = 0; r < rendered.size(); ++r) {
        const int difference = testsupport::MaxDifference(rendered[r], reference); // -1: other size
        EXPECT_GE(difference, 0) << kRenderers[r] << " " << rendered[r].Width << "x" << rendered[r].Height;
        EXPECT_LE(difference, MostDifference(c.Check)) << kRenderers[r];
    }
}

std::string With(const char* base, const char* rest) {
    return std::string(base) + rest;
}
const std::string kMakeBaseline = With(kPhoto, "cjpeg -quality 85 photo.ppm > src.jpg");
const std::string kMakeProgressive = With(kPhoto, "cjpeg -progressive photo.ppm > src.jpg");
const std::string kMakeGreyJpeg = With(kPhoto, "cjpeg -grayscale photo.ppm > src.jpg");
const std::string kMakeCmyk = With(kPhoto, "/usr/bin/convert photo.ppm -colorspace CMYK src.jpg");
const std::string kMakeArithmetic = With(kPhoto, "cjpeg -arithmetic photo.ppm > src.jpg");
const std::string kMakeCutJpeg =
    With(kPhoto, "cjpeg -quality 95 photo.ppm > full.jpg && head -c 1500 full.jpg > src.jpg");
const std::string kMakeRgbPng = With(kPhoto, "/usr/bin/convert photo.ppm PNG24:src.png");
const std::string kMakeGreyPng =
    With(kPhoto, "/usr/bin/convert photo.ppm -colorspace Gray -depth 8 PNG:src.png");
const std::string kMakePalettePng = With(kPhoto, "/usr/bin/convert photo.ppm -colors 20 PNG8:src.png");
const std::string kMake16BitPng = With(kPhoto, "/usr/bin/convert photo.ppm -depth 16 PNG48:src.png");
const std::string kMakeInterlaced = With(kPhoto, "/usr/bin/convert photo.ppm -interlace PNG PNG24:src.png");
const std::string kMakeGif = With(kPhoto, "/usr/bin/convert photo.ppm -colors 30 src.gif");
const std::string kMakeG4 = With(kPage, "tiffcp -c g4 b.tif src.tif");
constexpr char kPhotoTiff[] = "/usr/bin/convert photo.ppm -compress None rgb.tif && ";
const std::string kMakeTiffJpeg =
    With(kPhoto, With(kPhotoTiff, "tiffcp -c jpeg:90 -r 64 rgb.tif src.tif").c_str());
const std::string kMakeTiffRgbJpeg =
    With(kPhoto, With(kPhotoTiff, "tiffcp -c jpeg:r -r 64 rgb.tif src.tif").c_str());
const std::string kMakeTiffJpegStrips =
    With(kPhoto, With(kPhotoTiff, "tiffcp -c jpeg -r 16 rgb.tif src.tif").c_str());
const std::string kMakeTiffGreyJpeg =
    With(kPhoto, "/usr/bin/convert photo.ppm -colorspace Gray -depth 8 -compress None g.tif && "
                 "tiffcp -c jpeg -r 64 g.tif src.tif");
const std::string kMakeG4Strips = With(kPage, "tiffcp -c g4 -r 16 b.tif src.tif");
const std::string kMakeG3Strips = With(kPage, "tiffcp -c g3:2d -r 16 b.tif src.tif");
const std::string kMakeG3FillStrips = With(kPage, "tiffcp -c g3:1d:fill -r 9 -f lsb2msb b.tif src.tif");

const StorageCase kStorageCases[] = {
    {"BaselineJpeg", kMakeBaseline.c_str(), "src.jpg", "kept JPEG data", TCheck::SourceBytes,
     "/ColorSpace /DeviceRGB"},
    {"ProgressiveJpeg", kMakeProgressive.c_str(), "src.jpg", "kept JPEG data", TCheck::SourceBytes,
     "/Filter /DCTDecode"},
    {"GreyJpeg", kMakeGreyJpeg.c_str(), "src.jpg", "kept JPEG data", TCheck::SourceBytes,
     "/ColorSpace /DeviceGray"},
    {"AdobeCmykJpeg", kMakeCmyk.c_str(), "src.jpg", "kept JPEG data", TCheck::SourceBytes,
     "/Decode [ 1 0 1 0 1 0 1 0 ]"},
    {"ArithmeticJpeg", kMakeArithmetic.c_str(), "src.jpg", "Flate; not kept: arithmetic-coded JPEG",
     TCheck::Exact, "/FlateDecode", "djpeg -outfile ref.ppm src.jpg"},
    // Rows the data does not reach are paper on the page: what is left is not the file's picture.
    {"CutJpeg", kMakeCutJpeg.c_str(), "src.jpg", "Flate; not kept: the file's data is incomplete",
     TCheck::Stated},
    {"RgbPng", kMakeRgbPng.c_str(), "src.png", "kept PNG data", TCheck::Exact, "/Predictor 15"},
    {"GreyPng", kMakeGreyPng.c_str(), "src.png", "kept PNG data", TCheck::Exact, "/ColorSpace /DeviceGray"},
    {"PalettePng", kMakePalettePng.c_str(), "src.png", "kept PNG data", TCheck::Exact,
     "/Indexed /DeviceRGB 19"},
    {"SixteenBitPng", kMake16BitPng.c_str(), "src.png", "Flate; not kept: PNG that is not 8 bits per sample",
     TCheck::WithinOne, "/FlateDecode"},
    {"InterlacedPng", kMakeInterlaced.c_str(), "src.png", "Flate; not kept: interlaced PNG", TCheck::Exact,
     "/FlateDecode"},
    {"Gif", kMakeGif.c_str(), "src.gif", "Flate (palette)", TCheck::Exact, "/Indexed"},
    {"G4Tiff", kMakeG4.c_str(), "src.tif", "kept G4 data from TIFF", TCheck::Exact, "/K -1"},
    {"JpegTiff", kMakeTiffJpeg.c_str(), "src.tif", "kept JPEG data from TIFF", TCheck::Exact, "/DCTDecode"},
    {"RgbJpegTiff", kMakeTiffRgbJpeg.c_str(), "src.tif", "kept JPEG data from TIFF", TCheck::Exact,
     "/ColorTransform 0"},
    {"GreyJpegTiff", kMakeTiffGreyJpeg.c_str(), "src.tif", "kept JPEG data from TIFF", TCheck::Exact,
     "/DeviceGray"},
    {"JpegTiffStrips", kMakeTiffJpegStrips.c_str(), "src.tif", "Flate; not kept: JPEG data in several strips",
     TCheck::Exact},
    {"G4TiffStrips", kMakeG4Strips.c_str(), "src.tif", "G4; not kept: Group 4 data in several strips",
     TCheck::Exact, "/K -1"},
    {"G3TiffStrips", kMakeG3Strips.c_str(), "src.tif", "G3 from TIFF strips (5 joined)", TCheck::Exact,
     "/K 1"},
    {"G3OneDFillLsbStrips", kMakeG3FillStrips.c_str(), "src.tif", "G3 from TIFF strips (8 joined)",
     TCheck::Exact, "/K 0"},
};
INSTANTIATE_TEST_SUITE_P(Sources, CliStorageTest, testing::ValuesIn(kStorageCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Transparency laid on white paper and kept as a soft mask look alike over the white page, and both
// match the reference composite.
TEST(CliAlphaTest, FlattenedAndKeptShowTheSameOnWhite) {
    if (!HaveTools()) GTEST_SKIP() << "qpdf, poppler, MuPDF, libjpeg, libtiff or ImageMagick tools missing";
    testsupport::TempDir dir;
    int status = 0;
    const std::string made =
        RunIn(dir,
              std::string(kPhoto) +
                  "/usr/bin/convert photo.ppm \\( -size 96x64 gradient:black-white \\) -alpha off "
                  "-compose CopyOpacity -composite PNG32:src.png && "
                  "/usr/bin/convert src.png -background white -flatten -depth 8 ref.ppm",
              status);
    ASSERT_EQ(status, 0) << made;
    RgbImage reference;
    ASSERT_TRUE(testsupport::ReadPnm(dir.File("ref.ppm"), reference));
    for (const char* mode : {"flatten", "keep"}) {
        for (const char* compression : {"auto", "dct"}) {
            const std::string said =
                Convert(dir, std::string("--alpha ") + mode + " -c " + compression, "src.png");
            const bool keep = std::string(mode) == "keep";
            EXPECT_EQ(said.find("with soft mask") != std::string::npos, keep) << said;
            // A kept mask is registered just before its image.
            EXPECT_EQ(ObjectText(dir, keep ? 4 : 3).find("/SMask 3 0 R") != std::string::npos, keep);
            const std::vector<RgbImage> rendered = Render(dir, dir.File("out.pdf"));
            const bool lossless = std::string(compression) == "auto";
            for (std::size_t r = 0; r < rendered.size(); ++r) {
                EXPECT_GE(testsupport::MaxDifference(rendered[r], reference), 0) << "size";
                if (lossless)
                    EXPECT_LE(testsupport::MaxDifference(rendered[r], reference), 2)
                        << kRenderers[r] << " " << mode;
                else
                    EXPECT_GE(testsupport::Psnr(rendered[r], reference), 30.0)
                        << kRenderers[r] << " " << mode;
            }
        }
    }
}
} // namespace
