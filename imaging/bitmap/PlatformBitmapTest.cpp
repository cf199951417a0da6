// The platform bitmap behind ieTBitmap storage.
#include "platform/PlatformBitmap.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct FormatCase {
    const char* Name;
    TPixelFormat Format;
    int Width, Stride, PaletteSize;
    TColor Colour; // survives SetPixel / Pixel exactly
};
const FormatCase kFormats[] = {
    {"OneBit", pf1bit, 33, 8, 2, clWhite},
    {"FourBit", pf4bit, 9, 8, 16, RGBColor(0x88, 0x88, 0x88)},
    {"EightBit", pf8bit, 5, 8, 256, RGBColor(7, 7, 7)},
    {"Fifteen", pf15bit, 3, 8, 0, RGBColor(248, 8, 128)},
    {"Sixteen", pf16bit, 3, 8, 0, RGBColor(248, 4, 128)},
    {"TwentyFour", pf24bit, 3, 12, 0, RGBColor(1, 2, 3)},
    {"ThirtyTwo", pf32bit, 3, 12, 0, RGBColor(1, 2, 3)},
};
class PlatformBitmapFormat : public ::testing::TestWithParam<FormatCase> {};
TEST_P(PlatformBitmapFormat, StridePaletteAndPixels) {
    const auto& c = GetParam();
    TBitmap b;
    b.SetPixelFormat(c.Format);
    b.SetSize(c.Width, 4);
    EXPECT_EQ(b.BytesPerScanLine(), c.Stride);
    EXPECT_EQ(b.PaletteSize(), c.PaletteSize);
    EXPECT_EQ(b.PixelBlockSize(), 4 * c.Stride);
    EXPECT_EQ(b.ScanLine(3) - b.ScanLine(0), 3 * c.Stride) << "rows are top-down";
    EXPECT_EQ(b.Monochrome(), c.Format == pf1bit);
    b.SetPixel(c.Width - 1, 3, c.Colour);
    EXPECT_EQ(b.Pixel(c.Width - 1, 3), c.Colour);
    EXPECT_EQ(b.Pixel(c.Width - 2, 3), clBlack);
    EXPECT_EQ(b.Pixel(c.Width, 3), clBlack) << "outside reads black";
    b.SetPixel(-1, 0, clWhite); // ignored
}
INSTANTIATE_TEST_SUITE_P(Cases, PlatformBitmapFormat, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PlatformBitmap, ResizeKeepsTopLeftAndClearsWhatIsNew) {
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetSize(5, 2);
    for (int x = 0; x < 5; ++x) b.SetPixel(x, 1, clWhite);
    b.ScanLine(1)[0] |= 0x07; // padding bits beyond the width
    b.SetSize(12, 3);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(b.Pixel(x, 1), clWhite);
    for (int x = 5; x < 12; ++x) EXPECT_EQ(b.Pixel(x, 1), clBlack) << "old padding must not reappear";
    for (int x = 0; x < 12; ++x) EXPECT_EQ(b.Pixel(x, 2), clBlack);
    b.SetHeight(1);
    b.SetHeight(2);
    EXPECT_EQ(b.Pixel(0, 1), clBlack);
}

TEST(PlatformBitmap, RefusesSizesItCannotHold) {
    TBitmap b;
    b.SetPixelFormat(pf32bit);
    EXPECT_THROW(b.SetSize(std::numeric_limits<int>::max(), 1), EOutOfMemory);
    EXPECT_THROW(b.SetSize(1 << 30, 1 << 30), EOutOfMemory);
    EXPECT_EQ(b.Width(), 0);
    b.SetSize(-5, 3);
    EXPECT_EQ(b.Width(), 0);
}

TEST(PlatformBitmap, DrawCopiesAndConverts) {
    TBitmap mono;
    mono.SetPixelFormat(pf1bit);
    mono.SetSize(10, 2);
    mono.SetPixel(0, 0, clWhite);
    mono.SetPixel(9, 1, clWhite);
    TBitmap same;
    same.SetPixelFormat(pf1bit);
    same.SetSize(20, 3);
    same.Canvas().Draw(3, 1, mono); // not on a byte boundary
    EXPECT_EQ(same.Pixel(3, 1), clWhite);
    EXPECT_EQ(same.Pixel(12, 2), clWhite);
    EXPECT_EQ(same.Pixel(4, 1), clBlack);
    same.SetPixel(11, 1, clWhite);
    same.Canvas().Draw(0, 0, mono); // byte-aligned, ragged end
    EXPECT_EQ(same.Pixel(0, 0), clWhite);
    EXPECT_EQ(same.Pixel(3, 1), clBlack);
    EXPECT_EQ(same.Pixel(9, 1), clWhite);
    EXPECT_EQ(same.Pixel(11, 1), clWhite) << "bits past the drawn width stay";
    TBitmap colour;
    colour.SetSize(4, 4);
    colour.Canvas().Draw(-8, -1, mono); // clipped on the left and top
    EXPECT_EQ(colour.Pixel(1, 0), clWhite);
    EXPECT_EQ(colour.Pixel(0, 0), clBlack);
}

TEST(PlatformBitmap, FillRectClipsAndPicksThePaletteEntry) {
    TBitmap b;
    b.SetPixelFormat(pf8bit);
    b.SetSize(4, 4);
    b.SetPaletteEntry(9, RGBColor(200, 0, 0));
    b.Canvas().BrushColor = RGBColor(190, 10, 0);
    b.Canvas().FillRect({2, -3, 10, 2});
    EXPECT_EQ(b.ScanLine(1)[3], 9);
    EXPECT_EQ(b.ScanLine(2)[3], 0);
    EXPECT_EQ(b.ScanLine(0)[1], 0);
    b.Canvas().BrushColor = clWindow; // system colours resolve
    b.Canvas().FillRect({0, 3, 1, 4});
    EXPECT_EQ(b.ScanLine(3)[0], 255);
}

TEST(PlatformBitmap, AssignCopiesEverything) {
    TBitmap a;
    a.SetPixelFormat(pf4bit);
    a.SetSize(3, 2);
    a.SetPaletteEntry(2, RGBColor(1, 2, 3));
    a.SetPixel(1, 1, RGBColor(1, 2, 3));
    TBitmap b;
    b.Assign(a);
    EXPECT_EQ(b.PixelFormat(), pf4bit);
    EXPECT_EQ(b.Pixel(1, 1), RGBColor(1, 2, 3));
    EXPECT_NE(b.PixelBlock(), a.PixelBlock());
    a.SetMonochrome(true);
    EXPECT_EQ(a.PixelFormat(), pf1bit);
    EXPECT_EQ(a.PaletteEntry(1), clWhite);
}

} // namespace
