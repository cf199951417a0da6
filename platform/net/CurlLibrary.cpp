#include "platform/net/CurlLibrary.h"
#include "platform/SharedLibrary.h"
#include "platform/net/HttpTexts.h"

#include <dlfcn.h>

#include <type_traits>

namespace {
constexpr std::size_t kDetailLength = 160;
} // namespace

// The field and the name it is looked up by are written once, and must have the same type.
#define FOLIANTO_RESOLVE_CURL(field, symbol)                                                                 \
    static_assert(std::is_same_v<decltype(TCurlLibrary::field), decltype(&symbol)>);                         \
    if (!ResolveSharedSymbol(handle, #symbol, library.field)) missing = #symbol

bool LoadCurlLibrary(const char* fileName, TCurlLibrary& library, std::string& reason) {
    const std::string shown = PrintableText(fileName, kDetailLength);
    std::string detail;
    void* handle = OpenSharedLibrary(fileName, detail);
    if (!handle) {
        reason = "cannot download: libcurl (" + shown + ") is not installed" +
                 (detail.empty() ? "" : " (" + detail + ")");
        return false;
    }
    library = {};
    const char* missing = nullptr;
    FOLIANTO_RESOLVE_CURL(GlobalInit, curl_global_init);
    FOLIANTO_RESOLVE_CURL(EasyInit, curl_easy_init);
    FOLIANTO_RESOLVE_CURL(EasySetopt, curl_easy_setopt);
    FOLIANTO_RESOLVE_CURL(EasyGetinfo, curl_easy_getinfo);
    FOLIANTO_RESOLVE_CURL(EasyStrerror, curl_easy_strerror);
    FOLIANTO_RESOLVE_CURL(EasyCleanup, curl_easy_cleanup);
    FOLIANTO_RESOLVE_CURL(MultiInit, curl_multi_init);
    FOLIANTO_RESOLVE_CURL(MultiAddHandle, curl_multi_add_handle);
    FOLIANTO_RESOLVE_CURL(MultiRemoveHandle, curl_multi_remove_handle);
    FOLIANTO_RESOLVE_CURL(MultiPerform, curl_multi_perform);
    FOLIANTO_RESOLVE_CURL(MultiPoll, curl_multi_poll);
    FOLIANTO_RESOLVE_CURL(MultiInfoRead, curl_multi_info_read);
    FOLIANTO_RESOLVE_CURL(MultiStrerror, curl_multi_strerror);
    FOLIANTO_RESOLVE_CURL(MultiCleanup, curl_multi_cleanup);
    FOLIANTO_RESOLVE_CURL(SlistAppend, curl_slist_append);
    FOLIANTO_RESOLVE_CURL(SlistFreeAll, curl_slist_free_all);
    if (missing) {
        // Too old a libcurl, or a different library under that name.
        reason = "cannot download: the libcurl installed (" + shown + ") has no " + missing;
        library = {};
        dlclose(handle);
        return false;
    }
    return true;
}

#undef FOLIANTO_RESOLVE_CURL

const TCurlLibrary* CurlLibrary(std::string& reason) {
    struct TLoaded {
        TCurlLibrary Library;
        bool Ok = false;
        std::string Reason;
    };
    // A function-local static: the first caller loads, any others wait for it.
    static const TLoaded loaded = [] {
        TLoaded l;
        l.Ok = LoadCurlLibrary(kCurlFileName, l.Library, l.Reason);
        if (l.Ok) {
            const CURLcode code = l.Library.GlobalInit(CURL_GLOBAL_DEFAULT);
            if (code != CURLE_OK) {
                l.Ok = false;
                l.Reason = "cannot download: libcurl could not be set up (" +
                           PrintableText(l.Library.EasyStrerror(code), kDetailLength) + ")";
            }
        }
        return l;
    }();
    if (!loaded.Ok) reason = loaded.Reason;
    return loaded.Ok ? &loaded.Library : nullptr;
}
