// Written documents checked by real consumers: qpdf for structure, poppler (cairo back end) and MuPDF
// for the pixels. With the paper equal to the image size in points and 72 dots per inch, every image
// pixel is one rendered pixel, so lossless pages must come back unchanged.
#include "pdf/PdfWriter.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {
using testsupport::RgbImage;

struct TPage {
    std::string Name;
    std::unique_ptr<TIEBitmap> Bitmap;
    RgbImage Expected;
};

// Builds an ie1Bit page from a pixel rule (true: white) and the image a renderer should show.
template <class F> TPage BilevelPage(const std::string& name, int w, int h, F white) {
    TPage p{name, std::make_unique<TIEBitmap>(), {w, h, {}}};
    p.Bitmap->Reallocate(w, h, ie1Bit);
    p.Expected.Pixels.resize(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = p.Bitmap->RowPointer(y);
        std::fill(row, row + p.Bitmap->RowStride(), std::uint8_t(0xA5)); // padding bits must not matter
        for (int x = 0; x < w; ++x) {
            const bool on = white(x, y);
            const auto mask = std::uint8_t(0x80 >> (x % 8));
            row[x / 8] = on ? std::uint8_t(row[x / 8] | mask) : std::uint8_t(row[x / 8] & ~mask);
            std::fill_n(&p.Expected.Pixels[(std::size_t(y) * w + x) * 3], 3, on ? 255 : 0);
        }
    }
    return p;
}

// Smooth colour gradients (red across, green down, blue in waves).
TPage ColourPage(const std::string& name, int w, int h) {
    TPage p{name, std::make_unique<TIEBitmap>(), {w, h, {}}};
    p.Bitmap->Reallocate(w, h, ie24Rgb);
    p.Expected.Pixels.resize(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = p.Bitmap->RowPointer(y);
        for (int x = 0; x < w; ++x) {
            // No steeper than 4 levels a pixel, as in photographs: 4:2:0 chroma cannot follow more.
            const auto r = std::uint8_t(40 + x * 215 / std::max(w - 1, 54));
            const auto g = std::uint8_t(y * 255 / std::max(h - 1, 64));
            const auto b = std::uint8_t(128 + 100 * std::sin(x / 40.0 + y / 25.0));
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
            std::uint8_t* e = &p.Expected.Pixels[(std::size_t(y) * w + x) * 3];
            e[0] = r;
            e[1] = g;
            e[2] = b;
        }
    }
    return p;
}

// Runs of random lengths up to maxRun, new on every row.
auto RandomRuns(unsigned seed, int maxRun) {
    return
        [maxRun, rng = std::mt19937(seed), y0 = -1, x0 = 0, left = 0, colour = false](int x, int y) mutable {
            if (y != y0 || x < x0) {
                y0 = y;
                left = 0;
                colour = (rng() & 1) != 0;
            }
            x0 = x;
            if (left == 0) {
                colour = !colour;
                left = 1 + int(rng() % unsigned(maxRun));
            }
            --left;
            return colour;
        };
}

// Letter-like strokes: random bars inside 8 x 12 cells, with white gutters.
auto TextLike(unsigned seed) {
    return [seed](int x, int y) {
        const int cx = x / 8, cy = y / 12, ix = x % 8, iy = y % 12;
        if (ix == 7 || iy >= 10) return true;
        const unsigned h = unsigned(cx) * 73856093u ^ unsigned(cy) * 19349663u ^ seed;
        const bool vertical = (h >> 3) & 1, horizontal = (h >> 5) & 1, space = (h % 7) == 0;
        if (space) return true;
        const bool ink = (vertical && (ix == 1 || ix == 5)) ||
                         (horizontal && (iy == 1 || iy == 5 || iy == 9)) || ((h >> 7) & 1 && ix == iy % 7);
        return !ink;
    };
}

std::vector<TPage> BilevelPages() {
    std::vector<TPage> pages;
    std::mt19937 noise(11);
    pages.push_back(BilevelPage("w1", 1, 13, [&](int, int) { return (noise() & 1) != 0; }));
    pages.push_back(BilevelPage("w7", 7, 11, [&](int, int) { return (noise() & 1) != 0; }));
    pages.push_back(BilevelPage("w9", 9, 9, [](int x, int y) { return (x + y) % 2 == 0; }));
    pages.push_back(BilevelPage("w1729text", 1729, 40, TextLike(3)));
    pages.push_back(BilevelPage("w2481runs", 2481, 30, RandomRuns(5, 900)));
    pages.push_back(BilevelPage("w3000runs", 3000, 12, RandomRuns(9, 3000))); // runs past 2560
    pages.push_back(BilevelPage("w64dense", 64, 64, RandomRuns(13, 4)));
    // Rows whose unused bits in the last byte are set: they are padding, never pixels.
    for (const int w : {13, 141}) {
        TPage p = BilevelPage("w" + std::to_string(w) + "padded", w, 23, RandomRuns(17 + w, 40));
        const std::uint8_t padding = std::uint8_t(0xFF >> (w % 8));
        for (int y = 0; y < 23; ++y) p.Bitmap->RowPointer(y)[w / 8] |= padding;
        pages.push_back(std::move(p));
    }
    // Every terminating code (0 to 63) and every make-up code (64 to 2560) in both colours: row y
    // opens with a 0-bit run of 64 * (y mod 41) + y and a 1-bit run of 64 * ((y + 20) mod 41) + 63 - y.
    pages.push_back(BilevelPage("everycode", 5400, 64, [](int x, int y) {
        const int zeros = 64 * (y % 41) + y;
        const int ones = 64 * ((y + 20) % 41) + 63 - y;
        if (x < zeros) return false;
        if (x < zeros + ones) return true;
        return (x / 3) % 2 == 0;
    }));
    return pages;
}

std::vector<TPage> ColourPages() {
    std::vector<TPage> pages;
    pages.push_back(ColourPage("c1", 1, 9));
    pages.push_back(ColourPage("c7", 7, 5));
    pages.push_back(ColourPage("c9", 9, 16));
    pages.push_back(ColourPage("c1729", 1729, 16));
    pages.push_back(ColourPage("c2481", 2481, 12));
    return pages;
}

bool ReadPng(const std::string& path, RgbImage& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    out.Width = int(image.width);
    out.Height = int(image.height);
    out.Pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.Pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    return true;
}

// Writes the pages into one document, each on paper of its own size, and returns the file's path.
std::string WriteDocument(const testsupport::TempDir& dir, const std::string& name, std::vector<TPage>& pages,
                          int compression) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    params.PdfTitle = "Render check";
    auto doc = CreatePdfDocument();
    for (TPage& p : pages) {
        params.PdfPaperWidth = p.Bitmap->Width();
        params.PdfPaperHeight = p.Bitmap->Height();
        params.PdfCompression = TPdfCompression(compression);
        AddImagePage(*doc, *p.Bitmap, params, progress);
    }
    EXPECT_FALSE(aborting);
    const std::string path = dir.File(name + ".pdf");
    TFileStream out(path, fmCreate);
    WritePdfDocument(doc, out, params);
    return path;
}

bool HaveTools() {
    return testsupport::ToolAvailable("qpdf") && testsupport::ToolAvailable("pdftocairo") &&
           testsupport::ToolAvailable("mutool");
}

void ExpectQpdfClean(const std::string& pdf) {
    std::string out;
    const int rc = testsupport::RunCommand("qpdf --check " + testsupport::ShellQuote(pdf) + " 2>&1", &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("No syntax or stream encoding errors found"), std::string::npos) << out;
}

// Renders every page with both renderers; returns them per renderer, in page order.
std::vector<std::vector<RgbImage>> Render(const testsupport::TempDir& dir, const std::string& pdf,
                                          std::size_t pages) {
    using testsupport::ShellQuote;
    const std::string cairo = dir.File("cairo"), mu = dir.File("mu");
    EXPECT_EQ(testsupport::RunCommand("pdftocairo -r 72 -png " + ShellQuote(pdf) + " " + ShellQuote(cairo) +
                                      " 2>&1"),
              0);
    EXPECT_EQ(testsupport::RunCommand("mutool draw -q -c rgb -r 72 -o " + ShellQuote(mu + "-%d.png") + " " +
                                      ShellQuote(pdf) + " 2>&1"),
              0);
    const int digits = int(std::to_string(pages).size());
    std::vector<std::vector<RgbImage>> result(2);
    for (std::size_t i = 1; i <= pages; ++i) {
        std::string n = std::to_string(i);
        n.insert(0, std::size_t(digits) - n.size(), '0');
        RgbImage a, b;
        EXPECT_TRUE(ReadPng(cairo + "-" + n + ".png", a)) << i;
        EXPECT_TRUE(ReadPng(mu + "-" + std::to_string(i) + ".png", b)) << i;
        result[0].push_back(std::move(a));
        result[1].push_back(std::move(b));
    }
    return result;
}

const char* const kRenderers[] = {"pdftocairo", "mutool"};

// One uncompressed page in its own document, checked by qpdf.
std::string WriteOnePage(const testsupport::TempDir& dir, const std::string& name, const TPage& page,
                         TIOParamsVals& params) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    params.PdfCompression = pdfUncompressed;
    const std::string pdf = dir.File(name + ".pdf");
    {
        TFileStream out(pdf, fmCreate);
        WriteSinglePagePdf(out, *page.Bitmap, params, progress);
    }
    EXPECT_FALSE(aborting);
    ExpectQpdfClean(pdf);
    return pdf;
}

struct LosslessCase {
    const char* Name;
    int Compression;
};
void PrintTo(const LosslessCase& c, std::ostream* os) {
    *os << c.Name;
}
class PdfLosslessRenderTest : public testing::TestWithParam<LosslessCase> {};

TEST_P(PdfLosslessRenderTest, PixelIdenticalInBothRenderers) {
    if (!HaveTools()) GTEST_SKIP() << "qpdf, pdftocairo or mutool missing";
    testsupport::TempDir dir;
    std::vector<TPage> pages = BilevelPages();
    if (GetParam().Compression == pdfUncompressed || GetParam().Compression == pdfFlate) {
        for (TPage& p : ColourPages()) pages.push_back(std::move(p));
        // Flate stores these in one grey channel and as palette indexes.
        for (TPage& p : ColourPages()) {
            p.Name += "grey";
            for (int y = 0; y < p.Bitmap->Height(); ++y)
                for (int x = 0; x < p.Bitmap->Width(); ++x) {
                    std::uint8_t* px = p.Bitmap->RowPointer(y) + 3 * x;
                    px[0] = px[2] = px[1];
                    std::fill_n(&p.Expected.Pixels[(std::size_t(y) * p.Bitmap->Width() + x) * 3], 3, px[1]);
                }
            pages.push_back(std::move(p));
        }
        for (TPage& p : ColourPages()) {
            p.Name += "few";
            for (int y = 0; y < p.Bitmap->Height(); ++y)
                for (int x = 0; x < p.Bitmap->Width(); ++x) {
                    std::uint8_t* px = p.Bitmap->RowPointer(y) + 3 * x;
                    std::uint8_t* e = &p.Expected.Pixels[(std::size_t(y) * p.Bitmap->Width() + x) * 3];
                    for (int c = 0; c < 3; ++c) px[c] = std::uint8_t(px[c] & 0xC0);
                    e[0] = px[2];
                    e[1] = px[1];
                    e[2] = px[0];
                }
            pages.push_back(std::move(p));
        }
    }
    const std::string pdf = WriteDocument(dir, GetParam().Name, pages, GetParam().Compression);
    ExpectQpdfClean(pdf);
    const auto rendered = Render(dir, pdf, pages.size());
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t i = 0; i < pages.size(); ++i)
            EXPECT_EQ(testsupport::MaxDifference(rendered[r][i], pages[i].Expected), 0)
                << kRenderers[r] << " page " << pages[i].Name << " " << rendered[r][i].Width << "x"
                << rendered[r][i].Height;
}
const LosslessCase kLosslessCases[] = {{"None", pdfUncompressed},
                                       {"RunLength", pdfRunLength},
                                       {"Group4", pdfGroup4},
                                       {"Group3", pdfGroup3},
                                       {"Flate", pdfFlate}};
INSTANTIATE_TEST_SUITE_P(Compressions, PdfLosslessRenderTest, testing::ValuesIn(kLosslessCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PdfDctRenderTest, ColourAndGreyPagesAreCloseToTheSource) {
    if (!HaveTools()) GTEST_SKIP() << "qpdf, pdftocairo or mutool missing";
    testsupport::TempDir dir;
    std::vector<TPage> pages = ColourPages();
    // The same gradients in grey become one-component JPEGs: compared with their luma.
    for (TPage& p : ColourPages()) {
        p.Name += "grey";
        for (int y = 0; y < p.Bitmap->Height(); ++y) {
            std::uint8_t* row = p.Bitmap->RowPointer(y);
            for (int x = 0; x < p.Bitmap->Width(); ++x) {
                std::uint8_t* e = &p.Expected.Pixels[(std::size_t(y) * p.Bitmap->Width() + x) * 3];
                const auto luma = std::uint8_t(std::lround(0.299 * e[0] + 0.587 * e[1] + 0.114 * e[2]));
                std::fill_n(e, 3, luma);
                std::fill_n(row + 3 * x, 3, luma);
            }
        }
        pages.push_back(std::move(p));
    }
    const std::size_t colourAndGrey = pages.size();
    // A 1-bit page asked for DCT is coded as Group 4, so it stays exact.
    pages.push_back(BilevelPage("bilevel", 1729, 24, TextLike(8)));

    const std::string pdf = WriteDocument(dir, "dct", pages, 4);
    ExpectQpdfClean(pdf);
    const auto rendered = Render(dir, pdf, pages.size());
    for (std::size_t r = 0; r < 2; ++r) {
        for (std::size_t i = 0; i < colourAndGrey; ++i)
            EXPECT_GE(testsupport::Psnr(rendered[r][i], pages[i].Expected), 30.0)
                << kRenderers[r] << " " << pages[i].Name;
        EXPECT_EQ(testsupport::MaxDifference(rendered[r][colourAndGrey], pages[colourAndGrey].Expected), 0)
            << kRenderers[r];
    }
}

TEST(PdfFitRenderTest, ImageHangsFromTheTopLeftCorner) {
    if (!HaveTools()) GTEST_SKIP() << "qpdf, pdftocairo or mutool missing";
    // A wide black image on a taller page: it fills the top, the rest of the page stays white.
    testsupport::TempDir dir;
    TIOParamsVals params;
    params.PdfPaperWidth = 40;
    params.PdfPaperHeight = 60;
    const std::string pdf =
        WriteOnePage(dir, "fit", BilevelPage("black", 80, 20, [](int, int) { return false; }), params);
    const auto rendered = Render(dir, pdf, 1);
    for (std::size_t r = 0; r < 2; ++r) {
        const RgbImage& img = rendered[r][0];
        ASSERT_EQ(img.Width, 40);
        ASSERT_EQ(img.Height, 60);
        EXPECT_EQ(img.At(20, 5)[0], 0) << kRenderers[r];    // inside the 40 x 10 image
        EXPECT_EQ(img.At(20, 30)[0], 255) << kRenderers[r]; // below it
    }
}
} // namespace

namespace {
// Non-ASCII document texts must read back as the same characters in a viewer.
TEST(PdfInfoRenderTest, DocumentTextsReadBackInPoppler) {
    if (!testsupport::ToolAvailable("pdfinfo")) GTEST_SKIP() << "pdfinfo missing";
    testsupport::TempDir dir;
    TIOParamsVals params;
    params.PdfPaperWidth = 10;
    params.PdfPaperHeight = 10;
    params.PdfTitle = "Café (menu) \\ 2026";
    params.PdfAuthor = "Ωμέγα Ünal 🙂";
    // Every Latin-1 character from the no-break space on, the soft hyphen among them: PDFDocEncoding
    // gives 0xA0 and 0xAD other meanings.
    std::string latin1;
    for (unsigned cp = 0xA0; cp <= 0xFF; ++cp) latin1 += {char(0xC0 | (cp >> 6)), char(0x80 | (cp & 0x3F))};
    params.PdfSubject = latin1;
    params.PdfKeywords = "a\u00A0b\u00ADc";
    const std::string pdf =
        WriteOnePage(dir, "info", BilevelPage("white", 10, 10, [](int, int) { return true; }), params);
    std::string info;
    ASSERT_EQ(testsupport::RunCommand("pdfinfo -enc UTF-8 " + testsupport::ShellQuote(pdf), &info), 0);
    EXPECT_NE(info.find("Title:           Café (menu) \\ 2026\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Author:          Ωμέγα Ünal 🙂\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Subject:         " + latin1 + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Keywords:        a\u00A0b\u00ADc\n"), std::string::npos) << info;
}
} // namespace
