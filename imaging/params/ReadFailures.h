#pragma once
// Reasons several readers give for refusing a file, so that one fault reads the same in every
// format, and the one translation of an exception at a reader's edge into a reason.
#include <exception>
#include <string>
#include <string_view>

struct TIEProgressRecord;

namespace reasons {
inline constexpr std::string_view kLargerThanFile = "image larger than the file can hold";
inline constexpr std::string_view kNoPixels = "image of width or height 0";
inline constexpr std::string_view kNoRowData = "data ends before the first row";
inline constexpr std::string_view kOutOfMemory = "not enough memory for the image";
inline constexpr std::string_view kUnreadable = "the file could not be read";

// "unsupported bit depth 30000", "unsupported compression 4"
std::string Unsupported(std::string_view what, long long value);
} // namespace reasons

// At a reader's edge: a refused allocation or a failed stream read gets its reason; anything else
// only aborts, and the caller's catch-all speaks for it.
void FailFromException(TIEProgressRecord& Progress, const std::exception& e);
