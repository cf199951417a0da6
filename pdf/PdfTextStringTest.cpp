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
    {"LatinOneIsOneByte", "Caf\xC3\xA9 \xC2\xA9\xC3\xBF", "Caf\xE9 \xA9\xFF"},
    {"NoBreakSpaceIsUtf16",
     "a\xC2\xA0"
     "b",
     std::string("\xFE\xFF\x00\x61\x00\xA0\x00\x62", 8)},
    {"SoftHyphenIsUtf16",
     "a\xC2\xAD"
     "b",
     std::string("\xFE\xFF\x00\x61\x00\xAD\x00\x62", 8)},
    {"StrayNoBreakSpaceByteIsUtf16", "\xA0", std::string("\xFE\xFF\x00\xA0", 4)},
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
void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.Name;
}
class PdfTextStringTest : public testing::TestWithParam<TextCase> {};
TEST_P(PdfTextStringTest, Bytes) {
    EXPECT_EQ(PdfTextStringBytes(GetParam().Utf8), GetParam().Expected);
}
INSTANTIATE_TEST_SUITE_P(Texts, PdfTextStringTest, testing::ValuesIn(kTextCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Every code point below U+0100, range by range through the PDFDocEncoding table: one byte only where
// that byte means the same character in PDFDocEncoding as in Latin-1.
struct RangeCase {
    const char* Name;
    char32_t First, Last;
    bool OneByte;
};
const RangeCase kRangeCases[] = {
    {"ControlsBeforeTab", 0x01, 0x08, false},
    {"TabAndLineFeed", 0x09, 0x0A, true},
    {"VerticalTabAndFormFeed", 0x0B, 0x0C, false},
    {"CarriageReturn", 0x0D, 0x0D, true},
    {"ControlsBeforeTheAccents", 0x0E, 0x17, false},
    {"AccentsInPdfDocEncoding", 0x18, 0x1F, false},
    {"PrintableAscii", 0x20, 0x7E, true},
    {"Delete", 0x7F, 0x7F, false},
    {"SignsInPdfDocEncoding", 0x80, 0x9F, false},
    {"NoBreakSpaceIsTheEuroSign", 0xA0, 0xA0, false},
    {"LatinOneUpToNotSign", 0xA1, 0xAC, true},
    {"SoftHyphenIsUndefined", 0xAD, 0xAD, false},
    {"LatinOneFromRegisteredSign", 0xAE, 0xFF, true},
};
void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << c.Name;
}
class PdfTextStringRangeTest : public testing::TestWithParam<RangeCase> {};
TEST_P(PdfTextStringRangeTest, EveryCharacter) {
    for (char32_t cp = GetParam().First; cp <= GetParam().Last; ++cp) {
        std::string utf8 = "x";
        if (cp < 0x80) {
            utf8 += char(cp);
        } else {
            utf8 += char(0xC0 | (cp >> 6));
            utf8 += char(0x80 | (cp & 0x3F));
        }
        const std::string expected = GetParam().OneByte ? std::string{'x', char(cp)}
                                                        : std::string{'\xFE', '\xFF', 0, 'x', 0, char(cp)};
        EXPECT_EQ(PdfTextStringBytes(utf8), expected) << "U+" << std::hex << unsigned(cp);
    }
}
INSTANTIATE_TEST_SUITE_P(Latin1, PdfTextStringRangeTest, testing::ValuesIn(kRangeCases),
                         [](const auto& info) { return std::string(info.param.Name); });
} // namespace
