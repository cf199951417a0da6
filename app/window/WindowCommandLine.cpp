#include "app/window/WindowCommandLine.h"

#ifndef FOLIANTO_VERSION
#error "FOLIANTO_VERSION is defined by the build"
#endif

namespace {
constexpr char kEndOfOptions[] = "--";

bool Set(const TEnvironmentLookup& environment, const char* name) {
    const char* value = environment(name);
    return value && *value;
}

bool IsPlatformOption(const std::string& arg) {
    return arg == "-platform" || arg == "--platform" || arg.rfind("-platform=", 0) == 0 ||
           arg.rfind("--platform=", 0) == 0;
}
} // namespace

TWindowAction WindowActionFor(const std::vector<std::string>& args, const TEnvironmentLookup& environment) {
    bool platformChosen = Set(environment, "QT_QPA_PLATFORM");
    for (const std::string& arg : args) {
        if (arg == kEndOfOptions) break;
        if (arg == "--help" || arg == "-h") return TWindowAction::Help;
        if (arg == "--version" || arg == "-V") return TWindowAction::Version;
        if (IsPlatformOption(arg)) platformChosen = true;
    }
    if (!platformChosen && !Set(environment, "DISPLAY") && !Set(environment, "WAYLAND_DISPLAY"))
        return TWindowAction::NoDisplay;
    return TWindowAction::Run;
}

bool WindowFiles(const std::vector<std::string>& args, std::vector<std::string>& files, std::string& error) {
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == kEndOfOptions) {
            options = false;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            files.push_back(arg);
        }
    }
    return true;
}

std::string WindowUsage() {
    return "Usage: folianto [OPTION]... [FILE]...\n"
           "Gather image files in a numbered list and turn them into one multi-page PDF document.\n"
           "Each FILE, a path or an http or https address, joins the list as a drop on the window does.\n"
           "\n"
           "  -h, --help     show this help and exit\n"
           "  -V, --version  show the version and exit\n"
           "\n"
           "Put -- before file names that start with \"-\". The window also takes the Qt toolkit's\n"
           "options, such as -platform NAME.\n"
           "\n"
           "The window needs a graphical display (DISPLAY or WAYLAND_DISPLAY). On a terminal,\n"
           "folianto-convert does the same conversion; see folianto-convert --help.\n";
}

std::string WindowVersion() {
    return std::string("folianto ") + FOLIANTO_VERSION + "\n";
}

std::string NoDisplayMessage() {
    return "folianto: no graphical display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set,\n"
           "or the display cannot be reached). On a terminal, use folianto-convert.\n";
}
