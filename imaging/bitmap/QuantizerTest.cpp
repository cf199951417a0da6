#include "imaging/bitmap/Quantizer.h"
#include "imaging/bitmap/IEBitmap.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

namespace {

int Distance(TIERgbTriple a, TIERgbTriple b) {
    const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return dr * dr + dg * dg + db * db;
}

std::vector<TIERgbTriple> DistinctColours(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::set<std::uint32_t> seen;
    std::vector<TIERgbTriple> out;
    while (static_cast<int>(out.size()) < n) {
        const std::uint32_t v = rng() & 0xFFFFFF;
        if (seen.insert(v).second) out.push_back(IntToTriple(v));
    }
    return out;
}

struct ExactCase {
    const char* Name;
    int Colours, MaxColors;
    bool Exact;
};
const ExactCase kExact[] = {
    {"OneColour", 1, 256, true},        {"FewerThanAllowed", 200, 256, true},
    {"ExactlyAllowed", 256, 256, true}, {"OneTooMany", 257, 256, false},
    {"SmallLimitMet", 16, 16, true},    {"SmallLimitExceeded", 17, 16, false},
    {"SingleEntryLimit", 5, 1, false},
};
class QuantizerExact : public ::testing::TestWithParam<ExactCase> {};
TEST_P(QuantizerExact, PaletteHoldsTheImageColoursWhenTheyFit) {
    const auto& c = GetParam();
    const auto colours = DistinctColours(c.Colours, 7);
    TIEQuantizer q(c.MaxColors);
    for (int rep = 0; rep < 3; ++rep) q.AddPixels(colours.data(), std::int64_t(colours.size()));
    q.Build();
    EXPECT_LE(q.ColorCount(), c.MaxColors);
    EXPECT_GE(q.ColorCount(), 1);
    bool allExact = true;
    for (const TIERgbTriple& col : colours) {
        const int i = q.RGBIndex(col);
        ASSERT_GE(i, 0);
        ASSERT_LT(i, q.ColorCount());
        allExact = allExact && q.Palette()[std::size_t(i)] == col;
    }
    EXPECT_EQ(allExact, c.Exact);
}
INSTANTIATE_TEST_SUITE_P(Cases, QuantizerExact, ::testing::ValuesIn(kExact),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Quantizer, LookupIsTheNearestEntry) {
    const auto colours = DistinctColours(5000, 3);
    TIEQuantizer q(37);
    q.AddPixels(colours.data(), std::int64_t(colours.size()));
    q.Build();
    ASSERT_EQ(q.ColorCount(), 37);
    std::mt19937 rng(11);
    for (int i = 0; i < 3000; ++i) {
        const TIERgbTriple c = IntToTriple(rng() & 0xFFFFFF);
        int best = Distance(c, q.Palette()[0]);
        for (const TIERgbTriple& p : q.Palette()) best = std::min(best, Distance(c, p));
        EXPECT_EQ(Distance(c, q.Palette()[std::size_t(q.RGBIndex(c))]), best);
        EXPECT_EQ(q.RGBIndex(c), q.RGBIndex(c)) << "cached answers agree";
    }
}

TEST(Quantizer, LimitsAndEmptyInput) {
    TIEQuantizer none(256);
    none.Build();
    EXPECT_EQ(none.ColorCount(), 0);
    EXPECT_EQ(none.RGBIndex(CreateRGB(1, 2, 3)), 0);
    const auto colours = DistinctColours(600, 5);
    TIEQuantizer big(100000), zero(0);
    big.AddPixels(colours.data(), 600);
    zero.AddPixels(colours.data(), 600);
    EXPECT_EQ(big.Palette().size(), 0u) << "nothing before Build";
    big.Build();
    zero.Build();
    EXPECT_EQ(big.ColorCount(), 256);
    EXPECT_EQ(zero.ColorCount(), 1);
}

// A smooth gradient keeps a high fidelity with 256 entries (a poor split rule or a lost refinement drops it).
TEST(Quantizer, GradientFidelity) {
    TIEBitmap b;
    b.Reallocate(256, 256, ie24Rgb);
    testsupport::RgbImage original{256, 256, {}};
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const TIERgbTriple p = CreateRGB(std::uint8_t(x), std::uint8_t(y), std::uint8_t((x + y) / 2));
            std::memcpy(b.RowPointer(y) + 3 * x, &p, 3);
            original.Pixels.insert(original.Pixels.end(), {p.r, p.g, p.b});
        }
    b.ConvertTo(ie8Palette);
    testsupport::RgbImage mapped{256, 256, {}};
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const TIERgbTriple p = b.PixelAsRgb(x, y);
            mapped.Pixels.insert(mapped.Pixels.end(), {p.r, p.g, p.b});
        }
    EXPECT_GT(testsupport::Psnr(original, mapped), 33.0);
}

// The palette of a photograph is about as good as ImageMagick's undithered 256-colour reduction.
TEST(Quantizer, PhotoQualityMatchesImageMagick) {
    if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    FOLIANTO_REQUIRE_CORPUS();
    const std::string photo = testsupport::CorpusDir() + "/pnm/commons-imaging/oregon_small.ppm";
    testsupport::RgbImage original, reference;
    ASSERT_TRUE(testsupport::DecodeWithImageMagick(photo, original));
    testsupport::TempDir tmp;
    const std::string out = tmp.File("ref.ppm");
    ASSERT_EQ(testsupport::RunCommand("/usr/bin/convert " + testsupport::ShellQuote(photo) +
                                      " -dither None -colors 256 " + testsupport::ShellQuote("ppm:" + out)),
              0);
    ASSERT_TRUE(testsupport::ReadPnm(out, reference));

    TIEBitmap b;
    b.Reallocate(original.Width, original.Height, ie24Rgb);
    for (int y = 0; y < original.Height; ++y)
        for (int x = 0; x < original.Width; ++x) {
            const std::uint8_t* p = original.At(x, y);
            const TIERgbTriple t = CreateRGB(p[0], p[1], p[2]);
            std::memcpy(b.RowPointer(y) + 3 * x, &t, 3);
        }
    b.ConvertTo(ie8Palette);
    testsupport::RgbImage ours{original.Width, original.Height, {}};
    for (int y = 0; y < original.Height; ++y)
        for (int x = 0; x < original.Width; ++x) {
            const TIERgbTriple p = b.PixelAsRgb(x, y);
            ours.Pixels.insert(ours.Pixels.end(), {p.r, p.g, p.b});
        }
    const double ourPsnr = testsupport::Psnr(original, ours),
                 theirPsnr = testsupport::Psnr(original, reference);
    EXPECT_GT(ourPsnr, theirPsnr - 1.5) << "ours " << ourPsnr << " dB, ImageMagick " << theirPsnr << " dB";
}

} // namespace
