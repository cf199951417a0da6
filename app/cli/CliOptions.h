#pragma once
// Command line of folianto-convert.
#include <string>
#include <vector>

struct TCliOptions {
    std::string Output; // as given with -o
    std::vector<std::string> Files;
    int CompressionIndex = 4; // dct, as the window
    int PaperIndex = 12;      // Fit, as the window
    std::string Title, Subject, Author, Keywords;
    bool Force = false;
    bool Quiet = false;
    bool Open = false;
    bool Info = false;
    bool Help = false;
    bool Version = false;
};

// Parses argv; on a usage error returns false with the message in error.
bool ParseCliOptions(const std::vector<std::string>& args, TCliOptions& options, std::string& error);
// Splits -o's path into the job's folder and name ("report.pdf" -> ".", "report").
void SplitOutputPath(const std::string& output, std::string& folder, std::string& name);
std::string CliUsage();
