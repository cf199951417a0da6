#include "pdf/PdfTextString.h"

#include <gtest/gtest.h>

#include <string>

namespace {
struct TextCase {
    const char* Name;
    std::string Utf8;
    std::string Expected;
};
const TextCase kTextCases[] = {
    {"AsciiUnchanged", "Scan (2) \\ \t\n", "Scan (2) \\ \t\n"},
    {"LatinOneIsOneByte", "Caf\xC3\xA9 \xC2\xA0\xC3\xBF", "Caf\xE9 \xA0\xFF"},
    {"C1RangeNeedsUnicode", "\xC2\x80", std::string("\xFE\xFF\x00\x80", 4)},
    {"GreekIsUtf16", "\xCE\xA9x", std::string("\xFE\xFF\x03\xA9\x00x", 6)},
    {"EuroSignIsUtf16", "\xE2\x82\xAC", std::string("\xFE\xFF\x20\xAC", 4)},
    {"AstralPlaneIsSurrogatePair", "\xF0\x9F\x99\x82", std::string("\xFE\xFF\xD8\x3D\xDE\x42", 6)},
    {"MixedTextAllUtf16", "\xC3\xA9\xCE\xA9", std::string("\xFE\xFF\x00\xE9\x03\xA9", 6)},
    {"StrayByteIsLatinOne", "\xE9t\xE9", "\xE9t\xE9"},
    {"TruncatedSequenceIsLatinOne", "a\xE2\x82", std::string("\xFE\xFF\x00\x61\x00\xE2\x00\x82", 8)},
    {"OverlongIsNotACharacter", "\xC0\xAF", "\xC0\xAF"},
    {"EncodedSurrogateIsNotACharacter", "\xED\xA0\x80\xCE\xA9",
     std::string("\xFE\xFF\x00\xED\x00\xA0\x00\x80\x03\xA9", 10)},
    {"BeyondUnicodeIsNotACharacter", "\xF4\x90\x80\x80",
     std::string("\xFE\xFF\x00\xF4\x00\x90\x00\x80\x00\x80", 10)},
    {"Empty", "", ""},
};
class PdfTextStringTest : public testing::TestWithParam<TextCase> {};
TEST_P(PdfTextStringTest, Bytes) {
    EXPECT_EQ(PdfTextStringBytes(GetParam().Utf8), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(Texts, PdfTextStringTest, testing::ValuesIn(kTextCases),
                         [](const auto& info) { return std::string(info.param.Name); });
} // namespace
