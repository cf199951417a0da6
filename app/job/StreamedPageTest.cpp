// A colour JPEG bound for a DCT page is encoded while it is decoded; the page must be the one the
// whole bitmap gives, byte for byte, and every picture the rows cannot settle must go the bitmap's way.
#include "app/job/ConversionJob.h"
#include "app/job/ConversionTables.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/PdfCompression.h"
#include "pdf/PdfDctPageSink.h"
#include "pdf/PdfWriter.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
std::string ObjectText(TIEPDFObject& object) {
    TMemoryStream m;
    object.WriteTo(m);
    return std::string(m.Bytes().begin(), m.Bytes().end());
}

void SetPage(TIOParamsVals& p) {
    p.PdfCompression = pdfDct;
    p.PdfPaperWidth = 595;
    p.PdfPaperHeight = 842;
}

enum class TRowsOutcome { SamePage, LeftToBitmap };

// Loads path both ways; SamePage when the rows made a page and it equals the bitmap's.
TRowsOutcome CompareWays(const std::string& path) {
    TPictoraIO streamed;
    TDctPageSink rows;
    streamed.RowSink = &rows;
    streamed.LoadFromFile(path);
    streamed.RowSink = nullptr;
    if (!rows.Complete() || streamed.Aborting || streamed.LastLoad().DataEndsEarly)
        return TRowsOutcome::LeftToBitmap;
    EXPECT_EQ(streamed.IEBitmap()->Width(), 0) << "the rows went to the sink, not the bitmap";

    TPictoraIO whole;
    whole.LoadFromFile(path);
    EXPECT_FALSE(whole.Aborting) << path;
    SetPage(streamed.Params());
    SetPage(whole.Params());
    TIEProgressRecord progress(whole.OnProgress, &whole, whole.Aborting);
    TIEPDFEncodedPage fromBitmap = EncodePdfPage(*whole.IEBitmap(), whole.Params(), progress);
    TIEPDFEncodedPage fromRows = rows.Finish(streamed.Params());
    EXPECT_TRUE(fromBitmap.Image && fromRows.Image);
    if (!fromBitmap.Image || !fromRows.Image) return TRowsOutcome::SamePage;
    // Compared whole but not printed: the data is binary.
    EXPECT_TRUE(ObjectText(*fromRows.Image) == ObjectText(*fromBitmap.Image))
        << path << ": the images differ";
    EXPECT_EQ(fromRows.Size, fromBitmap.Size);
    EXPECT_EQ(fromRows.Orientation, fromBitmap.Orientation);
    EXPECT_EQ(fromRows.Storage.Coding, fromBitmap.Storage.Coding);
    EXPECT_EQ(fromRows.Storage.Gray, fromBitmap.Storage.Gray);
    EXPECT_EQ(fromRows.Storage.DctQuality, fromBitmap.Storage.DctQuality);
    EXPECT_EQ(fromRows.Storage.ImageBytes, fromBitmap.Storage.ImageBytes);
    return TRowsOutcome::SamePage;
}

struct TJpegCase {
    const char* Name;
    const char* Args; // ImageMagick arguments before the output file
    TRowsOutcome Expected;
};

const TJpegCase kCases[] = {
    {"colour 4:2:0", "-size 67x45 plasma:red-blue -sampling-factor 2x2 -quality 85", TRowsOutcome::SamePage},
    {"colour 4:4:4 progressive", "-size 40x70 plasma:green-yellow -sampling-factor 1x1 -interlace JPEG",
     TRowsOutcome::SamePage},
    {"one pixel", "-size 1x1 xc:orange", TRowsOutcome::SamePage},
    {"CMYK", "-size 50x30 plasma:cyan-magenta -colorspace CMYK", TRowsOutcome::SamePage},
    {"300 dpi, turned by EXIF",
     "-size 64x32 gradient:red-blue -density 300 -units PixelsPerInch -orient RightTop",
     TRowsOutcome::SamePage},
    {"unequal resolution", "-size 64x32 gradient:red-blue -density 204x98 -units PixelsPerInch",
     TRowsOutcome::SamePage},
    {"no resolution", "-size 64x32 gradient:red-blue -density 0 -units Undefined", TRowsOutcome::SamePage},
    {"comment and text markers", "-size 30x30 plasma: -set comment 'a note' -quality 60",
     TRowsOutcome::SamePage},
    // Only the whole picture shows it is grey, and a grey picture becomes a one-component image.
    {"grey pixels in three components", "-size 40x40 gradient:white-black -type TrueColor",
     TRowsOutcome::LeftToBitmap},
    {"one component", "-size 40x40 gradient:white-black -type Grayscale", TRowsOutcome::LeftToBitmap},
};

TEST(StreamedPageTest, RowsMakeTheBitmapsPageOrLeaveItToTheBitmap) {
    if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    testsupport::TempDir dir;
    for (const TJpegCase& c : kCases) {
        SCOPED_TRACE(c.Name);
        const std::string path = dir.File("case.jpg");
        ASSERT_EQ(RunCommand("/usr/bin/convert " + std::string(c.Args) + " " + ShellQuote(path)), 0);
        EXPECT_EQ(CompareWays(path), c.Expected);
    }
}

TEST(StreamedPageTest, DamagedFilesAreLeftToTheBitmap) {
    if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    testsupport::TempDir dir;
    const std::string whole = dir.File("whole.jpg");
    ASSERT_EQ(RunCommand("/usr/bin/convert -size 64x200 plasma: -quality 90 " + ShellQuote(whole)), 0);
    std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(whole);
    ASSERT_GT(bytes.size(), 2000u);

    std::vector<std::uint8_t> cut(bytes.begin(),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
    testsupport::WriteFileBytes(dir.File("cut.jpg"), cut);
    EXPECT_EQ(CompareWays(dir.File("cut.jpg")), TRowsOutcome::LeftToBitmap);

    std::vector<std::uint8_t> header(bytes.begin(), bytes.begin() + 700);
    testsupport::WriteFileBytes(dir.File("header.jpg"), header);
    EXPECT_EQ(CompareWays(dir.File("header.jpg")), TRowsOutcome::LeftToBitmap);
}

// Files from other projects: whatever a file holds, the rows give the bitmap's page or none.
TEST(StreamedPageTest, CorpusJpegsGiveTheBitmapsPage) {
    FOLIANTO_REQUIRE_CORPUS();
    int same = 0;
    for (const testsupport::CorpusEntry& entry : testsupport::CorpusFiles("jpeg")) {
        SCOPED_TRACE(entry.Path);
        if (CompareWays(testsupport::CorpusDir() + "/" + entry.Path) == TRowsOutcome::SamePage) ++same;
    }
    EXPECT_GT(same, 0);
}

// Through the job: a cut photo keeps its page and note, a grey one becomes a grey image, and one the
// reader refuses is skipped with the reader's own reason.
TEST(StreamedPageTest, AJobKeepsWhatTheBitmapsWayGives) {
    if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    testsupport::TempDir dir;
    ASSERT_EQ(
        RunCommand("/usr/bin/convert -size 64x200 plasma: -quality 90 " + ShellQuote(dir.File("a.jpg"))), 0);
    ASSERT_EQ(RunCommand("/usr/bin/convert -size 40x40 gradient:white-black -type TrueColor " +
                         ShellQuote(dir.File("b.jpg"))),
              0);
    std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(dir.File("a.jpg"));
    bytes.resize(bytes.size() / 2);
    testsupport::WriteFileBytes(dir.File("c.jpg"), bytes);
    bytes.resize(100); // cut inside the header
    testsupport::WriteFileBytes(dir.File("d.jpg"), bytes);
    TPictoraIO plain;
    plain.LoadFromFile(dir.File("d.jpg"));
    ASSERT_TRUE(plain.Aborting);
    const std::string refusal = plain.LastLoad().Refusal;
    ASSERT_FALSE(refusal.empty());

    TIEView view;
    TPictoraIO frameIO;
    frameIO.SetAttachedPictora(&view);
    TConversionJob job(view, frameIO);
    TConversionInputs in;
    in.OutputFolder = dir.Path();
    in.OutputName = "out";
    in.SourcePaths = {dir.File("a.jpg"), dir.File("b.jpg"), dir.File("c.jpg"), dir.File("d.jpg")};
    in.CompressionIndex = CompressionDctIndex;
    std::vector<TPageNote> notes;
    TConversionCallbacks cb;
    std::vector<TSkippedInput> skipped;
    cb.ReportSkipped = [&](const std::vector<TSkippedInput>& s, const std::vector<TPageNote>& n) {
        skipped = s;
        notes = n;
    };
    job.Execute(in, cb);
    const std::vector<std::uint8_t> pdf = testsupport::ReadFileBytes(dir.File("out.pdf"));
    const std::string text(pdf.begin(), pdf.end());
    EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                            [](const TPageNote& n) { return n.Kind == TNoteKind::DataMissing; }),
              1);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].Path, dir.File("d.jpg"));
    EXPECT_EQ(skipped[0].Reason, refusal);
    std::string pages;
    ASSERT_EQ(RunCommand("qpdf --show-npages " + ShellQuote(dir.File("out.pdf")), &pages), 0);
    EXPECT_EQ(std::atoi(pages.c_str()), 3);
    EXPECT_NE(text.find("/DeviceGray"), std::string::npos);
    EXPECT_NE(text.find("/DeviceRGB"), std::string::npos);
}
} // namespace
