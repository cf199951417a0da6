#pragma once
// Hands the entries of a list to worker threads and their events back to one consumer, entry by
// entry in list order. Memory stays bounded: a worker waits before it holds more than a few pages
// the consumer has not taken, and before it runs far ahead of the entry being consumed.
#include "app/job/JobEvents.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

struct TEntryQueueLimits {
    std::size_t PagesPerEntry = 2; // pages of one entry waiting to be taken
    std::size_t PagesWaiting = 4;  // pages of all entries after the consumer's one
    std::size_t EntriesAhead = 4;  // entries handed out beyond the consumer's one
};

class TEntryQueue {
public:
    TEntryQueue(std::size_t entries, TEntryQueueLimits limits);

    // Workers. The next entry to make, in list order; none when every entry is handed out or the
    // queue was cancelled.
    std::optional<std::size_t> Take();
    // Adds an event of the entry; a page waits for room. False, with the event dropped, once the
    // queue is cancelled.
    bool Push(std::size_t entry, TJobEvent event);

    // The consumer. The entry's next event, waiting for it; none once the queue is cancelled.
    std::optional<TJobEvent> Next(std::size_t entry);
    // The consumer is done with the entry (its EntryDone taken, or given up): the next one becomes
    // the consumer's.
    void Finish(std::size_t entry);
    // Wakes every waiter; from now on nothing is handed out and events are dropped.
    void Cancel();

    // The most pages that were waiting at one time (for tests of the bound).
    std::size_t PeakPagesWaiting() const;

private:
    bool RoomFor(std::size_t entry) const;

    const std::size_t FEntries;
    const TEntryQueueLimits FLimits;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::map<std::size_t, std::deque<TJobEvent>> FEvents;
    std::map<std::size_t, std::size_t> FPages; // pages waiting, by entry
    std::size_t FPagesWaiting = 0;
    std::size_t FPeakPagesWaiting = 0;
    std::size_t FNextToTake = 0;
    std::size_t FConsuming = 0;
    bool FCancelled = false;
};
