// What the package installs beside the programs: shell completion that knows every option and value,
// and mailcap entries that offer the desktop program without choosing it.
#include "app/cli/CliOptions.h"
#include "imaging/params/FormatTable.h"
#include "platform/Ascii.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace {
using testsupport::RunCommand;
using testsupport::ShellQuote;

const std::string kPackaging = FOLIANTO_PACKAGING_DIR;
const std::string kBashCompletion = kPackaging + "/completion/folianto-convert.bash";
const std::string kZshCompletion = kPackaging + "/completion/_folianto-convert";

std::string Text(const std::string& path) {
    const auto bytes = testsupport::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The completion scripts are written by hand: they must keep up with the parser and the formats.
TEST(Completion, KnowsEveryOptionValueAndImageExtension) {
    std::vector<std::string> expected;
    const std::string help = CliUsage();
    // Every long option the help names ("--output", "--from-file"...).
    for (std::size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
        std::size_t end = at + 2;
        while (end < help.size() && (std::islower(static_cast<unsigned char>(help[end])) || help[end] == '-'))
            ++end;
        if (end > at + 2) expected.push_back(help.substr(at, end - at));
    }
    for (const auto& names : {CliCompressionNames(), CliPaperNames(), CliSortNames()})
        for (std::string_view name : names) expected.emplace_back(name);
    for (const TIEFileFormatInfo& f : FileFormatTable()) {
        if (!f.ReadFunction) continue;
        std::string exts = f.Extensions + ";";
        for (std::size_t at = 0, end; (end = exts.find(';', at)) != std::string::npos; at = end + 1) {
            expected.push_back(AsciiLower(exts.substr(at, end - at)));
        }
    }
    ASSERT_GT(expected.size(), 50u);
    for (const std::string& script : {kBashCompletion, kZshCompletion}) {
        const std::string text = Text(script);
        for (const std::string& word : expected)
            EXPECT_NE(text.find(word), std::string::npos) << word << " is missing from " << script;
    }
}

class BashCompletion : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::ToolAvailable("bash")) GTEST_SKIP() << "bash missing";
        for (const char* f : {"scan.TIF", "photo.jpg", "notes.txt", "sub/x.png"}) {
            std::filesystem::create_directories(std::filesystem::path(dir.File(f)).parent_path());
            testsupport::WriteFileBytes(dir.File(f), {'x'});
        }
    }
    // The candidates for the last word of line, as bash would offer them.
    std::vector<std::string> Complete(const std::string& line) const {
        std::string out;
        const std::string script = "source " + ShellQuote(kBashCompletion) + "; COMP_WORDS=(" + line +
                                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _folianto_convert; "
                                   "printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
        RunCommand("cd " + ShellQuote(dir.Path()) + " && bash -c " + ShellQuote(script), &out);
        return Lines(out);
    }
    testsupport::TempDir dir;
};

TEST_F(BashCompletion, OffersOptionsValuesAndImages) {
    using V = std::vector<std::string>;
    struct Case {
        const char* Line;
        V Expected;
    };
    const Case cases[] = {
        {"folianto-convert --comp", {"--compression"}},
        {"folianto-convert -c ''", {"auto", "dct", "flate", "g3", "g4", "none", "rle"}},
        {"folianto-convert --alpha ''", {"flatten", "keep"}},
        {"folianto-convert --paper = L", {"Ledger", "Legal", "Letter"}},
        {"folianto-convert --paper = ", V{"11x17", "A0", "A1", "A2", "A3", "A4", "A5", "A6", "B5", "Fit",
                                          "Ledger", "Legal", "Letter", "image"}},
        {"folianto-convert --sort n", {"name", "natural", "none"}},
        {"folianto-convert -o out.pdf ''", {"photo.jpg", "scan.TIF", "sub"}}, // no notes.txt
        {"folianto-convert --title ''", {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(Complete(c.Line), c.Expected) << c.Line;
}

TEST(Completion, ZshRegistersTheFunction) {
    if (!testsupport::ToolAvailable("zsh")) GTEST_SKIP() << "zsh missing";
    testsupport::TempDir dir;
    std::string out;
    EXPECT_EQ(RunCommand("zsh -n " + ShellQuote(kZshCompletion) + " 2>&1", &out), 0) << out;
    const std::string script = "fpath=(" + kPackaging +
                               "/completion $fpath); autoload -Uz compinit; compinit -u -d " +
                               dir.File("dump") + "; print -r -- ${_comps[folianto-convert]}";
    EXPECT_EQ(
        RunCommand("HOME=" + ShellQuote(dir.Path()) + " zsh -f -c " + ShellQuote(script) + " 2>&1", &out), 0);
    EXPECT_EQ(out, "_folianto-convert\n");
}

// update-mime, the tool that writes /etc/mailcap, run on our files in a scratch home: its paths are
// fixed in the script, so a copy points them at scratch folders.
class Mailcap : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists("/usr/sbin/update-mime") || !testsupport::ToolAvailable("perl"))
            GTEST_SKIP() << "update-mime (Debian package mailcap) missing";
        std::filesystem::create_directories(dir.File("packages"));
        std::filesystem::create_directories(dir.File("applications"));
        std::filesystem::copy_file(FOLIANTO_DESKTOP_ENTRY, dir.File("applications/folianto.desktop"));
        // A viewer whose desktop entry sorts after ours, as many do ("org.gnome.…", "ristretto").
        const std::string viewer = "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer "
                                   "%f\nMimeType=image/png;image/tiff;\n";
        testsupport::WriteFileBytes(dir.File("applications/org.example.viewer.desktop"),
                                    std::vector<std::uint8_t>(viewer.begin(), viewer.end()));
        ASSERT_EQ(RunCommand("sed -e 's|\"/usr/lib/mime/packages\"|\"" + dir.File("packages") +
                             "\"|' -e 's|\"/usr/share/applications\"|\"" + dir.File("applications") +
                             "\"|' /usr/sbin/update-mime > " + ShellQuote(dir.File("update-mime"))),
                  0);
    }
    // type -> commands in mailcap order
    std::map<std::string, std::vector<std::string>> Generate() const {
        std::filesystem::remove(dir.File(".mailcap"));
        RunCommand("HOME=" + ShellQuote(dir.Path()) + " perl " + ShellQuote(dir.File("update-mime")) +
                   " --local >/dev/null 2>&1");
        std::map<std::string, std::vector<std::string>> entries;
        for (const std::string& line : Lines(Text(dir.File(".mailcap")))) {
            if (line.empty() || line[0] == '#') continue;
            const std::size_t semi = line.find(';');
            const std::size_t next = line.find(';', semi + 1);
            entries[line.substr(0, semi)].push_back(line.substr(semi + 2, next - semi - 2));
        }
        return entries;
    }
    testsupport::TempDir dir;
};

TEST_F(Mailcap, FoliantoIsOfferedForItsTypesButNeverChosenOverAViewer) {
    // The desktop entry alone: update-mime gives Folianto the viewer's priority, and as the first
    // entry in the folder it would open every PNG and TIFF.
    auto entries = Generate();
    ASSERT_FALSE(entries["image/png"].empty());
    EXPECT_EQ(entries["image/png"].front(), "folianto %s");

    std::filesystem::copy_file(kPackaging + "/folianto.mailcap", dir.File("packages/folianto"));
    entries = Generate();
    EXPECT_EQ(entries["image/png"], (std::vector<std::string>{"viewer %s", "folianto %s"}));
    EXPECT_EQ(entries["image/tiff"], (std::vector<std::string>{"viewer %s", "folianto %s"}));
    // Every type of the desktop entry is still offered, once.
    const std::string desktop = Text(FOLIANTO_DESKTOP_ENTRY);
    const std::size_t at = desktop.find("\nMimeType=");
    ASSERT_NE(at, std::string::npos);
    std::string types = desktop.substr(at + 10, desktop.find('\n', at + 1) - at - 10);
    int count = 0;
    for (std::size_t start = 0, end; (end = types.find(';', start)) != std::string::npos;
         start = end + 1, ++count) {
        const std::string type = types.substr(start, end - start);
        const auto& commands = entries[type];
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "folianto %s"), 1) << type;
    }
    EXPECT_EQ(count, 23);
}
} // namespace
