#pragma once
// Document texts (title, author, keywords, ...) arrive as UTF-8. A PDF text string is either
// PDFDocEncoding bytes or UTF-16BE behind the byte-order mark FE FF.
#include <string>
#include <string_view>

// The bytes of a PDF text string for the given UTF-8 text (before literal-string escaping).
// Texts made of ASCII and U+00A0..U+00FF, where PDFDocEncoding and Latin-1 agree, keep one byte per
// character; anything else is written as UTF-16BE. A byte that starts no valid UTF-8 sequence is
// read as its Latin-1 character, so text from a Latin-1 terminal survives too.
std::string PdfTextStringBytes(std::string_view utf8);
