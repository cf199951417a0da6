#pragma once
// The wording of download failures: sizes, durations, status lines, and text that came from a server,
// made safe to show.
#include "platform/Ascii.h" // PrintableText

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// "256 MiB", "64 KiB" or "1000 bytes": the largest unit that states the size exactly.
std::string ByteCountText(std::int64_t bytes);
// "30 s", or "0.5 s" for a time that is not whole seconds.
std::string SecondsText(std::chrono::milliseconds duration);
// "HTTP 404 Not Found"; the phrase is the server's, shown printable and short, or left out.
std::string HttpStatusText(int status, std::string_view phrase);
// Why a download is no page: "not an image", with the server's word for what it sent when it gave one.
std::string NotAnImageText(std::string_view contentType);
