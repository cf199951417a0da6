#include "app/cli/CliOptions.h"
#include "platform/Ascii.h"

#include <array>
#include <getopt.h>

#ifndef FOLIANTO_VERSION
#error "FOLIANTO_VERSION is defined by the build"
#endif

namespace {
constexpr std::array<std::string_view, 7> kCompressions = {"none", "rle", "g4", "g3", "dct", "flate", "auto"};
// The window's item each name chooses.
constexpr std::array<int, 7> kCompressionItems = {
    CompressionIndexOf(pdfUncompressed), CompressionIndexOf(pdfRunLength), CompressionIndexOf(pdfGroup4),
    CompressionIndexOf(pdfGroup3),       CompressionIndexOf(pdfDct),       CompressionIndexOf(pdfFlate),
    CompressionIndexOf(pdfFlate, true)};
constexpr std::array<std::string_view, 14> kPapers = {
    "A0", "A1", "A2", "A3", "A4", "A5", "A6", "B5", "Letter", "Legal", "Ledger", "11x17", "Fit", "image"};
constexpr std::array<std::string_view, 2> kAlphas = {"flatten", "keep"};
constexpr std::size_t kAlphaKeep = 1;
constexpr std::array<std::string_view, 3> kSorts = {"none", "natural", "name"};
constexpr std::array<TInputOrder, 3> kSortOrders = {TInputOrder::AsGiven, TInputOrder::Natural,
                                                    TInputOrder::Name};

// Values of the options that have no short form (above any character getopt returns).
enum TLongOnly : int {
    optTitle = 256,
    optSubject,
    optAuthor,
    optKeywords,
    optOpen,
    optInfo,
    optFromFile,
    optSort,
    optAlpha,
    optNoAutoOrient,
};

const option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"compression", required_argument, nullptr, 'c'},
    {"paper", required_argument, nullptr, 'p'},
    {"force", no_argument, nullptr, 'f'},
    {"quiet", no_argument, nullptr, 'q'},
    {"recursive", no_argument, nullptr, 'r'},
    {"null", no_argument, nullptr, '0'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"title", required_argument, nullptr, optTitle},
    {"subject", required_argument, nullptr, optSubject},
    {"author", required_argument, nullptr, optAuthor},
    {"keywords", required_argument, nullptr, optKeywords},
    {"open", no_argument, nullptr, optOpen},
    {"info", no_argument, nullptr, optInfo},
    {"from-file", required_argument, nullptr, optFromFile},
    {"sort", required_argument, nullptr, optSort},
    {"alpha", required_argument, nullptr, optAlpha},
    {"verbose", no_argument, nullptr, 'v'},
    {"jobs", required_argument, nullptr, 'j'},
    {"no-auto-orient", no_argument, nullptr, optNoAutoOrient},
    {nullptr, 0, nullptr, 0},
};
// The leading ':' makes getopt return ':' for a missing value and print nothing itself.
constexpr char kShortOptions[] = ":o:c:p:j:fqvr0hV";

int IndexOf(std::span<const std::string_view> names, std::string_view value) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (EqualsIgnoringAsciiCase(names[i], value)) return static_cast<int>(i);
    return -1;
}

std::string Choices(std::span<const std::string_view> names) {
    std::string s;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) s += i + 1 == names.size() ? " or " : ", ";
        s += names[i];
    }
    return s;
}

// The option as the user wrote it, for messages ("-c" or "--compression").
std::string OptionName(int value, const std::string& written) {
    if (written.rfind("--", 0) == 0) return written.substr(0, written.find('='));
    for (const option& o : kLongOptions)
        if (o.name && o.val == value)
            return value < 256 ? std::string{'-', char(value)} : std::string("--") + o.name;
    return written;
}

bool Choose(std::span<const std::string_view> names, const char* what, const char* value, int& index,
            std::string& error) {
    index = IndexOf(names, value);
    if (index >= 0) return true;
    error = std::string("unknown ") + what + " \"" + value + "\" (use " + Choices(names) + ")";
    return false;
}

// A decimal count from 1 to CliMaxJobs, nothing else (no sign, no spaces, no trailing text).
bool ParseJobs(const char* value, int& jobs, std::string& error) {
    const std::string_view text(value);
    int n = 0;
    bool ok = !text.empty() && text.size() <= 3;
    for (const char c : text) {
        if (c < '0' || c > '9') ok = false;
        if (ok) n = n * 10 + (c - '0');
    }
    if (!ok || n < 1 || n > CliMaxJobs) {
        error = "invalid number of jobs \"" + std::string(text) + "\" (use 1 to " +
                std::to_string(CliMaxJobs) + ")";
        return false;
    }
    jobs = n;
    return true;
}
} // namespace

std::span<const std::string_view> CliCompressionNames() {
    return kCompressions;
}
std::span<const std::string_view> CliPaperNames() {
    return kPapers;
}
std::span<const std::string_view> CliSortNames() {
    return kSorts;
}
std::span<const std::string_view> CliAlphaNames() {
    return kAlphas;
}

std::string CliVersion() {
    return std::string("folianto-convert ") + FOLIANTO_VERSION + "\n";
}

std::string CliUsage() {
    return "Usage: folianto-convert [OPTION]... -o OUTPUT.pdf FILE...\n"
           "  or:  folianto-convert --info FILE...\n"
           "Turn image files into one PDF document: one page per image, and one per frame of a\n"
           ".tif, .tiff or .gif file, each scaled to fit its paper.\n"
           "An input may also be an http:// or https:// address: the image is downloaded and\n"
           "read by its content.\n"
           "\n"
           "Output:\n"
           "  -o, --output=FILE         write the PDF to FILE (\"-\": standard output); \".pdf\" is\n"
           "                              added to a name without it\n"
           "  -f, --force               replace an existing FILE once the new one is complete\n"
           "  -c, --compression=METHOD  none, rle, g4, g3, dct, flate or auto (default auto: JPEG\n"
           "                              files, PNG image data and TIFF fax or JPEG data go in\n"
           "                              as they are; other 1-bit pages as g4, the rest as flate)\n"
           "      --alpha=MODE          transparency: flatten (onto white paper, the default) or\n"
           "                              keep (as a soft mask)\n"
           "  -p, --paper=FORMAT        A0, A1, A2, A3, A4, A5, A6, B5, Letter, Legal, Ledger, 11x17,\n"
           "                              Fit (default: one point per pixel) or image (the\n"
           "                              image's own size, from its resolution)\n"
           "      --no-auto-orient      keep images as stored; by default photos and scans that\n"
           "                              say they were taken turned are turned upright\n"
           "      --title=TEXT          document title\n"
           "      --subject=TEXT        document subject\n"
           "      --author=TEXT         document author\n"
           "      --keywords=TEXT       document keywords\n"
           "      --open                open the output folder when done\n"
           "\n"
           "Input:\n"
           "      --from-file=LIST      also convert the paths in LIST, one per line, after the FILE\n"
           "                              arguments (\"-\": standard input)\n"
           "  -0, --null                paths in LIST end with a NUL byte, as find -print0 writes\n"
           "  -r, --recursive           a folder adds the images in it and in its subfolders, in\n"
           "                              natural order (1, 2, 10)\n"
           "      --sort=ORDER          natural, name or none (default none: the order given)\n"
           "\n"
           "Other:\n"
           "      --info                describe each FILE instead of converting\n"
           "  -j, --jobs=N              load and encode N pages at once (default: one per core;\n"
           "                              the document is the same for every N)\n"
           "  -q, --quiet               no progress output\n"
           "  -v, --verbose             tell how each page was stored, and its size\n"
           "  -h, --help                show this help and exit\n"
           "  -V, --version             show the version and exit\n"
           "\n"
           "Put -- before file names that start with \"-\".\n"
           "\n"
           "Exit status:\n"
           "  0  every input became its pages\n"
           "  1  the PDF was written, but some inputs were skipped, some pages lack part of their\n"
           "     picture, or the run was stopped\n"
           "  2  bad usage or a refused output; nothing was written\n"
           "  3  the run failed, or no page was converted; no file is left\n"
           "\n"
           "Environment:\n"
           "  SOURCE_DATE_EPOCH  seconds since 1970-01-01 UTC: the document's creation date, so that\n"
           "                     two runs over the same inputs give the same bytes\n";
}

bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& o, std::string& error) {
    // getopt_long permutes its argument vector and keeps global state: parse a private copy from a
    // fresh start (optind 0 re-initialises GNU getopt).
    std::vector<std::string> copies;
    copies.reserve(args.size() + 1);
    copies.emplace_back("folianto-convert");
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : copies) argv.push_back(s.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(copies.size());
    optind = 0;
    opterr = 0;

    for (;;) {
        const int c = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
        if (c == -1) break;
        // The element getopt has just read, for messages about a long option.
        const std::string written =
            optind >= 1 && optind <= argc ? argv[static_cast<std::size_t>(optind - 1)] : "";
        int index = 0;
        switch (c) {
        case 'o':
            o.Output = optarg;
            break;
        case 'c':
            if (!Choose(kCompressions, "compression", optarg, index, error)) return false;
            o.CompressionIndex = kCompressionItems[static_cast<std::size_t>(index)];
            break;
        case 'p':
            if (!Choose(kPapers, "paper", optarg, o.PaperIndex, error)) return false;
            break;
        case optAlpha:
            if (!Choose(kAlphas, "alpha mode", optarg, index, error)) return false;
            o.KeepAlpha = static_cast<std::size_t>(index) == kAlphaKeep;
            break;
        case 'v':
            o.Verbose = true;
            break;
        case 'j':
            if (!ParseJobs(optarg, o.Jobs, error)) return false;
            break;
        case optSort:
            if (!Choose(kSorts, "sort order", optarg, index, error)) return false;
            o.Order = kSortOrders[static_cast<std::size_t>(index)];
            break;
        case 'f':
            o.Force = true;
            break;
        case 'q':
            o.Quiet = true;
            break;
        case 'r':
            o.Recursive = true;
            break;
        case '0':
            o.NullSeparated = true;
            break;
        case 'h':
            o.Help = true;
            break;
        case 'V':
            o.Version = true;
            break;
        case optTitle:
            o.Title = optarg;
            break;
        case optSubject:
            o.Subject = optarg;
            break;
        case optAuthor:
            o.Author = optarg;
            break;
        case optKeywords:
            o.Keywords = optarg;
            break;
        case optOpen:
            o.Open = true;
            break;
        case optInfo:
            o.Info = true;
            break;
        case optNoAutoOrient:
            o.AutoOrient = false;
            break;
        case optFromFile:
            o.ListFiles.emplace_back(optarg);
            break;
        case ':':
            error = "option " + OptionName(optopt, written) + " needs a value";
            return false;
        default: // '?'
            if (optopt != 0 && written.rfind("--", 0) == 0 && written.find('=') != std::string::npos)
                error = "option " + OptionName(optopt, written) + " takes no value";
            else if (optopt != 0 && written.rfind("--", 0) != 0)
                error = "unknown option -" + std::string(1, char(optopt));
            else
                error = "unknown option " + written.substr(0, written.find('='));
            return false;
        }
    }
    for (int i = optind; i < argc; ++i) o.Files.emplace_back(argv[static_cast<std::size_t>(i)]);

    if (o.Help || o.Version) return true;
    if (o.Files.empty() && o.ListFiles.empty()) {
        error = "no input files";
        return false;
    }
    if (o.Info) return true;
    if (o.Output.empty()) {
        error = "no output file (-o OUTPUT.pdf, or -o - for standard output)";
        return false;
    }
    if (o.Open && o.Output == CliStdout) {
        error = "--open needs an output file, not standard output";
        return false;
    }
    return true;
}
