#include "app/job/EntryQueue.h"

#include <algorithm>

TEntryQueue::TEntryQueue(std::size_t entries, TEntryQueueLimits limits)
    : FEntries(entries), FLimits{std::max<std::size_t>(limits.PagesPerEntry, 1),
                                 std::max<std::size_t>(limits.PagesWaiting, 1),
                                 std::max<std::size_t>(limits.EntriesAhead, 1)} {}

std::optional<std::size_t> TEntryQueue::Take() {
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [&] { return FCancelled || FNextToTake < FConsuming + FLimits.EntriesAhead; });
    if (FCancelled || FNextToTake >= FEntries) return std::nullopt;
    return FNextToTake++;
}

// The consumer's own entry only waits for the consumer to take its pages; an entry after it also
// waits while the pages of all entries fill the window, so the consumer's entry always moves on.
bool TEntryQueue::RoomFor(std::size_t entry) const {
    const auto it = FPages.find(entry);
    const std::size_t own = it == FPages.end() ? 0 : it->second;
    if (own >= FLimits.PagesPerEntry) return false;
    return entry == FConsuming || FPagesWaiting < FLimits.PagesWaiting;
}

bool TEntryQueue::Push(std::size_t entry, TJobEvent event) {
    std::unique_lock lock(FLock);
    const bool page = event.Kind == TJobEventKind::Page;
    if (page) FChanged.wait(lock, [&] { return FCancelled || RoomFor(entry); });
    if (FCancelled) return false;
    if (page) {
        ++FPages[entry];
        ++FPagesWaiting;
        FPeakPagesWaiting = std::max(FPeakPagesWaiting, FPagesWaiting);
    }
    FEvents[entry].push_back(std::move(event));
    FChanged.notify_all();
    return true;
}

std::optional<TJobEvent> TEntryQueue::Next(std::size_t entry) {
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [&] {
        if (FCancelled) return true;
        const auto it = FEvents.find(entry);
        return it != FEvents.end() && !it->second.empty();
    });
    if (FCancelled) return std::nullopt;
    std::deque<TJobEvent>& events = FEvents[entry];
    TJobEvent event = std::move(events.front());
    events.pop_front();
    if (event.Kind == TJobEventKind::Page) {
        if (--FPages[entry] == 0) FPages.erase(entry);
        --FPagesWaiting;
        FChanged.notify_all();
    }
    return event;
}

void TEntryQueue::Finish(std::size_t entry) {
    const std::lock_guard lock(FLock);
    if (const auto it = FEvents.find(entry); it != FEvents.end()) {
        for (const TJobEvent& e : it->second)
            if (e.Kind == TJobEventKind::Page) --FPagesWaiting;
        FEvents.erase(it);
    }
    FPages.erase(entry);
    FConsuming = std::max(FConsuming, entry + 1);
    FChanged.notify_all();
}

void TEntryQueue::Cancel() {
    const std::lock_guard lock(FLock);
    FCancelled = true;
    FEvents.clear();
    FPages.clear();
    FPagesWaiting = 0;
    FChanged.notify_all();
}

std::size_t TEntryQueue::PeakPagesWaiting() const {
    const std::lock_guard lock(FLock);
    return FPeakPagesWaiting;
}
