#include "imaging/bitmap/AlphaFlatten.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
constexpr TIERgbTriple kWhite{255, 255, 255};

struct BlendCase {
    const char* Name;
    TIERgbTriple Pixel;
    std::uint8_t Alpha;
    TIERgbTriple Paper;
    TIERgbTriple Expected;
};
const BlendCase kBlendCases[] = {
    {"OpaqueKeepsItsValue", {1, 2, 3}, 255, kWhite, {1, 2, 3}},
    {"ClearShowsThePaper", {1, 2, 3}, 0, kWhite, {255, 255, 255}},
    {"HalfBlendsRounded", {0, 100, 255}, 128, kWhite, {127, 177, 255}},
    {"ColouredPaperPerChannel", {0, 0, 0}, 0, {10, 20, 30}, {10, 20, 30}},
};
class AlphaFlattenBlendTest : public testing::TestWithParam<BlendCase> {};
TEST_P(AlphaFlattenBlendTest, ColourPixel) {
    const BlendCase& c = GetParam();
    TIEBitmap b;
    b.Reallocate(2, 1, ie24Rgb);
    for (int x = 0; x < 2; ++x) std::memcpy(b.RowPointer(0) + x * 3, &c.Pixel, 3);
    b.AlphaPlane()->RowPointer(0)[0] = c.Alpha;
    FlattenAlphaOntoPaper(b, c.Paper);
    EXPECT_FALSE(b.HasAlphaPlane());
    EXPECT_EQ(b.PixelAsRgb(0, 0), c.Expected);
    EXPECT_EQ(b.PixelAsRgb(1, 0), c.Pixel); // alpha 255 from the plane's creation
}
INSTANTIATE_TEST_SUITE_P(Pixels, AlphaFlattenBlendTest, testing::ValuesIn(kBlendCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A two-colour image with a two-colour mask: clear pixels become the paper's nearer colour.
TEST(AlphaFlattenTest, BilevelImageWithBilevelPlane) {
    TIEBitmap b;
    b.Reallocate(9, 1, ie1Bit);
    b.RowPointer(0)[0] = 0x00; // all black
    b.RowPointer(0)[1] = 0x00;
    TIEBitmap* plane = b.AlphaPlane();
    plane->Reallocate(9, 1, ie1Bit);
    plane->RowPointer(0)[0] = 0xF0; // first four opaque
    plane->RowPointer(0)[1] = 0x00;
    FlattenAlphaOntoPaper(b, kWhite);
    EXPECT_EQ(b.RowPointer(0)[0], 0x0F);
    EXPECT_EQ(b.RowPointer(0)[1] & 0x80, 0x80);
    EXPECT_FALSE(b.HasAlphaPlane());

    TIEBitmap dark;
    dark.Reallocate(8, 1, ie1Bit);
    dark.RowPointer(0)[0] = 0xFF;
    std::memset(dark.AlphaPlane()->RowPointer(0), 0, 8); // an 8-bit plane, all clear
    FlattenAlphaOntoPaper(dark, TIERgbTriple{0, 0, 0});
    EXPECT_EQ(dark.RowPointer(0)[0], 0x00);
}

TEST(AlphaFlattenTest, OtherTypesAndPlanelessBitmapsAreLeftAlone) {
    TIEBitmap grey;
    grey.Reallocate(1, 1, ie8Gray);
    grey.RowPointer(0)[0] = 7;
    grey.AlphaPlane()->RowPointer(0)[0] = 0;
    FlattenAlphaOntoPaper(grey, kWhite);
    EXPECT_EQ(grey.RowPointer(0)[0], 7);
    EXPECT_TRUE(grey.HasAlphaPlane());

    TIEBitmap plain;
    plain.Reallocate(1, 1, ie24Rgb);
    FlattenAlphaOntoPaper(plain, kWhite);
    EXPECT_EQ(plain.PixelAsRgb(0, 0), (TIERgbTriple{0, 0, 0}));
}
} // namespace
