#pragma once
// Command line of folianto-convert, parsed with getopt_long.
#include "app/job/ConversionTables.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

// How the input list is ordered before the run.
enum class TInputOrder {
    AsGiven, // arguments, then list-file entries, as written; a folder's images in natural order
    Natural, // digit runs by value: 1, 2, 10
    Name     // plain byte order of the paths
};

inline constexpr int CliDctIndex = CompressionDctIndex;        // the window's default
inline constexpr int CliAutoIndex = CompressionAutomaticIndex; // "keep original data": the default here
inline constexpr int CliFitPaper = 12;   // paper index of "Fit", the window's default too
inline constexpr char CliStdout[] = "-"; // -o - writes the document to standard output
inline constexpr int CliMaxJobs = 256;   // --jobs takes 1..CliMaxJobs

struct TCliOptions {
    std::string Output;                 // as given with -o
    std::vector<std::string> Files;     // FILE arguments, in the order given
    std::vector<std::string> ListFiles; // --from-file LIST, in the order given; "-" is standard input
    bool NullSeparated = false;         // --null: list entries end with NUL, not a line feed
    bool Recursive = false;             // a folder adds the images found in it
    TInputOrder Order = TInputOrder::AsGiven;
    int CompressionIndex = CliAutoIndex; // CompressionItems index, chosen by the compression names below
    int PaperIndex = CliFitPaper;        // index into the paper names below
    bool AutoOrient = true;              // --no-auto-orient clears it
    std::string Title, Subject, Author, Keywords;
    bool KeepAlpha = false; // --alpha keep: transparency as a soft mask
    bool Verbose = false;   // how each page was stored
    int Jobs = 0;           // workers; 0: one per core
    bool Force = false;
    bool Quiet = false;
    bool Open = false;
    bool Info = false;
    bool Help = false;
    bool Version = false;
};

// The values --compression and --paper take, in the order of the window's lists (so an index is the
// window's item index). Matching is case-insensitive.
std::span<const std::string_view> CliCompressionNames();
std::span<const std::string_view> CliPaperNames();
std::span<const std::string_view> CliSortNames();
std::span<const std::string_view> CliAlphaNames();

// Parses the arguments after the program name; on a usage error returns false with a message that
// names the option and what it accepts.
bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& options, std::string& error);
std::string CliUsage();
std::string CliVersion();
