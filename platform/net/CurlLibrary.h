#pragma once
// libcurl, opened the first time a download needs it rather than linked: the library and the
// thirty-odd libraries it pulls in would otherwise be loaded and relocated on every start, which
// dominates short runs that never download. Only the HTTP client includes this header.
#include <curl/curl.h>

#include <string>

// The libcurl functions the HTTP client calls. Each pointer has the type of curl's own declaration,
// so curl_easy_setopt and curl_easy_getinfo stay variadic and take the same arguments.
struct TCurlLibrary {
    decltype(&curl_global_init) GlobalInit = nullptr;
    decltype(&curl_easy_init) EasyInit = nullptr;
    decltype(&curl_easy_setopt) EasySetopt = nullptr;
    decltype(&curl_easy_getinfo) EasyGetinfo = nullptr;
    decltype(&curl_easy_strerror) EasyStrerror = nullptr;
    decltype(&curl_easy_cleanup) EasyCleanup = nullptr;
    decltype(&curl_multi_init) MultiInit = nullptr;
    decltype(&curl_multi_add_handle) MultiAddHandle = nullptr;
    decltype(&curl_multi_remove_handle) MultiRemoveHandle = nullptr;
    decltype(&curl_multi_perform) MultiPerform = nullptr;
    decltype(&curl_multi_poll) MultiPoll = nullptr;
    decltype(&curl_multi_info_read) MultiInfoRead = nullptr;
    decltype(&curl_multi_strerror) MultiStrerror = nullptr;
    decltype(&curl_multi_cleanup) MultiCleanup = nullptr;
    decltype(&curl_slist_append) SlistAppend = nullptr;
    decltype(&curl_slist_free_all) SlistFreeAll = nullptr;
};

// The file the system's libcurl is found under.
inline constexpr const char* kCurlFileName = "libcurl.so.4";

// The system's libcurl, loaded and set up on the first call (once, whichever thread comes first) and
// kept until the process ends, because a download on another thread may still use it then. nullptr
// when it cannot be used; reason then says why, in words for the user. Later calls give the same answer.
const TCurlLibrary* CurlLibrary(std::string& reason);

// Opens fileName and looks up every function; false, with the reason, when the file cannot be loaded or
// lacks one of them. A library that loads stays loaded. It is not set up (curl_global_init): CurlLibrary
// does that once for the process.
bool LoadCurlLibrary(const char* fileName, TCurlLibrary& library, std::string& reason);
