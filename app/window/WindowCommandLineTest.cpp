#include "app/window/WindowCommandLine.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace {
using Args = std::vector<std::string>;
using Env = std::map<std::string, std::string>;

TEST(WindowCommandLine, ChoosesWhatToDoBeforeAnyWindow) {
    struct Case {
        const char* Name;
        Args Arguments;
        Env Environment;
        TWindowAction Action;
    };
    const Case cases[] = {
        {"HelpWithoutDisplay", {"--help"}, {}, TWindowAction::Help},
        {"ShortHelpAmongFiles", {"a.png", "-h"}, {{"DISPLAY", ":0"}}, TWindowAction::Help},
        {"VersionWithoutDisplay", {"-V"}, {}, TWindowAction::Version},
        {"HelpAfterDoubleDashIsAFile", {"--", "--help"}, {}, TWindowAction::NoDisplay},
        {"NoDisplay", {"a.png"}, {}, TWindowAction::NoDisplay},
        {"EmptyDisplayIsNone", {}, {{"DISPLAY", ""}}, TWindowAction::NoDisplay},
        {"X11", {}, {{"DISPLAY", ":0"}}, TWindowAction::Run},
        {"Wayland", {}, {{"WAYLAND_DISPLAY", "wayland-0"}}, TWindowAction::Run},
        {"PlatformVariable", {}, {{"QT_QPA_PLATFORM", "offscreen"}}, TWindowAction::Run},
        {"PlatformOption", {"-platform", "offscreen"}, {}, TWindowAction::Run},
    };
    for (const Case& c : cases) {
        const Env& env = c.Environment;
        const auto lookup = [&env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(WindowActionFor(c.Arguments, lookup), c.Action) << c.Name;
    }
}

TEST(WindowCommandLine, FilesAfterTheToolkitsOptions) {
    Args files;
    std::string error;
    ASSERT_TRUE(WindowFiles({"a.png", "--", "-b.png", "--"}, files, error));
    EXPECT_EQ(files, (Args{"a.png", "-b.png", "--"}));
    files.clear();
    EXPECT_FALSE(WindowFiles({"a.png", "--bogus"}, files, error));
    EXPECT_EQ(error, "unknown option --bogus");
}

// The installed program on a terminal: answers without a window, and never aborts for want of one.
TEST(WindowProgram, AnswersOnTheTerminalWithoutADisplay) {
    const std::string program = FOLIANTO_WINDOW;
    const std::string bare = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
    struct Case {
        std::string Command;
        int Status;
        std::string Output;
    };
    const Case cases[] = {
        {bare + program + " --help 2>&1", 0, "Usage: folianto [OPTION]... [FILE]..."},
        {bare + program + " --version 2>&1", 0, "folianto 1."},
        {bare + program + " a.png 2>&1", 1, "no graphical display to open the window on"},
        // A display that cannot be reached: the toolkit gives up, the program says why.
        {bare + "DISPLAY=:97531 XAUTHORITY=/dev/null " + program + " 2>&1", 1,
         "no graphical display to open the window on"},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(testsupport::RunCommand(c.Command, &out), c.Status) << c.Command << "\n" << out;
        EXPECT_NE(out.find(c.Output), std::string::npos) << c.Command << "\n" << out;
    }
}
} // namespace
