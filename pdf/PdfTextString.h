#pragma once
// Document texts (title, author, keywords, ...) arrive as UTF-8. A PDF text string is either
// PDFDocEncoding bytes or UTF-16BE behind the byte-order mark FE FF.
#include <string>
#include <string_view>

// The bytes of a PDF text string for the given UTF-8 text (before literal-string escaping).
// Texts made only of characters that PDFDocEncoding codes as their Latin-1 byte (printable ASCII, tab,
// line feed, carriage return, U+00A1..U+00FF but U+00AD) keep one byte per character; any other text
// is written as UTF-16BE, so a no-break space never reads as a euro sign. A byte that starts no valid UTF-8
// sequence is read as its Latin-1 character, so text from a Latin-1 terminal survives too.
std::string PdfTextStringBytes(std::string_view utf8);
