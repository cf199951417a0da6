#include "app/window/ListMoves.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Entries are letters: "abcde" is a list of five; the result is the new order and the new selection.
std::string Apply(const std::string& list, const TRowMove& move) {
    std::string out;
    for (int old : move.Order) out += list.at(old);
    return out;
}

struct GapCase {
    const char* Name;
    std::vector<int> Selected;
    int Gap;
    const char* Order;
    std::vector<int> SelectedAfter;
};
const GapCase kGapCases[] = {
    {"DownOntoALaterGap", {0}, 3, "bcade", {2}},
    {"UpToTheTop", {3}, 0, "dabce", {0}},
    {"ToTheEnd", {1}, 5, "acdeb", {4}},
    {"OntoItsOwnGaps", {2}, 2, "abcde", {2}},
    {"OntoTheGapAfterItself", {2}, 3, "abcde", {2}},
    {"ScatteredEntriesCloseUpInOrder", {4, 0, 2}, 2, "baced", {1, 2, 3}},
    {"BlockIntoItsMiddle", {1, 2, 3}, 2, "abcde", {1, 2, 3}},
    {"NoGapMovesNothing", {1}, NoGap, "abcde", {1}},
    {"GapPastTheEndMovesNothing", {1}, 6, "abcde", {1}},
    {"OutOfRangeAndRepeatedRowsAreIgnored", {-1, 3, 3, 9}, 0, "dabce", {0}},
    {"NothingSelected", {}, 2, "abcde", {}},
};

void PrintTo(const GapCase& c, std::ostream* os) {
    *os << c.Name;
}

class MoveToGapTest : public ::testing::TestWithParam<GapCase> {};

TEST_P(MoveToGapTest, KeepsTheMovedEntriesInOrder) {
    const GapCase& c = GetParam();
    const TRowMove move = MoveRowsToGap(5, c.Selected, c.Gap);
    EXPECT_EQ(Apply("abcde", move), c.Order);
    EXPECT_EQ(move.Selected, c.SelectedAfter);
}
INSTANTIATE_TEST_SUITE_P(Gaps, MoveToGapTest, ::testing::ValuesIn(kGapCases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct StepCase {
    const char* Name;
    std::vector<int> Selected;
    int Step;
    const char* Order;
    std::vector<int> SelectedAfter;
};
const StepCase kStepCases[] = {
    {"OneUp", {2}, -1, "acbde", {1}},
    {"OneDown", {2}, 1, "abdce", {3}},
    {"TopStays", {0}, -1, "abcde", {0}},
    {"BottomStays", {4}, 1, "abcde", {4}},
    {"BlockMovesTogether", {1, 2}, -1, "bcade", {0, 1}},
    {"HeldBackAtTheTopTheOtherCatchesUp", {0, 2}, -1, "acbde", {0, 1}},
    {"HeldBackAtTheBottomTheOtherCatchesUp", {2, 4}, 1, "abdce", {3, 4}},
    {"WholeListStays", {0, 1, 2, 3, 4}, 1, "abcde", {0, 1, 2, 3, 4}},
};

void PrintTo(const StepCase& c, std::ostream* os) {
    *os << c.Name;
}

class MoveByStepTest : public ::testing::TestWithParam<StepCase> {};

TEST_P(MoveByStepTest, MovesEachSelectedEntryOnePlace) {
    const StepCase& c = GetParam();
    const TRowMove move = MoveRowsByStep(5, c.Selected, c.Step);
    EXPECT_EQ(Apply("abcde", move), c.Order);
    EXPECT_EQ(move.Selected, c.SelectedAfter);
}
INSTANTIATE_TEST_SUITE_P(Steps, MoveByStepTest, ::testing::ValuesIn(kStepCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ListMovesTest, AnEmptyListStaysEmpty) {
    EXPECT_EQ(MoveRowsToGap(0, {0}, 0), TRowMove{});
    EXPECT_EQ(MoveRowsByStep(0, {0}, -1), TRowMove{});
}

} // namespace
