#pragma once
// Orders names as people count: "page2" before "page10".
#include <string_view>

// Negative, zero or positive as a sorts before, with or after b. Runs of digits compare by their
// value (leading zeros ignored; on equal values the run with fewer zeros first), other characters
// by ASCII letters folded to lower case; names that are still equal compare byte by byte, so the
// order is total.
int NaturalCompare(std::string_view a, std::string_view b);

struct TNaturalLess {
    bool operator()(std::string_view a, std::string_view b) const { return NaturalCompare(a, b) < 0; }
};
