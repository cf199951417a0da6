#include "pdf/PdfWriter.h"

#include "codecs/jpeg/JpegErrorManager.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/FormatIds.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "pdf/PdfEncoders.h"
#include "pdf/PdfMd5.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/Stream.h"
#include "platform/WriteFault.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {
using PixelFn = std::function<bool(int x, int y)>; // true: white

std::unique_ptr<TIEBitmap> Bilevel(int w, int h, const PixelFn& white) {
    auto b = std::make_unique<TIEBitmap>();
    b->Reallocate(w, h, ie1Bit);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b->RowPointer(y);
        for (int x = 0; x < w; ++x) {
            if (white(x, y))
                row[x / 8] = std::uint8_t(row[x / 8] | (0x80 >> (x % 8)));
            else
                row[x / 8] = std::uint8_t(row[x / 8] & ~(0x80 >> (x % 8)));
        }
    }
    return b;
}

// Blue, green, red per pixel.
std::unique_ptr<TIEBitmap> Colour(int w, int h) {
    auto b = std::make_unique<TIEBitmap>();
    b->Reallocate(w, h, ie24Rgb);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b->RowPointer(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = std::uint8_t(x * 10);     // blue
            row[3 * x + 1] = std::uint8_t(y * 20); // green
            row[3 * x + 2] = std::uint8_t(200);    // red
        }
    }
    return b;
}

std::string Str(const TMemoryStream& s) {
    return std::string(s.Bytes().begin(), s.Bytes().end());
}

std::string Write(std::unique_ptr<TIEPDFBuilder>& doc, TIOParamsVals& params) {
    TMemoryStream out;
    WritePdfDocument(doc, out, params);
    return Str(out);
}

// The text between "N 0 obj\n" and "\nendobj\n".
std::string ObjectText(const std::string& pdf, int number) {
    const std::string open = "\n" + std::to_string(number) + " 0 obj\n";
    const std::size_t start = pdf.find(open);
    if (start == std::string::npos) return "<missing>";
    const std::size_t body = start + open.size();
    return pdf.substr(body, pdf.find("\nendobj\n", body) - body);
}

// The data bytes of stream object number, as written.
std::vector<std::uint8_t> StreamData(const std::string& pdf, int number) {
    const std::string object = ObjectText(pdf, number);
    const std::size_t start = object.find(">>\nstream\n");
    const std::size_t end = object.rfind("\nendstream");
    if (start == std::string::npos || end == std::string::npos || end < start + 10) return {};
    return std::vector<std::uint8_t>(object.begin() + std::ptrdiff_t(start + 10),
                                     object.begin() + std::ptrdiff_t(end));
}

// The creation date after "D:" (14 digits and the zone), or "" when it is not there.
std::string DateText(const std::string& pdf) {
    const std::size_t at = pdf.find("/CreationDate (D:");
    if (at == std::string::npos) return "";
    const std::size_t end = pdf.find(')', at);
    return end == std::string::npos ? "" : pdf.substr(at + 17, end - at - 17);
}

// Sets an environment variable for one scope.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const char* value) : Name(name) {
        if (const char* old = std::getenv(name)) Old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~TScopedEnv() {
        if (Old)
            ::setenv(Name, Old->c_str(), 1);
        else
            ::unsetenv(Name);
    }

private:
    const char* Name;
    std::optional<std::string> Old;
};

// Documents written in these tests carry a fixed date, so whole files can be compared.
constexpr char kEpoch[] = "1700000000";
constexpr char kEpochDate[] = "20231114221320Z";

struct TDoc {
    bool Aborting = false;
    TIEProgressRecord Progress{Aborting};
    TIOParamsVals Params;
    std::unique_ptr<TIEPDFBuilder> Doc = CreatePdfDocument();
};

TEST(FitImageTest, Examples) {
    struct Case {
        int Iw, Ih, Pw, Ph, W, H;
    };
    const Case cases[] = {
        {1000, 500, 595, 842, 594, 297}, // 0.595 lies below 0.595: the extended product truncates
        {600, 300, 612, 792, 612, 306},     {1, 10000, 595, 842, 1, 841}, {2480, 3508, 595, 842, 595, 841},
        {1700, 2200, 612, 792, 611, 791},   {37, 91, 37, 91, 37, 91},     {10, 2, 595, 842, 595, 119},
        {1, 1, 14400, 14400, 14400, 14400},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitImage(c.Iw, c.Ih, c.Pw, c.Ph), (TIEFitSize{c.W, c.H})) << c.Iw << "x" << c.Ih;
    EXPECT_EQ(FitImage(0, 5, 595, 842), (TIEFitSize{0, 0}));
}

TEST(PdfWriterTest, EmptyDocumentExactBytes) {
    TScopedEnv epoch("SOURCE_DATE_EPOCH", kEpoch);
    TDoc d;
    const std::string pdf = Write(d.Doc, d.Params);
    EXPECT_EQ(d.Doc, nullptr);

    const std::string header = std::string("%PDF-1.4\n%\xC8\xD2\xF0\xFE\n");
    const std::string objects[] = {
        "1 0 obj\n<< /Type /Catalog\n/Pages 3 0 R\n>>\nendobj\n",
        "2 0 obj\n<< /ProcSet [/PDF /ImageB ]\n/XObject << >>\n>>\nendobj\n",
        "3 0 obj\n<< /Type /Pages\n/Kids []\n/Count 0\n>>\nendobj\n",
        "4 0 obj\n<< /CreationDate (D:" + std::string(kEpochDate) + ")\n>>\nendobj\n",
    };
    std::string expected = header;
    std::string xref = "xref\n0 5\n0000000000 65535 f \n";
    for (const std::string& o : objects) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", expected.size());
        xref += entry;
        expected += o;
    }
    const std::size_t startxref = expected.size();
    expected += xref;
    TMd5 md5;
    md5.Update(expected.data(), expected.size());
    const std::string id = "<" + HexDigits(md5.Finish()) + ">";
    expected += "trailer\n<< /Size 5\n/Root 1 0 R\n/Info 4 0 R\n/ID [" + id + id + "]\n>>\nstartxref\n" +
                std::to_string(startxref) + "\n%%EOF\n";
    EXPECT_EQ(pdf, expected);
    EXPECT_NE(pdf.find("\n0000000015 00000 n \n"), std::string::npos);
    EXPECT_EQ(pdf.find('\r'), std::string::npos);
}

// Every byte of a document of several pages, whose streams went through the spool: objects in
// number order, cross-reference offsets and all.
TEST(PdfWriterTest, SeveralPagesExactBytes) {
    TScopedEnv epoch("SOURCE_DATE_EPOCH", kEpoch);
    TDoc d;
    d.Params.PdfCompression = pdfUncompressed;
    d.Params.PdfTitle = "Three";
    const auto white = [](int, int) { return true; };
    const auto black = [](int, int) { return false; };
    const auto stripes = [](int x, int) { return x % 2 == 0; };
    const std::pair<PixelFn, std::string> pages[] = {
        {white, std::string("\xFF\xFF", 2)},
        {black, std::string("\x00\x00", 2)},
        {stripes, std::string("\xAA\xAA", 2)},
    };
    for (const auto& [pixels, data] : pages) {
        d.Params.PdfPaperWidth = 100;
        d.Params.PdfPaperHeight = 50;
        AddImagePage(*d.Doc, *Bilevel(8, 2, pixels), d.Params, d.Progress);
    }
    const std::string pdf = Write(d.Doc, d.Params);

    std::vector<std::string> objects = {
        "<< /Type /Catalog\n/Pages 12 0 R\n>>",
        "<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n/lm2 6 0 R\n/lm3 9 0 R\n>>\n>>",
    };
    for (int k = 1; k <= 3; ++k) {
        objects.push_back("<< /Type /XObject\n/Subtype /Image\n/Length 2\n/ColorSpace /DeviceGray\n"
                          "/BitsPerComponent 1\n/Width 8\n/Height 2\n>>\nstream\n" +
                          pages[k - 1].second + "\nendstream");
        objects.push_back("<< /Length 30\n>>\nstream\nq\n100 0 0 25 0 25 cm\n/lm" + std::to_string(k) +
                          " Do\nQ\nendstream");
        objects.push_back("<< /Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 100 50 ]\n/Contents " +
                          std::to_string(3 * k + 1) + " 0 R\n/Parent 12 0 R\n>>");
    }
    objects.push_back("<< /Type /Pages\n/Kids [5 0 R 8 0 R 11 0 R ]\n/Count 3\n>>");
    objects.push_back("<< /Title (Three)\n/CreationDate (D:" + std::string(kEpochDate) + ")\n>>");

    // The identifier digests the document's bytes, with the digest of each spooled object's text (the
    // streams) in the place of that text.
    std::string expected = std::string("%PDF-1.4\n%\xC8\xD2\xF0\xFE\n");
    std::string xref = "xref\n0 14\n0000000000 65535 f \n";
    TMd5 md5;
    md5.Update(expected.data(), expected.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", expected.size());
        xref += entry;
        const std::string head = std::to_string(i + 1) + " 0 obj\n", tail = "\nendobj\n";
        expected += head + objects[i] + tail;
        std::string digested = objects[i];
        if (objects[i].find("\nstream\n") != std::string::npos) {
            TMd5 spooled;
            spooled.Update(objects[i].data(), objects[i].size());
            const auto digest = spooled.Finish();
            digested.assign(digest.begin(), digest.end());
        }
        for (const std::string& piece : {head, digested, tail}) md5.Update(piece.data(), piece.size());
    }
    const std::size_t startxref = expected.size();
    expected += xref;
    md5.Update(xref.data(), xref.size());
    const std::string id = "<" + HexDigits(md5.Finish()) + ">";
    expected += "trailer\n<< /Size 14\n/Root 1 0 R\n/Info 13 0 R\n/ID [" + id + id + "]\n>>\nstartxref\n" +
                std::to_string(startxref) + "\n%%EOF\n";
    EXPECT_EQ(pdf, expected);
}

TEST(PdfWriterTest, CreationDateIsLocalTimeWithItsOffset) {
    TScopedEnv epoch("SOURCE_DATE_EPOCH", nullptr);
    TDoc d;
    const std::string date = DateText(Write(d.Doc, d.Params));
    ASSERT_EQ(date.size(), 21u) << date; // 14 digits, then +HH'mm'
    const TLocalDateTime now = NowLocal();
    EXPECT_EQ(std::stoi(date.substr(0, 4)), now.Year);
    EXPECT_GE(std::stoi(date.substr(4, 2)), 1);
    EXPECT_LE(std::stoi(date.substr(4, 2)), 12);
    EXPECT_LE(std::stoi(date.substr(8, 2)), 23);
    EXPECT_EQ(date.substr(14), PdfDateText(DocumentTimeNow()).substr(16));
}

TEST(PdfWriterTest, DateTextForms) {
    struct Case {
        int Offset;
        bool Utc;
        const char* Text;
    };
    const Case cases[] = {
        {60, false, "D:20240102030405+01'00'"},  {-210, false, "D:20240102030405-03'30'"},
        {345, false, "D:20240102030405+05'45'"}, {0, false, "D:20240102030405+00'00'"},
        {0, true, "D:20240102030405Z"},
    };
    for (const Case& c : cases) {
        TDocumentTime t{2024, 1, 2, 3, 4, 5, c.Offset, c.Utc};
        EXPECT_EQ(PdfDateText(t), c.Text);
    }
}

// The identifier follows the content: equal documents share it, any change gives another, in an
// image's data as anywhere else.
TEST(PdfWriterTest, IdentifierFollowsTheContent) {
    auto write = [](const char* epoch, const char* title, int flipped = -1) {
        TScopedEnv env("SOURCE_DATE_EPOCH", epoch);
        TDoc d;
        d.Params.PdfTitle = title;
        auto b = Bilevel(9, 3, [&](int x, int y) { return ((x ^ y) & 1) != (x == flipped && y == 2); });
        AddImagePage(*d.Doc, *b, d.Params, d.Progress);
        const std::string pdf = Write(d.Doc, d.Params);
        const std::size_t at = pdf.find("/ID [<");
        return std::make_pair(pdf, at == std::string::npos ? std::string() : pdf.substr(at + 6, 32));
    };
    const auto a = write(kEpoch, "A"), again = write(kEpoch, "A");
    EXPECT_EQ(a.first, again.first);
    ASSERT_EQ(a.second.size(), 32u);
    EXPECT_NE(a.first.find("/ID [<" + a.second + "><" + a.second + ">]"), std::string::npos);
    EXPECT_NE(write(kEpoch, "B").second, a.second);
    EXPECT_NE(write("1700000001", "A").second, a.second);
    EXPECT_NE(write(kEpoch, "A", 8).second, a.second);
}

TEST(PdfWriterTest, BilevelPageUncompressed10x2) {
    TDoc d;
    d.Params.PdfCompression = pdfUncompressed;
    auto b = Bilevel(10, 2, [](int x, int y) { return (x + y) % 3 != 0; });
    AddImagePage(*d.Doc, *b, d.Params, d.Progress);
    const std::string pdf = Write(d.Doc, d.Params);

    std::string data;
    for (int y = 0; y < 2; ++y) data += std::string(reinterpret_cast<const char*>(b->RowPointer(y)), 2);
    EXPECT_EQ(ObjectText(pdf, 3), "<< /Type /XObject\n/Subtype /Image\n/Length 4\n/ColorSpace /DeviceGray\n"
                                  "/BitsPerComponent 1\n/Width 10\n/Height 2\n>>\nstream\n" +
                                      data + "\nendstream");
    EXPECT_EQ(ObjectText(pdf, 4),
              "<< /Length 32\n>>\nstream\nq\n595 0 0 119 0 723 cm\n/lm1 Do\nQ\nendstream");
    EXPECT_EQ(ObjectText(pdf, 5),
              "<< /Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 595 842 ]\n/Contents 4 0 R\n"
              "/Parent 6 0 R\n>>");
    EXPECT_EQ(ObjectText(pdf, 6), "<< /Type /Pages\n/Kids [5 0 R ]\n/Count 1\n>>");
    EXPECT_EQ(ObjectText(pdf, 2), "<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n>>\n>>");
    EXPECT_NE(pdf.find("trailer\n<< /Size 8\n/Root 1 0 R\n/Info 7 0 R\n/ID [<"), std::string::npos);
    EXPECT_FALSE(d.Aborting);
}

TEST(PdfWriterTest, ContentStreamHangsFromTopLeft) {
    const struct {
        int Iw, Ih, Pw, Ph;
        const char* Content;
    } cases[] = {
        {1000, 500, 595, 842, "q\n594 0 0 297 0 545 cm\n/lm1 Do\nQ"},
        {600, 300, 612, 792, "q\n612 0 0 306 0 486 cm\n/lm1 Do\nQ"},
        {13, 7, 13, 7, "q\n13 0 0 7 0 0 cm\n/lm1 Do\nQ"},
    };
    for (const auto& c : cases) {
        TDoc d;
        d.Params.PdfPaperWidth = c.Pw;
        d.Params.PdfPaperHeight = c.Ph;
        d.Params.PdfCompression = pdfUncompressed;
        auto b = Bilevel(c.Iw, c.Ih, [](int, int) { return true; });
        AddImagePage(*d.Doc, *b, d.Params, d.Progress);
        ASSERT_EQ(d.Doc->ContentList.size(), 1u);
        const auto bytes = StreamData(Write(d.Doc, d.Params), 4);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.Content);
    }
}

// The image data stays as stored; the placement turns it upright (when asked) and gives pixels of
// unequal resolutions their physical shape. Square pixels as stored keep the plain scaling.
TEST(PdfWriterTest, ContentStreamPlacesThePictureAsItsFileSays) {
    const struct {
        const char* Name;
        int Iw, Ih, DpiX, DpiY, Tag;
        bool AutoOrient;
        const char* Content;
    } cases[] = {
        {"square, stated resolution", 1000, 500, 300, 300, 1, true, "q\n594 0 0 297 0 545 cm\n/lm1 Do\nQ"},
        {"turned, not asked", 1000, 500, 300, 300, 6, false, "q\n594 0 0 297 0 545 cm\n/lm1 Do\nQ"},
        {"turned a quarter", 1000, 500, 300, 300, 6, true, "q\n0 -841 420 0 0 842 cm\n/lm1 Do\nQ"},
        {"turned half round", 1000, 500, 300, 300, 3, true, "q\n-594 0 0 -297 594 842 cm\n/lm1 Do\nQ"},
        {"standard fax", 1728, 1145, 204, 98, 1, true, "q\n595 0 0 820 0 22 cm\n/lm1 Do\nQ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TDoc d;
        d.Params.PdfPaperWidth = 595;
        d.Params.PdfPaperHeight = 842;
        d.Params.PdfCompression = pdfUncompressed;
        d.Params.HorizontalDpi = c.DpiX;
        d.Params.VerticalDpi = c.DpiY;
        d.Params.FileFormat = ioJPEG;
        d.Params.HasExifData = true;
        d.Params.ExifOrientation = c.Tag;
        d.Params.PdfAutoOrient = c.AutoOrient;
        auto b = Bilevel(c.Iw, c.Ih, [](int x, int) { return x % 2 == 0; });
        AddImagePage(*d.Doc, *b, d.Params, d.Progress);
        ASSERT_EQ(d.Doc->ContentList.size(), 1u);
        const std::string pdf = Write(d.Doc, d.Params);
        const auto bytes = StreamData(pdf, 4);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.Content);
        // The image itself is the stored one: width and height as the bitmap holds them.
        EXPECT_NE(
            ObjectText(pdf, 3).find("/Width " + std::to_string(c.Iw) + "\n/Height " + std::to_string(c.Ih)),
            std::string::npos);
    }
}

TEST(PdfWriterTest, ThirdPageObjectNumbers) {
    TDoc d;
    d.Params.PdfCompression = pdfUncompressed;
    auto b = Bilevel(8, 8, [](int x, int) { return x < 4; });
    for (int i = 0; i < 3; ++i) AddImagePage(*d.Doc, *b, d.Params, d.Progress);
    ASSERT_EQ(d.Doc->ImageList.size(), 3u);
    EXPECT_EQ(d.Doc->ImageList[2]->ObjectNumber, 9);
    EXPECT_EQ(d.Doc->ContentList[2]->ObjectNumber, 10);
    EXPECT_EQ(d.Doc->PageList[2]->ObjectNumber, 11);
    const std::string pdf = Write(d.Doc, d.Params);
    EXPECT_NE(ObjectText(pdf, 10).find("/lm3 Do"), std::string::npos);
    EXPECT_EQ(ObjectText(pdf, 2),
              "<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n/lm2 6 0 R\n/lm3 9 0 R\n>>\n>>");
    EXPECT_EQ(ObjectText(pdf, 12), "<< /Type /Pages\n/Kids [5 0 R 8 0 R 11 0 R ]\n/Count 3\n>>");
    EXPECT_NE(pdf.find("xref\n0 14\n"), std::string::npos);
    EXPECT_NE(pdf.find("<< /Size 14\n/Root 1 0 R\n/Info 13 0 R\n/ID [<"), std::string::npos);
}

TEST(PdfWriterTest, InformationEntriesInOrderAndEscaped) {
    TDoc d;
    d.Params.PdfTitle = "A (b)";
    d.Params.PdfKeywords = "k";
    d.Params.PdfProducer = "P\\";
    TScopedEnv epoch("SOURCE_DATE_EPOCH", kEpoch);
    const std::string pdf = Write(d.Doc, d.Params);
    EXPECT_EQ(ObjectText(pdf, 4),
              "<< /Title (A \\(b\\))\n/Keywords (k)\n/Producer (P\\\\)\n/CreationDate (D:" +
                  std::string(kEpochDate) + ")\n>>");
}

struct EncodingCase {
    const char* Name;
    bool Bilevel;
    int Compression;
    const char* Dictionary; // the image dictionary between Length and Width
};
class PdfPageEncodingTest : public testing::TestWithParam<EncodingCase> {};
TEST_P(PdfPageEncodingTest, ImageDictionary) {
    const EncodingCase& c = GetParam();
    TDoc d;
    d.Params.PdfCompression = TPdfCompression(c.Compression);
    auto b = c.Bilevel ? Bilevel(9, 3, [](int x, int y) { return (x * y) % 4 != 1; }) : Colour(9, 3);
    AddImagePage(*d.Doc, *b, d.Params, d.Progress);
    const std::string pdf = Write(d.Doc, d.Params);
    const std::string image = ObjectText(pdf, 3);
    const std::size_t from = image.find('\n', image.find("/Length")) + 1;
    const std::size_t to = image.find("/Width 9\n/Height 3\n>>");
    ASSERT_NE(to, std::string::npos) << image;
    EXPECT_EQ(image.substr(from, to - from), c.Dictionary);
    EXPECT_EQ(image.rfind("<< /Type /XObject\n/Subtype /Image\n/Length ", 0), 0u);
    EXPECT_FALSE(d.Aborting);
}
const char kG4[] = "/Filter /CCITTFaxDecode\n/DecodeParms << /K -1\n/BlackIs1 true\n/Columns 9\n/Rows 3\n"
                   "/EndOfLine false\n/Uncompressed true\n/EncodedByteAlign false\n/EndOfBlock false\n>>\n"
                   "/ColorSpace /DeviceGray\n/BitsPerComponent 1\n";
const EncodingCase kEncodingCases[] = {
    {"BilevelNone", true, 0, "/ColorSpace /DeviceGray\n/BitsPerComponent 1\n"},
    {"BilevelRunLength", true, 1,
     "/Filter [/RunLengthDecode ]\n/ColorSpace /DeviceGray\n/BitsPerComponent 1\n"},
    {"BilevelG4", true, 2, kG4},
    {"BilevelG3", true, 3,
     "/Filter /CCITTFaxDecode\n/DecodeParms << /K 1\n/BlackIs1 true\n/Columns 9\n/Rows 3\n"
     "/EndOfLine false\n/Uncompressed true\n/EncodedByteAlign false\n/EndOfBlock false\n>>\n"
     "/ColorSpace /DeviceGray\n/BitsPerComponent 1\n"},
    {"BilevelDctBecomesG4", true, 4, kG4},
    {"BilevelAbove4BecomesG4", true, 9, kG4},
    {"ColourNone", false, 0, "/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n"},
    {"ColourG4IsUncompressed", false, 2, "/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n"},
    {"ColourDct", false, 4, "/Filter /DCTDecode\n/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n"},
};
INSTANTIATE_TEST_SUITE_P(Pages, PdfPageEncodingTest, testing::ValuesIn(kEncodingCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PdfWriterTest, UncompressedColourIsRedGreenBlue) {
    TDoc d;
    d.Params.PdfCompression = pdfUncompressed;
    auto b = Colour(3, 2);
    AddImagePage(*d.Doc, *b, d.Params, d.Progress);
    const auto data = StreamData(Write(d.Doc, d.Params), 3);
    ASSERT_EQ(data.size(), 18u);
    EXPECT_EQ(data[3 * 4 + 0], 200);    // pixel (1, 1): red
    EXPECT_EQ(data[3 * 4 + 1], 20);     // green
    EXPECT_EQ(data[3 * 4 + 2], 10);     // blue
    EXPECT_EQ(b->RowPointer(1)[3], 10); // the bitmap keeps its own order
}

TEST(PdfWriterTest, RunLengthRunsCrossRows) {
    TDoc d;
    d.Params.PdfCompression = pdfRunLength;
    auto b = Bilevel(16, 4, [](int, int) { return false; }); // 8 zero bytes in all
    AddImagePage(*d.Doc, *b, d.Params, d.Progress);
    EXPECT_EQ(StreamData(Write(d.Doc, d.Params), 3), (std::vector<std::uint8_t>{0xF9, 0x00, 0x80}));
}

TEST(PdfWriterTest, EmptyBitmapAddsNoPage) {
    TDoc d;
    TIEBitmap empty;
    AddImagePage(*d.Doc, empty, d.Params, d.Progress);
    EXPECT_TRUE(d.Aborting);
    EXPECT_EQ(d.Doc->ObjectList.size(), 2u);
}

TEST(PdfWriterTest, OtherPixelTypesAreRefused) {
    TDoc d;
    TIEBitmap grey;
    grey.Reallocate(4, 4, ie8Gray);
    EXPECT_THROW(AddImagePage(*d.Doc, grey, d.Params, d.Progress), EPlatformException);
    EXPECT_EQ(d.Doc->ObjectList.size(), 2u);
}

TEST(PdfWriterTest, FileBackedBitmapGivesTheSameDocument) {
    // A bitmap in a temporary file maps one row at a time.
    for (const int compression : {0, 1, 2, 3}) {
        auto heap = Bilevel(37, 23, [](int x, int y) { return ((x / 3) ^ (y / 2)) & 1; });
        auto file = std::make_unique<TIEBitmap>();
        file->TempFileThreshold = 0;
        file->SetLocation(ieTempFile);
        file->Reallocate(37, 23, ie1Bit);
        for (int y = 0; y < 23; ++y) std::memcpy(file->RowPointer(y), heap->RowPointer(y), 8);
        std::string pdfs[2];
        for (int i = 0; i < 2; ++i) {
            TDoc d;
            d.Params.PdfCompression = TPdfCompression(compression);
            AddImagePage(*d.Doc, i == 0 ? *heap : *file, d.Params, d.Progress);
            TScopedEnv epoch("SOURCE_DATE_EPOCH", kEpoch);
            pdfs[i] = Write(d.Doc, d.Params);
        }
        EXPECT_EQ(pdfs[0], pdfs[1]) << compression;
    }
}

// A stream that takes at most Room bytes in all.
class TShortStream : public TMemoryStream {
public:
    explicit TShortStream(std::int64_t room) : Room(room) {}
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        const std::int64_t n = std::min(count, Room);
        Room -= n;
        return TMemoryStream::Write(buffer, n);
    }
    std::int64_t Room;
};

TEST(PdfWriterTest, ShortWriteRaisesAfterFreeingTheDocument) {
    // Short in the object text, and inside image data too large to be gathered with it.
    const struct {
        std::int64_t Room;
        int Side;
    } cases[] = {{0, 5}, {5, 5}, {100, 5}, {400, 5}, {400, 100}, {20000, 100}};
    for (const auto& [room, side] : cases) {
        TDoc d;
        d.Params.PdfCompression = pdfUncompressed;
        auto b = Colour(side, side);
        AddImagePage(*d.Doc, *b, d.Params, d.Progress);
        TShortStream out(room);
        EXPECT_THROW(WritePdfDocument(d.Doc, out, d.Params), EWriteError) << room;
        EXPECT_EQ(d.Doc, nullptr);
    }
}

// The disk filling up while a page goes to the spool: the page is refused whole, the message names the
// spool's folder, and the document goes on as if the page had never been offered.
TEST(PdfWriterTest, APageTheSpoolCannotTakeLeavesTheDocumentAsItWas) {
    testsupport::TempDir dir;
    const auto addPages = [](TDoc& d, bool failSecond, const std::string& folder) {
        d.Params.PdfCompression = pdfUncompressed;
        AddImagePage(*d.Doc, *Colour(40, 30), d.Params, d.Progress);
        if (failSecond) {
            // Room for part of the image: the page's streams would be spooled only in part.
            TScopedWriteFault full(TFileStreamKind::Unnamed, 1000);
            try {
                AddImagePage(*d.Doc, *Colour(20, 20), d.Params, d.Progress);
                ADD_FAILURE() << "no exception";
            } catch (const EWriteError& e) {
                EXPECT_NE(std::string(e.what()).find("temporary file in \"" + folder + "\""),
                          std::string::npos)
                    << e.what();
            }
            EXPECT_EQ(d.Doc->ObjectList.size(), 5u);
            EXPECT_EQ(d.Doc->PageList.size(), 1u);
        }
        AddImagePage(*d.Doc, *Colour(30, 40), d.Params, d.Progress);
        return Write(d.Doc, d.Params);
    };
    TScopedEnv epoch("SOURCE_DATE_EPOCH", kEpoch);
    TDoc failed;
    failed.Doc = CreatePdfDocument(dir.Path());
    TDoc clean;
    EXPECT_EQ(addPages(failed, true, dir.Path()), addPages(clean, false, dir.Path()));
}

// Pages whose images their makers spooled give the same document as pages the document spooled: with
// a page whose soft mask keeps its image for the document, and with a spool that was full at the time.
TEST(PdfWriterTest, PagesSpooledByTheirMakersGiveTheSameDocument) {
    testsupport::TempDir dir;
    TScopedEnv epoch("SOURCE_DATE_EPOCH", kEpoch);
    const auto encode = [](TDoc& d, int w, int h, bool alpha) {
        const std::unique_ptr<TIEBitmap> b = Colour(w, h);
        if (alpha) b->AlphaPlane()->FillAll(100);
        d.Params.PdfKeepAlpha = true;
        return EncodePdfPage(*b, d.Params, d.Progress);
    };
    const struct {
        int W, H;
        bool Alpha, FullSpool;
    } pages[] = {{40, 30, false, false}, {20, 20, true, false}, {30, 40, false, true}, {9, 7, false, false}};
    const auto make = [&](bool makersSpool) {
        TDoc d;
        d.Doc = CreatePdfDocument(dir.Path());
        d.Params.PdfCompression = pdfFlate;
        TIEPDFSpool* spools[2] = {nullptr, nullptr};
        if (makersSpool) spools[0] = &AddPageSpool(*d.Doc), spools[1] = &AddPageSpool(*d.Doc);
        std::vector<TIEPDFEncodedPage> made;
        for (std::size_t i = 0; i < std::size(pages); ++i) {
            made.push_back(encode(d, pages[i].W, pages[i].H, pages[i].Alpha));
            if (!makersSpool) continue;
            std::optional<TScopedWriteFault> full;
            if (pages[i].FullSpool) full.emplace(TFileStreamKind::Unnamed, 100);
            SpoolPageImage(made.back(), *spools[i % 2]);
            // Spooled, or left whole for the document: never half of each.
            const bool spooled = !pages[i].Alpha && !pages[i].FullSpool;
            EXPECT_EQ(made.back().ImageSpool == spools[i % 2], spooled) << i;
            EXPECT_EQ(made.back().Image == nullptr, spooled) << i;
        }
        for (TIEPDFEncodedPage& page : made) AddEncodedPage(*d.Doc, std::move(page));
        EXPECT_EQ(testsupport::UnnamedFilesOpenIn(0, dir.Path()).size(), makersSpool ? 3u : 1u);
        return Write(d.Doc, d.Params);
    };
    const std::string reference = make(false);
    EXPECT_EQ(make(true), reference);
    EXPECT_NE(reference.find("/SMask"), std::string::npos);
    EXPECT_TRUE(testsupport::UnnamedFilesOpenIn(0, dir.Path()).empty());
}

// The spool sits where it is asked to be, without a name, and goes with its document on every path.
TEST(PdfWriterTest, TheSpoolLivesAsLongAsItsDocument) {
    testsupport::TempDir dir;
    for (const bool written : {true, false}) {
        TDoc d;
        d.Doc = CreatePdfDocument(dir.Path());
        AddImagePage(*d.Doc, *Colour(8, 8), d.Params, d.Progress);
        EXPECT_EQ(testsupport::UnnamedFilesOpenIn(0, dir.Path()).size(), 1u);
        if (written)
            Write(d.Doc, d.Params);
        else
            d.Doc.reset(); // abandoned
        EXPECT_TRUE(testsupport::UnnamedFilesOpenIn(0, dir.Path()).empty()) << written;
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    }
}

TEST(PdfWriterTest, NoDocumentWritesNothing) {
    std::unique_ptr<TIEPDFBuilder> none;
    TIOParamsVals params;
    TMemoryStream out;
    WritePdfDocument(none, out, params);
    EXPECT_EQ(out.Size(), 0);
}

TEST(PdfWriterTest, SinglePageInOneCall) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    auto b = Bilevel(10, 2, [](int, int) { return true; });
    TMemoryStream out;
    WriteSinglePagePdf(out, *b, params, progress);
    const std::string pdf = Str(out);
    EXPECT_NE(pdf.find("/Filter /CCITTFaxDecode"), std::string::npos); // the default compression
    EXPECT_NE(pdf.find("<< /Size 8\n"), std::string::npos);
    EXPECT_EQ(pdf.substr(pdf.size() - 6), "%%EOF\n");
}

// ---- DCT encoder

int JpegComponents(const std::vector<std::uint8_t>& jpeg) {
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return jpeg[i + 9];
    return -1;
}

bool EndsWithEoi(const std::vector<std::uint8_t>& jpeg) {
    return jpeg.size() >= 2 && jpeg[jpeg.size() - 2] == 0xFF && jpeg.back() == 0xD9;
}

// Grey levels in all three bytes, except one pixel whose blue byte is one off when tinted.
std::unique_ptr<TIEBitmap> Grey(int w, int h, bool tinted) {
    auto b = std::make_unique<TIEBitmap>();
    b->Reallocate(w, h, ie24Rgb);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b->RowPointer(y);
        for (int x = 0; x < w; ++x) std::fill_n(row + 3 * x, 3, std::uint8_t(x * 13 + y * 7));
    }
    if (tinted) b->RowPointer(h - 1)[3 * (w - 1)] ^= 1;
    return b;
}

// A page's colour space comes from its own pixels, whatever JPEG was read before it.
TEST(DctEncoderTest, ComponentsFollowThePixels) {
    const struct {
        const char* Name;
        std::function<std::unique_ptr<TIEBitmap>()> Make;
        int Components;
        const char* ColorSpace;
    } cases[] = {
        {"colour", [] { return Colour(17, 9); }, 3, "/DeviceRGB"},
        {"grey", [] { return Grey(17, 9, false); }, 1, "/DeviceGray"},
        {"grey but for one pixel", [] { return Grey(17, 9, true); }, 3, "/DeviceRGB"},
    };
    for (const auto& c : cases)
        for (int lastJpegColorSpace = 0; lastJpegColorSpace <= 4; ++lastJpegColorSpace) {
            TDoc d;
            d.Params.PdfCompression = pdfDct;
            d.Params.JpegColorSpace = std::uint8_t(lastJpegColorSpace);
            auto b = c.Make();
            AddImagePage(*d.Doc, *b, d.Params, d.Progress);
            const std::string pdf = Write(d.Doc, d.Params);
            const auto jpeg = StreamData(pdf, 3);
            EXPECT_EQ(JpegComponents(jpeg), c.Components) << c.Name << ", after " << lastJpegColorSpace;
            EXPECT_TRUE(EndsWithEoi(jpeg));
            EXPECT_NE(ObjectText(pdf, 3).find(std::string("/ColorSpace ") + c.ColorSpace), std::string::npos)
                << c.Name << ", after " << lastJpegColorSpace;
        }
}

TEST(DctEncoderTest, BilevelBitmapGivesOneComponent) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    auto b = Bilevel(16, 16, [](int x, int) { return x < 8; });
    TMemoryStream out;
    EXPECT_EQ(EncodeDct(out, *b, params, progress), TDctColourSpace::Gray);
    EXPECT_FALSE(aborting);
    EXPECT_EQ(JpegComponents(out.Bytes()), 1);
    EXPECT_TRUE(EndsWithEoi(out.Bytes()));
}

TEST(DctEncoderTest, MarkersAndDensity) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    params.HorizontalDpi = 0; // the default, 300
    params.VerticalDpi = 150;
    params.JpegMarkers.push_back({0xFE, {'h', 'i'}});
    params.JpegMarkers.push_back({0xEE, {'A', 'd', 'o', 'b', 'e'}});
    params.JpegMarkers.push_back({0xD9, {}}); // not a marker segment: never written
    auto b = Colour(8, 8);
    TMemoryStream out;
    EncodeDct(out, *b, params, progress);
    const std::string s = Str(out);
    EXPECT_NE(s.find(std::string("\xFF\xFE\x00\x04hi", 6)), std::string::npos);
    EXPECT_EQ(s.find("Adobe"), std::string::npos);
    // JFIF: units 1, X density 300, Y density 150.
    EXPECT_NE(s.find(std::string("JFIF\x00\x01\x01\x01\x01\x2C\x00\x96", 12)), std::string::npos);
    EXPECT_TRUE(EndsWithEoi(out.Bytes()));
}

TEST(DctEncoderTest, ProgressAndAbortRequest) {
    bool aborting = false;
    std::vector<int> seen;
    TIEProgressRecord progress(
        [&](void*, int percent) {
            seen.push_back(percent);
            if (percent >= 50) aborting = true;
        },
        nullptr, aborting);
    TIOParamsVals params;
    auto b = Colour(16, 40);
    TMemoryStream out;
    EncodeDct(out, *b, params, progress);
    EXPECT_TRUE(aborting);
    ASSERT_EQ(seen.size(), 20u);
    EXPECT_EQ(seen.front(), 2);
    EXPECT_EQ(seen.back(), 50);
    EXPECT_FALSE(EndsWithEoi(out.Bytes()));
}

TEST(DctEncoderTest, FatalLibraryErrorRaisesAndAddsNoPage) {
    TDoc d;
    d.Params.PdfCompression = pdfDct;
    auto b = Colour(65501, 1); // wider than a JPEG frame can be
    EXPECT_THROW(AddImagePage(*d.Doc, *b, d.Params, d.Progress), EIEJpegException);
    EXPECT_TRUE(d.Aborting);
    EXPECT_EQ(d.Doc->ObjectList.size(), 2u);
    EXPECT_TRUE(d.Doc->ImageList.empty());
}

TEST(DctEncoderTest, EmptyBitmapAborts) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    TIEBitmap empty;
    TMemoryStream out;
    EncodeDct(out, empty, params, progress);
    EXPECT_TRUE(aborting);
    EXPECT_EQ(out.Size(), 0);
}

TEST(DctEncoderTest, ShortWriteSetsAborting) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    params.JpegQuality = 100;
    auto b = Colour(400, 400);
    TShortStream out(10);
    EXPECT_NO_THROW(EncodeDct(out, *b, params, progress));
    EXPECT_TRUE(aborting);
}

// A stream whose writes raise after some bytes: the exception leaves the encoder as it is, from inside
// the library's block output or its closing write alike, and nothing is left half done in between.
struct TRaisingWriteCase {
    const char* Name;
    int Side;                // of a colour page of noise
    std::int64_t RaiseAfter; // bytes accepted before the first write that raises
};
class TRaisingWriteStream : public TMemoryStream {
public:
    explicit TRaisingWriteStream(std::int64_t room) : Room(room) {}
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        if (count > Room) throw std::runtime_error("disk gone");
        Room -= count;
        return TMemoryStream::Write(buffer, count);
    }
    std::int64_t Room;
};
const TRaisingWriteCase kRaisingWriteCases[] = {
    {"FirstFullBlock", 400, 0},     // 400 x 400 noise fills the 64 KiB block many times
    {"LaterFullBlock", 400, 65536}, // the second block
    {"ClosingWrite", 8, 0},         // a tiny page goes out only when the data is finished
};
std::unique_ptr<TIEBitmap> Noise(int w, int h) {
    auto b = std::make_unique<TIEBitmap>();
    b->Reallocate(w, h, ie24Rgb);
    std::uint32_t state = 12345;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b->RowPointer(y);
        for (int x = 0; x < 3 * w; ++x) {
            state = state * 1103515245u + 12345u;
            row[x] = std::uint8_t(state >> 24);
        }
    }
    return b;
}
class DctRaisingWriteTest : public testing::TestWithParam<TRaisingWriteCase> {};
TEST_P(DctRaisingWriteTest, TheStreamsExceptionLeavesTheEncoder) {
    const TRaisingWriteCase& c = GetParam();
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    params.JpegQuality = 100;
    auto b = Noise(c.Side, c.Side);
    TRaisingWriteStream out(c.RaiseAfter);
    EXPECT_THROW(EncodeDct(out, *b, params, progress), std::runtime_error);
    EXPECT_EQ(out.Size(), c.RaiseAfter);
    // The same encoder runs again cleanly afterwards: no state of the failed one lingers.
    TMemoryStream good;
    EXPECT_NO_THROW(EncodeDct(good, *b, params, progress));
    EXPECT_TRUE(EndsWithEoi(good.Bytes()));
}
INSTANTIATE_TEST_SUITE_P(Dct, DctRaisingWriteTest, testing::ValuesIn(kRaisingWriteCases),
                         [](const testing::TestParamInfo<TRaisingWriteCase>& info) {
                             return info.param.Name;
                         });
} // namespace
