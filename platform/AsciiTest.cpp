#include "platform/Ascii.h"

#include <gtest/gtest.h>

TEST(Ascii, CaseChangesOnlyAsciiLetters) {
    struct Case {
        std::string_view In, Lower, Upper;
    };
    const Case cases[] = {
        {"Tiff.JPG", "tiff.jpg", "TIFF.JPG"},
        {"@[`{", "@[`{", "@[`{"},                            // the neighbours of A-Z and a-z stay
        {"\xC3\x89t\xE9", "\xC3\x89t\xE9", "\xC3\x89T\xE9"}, // bytes above 127 stay in any locale
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AsciiLower(c.In), c.Lower) << c.In;
        EXPECT_EQ(AsciiUpper(c.In), c.Upper) << c.In;
    }
}

TEST(Ascii, EqualsIgnoringAsciiCase) {
    struct Case {
        std::string_view A, B;
        bool Equal;
    };
    const Case cases[] = {
        {"jpeg", "JPEG", true}, {"Jpeg", "jPEg", true},  {"", "", true}, {"jpg", "jpeg", false},
        {"tif", "tif ", false}, {"@", "`", false},       // 0x40 and 0x60 differ by the case bit
        {"[", "{", false},      {"\xC9", "\xE9", false}, // Latin-1 letters are not ASCII
    };
    for (const Case& c : cases) EXPECT_EQ(EqualsIgnoringAsciiCase(c.A, c.B), c.Equal) << c.A << " " << c.B;
}
