// The old form of JPEG in TIFF with its tables apart from its scans: tables in the JPEGQTables,
// JPEGDCTables and JPEGACTables tags or in a tables-only stream, coded data alone in the strips or tiles.
//
// testdata: old-jpeg-*.jpg are written by cjpeg from one 48 x 48 picture (-sample 2x1 or 2x2, -grayscale;
// "-rst" ones with -restart 1, a restart marker after every MCU row); the .ppm beside each is djpeg's
// decode of it. The tests cut each JPEG into its tables and its restart intervals and lay them out the
// ways old writers did.
#include "codecs/tiff/TiffOldJpegSegments.h"
#include "codecs/tiff/TiffTestHelpers.h"
#include "platform/ByteOrder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace tifftest;
using B = TTiffBuilder;

const std::string kData = FOLIANTO_TESTDATA_DIR;

constexpr std::uint16_t kOldJpeg = 6, kBlackIsZero = 1, kYCbCr = 6;
constexpr std::uint16_t tagTileWidth = 322, tagTileLength = 323, tagInterchange = 513,
                        tagInterchangeLength = 514, tagRestartInterval = 515, tagQTables = 519,
                        tagDcTables = 520, tagAcTables = 521, tagSubsampling = 530;

// A JPEG file taken apart.
struct TParts {
    std::vector<std::uint8_t> Header; // SOI and every segment before the scan, but a restart interval
    std::vector<std::uint8_t> Scan;   // the scan header
    std::map<int, std::vector<std::uint8_t>> Quant, Dc, Ac; // by table id: 64 entries; counts + values
    struct TComponent {
        int H, V, Q, Dc, Ac;
    };
    std::vector<TComponent> Components;
    std::vector<std::vector<std::uint8_t>> Intervals; // coded data between restart markers
    std::vector<std::uint8_t> Coded;                  // all coded data, markers and all
};

TParts Split(const std::vector<std::uint8_t>& jpeg) {
    TParts p;
    std::size_t at = 2;
    p.Header = {0xFF, 0xD8};
    while (at + 4 <= jpeg.size()) {
        const std::uint8_t m = jpeg[at + 1];
        const std::size_t length = ReadBe16(&jpeg[at + 2]);
        const std::vector<std::uint8_t> seg(jpeg.begin() + std::ptrdiff_t(at),
                                            jpeg.begin() + std::ptrdiff_t(at + 2 + length));
        at += 2 + length;
        if (m == 0xDA) {
            p.Scan = seg;
            for (std::size_t i = 0; i < seg[4]; ++i) {
                p.Components[i].Dc = seg[6 + 2 * i] >> 4;
                p.Components[i].Ac = seg[6 + 2 * i] & 15;
            }
            break;
        }
        if (m != 0xDD) p.Header.insert(p.Header.end(), seg.begin(), seg.end());
        if (m == 0xDB)
            for (std::size_t k = 4; k + 65 <= seg.size(); k += 65)
                p.Quant[seg[k] & 15].assign(seg.begin() + std::ptrdiff_t(k + 1),
                                            seg.begin() + std::ptrdiff_t(k + 65));
        if (m == 0xC4)
            for (std::size_t k = 4; k + 17 <= seg.size();) {
                std::size_t n = 0;
                for (int i = 0; i < 16; ++i) n += seg[k + 1 + std::size_t(i)];
                auto& table = (seg[k] >> 4) ? p.Ac[seg[k] & 15] : p.Dc[seg[k] & 15];
                table.assign(seg.begin() + std::ptrdiff_t(k + 1), seg.begin() + std::ptrdiff_t(k + 17 + n));
                k += 17 + n;
            }
        if (m == 0xC0)
            for (std::size_t i = 0; i < seg[9]; ++i)
                p.Components.push_back({seg[11 + 3 * i] >> 4, seg[11 + 3 * i] & 15, seg[12 + 3 * i], 0, 0});
    }
    std::vector<std::uint8_t> interval;
    for (; at + 1 < jpeg.size(); ++at) {
        const std::uint8_t b = jpeg[at], next = jpeg[at + 1];
        if (b == 0xFF && next >= 0xD0 && next <= 0xD7) {
            p.Intervals.push_back(interval);
            interval.clear();
            p.Coded.insert(p.Coded.end(), {b, next});
            ++at;
            continue;
        }
        if (b == 0xFF && next == 0xD9) break;
        interval.push_back(b);
        p.Coded.push_back(b);
    }
    p.Intervals.push_back(interval);
    return p;
}

enum class TLayout {
    TagTables,        // tables in tags, one restart interval (MCU row) per strip, no markers
    TagTablesRst,     // tables in tags, two intervals per strip with the file's markers, JPEGRestartInterval
    TablesStream,     // a tables-only stream with a length; the first strip opens with the scan header
    OneStrip,         // tables in tags, all coded data in one strip
    Joined,           // tables in tags, a scan that runs on from strip to strip (strips of half an MCU row)
    Tile,             // tables in tags, one tile larger than the image
    TableOutsideFile, // a quantization table offset past the end of the file
    HuffmanTooLong    // a Huffman table whose counts add up to more symbols than a table can have
};

struct TOldTablesCase {
    const char* Name;
    const char* Jpeg; // in testdata, with its djpeg decode beside it
    TLayout Layout;
    int Width, Height;   // of the image (at most the JPEG's)
    const char* Refusal; // empty: decodes
};

const TOldTablesCase kCases[] = {
    {"GreyStripPerMcuRow", "old-jpeg-grey-rst", TLayout::TagTables, 48, 48, ""},
    {"GreyRestartTagKeepsMarkers", "old-jpeg-grey-rst", TLayout::TagTablesRst, 48, 48, ""},
    {"YCbCr21StripPerMcuRow", "old-jpeg-ycc21-rst", TLayout::TagTables, 48, 48, ""},
    {"YCbCr21RestartTagKeepsMarkers", "old-jpeg-ycc21-rst", TLayout::TagTablesRst, 48, 48, ""},
    {"YCbCr21TablesStream", "old-jpeg-ycc21-rst", TLayout::TablesStream, 48, 48, ""},
    {"YCbCr22StripPerMcuRow", "old-jpeg-ycc22-rst", TLayout::TagTables, 48, 48, ""},
    {"YCbCr22TablesStream", "old-jpeg-ycc22-rst", TLayout::TablesStream, 48, 48, ""},
    {"YCbCr22OneStrip", "old-jpeg-ycc22", TLayout::OneStrip, 48, 48, ""},
    {"YCbCr22ScanAcrossStrips", "old-jpeg-ycc22", TLayout::Joined, 48, 48, ""},
    {"YCbCr22TileLargerThanImage", "old-jpeg-ycc22", TLayout::Tile, 40, 44, ""},
    {"QuantTableOutsideTheFile", "old-jpeg-ycc22", TLayout::TableOutsideFile, 48, 48, "damaged JPEG tables"},
    {"HuffmanCountsPastTheLimit", "old-jpeg-ycc22", TLayout::HuffmanTooLong, 48, 48, "damaged JPEG tables"},
};

void PrintTo(const TOldTablesCase& c, std::ostream* os) {
    *os << c.Name;
}

// Each component's tables, laid out after the file, with their offsets as tags.
void AddTableTags(B::TDir& d, const TParts& p, std::size_t base, std::vector<std::uint8_t>& tail) {
    std::vector<std::uint32_t> q, dc, ac;
    std::map<std::pair<int, int>, std::uint32_t> placed; // (kind, id) -> offset: shared tables once
    const auto place = [&](int kind, int id, const std::vector<std::uint8_t>& bytes) {
        auto [it, fresh] = placed.try_emplace({kind, id}, std::uint32_t(base + tail.size()));
        if (fresh) tail.insert(tail.end(), bytes.begin(), bytes.end());
        return it->second;
    };
    for (const auto& c : p.Components) {
        q.push_back(place(0, c.Q, p.Quant.at(c.Q)));
        dc.push_back(place(1, c.Dc, p.Dc.at(c.Dc)));
        ac.push_back(place(2, c.Ac, p.Ac.at(c.Ac)));
    }
    B::Set(d, tagQTables, 4, q);
    B::Set(d, tagDcTables, 4, dc);
    B::Set(d, tagAcTables, 4, ac);
}

std::vector<std::uint8_t> MakeFile(const TOldTablesCase& c, const TParts& p) {
    const bool grey = p.Components.size() == 1;
    const int mcuRows = 8 * p.Components[0].V,
              mcusAcross = (48 + 8 * p.Components[0].H - 1) / (8 * p.Components[0].H);
    std::vector<std::vector<std::uint8_t>> strips;
    int rowsPerStrip = c.Height;
    const auto withRst = [](std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b, int n) {
        a.push_back(0xFF);
        a.push_back(std::uint8_t(0xD0 + (n & 7)));
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    switch (c.Layout) {
    case TLayout::TagTables:
    case TLayout::TablesStream:
        strips = p.Intervals;
        rowsPerStrip = mcuRows;
        break;
    case TLayout::TagTablesRst:
        // Two intervals a strip with the marker between them, numbered from 0 in every strip as some
        // writers do; the marker that ends each strip left at its end.
        for (std::size_t i = 0; i < p.Intervals.size(); i += 2) {
            std::vector<std::uint8_t> s = p.Intervals[i];
            if (i + 1 < p.Intervals.size()) s = withRst(s, p.Intervals[i + 1], 0);
            if (i + 2 < p.Intervals.size()) s.insert(s.end(), {0xFF, 0xD1});
            strips.push_back(s);
        }
        rowsPerStrip = 2 * mcuRows;
        break;
    case TLayout::OneStrip:
    case TLayout::Tile:
    case TLayout::TableOutsideFile:
    case TLayout::HuffmanTooLong:
        strips = {p.Coded};
        break;
    case TLayout::Joined: {
        rowsPerStrip = mcuRows / 2;
        const std::size_t n = std::size_t((c.Height + rowsPerStrip - 1) / rowsPerStrip);
        const std::size_t piece = p.Coded.size() / n;
        for (std::size_t i = 0; i < n; ++i)
            strips.emplace_back(p.Coded.begin() + std::ptrdiff_t(i * piece),
                                i + 1 == n ? p.Coded.end()
                                           : p.Coded.begin() + std::ptrdiff_t((i + 1) * piece));
        break;
    }
    }
    if (c.Layout == TLayout::TablesStream) strips[0].insert(strips[0].begin(), p.Scan.begin(), p.Scan.end());

    B b;
    auto& d = b.AddDirectory();
    B::Image(d, std::uint32_t(c.Width), std::uint32_t(c.Height), 8, grey ? 1 : 3,
             grey ? kBlackIsZero : kYCbCr, kOldJpeg, std::uint32_t(rowsPerStrip), strips);
    if (!grey)
        B::Set(d, tagSubsampling, 3, {std::uint32_t(p.Components[0].H), std::uint32_t(p.Components[0].V)});
    if (c.Layout == TLayout::TagTablesRst) B::Short(d, tagRestartInterval, std::uint32_t(mcusAcross));
    if (c.Layout == TLayout::Tile) {
        d.Tiles = true;
        B::Short(d, tagTileWidth, 48);
        B::Short(d, tagTileLength, 48);
    }
    // Tables go after the file: the first build tells where that is, the second holds their offsets.
    std::vector<std::uint8_t> tail;
    if (c.Layout == TLayout::TablesStream) {
        B::Long(d, tagInterchange, 0);
        B::Long(d, tagInterchangeLength, std::uint32_t(p.Header.size()));
    } else {
        AddTableTags(d, p, 0, tail);
    }
    const std::size_t base = b.Build().size();
    tail.clear();
    if (c.Layout == TLayout::TablesStream) {
        B::Long(d, tagInterchange, std::uint32_t(base));
        tail = p.Header;
    } else {
        AddTableTags(d, p, c.Layout == TLayout::TableOutsideFile ? base + 4096 : base, tail);
    }
    std::vector<std::uint8_t> file = b.Build();
    EXPECT_EQ(file.size(), base);
    if (c.Layout == TLayout::HuffmanTooLong) // the first DC table follows the first quantization table
        std::fill(tail.begin() + 64, tail.begin() + 64 + 16, std::uint8_t(0xFF));
    if (c.Layout != TLayout::TableOutsideFile) file.insert(file.end(), tail.begin(), tail.end());
    return file;
}

class TiffOldJpegTablesTest : public testing::TestWithParam<TOldTablesCase> {};

TEST_P(TiffOldJpegTablesTest, DecodesLikeTheWholeJpeg) {
    const TOldTablesCase& c = GetParam();
    const TParts parts = Split(testsupport::ReadFileBytes(kData + "/" + c.Jpeg + ".jpg"));
    ASSERT_FALSE(parts.Components.empty());
    ASSERT_FALSE(parts.Scan.empty());
    const auto r = ReadBytes(MakeFile(c, parts));
    if (*c.Refusal) {
        EXPECT_TRUE(r->Aborted);
        EXPECT_EQ(r->Outcome.Refusal, c.Refusal);
        return;
    }
    ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
    testsupport::RgbImage whole, reference;
    ASSERT_TRUE(testsupport::ReadPnm(kData + "/" + c.Jpeg + ".ppm", whole));
    reference.Width = c.Width;
    reference.Height = c.Height;
    for (int y = 0; y < c.Height; ++y)
        for (int x = 0; x < c.Width; ++x)
            for (int k = 0; k < 3; ++k) reference.Pixels.push_back(whole.At(x, y)[k]);
    const testsupport::RgbImage mine = ToRgb(r->Bitmap);
    ASSERT_EQ(mine.Width, c.Width);
    ASSERT_EQ(mine.Height, c.Height);
    // The same coefficients through the same decoder: the same pixels.
    EXPECT_EQ(testsupport::MaxDifference(mine, reference), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, TiffOldJpegTablesTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TOldTablesCase>& i) {
                             return std::string(i.param.Name);
                         });

} // namespace
