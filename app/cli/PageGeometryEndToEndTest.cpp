// Pages as viewers draw them: photos turned upright as their files say, pixels of unequal
// resolutions in their physical proportions, and pages of the picture's physical size. The
// references come from independent tools (Pillow writes the files, ImageMagick turns them), and
// poppler and MuPDF both draw every page.
#include "app/cli/ConvertRunner.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {
using clitest::Convert;
using clitest::PageSizes;
using testsupport::RgbImage;
using testsupport::RunCommand;
using testsupport::ShellQuote;

bool HaveTools() {
    return testsupport::ToolAvailable("qpdf") && testsupport::ToolAvailable("pdfinfo") &&
           testsupport::ToolAvailable("pdftocairo") && testsupport::ToolAvailable("mutool") &&
           testsupport::ToolAvailable("/usr/bin/python3") && testsupport::ToolAvailable("/usr/bin/convert");
}

// Writes a 64 x 32 JPEG of four coloured quarters, blocks aligned so that the colours stay clean, with
// an EXIF block holding the given Orientation value, or one of two damaged EXIF blocks.
constexpr char kJpegScript[] = R"(
import sys
from PIL import Image
path, kind = sys.argv[1], sys.argv[2]
im = Image.new("RGB", (64, 32))
for (x, y, colour) in ((0, 0, (220, 30, 30)), (32, 0, (30, 200, 40)), (0, 16, (30, 40, 220)), (32, 16, (240, 220, 40))):
    im.paste(colour, (x, y, x + 32, y + 16))
if kind == "bad-offset":    # the first directory lies past the block's end
    exif = b"Exif\x00\x00II*\x00\xff\xff\x00\x00"
elif kind == "cut-directory":  # five entries announced, the block ends inside the first
    exif = b"Exif\x00\x00MM\x00*\x00\x00\x00\x08\x00\x05\x01\x12\x00\x03"
else:
    e = Image.Exif()
    e[0x0112] = int(kind)
    exif = e.tobytes()
im.save(path, quality=95, subsampling=0, exif=exif)
)";

// Page 1 at 72 dots per inch, so one point of the page is one pixel, as poppler and MuPDF draw it.
std::vector<std::pair<std::string, RgbImage>> Render(const testsupport::TempDir& dir,
                                                     const std::string& pdf) {
    std::vector<std::pair<std::string, RgbImage>> pages;
    const std::string poppler = dir.File("poppler"), mupdf = dir.File("mupdf.png");
    RgbImage image;
    if (RunCommand("pdftocairo -r 72 -singlefile -png " + ShellQuote(pdf) + " " + ShellQuote(poppler)) == 0 &&
        testsupport::DecodeWithImageMagick(poppler + ".png", image))
        pages.emplace_back("poppler", image);
    if (RunCommand("mutool draw -q -r 72 -o " + ShellQuote(mupdf) + " " + ShellQuote(pdf) +
                   " 1 2>/dev/null") == 0 &&
        testsupport::DecodeWithImageMagick(mupdf, image))
        pages.emplace_back("MuPDF", image);
    return pages;
}

bool PassesQpdf(const std::string& pdf) {
    return RunCommand("qpdf --check " + ShellQuote(pdf) + " >/dev/null 2>&1") == 0;
}

// The smallest box holding every pixel darker than mid-grey: {left, top, right, bottom}, exclusive ends.
std::vector<int> DarkBox(const RgbImage& page) {
    std::vector<int> box = {page.Width, page.Height, 0, 0};
    for (int y = 0; y < page.Height; ++y)
        for (int x = 0; x < page.Width; ++x)
            if (page.At(x, y)[0] < 128) {
                box[0] = std::min(box[0], x);
                box[1] = std::min(box[1], y);
                box[2] = std::max(box[2], x + 1);
                box[3] = std::max(box[3], y + 1);
            }
    return box;
}

class PageGeometryEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTools()) GTEST_SKIP() << "qpdf, poppler, MuPDF, Pillow or ImageMagick missing";
    }
    // Converts one file with the options; the PDF must pass qpdf.
    std::string ConvertOne(const std::string& source, const std::string& options, const std::string& name) {
        const std::string pdf = dir.File(name + ".pdf");
        int status = 0;
        const std::string out =
            Convert(options + " -o " + ShellQuote(pdf) + " " + ShellQuote(source), status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_TRUE(PassesQpdf(pdf)) << name;
        return pdf;
    }
    testsupport::TempDir dir;
};

// ---- photos with an EXIF Orientation

struct TJpegCase {
    const char* Name;
    const char* Kind; // the Orientation value, or a damaged block
};

const TJpegCase kJpegCases[] = {
    {"Tag1", "1"},
    {"Tag2", "2"},
    {"Tag3", "3"},
    {"Tag4", "4"},
    {"Tag5", "5"},
    {"Tag6", "6"},
    {"Tag7", "7"},
    {"Tag8", "8"},
    {"Tag0AsStored", "0"},
    {"Tag9AsStored", "9"},
    {"BadOffsetAsStored", "bad-offset"},
    {"CutDirectoryAsStored", "cut-directory"},
};

class UprightPhotos : public PageGeometryEndToEnd, public ::testing::WithParamInterface<TJpegCase> {};

TEST_P(UprightPhotos, LookLikeImageMagicksAutoOrient) {
    const TJpegCase& c = GetParam();
    const std::string src = dir.File("photo.jpg"), ref = dir.File("ref.ppm");
    ASSERT_EQ(
        RunCommand("/usr/bin/python3 -c " + ShellQuote(kJpegScript) + " " + ShellQuote(src) + " " + c.Kind),
        0);
    ASSERT_EQ(RunCommand("/usr/bin/convert " + ShellQuote(src) + " -auto-orient " + ShellQuote(ref)), 0);
    RgbImage expected;
    ASSERT_TRUE(testsupport::ReadPnm(ref, expected));
    // Uncompressed, the page holds the decoded pixels; Fit makes one point of the page one pixel. The
    // re-encoded JPEG keeps the file's EXIF block, which viewers must not turn a second time.
    // A wrong turn or mirror swaps whole quarters: far below either bound (about 6 dB). DCT at quality
    // 80 with halved chroma blurs the sharp colour edges.
    const std::pair<const char*, double> compressions[] = {{"none", 30.0}, {"dct", 22.0}};
    for (const auto& [compression, bound] : compressions) {
        SCOPED_TRACE(compression);
        const std::string pdf = ConvertOne(src, std::string("--compression ") + compression, compression);
        const auto pages = Render(dir, pdf);
        ASSERT_EQ(pages.size(), 2u);
        for (const auto& [viewer, page] : pages) {
            SCOPED_TRACE(viewer);
            ASSERT_EQ(page.Width, expected.Width);
            ASSERT_EQ(page.Height, expected.Height);
            EXPECT_GT(testsupport::Psnr(page, expected), bound);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Exif, UprightPhotos, ::testing::ValuesIn(kJpegCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PageGeometryEndToEnd, KeptAsStoredWhenAsked) {
    const std::string src = dir.File("photo.jpg"), ref = dir.File("ref.ppm");
    ASSERT_EQ(RunCommand("/usr/bin/python3 -c " + ShellQuote(kJpegScript) + " " + ShellQuote(src) + " 6"), 0);
    ASSERT_EQ(RunCommand("/usr/bin/convert " + ShellQuote(src) + " " + ShellQuote(ref)), 0);
    RgbImage stored;
    ASSERT_TRUE(testsupport::ReadPnm(ref, stored));
    const std::string pdf = ConvertOne(src, "--compression none --no-auto-orient", "stored");
    for (const auto& [viewer, page] : Render(dir, pdf)) {
        SCOPED_TRACE(viewer);
        ASSERT_EQ(page.Width, 64);
        EXPECT_GT(testsupport::Psnr(page, stored), 30.0);
    }
    // The paper's orientation follows the picture as the page shows it.
    EXPECT_EQ(PageSizes(ConvertOne(src, "-p A4", "upright-a4")), std::vector<std::string>{"595x842"});
    EXPECT_EQ(PageSizes(ConvertOne(src, "-p A4 --no-auto-orient", "stored-a4")),
              std::vector<std::string>{"842x595"});
}

// ---- TIFF Orientation, lossless: the page must match the turned pixels closely

TEST_F(PageGeometryEndToEnd, TiffOrientationTagTurnsThePage) {
    const std::string base = dir.File("base.ppm");
    ASSERT_EQ(
        RunCommand(
            "/usr/bin/convert -size 40x24 gradient:red-blue -fill black -draw 'rectangle 0,0 9,5' -depth 8 " +
            ShellQuote(base)),
        0);
    const char* names[] = {"TopRight", "BottomRight", "BottomLeft", "LeftTop",
                           "RightTop", "RightBottom", "LeftBottom"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const std::string tif = dir.File(std::string(name) + ".tif"), ref = dir.File("tref.ppm");
        ASSERT_EQ(RunCommand("/usr/bin/convert " + ShellQuote(base) + " -orient " + name +
                             " -compress none " + ShellQuote(tif)),
                  0);
        ASSERT_EQ(
            RunCommand("/usr/bin/convert " + ShellQuote(tif) + " -auto-orient -depth 8 " + ShellQuote(ref)),
            0);
        RgbImage expected;
        ASSERT_TRUE(testsupport::ReadPnm(ref, expected));
        const std::string pdf = ConvertOne(tif, "--compression none", name);
        for (const auto& [viewer, page] : Render(dir, pdf)) {
            SCOPED_TRACE(viewer);
            ASSERT_EQ(page.Width, expected.Width);
            ASSERT_EQ(page.Height, expected.Height);
            EXPECT_GT(testsupport::Psnr(page, expected), 40.0);
        }
    }
}

// ---- resolution: unequal pixels and the picture's own size

// A standard-resolution fax: 204 x 98 dots per inch, all black, so the drawn box is the picture.
TEST_F(PageGeometryEndToEnd, FaxKeepsItsPhysicalProportions) {
    const std::string fax = dir.File("fax.tif");
    ASSERT_EQ(RunCommand("/usr/bin/convert -size 1728x1145 xc:black -units PixelsPerInch -density 204x98 "
                         "-compress Group4 " +
                         ShellQuote(fax)),
              0);
    const double physical = (1145.0 / 98) / (1728.0 / 204); // height over width, in inches
    struct {
        const char* Paper;
        const char* Size;
    } cases[] = {{"A4", "595x842"}, {"Fit", "1728x2383"}, {"image", "610x841"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Paper);
        const std::string pdf = ConvertOne(fax, std::string("--compression g4 -p ") + c.Paper, c.Paper);
        EXPECT_EQ(PageSizes(pdf), std::vector<std::string>{c.Size});
        for (const auto& [viewer, page] : Render(dir, pdf)) {
            SCOPED_TRACE(viewer);
            const std::vector<int> box = DarkBox(page);
            EXPECT_EQ(box[0], 0); // hung from the top-left corner
            EXPECT_EQ(box[1], 0);
            const double drawn = double(box[3] - box[1]) / double(box[2] - box[0]);
            EXPECT_NEAR(drawn, physical, 0.01);
        }
    }
}

TEST_F(PageGeometryEndToEnd, ImageSizePaperIsThePicturesPhysicalSize) {
    struct {
        const char* Name;
        const char* Make; // ImageMagick arguments
        const char* Size;
    } cases[] = {
        {"a4.tif", "-size 2480x3508 xc:white -units PixelsPerInch -density 300 -compress Group4", "595x842"},
        {"letter.png", "-size 1275x1650 xc:gray -units PixelsPerInch -density 150", "612x792"},
        // No resolution in the file: the reader's default of 300 dots per inch.
        {"plain.ppm", "-size 600x300 xc:gray", "144x72"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string src = dir.File(c.Name);
        ASSERT_EQ(RunCommand(std::string("/usr/bin/convert ") + c.Make + " " + ShellQuote(src)), 0);
        EXPECT_EQ(PageSizes(ConvertOne(src, "-p image -c g4", c.Name)), std::vector<std::string>{c.Size});
    }
}
} // namespace
