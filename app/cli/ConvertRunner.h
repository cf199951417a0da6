#pragma once
// For the end-to-end tests: runs the real folianto-convert binary and asks qpdf and poppler about
// the documents it wrote.
#include "testsupport/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace clitest {

// Runs the converter quietly with both output streams captured; prefix goes before the command
// (environment settings, a change of folder).
inline std::string Convert(const std::string& args, int& status, const std::string& prefix = "") {
    std::string out;
    status = testsupport::RunCommand(prefix + FOLIANTO_CONVERT + " --quiet " + args + " 2>&1", &out);
    return out;
}

inline int PageCount(const std::string& pdf) {
    std::string out;
    if (testsupport::RunCommand("qpdf --show-npages " + testsupport::ShellQuote(pdf) + " 2>/dev/null",
                                &out) != 0)
        return -1;
    return std::atoi(out.c_str());
}

// Page sizes as "WxH" per page, from poppler's listing of the MediaBoxes.
inline std::vector<std::string> PageSizes(const std::string& pdf) {
    std::string out;
    testsupport::RunCommand(
        "pdfinfo -f 1 -l 999 " + testsupport::ShellQuote(pdf) + " 2>/dev/null | grep 'size:'", &out);
    std::vector<std::string> sizes;
    std::size_t pos = 0;
    while ((pos = out.find("size:", pos)) != std::string::npos) {
        pos += 5;
        double w = 0, h = 0;
        if (std::sscanf(out.c_str() + pos, " %lf x %lf", &w, &h) == 2)
            sizes.push_back(std::to_string(int(w)) + "x" + std::to_string(int(h)));
    }
    return sizes;
}

} // namespace clitest
