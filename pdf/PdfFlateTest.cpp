// The Flate encoder and Flate image streams: rows come back exactly through zlib and the PNG
// predictors a PDF reader applies, and each page takes the fewest channels its pixels need.
#include "pdf/PdfFlateEncoder.h"
#include "pdf/PdfFlateImage.h"
#include "pdf/PdfWriter.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

namespace {
using Bytes = std::vector<std::uint8_t>;

Bytes Inflate(const Bytes& data) {
    Bytes out;
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    std::uint8_t buffer[4096];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    }
    EXPECT_EQ(rc, Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

// The reader's side of the PNG predictors, written from the PNG definition, not from the encoder.
Bytes Unpredict(const Bytes& filtered, std::size_t rowBytes, std::size_t bpp) {
    Bytes rows, previous(rowBytes, 0);
    for (std::size_t at = 0; at + rowBytes + 1 <= filtered.size(); at += rowBytes + 1) {
        const std::uint8_t filter = filtered[at];
        Bytes row(rowBytes);
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = previous[i], c = i >= bpp ? previous[i - bpp] : 0;
            int pred = 0;
            if (filter == 1) pred = a;
            if (filter == 2) pred = b;
            if (filter == 3) pred = (a + b) / 2;
            if (filter == 4) {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            EXPECT_LE(filter, 4);
            row[i] = std::uint8_t(filtered[at + 1 + i] + pred);
        }
        rows.insert(rows.end(), row.begin(), row.end());
        previous = row;
    }
    return rows;
}

Bytes Encode(const Bytes& rows, std::size_t rowBytes, std::size_t bpp, bool adaptive) {
    TMemoryStream out;
    bool aborting = false;
    TFlateRowEncoder encoder(out, rowBytes, bpp, adaptive);
    for (std::size_t at = 0; at < rows.size(); at += rowBytes) encoder.AddRow(rows.data() + at, aborting);
    encoder.Finish(aborting);
    EXPECT_FALSE(aborting);
    return out.Bytes();
}

struct RowCase {
    const char* Name;
    std::size_t RowBytes, Bpp;
    int Rows;
    bool Adaptive;
    int Kind; // 0 random, 1 gradient, 2 repeated rows
};
class FlateRowsTest : public testing::TestWithParam<RowCase> {};

Bytes MakeRows(const RowCase& c) {
    Bytes rows(c.RowBytes * std::size_t(c.Rows));
    std::mt19937 rng(unsigned(c.RowBytes * 31 + std::size_t(c.Rows)));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t x = i % c.RowBytes, y = i / c.RowBytes;
        rows[i] = c.Kind == 0   ? std::uint8_t(rng())
                  : c.Kind == 1 ? std::uint8_t(x * 3 + y * 5)
                                : std::uint8_t(x * x);
    }
    return rows;
}

TEST_P(FlateRowsTest, RowsComeBackExactly) {
    const RowCase& c = GetParam();
    const Bytes rows = MakeRows(c);
    const Bytes coded = Encode(rows, c.RowBytes, c.Bpp, c.Adaptive);
    const Bytes filtered = Inflate(coded);
    ASSERT_EQ(filtered.size(), (c.RowBytes + 1) * std::size_t(c.Rows));
    EXPECT_EQ(Unpredict(filtered, c.RowBytes, c.Bpp), rows);
    if (!c.Adaptive) {
        for (std::size_t at = 0; at < filtered.size(); at += c.RowBytes + 1) EXPECT_EQ(filtered[at], 0);
    }
    // Never much more than the raw rows: a predictor byte a row and zlib's own bound for data it
    // cannot compress (0.03 % and 13 bytes).
    EXPECT_LE(coded.size(), compressBound(uLong(filtered.size())));
}
const RowCase kRowCases[] = {
    {"RandomRgb", 3 * 701, 3, 97, true, 0},  {"RandomGrey", 1001, 1, 300, true, 0},
    {"GradientRgb", 3 * 64, 3, 40, true, 1}, {"RepeatedRows", 50, 1, 30, true, 2},
    {"OnePixel", 3, 3, 5, true, 1},          {"Indexes", 77, 1, 13, false, 0},
    {"ZeroRows", 9, 3, 0, true, 0},
};
INSTANTIATE_TEST_SUITE_P(Rows, FlateRowsTest, testing::ValuesIn(kRowCases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct FilterCase {
    const char* Name;
    Bytes Row, Previous; // Previous empty: first row
    std::size_t Bpp;
    TPngFilter Expected;
};
class ChooseFilterTest : public testing::TestWithParam<FilterCase> {};
TEST_P(ChooseFilterTest, SmallestSumOfDifferences) {
    const FilterCase& c = GetParam();
    std::vector<std::uint8_t> scratch;
    EXPECT_EQ(ChooseRowFilter(c.Row.data(), c.Previous.empty() ? nullptr : c.Previous.data(), c.Row.size(),
                              c.Bpp, scratch),
              c.Expected);
}
const FilterCase kFilterCases[] = {
    {"ZerosTieGoesToNone", {0, 0, 0, 0}, {}, 1, TPngFilter::None},
    {"RampTakesSub", {10, 20, 30, 40, 50, 60}, {}, 1, TPngFilter::Sub},
    {"RampOverThreeBytePixels", {9, 9, 9, 19, 19, 19, 29, 29, 29}, {}, 3, TPngFilter::Sub},
    {"SameAsAboveTakesUp", {200, 3, 150, 77}, {200, 3, 150, 77}, 1, TPngFilter::Up},
    {"AboveOffsetTakesUp", {100, 110, 130, 160, 200}, {90, 100, 120, 150, 190}, 1, TPngFilter::Up},
    {"HalvingTakesAverage", {100, 50, 25, 12}, {0, 0, 0, 0}, 1, TPngFilter::Average},
};
INSTANTIATE_TEST_SUITE_P(Filters, ChooseFilterTest, testing::ValuesIn(kFilterCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Every filter undoes exactly, whichever the chooser would have picked.
TEST(FilterRowTest, EachFilterRoundTrips) {
    std::mt19937 rng(5);
    Bytes first(30), second(30);
    for (auto& b : first) b = std::uint8_t(rng());
    for (auto& b : second) b = std::uint8_t(rng());
    for (const int f : {0, 1, 2, 3, 4}) {
        Bytes filtered(62);
        FilterRow(TPngFilter(f), first.data(), nullptr, 30, 3, filtered.data());
        FilterRow(TPngFilter(f), second.data(), first.data(), 30, 3, filtered.data() + 31);
        EXPECT_EQ(filtered[0], f);
        Bytes both = first;
        both.insert(both.end(), second.begin(), second.end());
        EXPECT_EQ(Unpredict(filtered, 30, 3), both) << "filter " << f;
    }
}

// A colour bitmap from a pixel rule giving red, green, blue.
template <class F> std::unique_ptr<TIEBitmap> Colour(int w, int h, F rgb) {
    auto b = std::make_unique<TIEBitmap>();
    b->Reallocate(w, h, ie24Rgb);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b->RowPointer(y);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = rgb(x, y);
            row[3 * x] = std::uint8_t(c);
            row[3 * x + 1] = std::uint8_t(c >> 8);
            row[3 * x + 2] = std::uint8_t(c >> 16);
        }
    }
    return b;
}

std::string DictionaryText(TIEPDFStreamObject& s) {
    TMemoryStream out;
    s.Dictionary().WriteTo(out);
    return std::string(out.Bytes().begin(), out.Bytes().end());
}

struct PlanCase {
    const char* Name;
    std::function<std::uint32_t(int, int)> Rgb;
    TFlateColours Kind;
    std::size_t Channels;
};
class FlateImageTest : public testing::TestWithParam<PlanCase> {};
TEST_P(FlateImageTest, FewestChannelsAndExactPixels) {
    const PlanCase& c = GetParam();
    const int w = 37, h = 19;
    auto bitmap = Colour(w, h, c.Rgb);
    bool aborting = false;
    TFlateColours kind{};
    auto image = FlateColourImage(*bitmap, &kind, aborting);
    EXPECT_FALSE(aborting);
    EXPECT_EQ(kind, c.Kind);
    const std::string dict = DictionaryText(*image);
    EXPECT_NE(dict.find("/Filter /FlateDecode\n/DecodeParms << /Predictor 15\n/Colors " +
                        std::to_string(c.Channels) + "\n/BitsPerComponent 8\n/Columns 37\n>>"),
              std::string::npos)
        << dict;
    const Bytes rows = Unpredict(Inflate(image->Data()), std::size_t(w) * c.Channels, c.Channels);
    ASSERT_EQ(rows.size(), std::size_t(w * h) * c.Channels);
    const TFlateColourPlan plan = PlanFlateColours(*bitmap);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t want = c.Rgb(x, y) & 0xFFFFFF;
            const std::uint8_t* v = &rows[(std::size_t(y) * w + x) * c.Channels];
            std::uint32_t got = 0;
            if (kind == TFlateColours::Gray) got = std::uint32_t(v[0]) * 0x010101u;
            if (kind == TFlateColours::Rgb) got = std::uint32_t(v[0]) << 16 | std::uint32_t(v[1]) << 8 | v[2];
            if (kind == TFlateColours::Indexed) {
                ASSERT_LT(std::size_t(v[0]) * 3 + 2, plan.Palette.size());
                const std::uint8_t* p = &plan.Palette[std::size_t(v[0]) * 3];
                got = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
            }
            ASSERT_EQ(got, want) << x << "," << y;
        }
}
const PlanCase kPlanCases[] = {
    {"GreyRamp", [](int x, int y) { return std::uint32_t((x * 7 + y) & 255) * 0x010101u; },
     TFlateColours::Gray, 1},
    {"FourColours", [](int x, int y) { return std::uint32_t((x / 4 + y) % 4) * 0x402010u + 0x0000FFu; },
     TFlateColours::Indexed, 1},
    {"Exactly256Colours",
     [](int x, int y) { return std::uint32_t((x + y * 37) % 256) * 0x000101u + 0x800000u; },
     TFlateColours::Indexed, 1},
    {"Over256Colours", [](int x, int y) { return std::uint32_t(x * 37 + y) * 0x010203u + 0x100000u; },
     TFlateColours::Rgb, 3},
    {"AlmostGrey",
     [](int x, int y) { return (x == 36 && y == 18) ? 0x010000u : std::uint32_t(x) * 0x010101u; },
     TFlateColours::Indexed, 1},
};
INSTANTIATE_TEST_SUITE_P(Plans, FlateImageTest, testing::ValuesIn(kPlanCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FlateImageTest, IndexedPageNamesItsPalette) {
    auto bitmap = Colour(3, 2, [](int x, int) { return x == 1 ? 0x28295Cu : 0xFFFFFFu; });
    bool aborting = false;
    auto image = FlateColourImage(*bitmap, nullptr, aborting);
    // First appearance first: white, then the one colour; the ")" byte (0x29) is escaped.
    EXPECT_NE(DictionaryText(*image).find("/ColorSpace [/Indexed /DeviceRGB 1 (\xFF\xFF\xFF\\(\\)\\\\) ]"),
              std::string::npos)
        << DictionaryText(*image);
}

TEST(SoftMaskTest, AlphaRowsAndOpaqueEdges) {
    TIEBitmap plane;
    plane.Reallocate(4, 2, ie8Gray);
    const std::uint8_t values[2][4] = {{0, 64, 128, 255}, {255, 1, 254, 0}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) plane.RowPointer(y)[x] = values[y][x];
    EXPECT_FALSE(AlphaPlaneOpaque(plane, 4, 2));
    bool aborting = false;
    // A mask wider and taller than the plane: the rest is opaque.
    auto mask = SoftMaskImage(plane, 5, 3, aborting);
    EXPECT_EQ(Unpredict(Inflate(mask->Data()), 5, 1),
              (Bytes{0, 64, 128, 255, 255, 255, 1, 254, 0, 255, 255, 255, 255, 255, 255}));
    EXPECT_NE(DictionaryText(*mask).find("/Width 5\n/Height 3\n/ColorSpace /DeviceGray\n/BitsPerComponent 8"),
              std::string::npos);

    TIEBitmap opaque;
    opaque.Reallocate(9, 2, ie1Bit);
    for (int y = 0; y < 2; ++y) std::fill_n(opaque.RowPointer(y), 2, std::uint8_t(0xFF));
    EXPECT_TRUE(AlphaPlaneOpaque(opaque, 9, 2));
    opaque.RowPointer(1)[1] = 0x7F; // pixel 8 of row 1 transparent
    EXPECT_FALSE(AlphaPlaneOpaque(opaque, 9, 2));
    EXPECT_TRUE(AlphaPlaneOpaque(opaque, 8, 2));
}

// The writer: Flate for colour pages, Group 4 still for 1-bit ones, and the soft mask only on request.
TEST(FlatePageTest, CompressionFiveAndSoftMask) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    params.PdfCompression = pdfFlate;
    auto colour =
        Colour(40, 10, [](int x, int y) { return std::uint32_t(x * 6) << 16 | std::uint32_t(y * 20); });
    colour->AlphaPlane()->Reallocate(40, 10, ie8Gray);
    for (int y = 0; y < 10; ++y) std::fill_n(colour->AlphaPlane()->RowPointer(y), 40, std::uint8_t(y * 25));
    TIEPDFEncodedPage page = EncodePdfPage(*colour, params, progress);
    EXPECT_EQ(page.Storage.Coding, TPageCoding::Flate);
    EXPECT_FALSE(page.Storage.SoftMask);
    EXPECT_FALSE(page.SoftMask);

    params.PdfKeepAlpha = true;
    page = EncodePdfPage(*colour, params, progress);
    ASSERT_TRUE(page.SoftMask);
    EXPECT_TRUE(page.Storage.SoftMask);
    EXPECT_EQ(page.Storage.ImageBytes, page.Image->DataLength() + page.SoftMask->DataLength());

    TIEBitmap bilevel;
    bilevel.Reallocate(16, 4, ie1Bit);
    page = EncodePdfPage(bilevel, params, progress);
    EXPECT_EQ(page.Storage.Coding, TPageCoding::Group4);
    EXPECT_NE(DictionaryText(*page.Image).find("/CCITTFaxDecode"), std::string::npos);
    EXPECT_FALSE(aborting);
}

// In a document the mask is registered just before its image, which names it.
TEST(FlatePageTest, SoftMaskPrecedesItsImage) {
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TIOParamsVals params;
    params.PdfCompression = pdfFlate;
    params.PdfKeepAlpha = true;
    auto doc = CreatePdfDocument();
    auto colour = Colour(8, 2, [](int x, int) { return std::uint32_t(x) * 0x102030u; });
    colour->AlphaPlane()->Reallocate(8, 2, ie8Gray);
    for (int y = 0; y < 2; ++y) std::fill_n(colour->AlphaPlane()->RowPointer(y), 8, std::uint8_t(100));
    AddImagePage(*doc, *colour, params, progress);
    ASSERT_EQ(doc->ImageList.size(), 1u);
    EXPECT_EQ(doc->ImageList[0]->ObjectNumber, 4); // catalog, resources, mask, image
    TMemoryStream out;
    WritePdfDocument(doc, out, params);
    const std::string pdf(out.Bytes().begin(), out.Bytes().end());
    const std::size_t image = pdf.find("\n4 0 obj\n");
    ASSERT_NE(image, std::string::npos);
    EXPECT_NE(pdf.find("/SMask 3 0 R", image), std::string::npos);
    const std::size_t mask = pdf.find("\n3 0 obj\n");
    ASSERT_NE(mask, std::string::npos);
    EXPECT_LT(pdf.find("/ColorSpace /DeviceGray", mask), image);
}
} // namespace
