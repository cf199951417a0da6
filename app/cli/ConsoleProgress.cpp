#include "app/cli/ConsoleProgress.h"

#include "platform/FileSystem.h"
#include "platform/net/WebAddress.h"

#include <algorithm>

namespace {
constexpr int kBarWidth = 30;
constexpr std::size_t kNameBytes = 40;
constexpr char kClearLine[] = "\r\033[K";
} // namespace

void TPageCount::EntryStarted() {
    ++Current;
    DoneBeforeEntry = Done;
    Expected = 1;
}

void TPageCount::FramesCounted(int frames) {
    Expected = std::max(frames, 0);
}

void TPageCount::PageAdded(int pagesDone) {
    Done = pagesDone;
}

int TPageCount::PagesKnown() const {
    if (Current == 0) return Entries;
    const int current = std::max(Expected, Done - DoneBeforeEntry);
    return DoneBeforeEntry + current + std::max(Entries - Current, 0);
}

double TPageCount::Fraction() const {
    if (Entries <= 0 || Current == 0) return 0;
    const int inEntry = Done - DoneBeforeEntry;
    const double part = Expected > 0 ? std::min(1.0, double(inEntry) / Expected) : 0;
    return std::min(1.0, (Current - 1 + part) / Entries);
}

std::string TruncateUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

TConsoleProgress::TConsoleProgress(std::FILE* stream, bool enabled, bool terminal, int entries)
    : Stream(stream), Enabled(enabled), Terminal(enabled && terminal), Pages(entries) {}

void TConsoleProgress::EntryStarted(const std::string& path) {
    Pages.EntryStarted();
    Current = IsWebAddress(path) ? WebAddressDisplayName(path) : ExtractFileName(path);
    if (Enabled && !Terminal)
        std::fprintf(Stream, "converting %s (file %d of %d)\n", path.c_str(), Pages.Entry(),
                     Pages.EntryCount());
    Draw();
}

void TConsoleProgress::FramesCounted(int frames) {
    Pages.FramesCounted(frames);
    Draw();
}

void TConsoleProgress::PageAdded(int pagesDone) {
    Pages.PageAdded(pagesDone);
    Draw();
}

void TConsoleProgress::Note(const std::string& text) {
    Clear();
    std::fprintf(Stream, "folianto-convert: %s\n", text.c_str());
    Draw();
}

void TConsoleProgress::Finish() {
    Clear();
    Terminal = false;
}

void TConsoleProgress::Clear() {
    if (Drawn) std::fputs(kClearLine, Stream);
    Drawn = false;
}

void TConsoleProgress::Draw() {
    if (!Terminal) return;
    const int filled = static_cast<int>(Pages.Fraction() * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(Stream, "%s[%s] %d of %d pages  %d/%d %s", kClearLine, bar.c_str(), Pages.PagesDone(),
                 Pages.PagesKnown(), Pages.Entry(), Pages.EntryCount(),
                 TruncateUtf8(Current, kNameBytes).c_str());
    std::fflush(Stream);
    Drawn = true;
}
