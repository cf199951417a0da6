// Which PNG image data can be carried unchanged: files built chunk by chunk, each case changing one
// thing, and checked against what the header promises.
#include "codecs/png/PngCodedData.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {
using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& out, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(std::uint8_t(v >> s));
}

void Chunk(Bytes& out, const char* type, const Bytes& body, bool badCrc = false) {
    Put32(out, std::uint32_t(body.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    out.insert(out.end(), typed.begin(), typed.end());
    Put32(out, std::uint32_t(crc32(0, typed.data(), uInt(typed.size()))) ^ (badCrc ? 1u : 0u));
}

Bytes Deflate(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress(out.data(), &size, raw.data(), uLong(raw.size())), Z_OK);
    out.resize(size);
    return out;
}

struct PngShape {
    int Width = 5, Height = 3;
    std::uint8_t Depth = 8, ColourType = 2, Interlace = 0;
    std::uint8_t Filter = 1;   // the filter byte of every row
    int RowsGiven = 3;         // rows in the image data
    int PaletteEntries = 4;    // PLTE for colour type 3
    std::uint8_t MaxIndex = 3; // palette images: the largest index in the rows
    bool Transparency = false;
    bool BadCrc = false;
    int IdatPieces = 2;
};

Bytes MakePng(const PngShape& s, Bytes* idat = nullptr) {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    Put32(ihdr, std::uint32_t(s.Width));
    Put32(ihdr, std::uint32_t(s.Height));
    ihdr.insert(ihdr.end(), {s.Depth, s.ColourType, 0, 0, s.Interlace});
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "gAMA", {0, 0, 0xB1, 0x8F});
    if (s.ColourType == 3) {
        Bytes plte;
        for (int i = 0; i < s.PaletteEntries; ++i) plte.insert(plte.end(), {std::uint8_t(i * 60), 7, 9});
        Chunk(png, "PLTE", plte);
    }
    if (s.Transparency) Chunk(png, "tRNS", {0, 0});
    const int channels = s.ColourType == 2 ? 3 : s.ColourType == 6 ? 4 : s.ColourType == 4 ? 2 : 1;
    Bytes raw;
    for (int y = 0; y < s.RowsGiven; ++y) {
        raw.push_back(s.Filter);
        for (int x = 0; x < s.Width * channels; ++x)
            // With filter None the palette's largest index sits at the end of the last row.
            raw.push_back(s.ColourType == 3 ? (y == s.RowsGiven - 1 && x == s.Width - 1 ? s.MaxIndex : 0)
                                            : std::uint8_t(x * 7 + y));
    }
    const Bytes data = Deflate(raw);
    if (idat) *idat = data;
    const std::size_t piece = (data.size() + std::size_t(s.IdatPieces) - 1) / std::size_t(s.IdatPieces);
    for (std::size_t at = 0; at < data.size(); at += piece)
        Chunk(png, "IDAT",
              Bytes(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + piece))),
              s.BadCrc);
    Chunk(png, "IEND", {});
    return png;
}

struct ProbeCase {
    const char* Name;
    PngShape Shape;
    bool Carriable;
};
class PngCodedDataTest : public testing::TestWithParam<ProbeCase> {};

TEST_P(PngCodedDataTest, CarriesWhatTheHeaderPromises) {
    const ProbeCase& c = GetParam();
    Bytes idat;
    const TPngCodedData d = ProbePngCodedData(MakePng(c.Shape, &idat));
    EXPECT_EQ(d.Carriable, c.Carriable) << d.Refusal;
    EXPECT_EQ(d.Refusal.empty(), c.Carriable);
    if (!c.Carriable) {
        EXPECT_TRUE(d.Data.empty());
        return;
    }
    EXPECT_EQ(d.Width, c.Shape.Width);
    EXPECT_EQ(d.Height, c.Shape.Height);
    EXPECT_EQ(d.Data, idat); // the IDAT pieces joined, byte for byte
    EXPECT_EQ(d.Channels, c.Shape.ColourType == 2 ? 3 : 1);
    if (c.Shape.ColourType == 3) {
        EXPECT_EQ(d.Palette.size(), std::size_t(c.Shape.PaletteEntries) * 3);
    }
}
const ProbeCase kProbeCases[] = {
    {"Rgb", {}, true},
    {"Grey", {.ColourType = 0}, true},
    {"Palette", {.ColourType = 3, .Filter = 0}, true},
    {"PaletteWithPaeth", {.ColourType = 3, .Filter = 4}, true},
    {"OneIdat", {.IdatPieces = 1}, true},
    {"ManyIdats", {.Width = 40, .Height = 30, .RowsGiven = 30, .IdatPieces = 9}, true},
    {"IndexPastPalette", {.ColourType = 3, .Filter = 0, .MaxIndex = 4}, false},
    {"SixteenBit", {.Depth = 16}, false},
    {"FourBitPalette", {.Depth = 4, .ColourType = 3}, false},
    {"Interlaced", {.Interlace = 1}, false},
    {"Alpha", {.ColourType = 6}, false},
    {"GreyAlpha", {.ColourType = 4}, false},
    {"Transparency", {.Transparency = true}, false},
    {"BadChecksum", {.BadCrc = true}, false},
    {"RowsMissing", {.RowsGiven = 2}, false},
    {"RowsExtra", {.RowsGiven = 4}, false},
    {"UnknownFilter", {.Filter = 5}, false},
};
INSTANTIATE_TEST_SUITE_P(Files, PngCodedDataTest, testing::ValuesIn(kProbeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PngCodedDataTest, CutFilesAreRefused) {
    const Bytes png = MakePng({});
    ASSERT_TRUE(ProbePngCodedData(png).Carriable);
    for (std::size_t cut = 0; cut < png.size(); ++cut)
        EXPECT_FALSE(ProbePngCodedData(std::span(png).first(cut)).Carriable) << cut;
}

TEST(PngCodedDataTest, HugePromiseIsRefusedBeforeInflating) {
    // A header promising 2^31 - 1 rows of 2^31 - 1 pixels over a few bytes of data.
    Bytes png = MakePng({});
    png[16] = png[20] = 0x7F;
    png[17] = png[18] = png[19] = png[21] = png[22] = png[23] = 0xFF;
    const std::uint32_t crc = std::uint32_t(crc32(0, &png[12], 17));
    for (int i = 0; i < 4; ++i) png[29 + std::size_t(i)] = std::uint8_t(crc >> (24 - 8 * i));
    const TPngCodedData d = ProbePngCodedData(png);
    EXPECT_FALSE(d.Carriable);
    EXPECT_EQ(d.Refusal, "damaged PNG image data");
}
} // namespace
