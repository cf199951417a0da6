#include "pdf/PdfPlacement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {
using O = TImageOrientation;
using TPoint = std::pair<std::int64_t, std::int64_t>;

// Where the cm matrix sends a corner (u, v) of the image's unit square.
TPoint Map(const std::array<std::int64_t, 6>& m, int u, int v) {
    return {m[0] * u + m[2] * v + m[4], m[1] * u + m[3] * v + m[5]};
}

// The box of the tests: 30 x 20 points with its lower-left corner at (5, 7).
constexpr int kW = 30, kH = 20, kLeft = 5, kBottom = 7;
constexpr TPoint kTopLeft{kLeft, kBottom + kH}, kTopRight{kLeft + kW, kBottom + kH};
constexpr TPoint kBottomLeft{kLeft, kBottom}, kBottomRight{kLeft + kW, kBottom};

// Where the stored image's first row begins and ends in the upright picture, as the Orientation
// tag's own names say (first row / first column): TopLeft, TopRight, ... LeftBottom.
struct TCase {
    const char* Name;
    O Orientation;
    TPoint FirstRowStart; // stored pixel (0, 0)
    TPoint FirstRowEnd;   // stored pixel (width - 1, 0)
};

const TCase kCases[] = {
    {"TopLeft", O::TopLeft, kTopLeft, kTopRight},
    {"TopRight", O::TopRight, kTopRight, kTopLeft},
    {"BottomRight", O::BottomRight, kBottomRight, kBottomLeft},
    {"BottomLeft", O::BottomLeft, kBottomLeft, kBottomRight},
    {"LeftTop", O::LeftTop, kTopLeft, kBottomLeft},
    {"RightTop", O::RightTop, kTopRight, kBottomRight},
    {"RightBottom", O::RightBottom, kBottomRight, kTopRight},
    {"LeftBottom", O::LeftBottom, kBottomLeft, kTopLeft},
};

class Placement : public ::testing::TestWithParam<TCase> {};

TEST_P(Placement, PutsTheFirstStoredRowWhereTheTagSays) {
    const TCase& c = GetParam();
    const auto m = PlacementMatrix(c.Orientation, kW, kH, kLeft, kBottom);
    // The image's top edge (v = 1) is its first stored row.
    EXPECT_EQ(Map(m, 0, 1), c.FirstRowStart);
    EXPECT_EQ(Map(m, 1, 1), c.FirstRowEnd);
}

TEST_P(Placement, FillsExactlyTheBox) {
    const auto m = PlacementMatrix(GetParam().Orientation, kW, kH, kLeft, kBottom);
    std::vector<TPoint> corners = {Map(m, 0, 0), Map(m, 1, 0), Map(m, 0, 1), Map(m, 1, 1)};
    std::vector<TPoint> box = {kTopLeft, kTopRight, kBottomLeft, kBottomRight};
    std::sort(corners.begin(), corners.end());
    std::sort(box.begin(), box.end());
    EXPECT_EQ(corners, box);
}

INSTANTIATE_TEST_SUITE_P(Orientations, Placement, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PlacementText, AsStoredIsThePlainScaling) {
    // The bytes every page without an orientation has always had.
    EXPECT_EQ(PlacementText(PlacementMatrix(O::TopLeft, 594, 297, 0, 545)), "594 0 0 297 0 545");
    EXPECT_EQ(PlacementText(PlacementMatrix(O::RightTop, 297, 594, 0, 248)), "0 -594 297 0 0 842");
}

TEST(PlacementText, LargeBoxesDoNotOverflow) {
    const int big = 2147483647;
    EXPECT_EQ(PlacementText(PlacementMatrix(O::BottomRight, big, big, 0, big)),
              "-2147483647 0 0 -2147483647 2147483647 4294967294");
}
} // namespace
