#include "app/cli/CliOptions.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {
std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

constexpr std::array<const char*, 5> kCompressions = {"none", "rle", "g4", "g3", "dct"};
constexpr std::array<const char*, 13> kPapers = {"a0", "a1",     "a2",    "a3",     "a4",    "a5", "a6",
                                                 "b5", "letter", "legal", "ledger", "11x17", "fit"};

int IndexOf(const auto& table, const std::string& value) {
    const std::string v = Lower(value);
    for (std::size_t i = 0; i < table.size(); ++i)
        if (v == table[i]) return static_cast<int>(i);
    return -1;
}
} // namespace

std::string CliUsage() {
    return "Usage: folianto-convert [options] -o OUTPUT.pdf FILE...\n"
           "       folianto-convert --info FILE...\n"
           "Turns image files into one PDF document: one page per image or frame.\n"
           "\n"
           "  -o, --output PATH        folder and name of the PDF (\".pdf\" is added when missing)\n"
           "  --compression METHOD     none, rle, g4, g3 or dct (default dct)\n"
           "  --paper FORMAT           A0 A1 A2 A3 A4 A5 A6 B5 Letter Legal Ledger 11x17 Fit (default Fit)\n"
           "  --title TEXT, --subject TEXT, --author TEXT, --keywords TEXT\n"
           "                           document information\n"
           "  --force                  replace an existing output file\n"
           "  --open                   open the output folder when done\n"
           "  --info                   describe each FILE instead of converting\n"
           "  --quiet                  no progress output\n"
           "  --help, --version\n"
           "\n"
           "Exit status: 0 every input became its pages; 1 the PDF was written but some inputs were\n"
           "skipped (or the run was stopped); 2 bad usage or a refused output; 3 the run failed.\n";
}

bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& o, std::string& error) {
    bool onlyFiles = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyFiles || a.empty() || a[0] != '-' || a == "-") {
            o.Files.push_back(a);
            continue;
        }
        std::string name = a, value;
        bool hasValue = false;
        if (a.rfind("--", 0) == 0) {
            if (a == "--") {
                onlyFiles = true;
                continue;
            }
            if (const auto eq = a.find('='); eq != std::string::npos) {
                name = a.substr(0, eq);
                value = a.substr(eq + 1);
                hasValue = true;
            }
        }
        auto takeValue = [&](std::string& out) {
            if (hasValue) {
                out = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (name == "-o" || name == "--output") {
            if (!takeValue(o.Output)) return false;
        } else if (name == "--compression") {
            if (!takeValue(v)) return false;
            o.CompressionIndex = IndexOf(kCompressions, v);
            if (o.CompressionIndex < 0) {
                error = "unknown compression \"" + v + "\" (none, rle, g4, g3 or dct)";
                return false;
            }
        } else if (name == "--paper") {
            if (!takeValue(v)) return false;
            o.PaperIndex = IndexOf(kPapers, v);
            if (o.PaperIndex < 0) {
                error = "unknown paper \"" + v + "\" (A0-A6, B5, Letter, Legal, Ledger, 11x17 or Fit)";
                return false;
            }
        } else if (name == "--title") {
            if (!takeValue(o.Title)) return false;
        } else if (name == "--subject") {
            if (!takeValue(o.Subject)) return false;
        } else if (name == "--author") {
            if (!takeValue(o.Author)) return false;
        } else if (name == "--keywords") {
            if (!takeValue(o.Keywords)) return false;
        } else if (!hasValue && name == "--force") {
            o.Force = true;
        } else if (!hasValue && name == "--quiet") {
            o.Quiet = true;
        } else if (!hasValue && name == "--open") {
            o.Open = true;
        } else if (!hasValue && name == "--info") {
            o.Info = true;
        } else if (!hasValue && (name == "--help" || name == "-h")) {
            o.Help = true;
        } else if (!hasValue && name == "--version") {
            o.Version = true;
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    if (o.Help || o.Version) return true;
    if (o.Files.empty()) {
        error = "no input files";
        return false;
    }
    if (!o.Info && o.Output.empty()) {
        error = "no output file (-o OUTPUT.pdf)";
        return false;
    }
    return true;
}

void SplitOutputPath(const std::string& output, std::string& folder, std::string& name) {
    const auto slash = output.find_last_of('/');
    folder = slash == std::string::npos ? "." : output.substr(0, slash + 1);
    if (folder.empty()) folder = "/";
    name = slash == std::string::npos ? output : output.substr(slash + 1);
    if (name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".pdf") name.resize(name.size() - 4);
}
