#pragma once
// ASCII letter case, the same in every locale: extensions, keywords and names that file formats and
// command lines spell in ASCII compare so. Bytes other than A-Z and a-z are left as they are.
#include <string>
#include <string_view>

constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

inline std::string AsciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = AsciiUpper(c);
    return out;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// Text a server or library supplied, as it may be shown: printable ASCII only (anything else becomes
// "?"), blanks at either end removed, at most maxLength characters.
inline std::string PrintableText(std::string_view text, std::size_t maxLength) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        out += (c >= 0x20 && c < 0x7F) ? ch : '?';
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    out = out.substr(first, out.find_last_not_of(' ') - first + 1);
    if (out.size() > maxLength) out.resize(maxLength);
    return out;
}
