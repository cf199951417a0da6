#include "imaging/io/PictoraIO.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "platform/Exceptions.h"
#include "platform/Stream.h"
#include "platform/SystemInfo.h"
#include "platform/net/HttpClient.h"
#include "testsupport/HttpTestServer.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
class PictoraIOTest : public ::testing::Test {
protected:
    PictoraIOTest() { io.SetAttachedPictora(&view); }
    std::string Make(const std::string& args, const std::string& name) {
        const std::string path = dir.File(name);
        EXPECT_EQ(RunCommand("/usr/bin/convert " + args + " " + ShellQuote(path)), 0) << args;
        return path;
    }
    std::string Rename(const std::string& from, const std::string& name) {
        const std::string to = dir.File(name);
        std::rename(from.c_str(), to.c_str());
        return to;
    }
    TIERgbTriple Pixel(int x, int y) { return view.IEBitmap()->PixelAsRgb(x, y); }

    testsupport::TempDir dir;
    TIEView view;
    TPictoraIO io;
};

// Writes a minimal placeable WMF whose bounds are w x h units at 96 units per inch.
std::vector<std::uint8_t> PlaceableWmf(int w, int h) {
    std::vector<std::uint8_t> b;
    auto u16 = [&](int v) {
        b.push_back(std::uint8_t(v & 0xFF));
        b.push_back(std::uint8_t((v >> 8) & 0xFF));
    };
    auto u32 = [&](std::uint32_t v) {
        u16(int(v & 0xFFFF));
        u16(int(v >> 16));
    };
    u32(0x9AC6CDD7);
    u16(0);
    u16(0), u16(0), u16(w), u16(h); // bounds
    u16(96);                        // units per inch
    u32(0);
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < 20; i += 2) sum ^= std::uint16_t(b[i] | (b[i + 1] << 8));
    u16(sum);
    u16(1), u16(9), u16(0x300), u32(9 + 3), u16(0), u32(3), u16(0); // standard header
    u32(3), u16(0);                                                 // end of file record
    return b;
}
} // namespace

TEST_F(PictoraIOTest, LoadFromFileDispatchesOnTheLowerCasedExtension) {
    const std::string jpg = Rename(Make("-size 8x6 xc:red", "a.jpg"), "photo.JPG");
    io.LoadFromFile(jpg);
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params().FileFormat, 3);
    EXPECT_EQ(view.BitmapWidth(), 8);
    EXPECT_EQ(io.Params().LoadedFileName, jpg);

    const std::string fax =
        Rename(Make("-size 16x4 xc:white xc:black -compress Group4", "s.tif"), "scan.fax");
    io.LoadFromFile(fax);
    EXPECT_EQ(io.Params().FileFormat, 1);
    EXPECT_EQ(view.IEBitmap()->PixelType(), ie1Bit);

    const std::string pix = Rename(Make("-size 5x3 xc:blue", "t.tga"), "a.pix");
    io.LoadFromFile(pix);
    EXPECT_EQ(io.Params().FileFormat, 11);
    EXPECT_EQ(view.BitmapWidth(), 5);

    testsupport::WriteFileBytes(dir.File("a.xyz"), {1, 2, 3});
    io.LoadFromFile(dir.File("a.xyz"));
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(view.BitmapWidth(), 5); // unchanged
    EXPECT_EQ(io.Params().FileFormat, 0);

    io.LoadFromFile("");
    EXPECT_TRUE(io.Aborting);
}

TEST_F(PictoraIOTest, DefaultResolutionWhenTheFileStatesNone) {
    const std::string p = Make("-size 4x4 xc:gray -units undefined -density 1", "nodpi.pcx");
    io.LoadFromFile(p);
    EXPECT_EQ(io.Params().FileFormat, 4);
    EXPECT_GE(io.Params().HorizontalDpi, 2);
    EXPECT_EQ(view.DpiX(), io.Params().HorizontalDpi);
}

TEST_F(PictoraIOTest, AddPdfPageConvertsAllButOneBitToColour) {
    testsupport::TempDir out;
    io.OpenPdfFile(out.File("x.pdf"));
    TIEBitmap& b = *view.IEBitmap();
    b.Reallocate(4, 4, ie8Gray);
    b.FillAll(128);
    io.Params().PdfPaperWidth = 4;
    io.Params().PdfPaperHeight = 4;
    io.AddPdfPage();
    EXPECT_EQ(b.PixelType(), ie24Rgb);
    b.Reallocate(4, 4, ie1Bit);
    io.AddPdfPage();
    EXPECT_EQ(b.PixelType(), ie1Bit);
    io.ClosePdfFile();
    EXPECT_EQ(RunCommand("qpdf --check " + ShellQuote(out.File("x.pdf")) + " >/dev/null 2>&1"), 0);

    TPictoraIO fresh;
    fresh.ClosePdfFile(); // without a document: nothing happens
    EXPECT_FALSE(fresh.PdfDocumentOpen());
}

TEST_F(PictoraIOTest, TiffFrameLoads) {
    const std::string tif =
        Make("-size 10x10 xc:white xc:black xc:white xc:black xc:white -compress Group4", "five.tif");
    io.Params().TiffFrameIndex = 1;
    EXPECT_EQ(io.LoadTiffFile(tif), 5);
    EXPECT_EQ(Pixel(0, 0).r, 0); // the second page is black
    view.IEBitmap()->Reallocate(3, 3, ie24Rgb);
    io.Params().TiffFrameIndex = 7;
    EXPECT_EQ(io.LoadTiffFile(tif), 5);
    EXPECT_EQ(view.IEBitmap()->Width(), 3); // beyond the last frame: unchanged
    EXPECT_EQ(io.Params().TiffFrameIndex, 7);
    testsupport::WriteFileBytes(dir.File("x.tif"), {'n', 'o'});
    io.Params().TiffFrameIndex = 0;
    EXPECT_EQ(io.LoadTiffFile(dir.File("x.tif")), 0);
    EXPECT_THROW(io.LoadTiffFile(dir.File("missing.tif")), std::exception);
}

TEST_F(PictoraIOTest, GifFramesAreComposedAsAPlayerShowsThem) {
    // Frame 0 fills the screen red; frame 1 draws a small blue square at (2,2) and is disposed to the
    // background; frame 2 draws a green square at (6,6) over what remains.
    const std::string gif =
        Make("-dispose none -size 10x10 xc:red -dispose background \\( -size 3x3 xc:blue -repage +2+2 \\) "
             "-dispose none \\( -size 2x2 xc:lime -repage +6+6 \\) -set delay 5",
             "three.gif");
    io.Params().GifFrameIndex = 1;
    EXPECT_EQ(io.LoadGifFile(gif), 3);
    EXPECT_EQ(io.Params().GifFrameIndex, 1);
    EXPECT_EQ(view.IEBitmap()->Width(), 10);
    EXPECT_EQ(Pixel(3, 3), CreateRGB(0, 0, 255));
    EXPECT_EQ(Pixel(0, 0), CreateRGB(255, 0, 0));
    io.Params().GifFrameIndex = 2;
    EXPECT_EQ(io.LoadGifFile(gif), 3);
    EXPECT_EQ(Pixel(6, 6), CreateRGB(0, 255, 0));
    EXPECT_NE(Pixel(3, 3), CreateRGB(0, 0, 255)); // the square was disposed of before frame 2
    io.Params().GifFrameIndex = 9;                // beyond the last: the last frame composed over all
    EXPECT_EQ(io.LoadGifFile(gif), 3);
    EXPECT_EQ(Pixel(6, 6), CreateRGB(0, 255, 0));
    EXPECT_EQ(io.Params().GifFrameIndex, 9);

    const std::string single = Make("-size 4x2 xc:yellow", "one.gif");
    io.Params().GifFrameIndex = 0;
    EXPECT_EQ(io.LoadGifFile(single), 1);
    EXPECT_EQ(view.IEBitmap()->Width(), 4);
}

TEST_F(PictoraIOTest, MetafileSizeRules) {
    const std::string wmf = dir.File("big.wmf");
    testsupport::WriteFileBytes(wmf, PlaceableWmf(2000, 1000));
    struct Case {
        int w, h, ew, eh;
    };
    const Case cases[] = {{-1, -1, 2000, 1000}, {300, -1, 300, 150}, {-1, 50, 100, 50}, {40, 30, 40, 30}};
    for (const Case& c : cases) {
        io.LoadMetafile(wmf, c.w, false, c.h);
        EXPECT_FALSE(io.Aborting);
        EXPECT_EQ(view.IEBitmap()->Width(), c.ew) << c.w << "," << c.h;
        EXPECT_EQ(view.IEBitmap()->Height(), c.eh);
        EXPECT_EQ(io.Params().FileFormat, 9);
    }
    io.LoadMetafile(wmf, 20000, false, 10000); // the longer side is capped at 16000
    EXPECT_EQ(view.IEBitmap()->Width(), 16000);
    EXPECT_EQ(view.IEBitmap()->Height(), 8000);
    view.ResetToBlank();

    io.LoadMetafile(wmf, 10, true, 10); // nothing drawn: all transparent over the key colour
    ASSERT_TRUE(view.IEBitmap()->HasAlphaPlane());
    EXPECT_EQ(view.IEBitmap()->AlphaAt(5, 5), 0);

    testsupport::WriteFileBytes(dir.File("bad.wmf"), {1, 2, 3, 4});
    io.LoadMetafile(dir.File("bad.wmf"), -1, true, -1);
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(io.LastLoad().Refusal, "not a WMF or EMF picture");
}

TEST_F(PictoraIOTest, DctPagesAgreeWithTheirColourSpaceAfterGreyAndCmykSources) {
    if (!testsupport::ToolAvailable("pdftocairo")) GTEST_SKIP() << "pdftocairo missing";
    struct Case {
        const char* colorspace;
        int jpegColorSpace;
    };
    const Case cases[] = {{"Gray", 1}, {"CMYK", 3}};
    for (const Case& c : cases) {
        const std::string jpg =
            Make(std::string("-size 64x48 gradient:orange-navy -colorspace ") + c.colorspace + " -quality 95",
                 std::string("src-") + c.colorspace + ".jpg");
        TPictoraIO& page = *view.IOComponent();
        page.LoadFromFile(jpg);
        ASSERT_FALSE(page.Aborting) << c.colorspace;
        // Writers store CMYK as plain CMYK or as YCCK; both must give a consistent page.
        EXPECT_TRUE(page.Params().JpegColorSpace == c.jpegColorSpace ||
                    (c.jpegColorSpace == 3 && page.Params().JpegColorSpace == 4))
            << int(page.Params().JpegColorSpace);
        const std::string pdf = dir.File(std::string("page-") + c.colorspace + ".pdf");
        page.OpenPdfFile(pdf);
        page.Params().PdfCompression = pdfDct;
        page.Params().PdfPaperWidth = 64;
        page.Params().PdfPaperHeight = 48;
        page.AddPdfPage();
        page.ClosePdfFile();
        ASSERT_EQ(RunCommand("qpdf --check " + ShellQuote(pdf) + " >/dev/null 2>&1"), 0) << c.colorspace;

        testsupport::RgbImage source;
        source.Width = 64;
        source.Height = 48;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const TIERgbTriple t = Pixel(x, y);
                source.Pixels.insert(source.Pixels.end(), {t.r, t.g, t.b});
            }
        ASSERT_EQ(RunCommand("pdftocairo -r 72 -singlefile -png " + ShellQuote(pdf) + " " +
                             ShellQuote(dir.File(std::string("r-") + c.colorspace))),
                  0);
        testsupport::RgbImage rendered;
        ASSERT_TRUE(testsupport::DecodeWithImageMagick(dir.File(std::string("r-") + c.colorspace + ".png"),
                                                       rendered));
        EXPECT_GE(testsupport::Psnr(source, rendered), 30.0) << c.colorspace;
    }
}

TEST_F(PictoraIOTest, SequentialGifFrameLoadsMatchFreshOnesAndNoticeAChangedFile) {
    const std::string gif = Make("-delay 5 -size 12x8 xc:red xc:lime xc:blue -dispose background", "seq.gif");
    for (int k = 0; k < 3; ++k) {
        io.Params().GifFrameIndex = k;
        ASSERT_EQ(io.LoadGifFile(gif), 3);
        TIEView freshView;
        TPictoraIO fresh;
        fresh.SetAttachedPictora(&freshView);
        fresh.Params().GifFrameIndex = k;
        fresh.LoadGifFile(gif);
        EXPECT_EQ(Pixel(5, 5), freshView.IEBitmap()->PixelAsRgb(5, 5)) << k;
    }
    // The same name with other content must not continue the old composition.
    Make("-delay 5 -size 12x8 xc:yellow xc:black xc:white xc:'#808080'", "seq.gif");
    io.Params().GifFrameIndex = 3;
    EXPECT_EQ(io.LoadGifFile(gif), 4);
    EXPECT_EQ(Pixel(5, 5), CreateRGB(128, 128, 128));
}

namespace {
// A 61-byte GIF whose logical screen is 65533 x 65533 pixels: composing its frames on that screen
// took a 12 GB canvas. Without any memory ceiling, the canvas is where its two images reach.
TEST_F(PictoraIOTest, HugeGifScreenIsCutToItsImages) {
    const std::vector<std::uint8_t> gif = {
        0x47, 0x49, 0x46, 0x38, 0xc7, 0x9e, 0xfd, 0xff, 0xfd, 0xff, 0x7d, 0x06, 0x00, 0x00, 0x00, 0x00,
        0x04, 0xa9, 0x15, 0x04, 0x28, 0x01, 0x00, 0x2c, 0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x01, 0x00,
        0x00, 0x04, 0x02, 0x2e, 0x02, 0x00, 0x2c, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x03, 0x00, 0x00,
        0x04, 0x09, 0xa4, 0x98, 0x83, 0x92, 0x5a, 0x79, 0xb9, 0x17, 0x01, 0x00, 0x3b};
    ASSERT_EQ(MemoryLimit(), 0u);
    for (const int frame : {0, 1}) {
        io.Params().GifFrameIndex = frame;
        TReadOnlyMemoryStream stream(gif.data(), std::int64_t(gif.size()));
        io.LoadFromStream(stream);
        EXPECT_EQ(io.Params().GifScreenWidth, 6);
        EXPECT_EQ(io.Params().GifScreenHeight, 5);
        if (!io.Aborting) {
            EXPECT_LE(io.IEBitmap()->Width(), 6) << frame;
            EXPECT_LE(io.IEBitmap()->Height(), 5) << frame;
        }
        EXPECT_EQ(io.Params().GifFrameIndex, frame);
    }
}
} // namespace

// ---- A file cut short: the page keeps the rows the data holds, the rows it lacks are paper.

namespace {
struct TCutCase {
    const char* Name;
    const char* Options; // ImageMagick's, after the image
    const char* File;
    int Percent; // of the file kept
};
class PictoraIOCut : public PictoraIOTest, public ::testing::WithParamInterface<TCutCase> {};
} // namespace

TEST_P(PictoraIOCut, MissingRowsAreTransparentAndTheRestStays) {
    const TCutCase& c = GetParam();
    const std::string whole = Make(std::string("-size 40x60 gradient:red-blue -swirl 120 ") + c.Options,
                                   std::string("w-") + c.File);
    const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(whole);
    io.LoadFromFile(whole);
    ASSERT_FALSE(io.Aborting) << io.LastLoad().Refusal;
    EXPECT_FALSE(io.LastLoad().DataEndsEarly);
    std::vector<TIERgbTriple> full;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 40; ++x) full.push_back(Pixel(x, y));

    const std::string cut = dir.File(c.File);
    testsupport::WriteFileBytes(
        cut, std::vector<std::uint8_t>(bytes.begin(),
                                       bytes.begin() + std::ptrdiff_t(bytes.size() * c.Percent / 100)));
    io.LoadFromFile(cut);
    ASSERT_FALSE(io.Aborting) << io.LastLoad().Refusal;
    const TIELoadOutcome& o = io.LastLoad();
    ASSERT_TRUE(o.DataEndsEarly);
    ASSERT_TRUE(o.MissingRowsKnown());
    // Cut files lose their last stored rows: the bottom of a top-down image, the top of a bottom-up one.
    EXPECT_TRUE(o.FirstMissingRow == 0 || o.LastMissingRow == 59)
        << o.FirstMissingRow << "-" << o.LastMissingRow;
    TIEBitmap& b = *view.IEBitmap();
    ASSERT_TRUE(b.HasAlphaPlane());
    for (int y = 0; y < 60; ++y) {
        const bool missing = y >= o.FirstMissingRow && y <= o.LastMissingRow;
        for (int x = 0; x < 40; x += 13) {
            ASSERT_EQ(b.AlphaAt(x, y), missing ? 0 : 255) << x << "," << y;
            if (!missing) {
                ASSERT_EQ(Pixel(x, y), full[std::size_t(y) * 40 + std::size_t(x)]) << x << "," << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PictoraIOCut,
    ::testing::Values(TCutCase{"Jpeg", "-quality 95", "c.jpg", 60}, TCutCase{"Gif", "", "c.gif", 60},
                      TCutCase{"Png", "", "c.png", 60}, TCutCase{"Bmp", "-type TrueColor", "c.bmp", 60},
                      TCutCase{"BmpRle8", "-colors 16 -compress RLE", "c.bmp", 50},
                      TCutCase{"Tga", "", "c.tga", 60}, TCutCase{"TgaRle", "-compress RLE", "c.tga", 50},
                      TCutCase{"Pbm", "-monochrome", "c.pbm", 60}, TCutCase{"Pgm", "", "c.pgm", 60},
                      TCutCase{"Ppm", "", "c.ppm", 60}, TCutCase{"Pcx", "-type TrueColor", "c.pcx", 60},
                      TCutCase{"Wbmp", "-monochrome", "c.wbmp", 60}, TCutCase{"Ico", "", "c.ico", 60}),
    [](const auto& info) { return std::string(info.param.Name); });

// A 32-bit bitmap keeps no alpha in its fourth byte (writers leave it 0): the page shows the colours.
TEST_F(PictoraIOTest, ThirtyTwoBitBitmapWithZeroFourthBytesIsOpaque) {
    std::vector<std::uint8_t> bmp = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                     0,   0,   0,  2, 0, 0, 0, 2, 0, 0, 0,  1, 0, 32, 0};
    bmp.resize(54, 0);
    for (int i = 0; i < 4; ++i) bmp.insert(bmp.end(), {0, 0, 255, 0}); // red, fourth byte 0
    testsupport::WriteFileBytes(dir.File("red.bmp"), bmp);
    io.LoadFromFile(dir.File("red.bmp"));
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(Pixel(1, 1), CreateRGB(255, 0, 0));
    EXPECT_EQ(view.IEBitmap()->AlphaAt(1, 1), 255);
}

TEST_F(PictoraIOTest, WebAddressesFailWithTheirReason) {
    if (!HttpAvailable()) GTEST_SKIP() << "this build has no HTTP client";
    const std::string server = "127.0.0.1:" + std::to_string(testsupport::UnusedLoopbackPort());
    io.LoadFromFile("HTTP://" + server + "/photo.jpg");
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(io.LastLoad().Refusal, "could not connect to " + server + " (connection refused)");
    io.LoadFromFile(Make("-size 4x4 xc:red", "ok.png"));
    EXPECT_FALSE(io.Aborting);
    EXPECT_TRUE(io.LastLoad().Refusal.empty()); // every load starts afresh
}
