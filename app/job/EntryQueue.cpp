#include "app/job/EntryQueue.h"

#include <algorithm>

TEntryQueue::TEntryQueue(std::size_t entries, TEntryQueueLimits limits)
    : FEntries(entries), FLimits{std::max<std::size_t>(limits.PagesPerEntry, 1),
                                 std::max<std::size_t>(limits.PagesWaiting, 1),
                                 std::max<std::size_t>(limits.EntriesAhead, 1)} {}

// A worker may go: a frame waits, or an entry may be handed out, or nothing more can ever come.
bool TEntryQueue::CanTake() const {
    if (FCancelled || !FSharedFrames.empty()) return true;
    if (FNextToTake < FEntries) return FNextToTake < FConsuming + FLimits.EntriesAhead;
    return FBeingMade.empty();
}

std::optional<TQueueTask> TEntryQueue::Take() {
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [&] { return CanTake(); });
    if (FCancelled) return std::nullopt;
    // Frames first: they belong to an entry handed out earlier, which the consumer reaches sooner.
    if (!FSharedFrames.empty()) {
        const auto first = FSharedFrames.begin();
        TFrameRange& range = first->second;
        const TQueueTask frame{first->first, range.Next++, range.Count};
        if (range.Next >= range.Count) FSharedFrames.erase(first);
        return frame;
    }
    if (FNextToTake >= FEntries) return std::nullopt;
    FBeingMade.insert(FNextToTake);
    return TQueueTask{FNextToTake++};
}

void TEntryQueue::ShareFrames(std::size_t entry, int frames) {
    const std::lock_guard lock(FLock);
    FBeingMade.erase(entry); // nothing more to come from it
    if (!FCancelled && entry >= FConsuming && frames > 0) FSharedFrames[entry] = {0, frames};
    FChanged.notify_all();
}

void TEntryQueue::EntryMade(std::size_t entry) {
    const std::lock_guard lock(FLock);
    FBeingMade.erase(entry);
    FChanged.notify_all();
}

// The consumer's own task only waits for the consumer to take its pages; any other also waits while
// the pages of all tasks fill the window, so the consumer's task always moves on. Frames are handed
// out in order, so the frame the consumer reads is always being made or done.
bool TEntryQueue::RoomFor(const TQueueTask& task) const {
    const auto it = FPages.find(task);
    const std::size_t own = it == FPages.end() ? 0 : it->second;
    if (own >= FLimits.PagesPerEntry) return false;
    return task == FConsumerTask || FPagesWaiting < FLimits.PagesWaiting;
}

bool TEntryQueue::Push(TQueueTask task, TJobEvent event) {
    std::unique_lock lock(FLock);
    const bool page = event.Kind == TJobEventKind::Page;
    if (page) FChanged.wait(lock, [&] { return FCancelled || task.Entry < FConsuming || RoomFor(task); });
    if (FCancelled || task.Entry < FConsuming) return false;
    if (page) {
        ++FPages[task];
        ++FPagesWaiting;
        FPeakPagesWaiting = std::max(FPeakPagesWaiting, FPagesWaiting);
    }
    FEvents[task].push_back(std::move(event));
    FChanged.notify_all();
    return true;
}

std::optional<TJobEvent> TEntryQueue::Next(TQueueTask task) {
    std::unique_lock lock(FLock);
    if (FConsumerTask != task) {
        FConsumerTask = task;
        FChanged.notify_all(); // its maker may be waiting for room
    }
    FChanged.wait(lock, [&] {
        if (FCancelled) return true;
        const auto it = FEvents.find(task);
        return it != FEvents.end() && !it->second.empty();
    });
    if (FCancelled) return std::nullopt;
    std::deque<TJobEvent>& events = FEvents[task];
    TJobEvent event = std::move(events.front());
    events.pop_front();
    if (events.empty()) FEvents.erase(task);
    if (event.Kind == TJobEventKind::Page) {
        if (--FPages[task] == 0) FPages.erase(task);
        --FPagesWaiting;
        FChanged.notify_all();
    }
    return event;
}

void TEntryQueue::Finish(std::size_t entry) {
    const std::lock_guard lock(FLock);
    // The entry's own stream and its frames' streams sort together.
    const auto first = FEvents.lower_bound({entry, TQueueTask::kWholeEntry});
    auto last = first;
    for (; last != FEvents.end() && last->first.Entry == entry; ++last)
        for (const TJobEvent& e : last->second)
            if (e.Kind == TJobEventKind::Page) --FPagesWaiting;
    FEvents.erase(first, last);
    std::erase_if(FPages, [entry](const auto& p) { return p.first.Entry == entry; });
    // Frames nobody took are no longer wanted.
    FSharedFrames.erase(entry);
    FConsuming = std::max(FConsuming, entry + 1);
    FConsumerTask = {FConsuming};
    FChanged.notify_all();
}

void TEntryQueue::Cancel() {
    const std::lock_guard lock(FLock);
    FCancelled = true;
    FEvents.clear();
    FPages.clear();
    FSharedFrames.clear();
    FPagesWaiting = 0;
    FChanged.notify_all();
}

std::size_t TEntryQueue::PeakPagesWaiting() const {
    const std::lock_guard lock(FLock);
    return FPeakPagesWaiting;
}
