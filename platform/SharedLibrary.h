#pragma once
// System libraries opened the first time a feature needs them rather than linked: a library and the
// libraries it pulls in would otherwise be loaded and relocated on every start, which dominates
// short runs that never use the feature.
#include <string>

// Opens fileName (a name the system's loader searches for, such as "libcairo.so.2") and keeps it
// open; null when it cannot, with the loader's own words in detail (at most a line).
void* OpenSharedLibrary(const char* fileName, std::string& detail);

// The address of name in an open library; null when it has no such symbol.
void* SharedSymbolAddress(void* library, const char* name);

// Looks name up in an open library; false when it has no such symbol. function must be declared
// with the type of the library's own declaration (decltype(&symbol)).
template <class TFunction> bool ResolveSharedSymbol(void* library, const char* name, TFunction& function) {
    function = reinterpret_cast<TFunction>(SharedSymbolAddress(library, name));
    return function != nullptr;
}
