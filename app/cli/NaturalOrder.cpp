#include "app/cli/NaturalOrder.h"
#include "platform/Ascii.h"

namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
int Sign(int v) {
    return (v > 0) - (v < 0);
}
} // namespace

int NaturalCompare(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    int zerosTie = 0; // decides between equal numbers written with different leading zeros
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ai = i, bj = j;
            while (ai < a.size() && a[ai] == '0') ++ai;
            while (bj < b.size() && b[bj] == '0') ++bj;
            std::size_t ae = ai, be = bj;
            while (ae < a.size() && IsDigit(a[ae])) ++ae;
            while (be < b.size() && IsDigit(b[be])) ++be;
            // Compared as digit strings, so a run of any length is fine: more significant digits
            // mean a larger number, equal lengths compare digit by digit.
            if (ae - ai != be - bj) return ae - ai < be - bj ? -1 : 1;
            if (const int c = a.substr(ai, ae - ai).compare(b.substr(bj, be - bj)); c != 0) return Sign(c);
            if (zerosTie == 0 && ai - i != bj - j) zerosTie = ai - i < bj - j ? -1 : 1;
            i = ae;
            j = be;
            continue;
        }
        const char ca = AsciiLower(a[i]), cb = AsciiLower(b[j]);
        if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    if (zerosTie != 0) return zerosTie;
    return Sign(a.compare(b));
}
