#include "platform/SharedLibrary.h"

#include "platform/Ascii.h"

#include <dlfcn.h>

namespace {
constexpr std::size_t kDetailLength = 160;

std::string LoaderText() {
    const char* text = dlerror();
    return text ? PrintableText(text, kDetailLength) : std::string();
}
} // namespace

void* OpenSharedLibrary(const char* fileName, std::string& detail) {
    dlerror();
    void* handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    detail = handle ? std::string() : LoaderText();
    return handle;
}

void* SharedSymbolAddress(void* library, const char* name) {
    return library ? dlsym(library, name) : nullptr;
}
