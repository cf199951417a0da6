#include "platform/net/HttpTexts.h"

#include <cstdio>

namespace {
constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;
constexpr std::int64_t kGiB = 1024 * kMiB;
constexpr std::size_t kPhraseLength = 60;
} // namespace

std::string ByteCountText(std::int64_t bytes) {
    if (bytes > 0 && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
    if (bytes > 0 && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    if (bytes > 0 && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string SecondsText(std::chrono::milliseconds duration) {
    const auto ms = duration.count();
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms) / 1000.0);
    return text;
}

std::string NotAnImageText(std::string_view contentType) {
    return contentType.empty() ? "not an image"
                               : "not an image (the server sent " + std::string(contentType) + ")";
}

std::string HttpStatusText(int status, std::string_view phrase) {
    const std::string shown = PrintableText(phrase, kPhraseLength);
    return "HTTP " + std::to_string(status) + (shown.empty() ? "" : " " + shown);
}
