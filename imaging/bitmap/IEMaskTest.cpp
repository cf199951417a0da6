#include "imaging/bitmap/IEMask.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int32_t kEmpty = std::numeric_limits<std::int32_t>::max();

TEST(IEMask, AllocateSizesAndZeroes) {
    TIEMask m;
    m.Allocate(10, 3, 1);
    EXPECT_EQ(m.RowStride, 4);
    EXPECT_EQ(m.Bits.size(), 12u);
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_FALSE(m.FullyOpaque);
    for (std::uint8_t b : m.Bits) EXPECT_EQ(b, 0);
    m.Allocate(5, 2, 8);
    EXPECT_EQ(m.RowStride, 8);
    m.FreeData();
    EXPECT_EQ(m.Width, 0);
    EXPECT_EQ(m.RowStride, 0);
    EXPECT_TRUE(m.Bits.empty());
}

TEST(IEMask, RowsAreBottomUp) {
    TIEMask m;
    m.Allocate(3, 2, 8);
    EXPECT_EQ(m.RowPointer(0), m.Bits.data() + m.RowStride);
    EXPECT_EQ(m.RowPointer(1), m.Bits.data());
    m.SetPixel(2, 0, 77);
    EXPECT_EQ(m.Bits[std::size_t(m.RowStride) + 2], 77);
}

struct SetPixelCase {
    const char* Name;
    int Bits, X, Y, Value;
    bool ChangesBox;
    int Read; // GetPixel afterwards
};
const SetPixelCase kSetPixel[] = {
    {"LeftOfMask", 8, -1, 0, 200, false, 0}, {"RightOfMask", 8, 6, 0, 200, false, 0},
    {"BelowMask", 8, 0, 4, 200, false, 0},   {"ZeroKeepsBoxEmpty", 8, 3, 2, 0, false, 0},
    {"ByteStored", 8, 3, 2, 200, true, 200}, {"OneBitSetsBit", 1, 5, 3, 9, true, 1},
};
class IEMaskSetPixel : public ::testing::TestWithParam<SetPixelCase> {};
TEST_P(IEMaskSetPixel, BoxAndValue) {
    const auto& c = GetParam();
    TIEMask m;
    m.Allocate(6, 4, c.Bits);
    m.SetPixel(c.X, c.Y, c.Value);
    if (c.ChangesBox) {
        EXPECT_EQ(m.X1, c.X);
        EXPECT_EQ(m.Y1, c.Y);
        EXPECT_EQ(m.X2, c.X);
        EXPECT_EQ(m.Y2, c.Y);
    } else {
        EXPECT_EQ(m.X1, kEmpty);
        EXPECT_EQ(m.Y1, kEmpty);
        EXPECT_EQ(m.X2, 0);
    }
    EXPECT_EQ(m.GetPixel(c.X, c.Y), c.Read);
    for (std::uint8_t b : m.Bits) // nothing outside the pixel was touched
        if (!c.ChangesBox) {
            EXPECT_EQ(b, 0);
        }
}
INSTANTIATE_TEST_SUITE_P(Cases, IEMaskSetPixel, ::testing::ValuesIn(kSetPixel),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(IEMask, BoundingBoxGrowsAndClearEmptiesIt) {
    TIEMask m;
    m.Allocate(10, 10, 8);
    m.SetPixel(3, 4, 200);
    m.SetPixel(7, 1, 1);
    EXPECT_EQ(m.X1, 3);
    EXPECT_EQ(m.Y1, 1);
    EXPECT_EQ(m.X2, 7);
    EXPECT_EQ(m.Y2, 4);
    m.Clear();
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_EQ(m.GetPixel(3, 4), 0);
}

TEST(IEMask, SetPixelClearsFullyOpaqueOnlyForNon255) {
    TIEMask m;
    m.Allocate(4, 4, 8);
    EXPECT_TRUE(m.Fill(255));
    m.SetPixel(1, 1, 255);
    EXPECT_TRUE(m.FullyOpaque);
    m.SetPixel(1, 1, 200);
    EXPECT_FALSE(m.FullyOpaque);
    TIEMask one;
    one.Allocate(4, 4, 1);
    EXPECT_TRUE(one.Fill(0)); // a 1-bit mask reports opaque whatever the value
    one.SetPixel(0, 0, 0);
    EXPECT_TRUE(one.FullyOpaque);
}

struct FillCase {
    const char* Name;
    int Bits, Value;
    bool Opaque;
    std::uint8_t Byte;
};
const FillCase kFill[] = {
    {"Eight255", 8, 255, true, 255},
    {"Eight128", 8, 128, false, 128},
    {"OneBitZero", 1, 0, true, 0},
    {"OneBitPattern", 1, 0xA5, true, 0xA5},
};
class IEMaskFill : public ::testing::TestWithParam<FillCase> {};
TEST_P(IEMaskFill, ResultAndBytes) {
    const auto& c = GetParam();
    TIEMask m;
    m.Allocate(9, 3, c.Bits);
    EXPECT_EQ(m.Fill(c.Value), c.Opaque);
    EXPECT_EQ(m.FullyOpaque, c.Opaque);
    for (std::uint8_t b : m.Bits) EXPECT_EQ(b, c.Byte);
}
INSTANTIATE_TEST_SUITE_P(Cases, IEMaskFill, ::testing::ValuesIn(kFill),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(IEMask, SetRowRangeClampsAndIgnoresReversedRuns) {
    TIEMask m;
    m.Allocate(12, 2, 1);
    m.SetRowRange(0, 5, 2, 0);
    for (std::uint8_t b : m.Bits) EXPECT_EQ(b, 0);
    m.SetRowRange(7, -3, 2, 0);
    EXPECT_EQ(m.RowPointer(0)[0], 0xE0); // bits 0 to 2 of the top row
    EXPECT_EQ(m.RowPointer(1)[0], 0);
    EXPECT_TRUE(m.IsEmpty());     // runs do not touch the bounding box
    m.SetRowRange(0, 10, 40, 99); // 1-bit masks set the run whatever the value; y clamps to the last row
    EXPECT_EQ(m.RowPointer(1)[1], 0x30);

    TIEMask g;
    g.Allocate(5, 1, 8);
    g.SetRowRange(9, 1, 3, -5);
    EXPECT_EQ(g.GetPixel(0, 0), 0);
    EXPECT_EQ(g.GetPixel(1, 0), 9);
    EXPECT_EQ(g.GetPixel(3, 0), 9);
    EXPECT_EQ(g.GetPixel(4, 0), 0);
}

TEST(IEMask, UnallocatedAndOddDepthsAreInert) {
    TIEMask m;
    m.SetPixel(0, 0, 1);
    m.SetRowRange(1, 0, 5, 0);
    EXPECT_EQ(m.GetPixel(0, 0), 0);
    m.Allocate(4, 4, 4);
    m.SetPixel(1, 1, 255);
    EXPECT_EQ(m.GetPixel(1, 1), 0);
}

TEST(IEMask, OverflowingSizeIsRefused) {
    TIEMask m;
    EXPECT_THROW(m.Allocate(std::numeric_limits<int>::max(), 2, 8), EOutOfMemory);
    EXPECT_THROW(m.Allocate(2000000000, 2000000000, 8), EOutOfMemory);
    EXPECT_EQ(m.Width, 0);
}

} // namespace
