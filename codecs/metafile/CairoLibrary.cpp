#include "codecs/metafile/CairoLibrary.h"

#include "platform/Ascii.h"
#include "platform/Exceptions.h"
#include "platform/SharedLibrary.h"

namespace {
constexpr std::size_t kDetailLength = 160;

// Opens fileName, or says why not.
void* OpenLibrary(const char* fileName, std::string& reason) {
    std::string detail;
    void* handle = OpenSharedLibrary(fileName, detail);
    if (!handle)
        reason = "cannot draw metafiles: " + PrintableText(fileName, kDetailLength) + " is not installed" +
                 (detail.empty() ? "" : " (" + detail + ")");
    return handle;
}
} // namespace

bool LoadCairoLibrary(const char* cairoFile, const char* fontconfigFile, TCairoLibrary& library,
                      std::string& reason) {
    void* cairo = OpenLibrary(cairoFile, reason);
    if (!cairo) return false;
    void* fontconfig = OpenLibrary(fontconfigFile, reason);
    if (!fontconfig) return false;
    library = {};
    const char* missing = nullptr;
    const char* missingFrom = nullptr;
#define FOLIANTO_RESOLVE(name, handle, file)                                                                 \
    if (!ResolveSharedSymbol(handle, #name, library.name) && !missing) {                                     \
        missing = #name;                                                                                     \
        missingFrom = file;                                                                                  \
    }
#define FOLIANTO_RESOLVE_CAIRO(name) FOLIANTO_RESOLVE(name, cairo, cairoFile)
#define FOLIANTO_RESOLVE_FONTCONFIG(name) FOLIANTO_RESOLVE(name, fontconfig, fontconfigFile)
    FOLIANTO_CAIRO_FUNCTIONS(FOLIANTO_RESOLVE_CAIRO)
    FOLIANTO_FONTCONFIG_FUNCTIONS(FOLIANTO_RESOLVE_FONTCONFIG)
#undef FOLIANTO_RESOLVE_FONTCONFIG
#undef FOLIANTO_RESOLVE_CAIRO
#undef FOLIANTO_RESOLVE
    if (missing) {
        // Too old a library, or a different one under that name.
        reason = "cannot draw metafiles: the " + PrintableText(missingFrom, kDetailLength) +
                 " installed has no " + missing;
        library = {};
        return false;
    }
    return true;
}

const TCairoLibrary& Cairo() {
    struct TLoaded {
        TCairoLibrary Library;
        bool Ok = false;
        std::string Reason;
    };
    // A function-local static: the first caller loads, any others wait for it.
    static const TLoaded loaded = [] {
        TLoaded l;
        l.Ok = LoadCairoLibrary(kCairoFileName, kFontconfigFileName, l.Library, l.Reason);
        return l;
    }();
    if (!loaded.Ok) throw EPlatformException(loaded.Reason);
    return loaded.Library;
}
