#include "platform/ByteOrder.h"

#include <gtest/gtest.h>

#include <array>

namespace {
// Bytes with the high bit set in every position catch a shift done in int that sign-extends or a
// missing cast that drops the top byte.
constexpr std::array<std::uint8_t, 4> kBytes{0x81, 0xC2, 0x03, 0xF4};

struct OrderCase {
    const char* Name;
    std::int64_t (*Read)(const std::uint8_t*);
    std::int64_t Expected;
};
const OrderCase kOrderCases[] = {
    {"Le16", [](const std::uint8_t* p) -> std::int64_t { return ReadLe16(p); }, 0xC281},
    {"Be16", [](const std::uint8_t* p) -> std::int64_t { return ReadBe16(p); }, 0x81C2},
    {"Le32", [](const std::uint8_t* p) -> std::int64_t { return ReadLe32(p); }, 0xF403C281},
    {"Be32", [](const std::uint8_t* p) -> std::int64_t { return ReadBe32(p); }, 0x81C203F4},
    {"Chosen16Big", [](const std::uint8_t* p) -> std::int64_t { return Read16(p, true); }, 0x81C2},
    {"Chosen16Little", [](const std::uint8_t* p) -> std::int64_t { return Read16(p, false); }, 0xC281},
    {"Chosen32Big", [](const std::uint8_t* p) -> std::int64_t { return Read32(p, true); }, 0x81C203F4},
    {"Chosen32Little", [](const std::uint8_t* p) -> std::int64_t { return Read32(p, false); }, 0xF403C281},
    {"LeInt16", [](const std::uint8_t* p) -> std::int64_t { return ReadLeInt16(p); }, -15743},
    {"LeInt32", [](const std::uint8_t* p) -> std::int64_t { return ReadLeInt32(p); }, -201080191},
};
class ByteOrderTest : public testing::TestWithParam<OrderCase> {};
} // namespace

TEST_P(ByteOrderTest, ReadsTheBytesInTheirOrder) {
    EXPECT_EQ(GetParam().Read(kBytes.data()), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(Reads, ByteOrderTest, testing::ValuesIn(kOrderCases),
                         [](const testing::TestParamInfo<OrderCase>& info) { return info.param.Name; });
