#include "pdf/PdfTextString.h"

#include <array>
#include <cstdint>
#include <vector>

namespace {

// Length of the valid UTF-8 sequence at text[i] and its code point; 0 when none starts there.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t b0 = byte(i);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, cp = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, cp = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, cp = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const std::uint8_t b = byte(i + k);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

std::vector<char32_t> CodePoints(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t length = DecodeUtf8(text, i, cp);
        if (length == 0) {
            out.push_back(static_cast<std::uint8_t>(text[i]));
            ++i;
        } else {
            out.push_back(cp);
            i += length;
        }
    }
    return out;
}

// What each byte of PDFDocEncoding stands for; 0 where the encoding defines no character. It agrees
// with Latin-1 (and so with the first 256 code points) except in the control ranges, where it holds
// accents and typographic signs, at 0xA0 (the euro sign, not a no-break space) and at 0xAD (nothing,
// not a soft hyphen).
constexpr std::array<char16_t, 256> kPdfDocEncoding = [] {
    std::array<char16_t, 256> t{};
    for (int b = 0x20; b < 0x7F; ++b) t[b] = char16_t(b);
    for (int b = 0xA1; b <= 0xFF; ++b) t[b] = char16_t(b);
    t[0x09] = 0x09; // tab, line feed and carriage return: the only controls it keeps
    t[0x0A] = 0x0A;
    t[0x0D] = 0x0D;
    const char16_t accents[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
    for (int i = 0; i < 8; ++i) t[0x18 + i] = accents[i];
    const char16_t signs[31] = {0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044,
                                0x2039, 0x203A, 0x2212, 0x2030, 0x201E, 0x201C, 0x201D, 0x2018,
                                0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141, 0x0152, 0x0160,
                                0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E};
    for (int i = 0; i < 31; ++i) t[0x80 + i] = signs[i]; // 0x9F stays undefined
    t[0xA0] = 0x20AC;
    t[0xAD] = 0;
    return t;
}();

// A character written as one byte must read back as itself in PDFDocEncoding.
bool SingleByte(char32_t cp) {
    return cp < kPdfDocEncoding.size() && cp != 0 && kPdfDocEncoding[cp] == cp;
}

void AppendUnit(std::string& out, std::uint32_t unit) {
    out += static_cast<char>(unit >> 8);
    out += static_cast<char>(unit & 0xFF);
}

} // namespace

std::string PdfTextStringBytes(std::string_view utf8) {
    const std::vector<char32_t> cps = CodePoints(utf8);
    std::string out;
    bool singleBytes = true;
    for (const char32_t cp : cps) singleBytes = singleBytes && SingleByte(cp);
    if (singleBytes) {
        out.reserve(cps.size());
        for (const char32_t cp : cps) out += static_cast<char>(cp);
        return out;
    }
    out.reserve(2 + cps.size() * 2);
    out += "\xFE\xFF";
    for (const char32_t cp : cps) {
        if (cp < 0x10000) {
            AppendUnit(out, cp);
        } else {
            const std::uint32_t v = cp - 0x10000;
            AppendUnit(out, 0xD800 + (v >> 10));
            AppendUnit(out, 0xDC00 + (v & 0x3FF));
        }
    }
    return out;
}
