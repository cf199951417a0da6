#pragma once
// The desktop program's command line, read before any window exists: --help and --version answer
// on the terminal, and a missing display is reported instead of ending in an abort.
#include <functional>
#include <string>
#include <vector>

enum class TWindowAction {
    Run,       // open the window
    Help,      // print WindowUsage and exit 0
    Version,   // print WindowVersion and exit 0
    NoDisplay, // print NoDisplayMessage and exit 1
};

// Looks up an environment variable; null when unset.
using TEnvironmentLookup = std::function<const char*(const char* name)>;

// args: the arguments after the program name, before the GUI framework takes its own. Options are
// read up to a "--"; a display is needed unless DISPLAY or WAYLAND_DISPLAY is set, or a platform is
// chosen (QT_QPA_PLATFORM, -platform).
TWindowAction WindowActionFor(const std::vector<std::string>& args, const TEnvironmentLookup& environment);

// The files to add to the list from the arguments the GUI framework left; a first "--" ends the
// options. False with a message for an unknown option.
bool WindowFiles(const std::vector<std::string>& args, std::vector<std::string>& files, std::string& error);

std::string WindowUsage();
std::string WindowVersion();
std::string NoDisplayMessage();
