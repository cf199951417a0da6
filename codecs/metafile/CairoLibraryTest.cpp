#include "codecs/metafile/CairoLibrary.h"

#include <gtest/gtest.h>

namespace {
struct TLoadCase {
    const char* Cairo;
    const char* Fontconfig;
    const char* Reason; // empty: loads
};

// A library that is missing, or is not the one asked for, gives a reason the user can act on.
TEST(CairoLibrary, LoadsTheSystemsLibrariesOrSaysWhyNot) {
    const TLoadCase cases[] = {
        {kCairoFileName, kFontconfigFileName, ""},
        {"libfolianto-no-such-cairo.so.9", kFontconfigFileName,
         "cannot draw metafiles: libfolianto-no-such-cairo.so.9 is not installed ("},
        {kCairoFileName, "libfolianto-no-such-fontconfig.so.1",
         "cannot draw metafiles: libfolianto-no-such-fontconfig.so.1 is not installed ("},
        // fontconfig in cairo's place lacks cairo's functions.
        {kFontconfigFileName, kFontconfigFileName,
         "cannot draw metafiles: the libfontconfig.so.1 installed has no cairo_"},
    };
    for (const TLoadCase& c : cases) {
        SCOPED_TRACE(c.Cairo + std::string(" ") + c.Fontconfig);
        TCairoLibrary library;
        std::string reason;
        const bool loaded = LoadCairoLibrary(c.Cairo, c.Fontconfig, library, reason);
        EXPECT_EQ(loaded, std::string(c.Reason).empty());
        EXPECT_EQ(reason.rfind(c.Reason, 0), 0u) << reason;
        EXPECT_EQ(library.cairo_create != nullptr, loaded);
        EXPECT_EQ(library.FcFontMatch != nullptr, loaded);
    }
    EXPECT_NE(Cairo().cairo_image_surface_create, nullptr);
}
} // namespace
