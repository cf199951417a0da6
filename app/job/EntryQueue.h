#pragma once
// Hands the entries of a list to worker threads and their events back to one consumer, entry by
// entry in list order. The frames of an entry may be shared out too, each a task of its own, whose
// events the consumer reads frame by frame. Memory stays bounded: a worker waits before it holds more
// than a few pages the consumer has not taken, and before it runs far ahead of the entry being
// consumed.
#include "app/job/JobEvents.h"

#include <compare>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>

struct TEntryQueueLimits {
    std::size_t PagesPerEntry = 2; // pages of one task waiting to be taken
    std::size_t PagesWaiting = 4;  // pages of all tasks after the consumer's one
    std::size_t EntriesAhead = 4;  // entries handed out beyond the consumer's one
};

// A piece of work and the stream of its events: a whole entry, or one shared frame of it.
struct TQueueTask {
    static constexpr int kWholeEntry = -1;
    std::size_t Entry = 0;
    int Frame = kWholeEntry;
    int Frames = 0; // for a frame: how many the entry holds
    // A task is named by its entry and frame.
    auto operator<=>(const TQueueTask& o) const {
        if (const auto c = Entry <=> o.Entry; c != 0) return c;
        return Frame <=> o.Frame;
    }
    bool operator==(const TQueueTask& o) const { return Entry == o.Entry && Frame == o.Frame; }
};

class TEntryQueue {
public:
    TEntryQueue(std::size_t entries, TEntryQueueLimits limits);

    // Workers. The next task: a shared frame of the earliest entry that has one left, else the next
    // entry in list order. None once nothing is left to hand out and no entry being made can still
    // share frames, or once the queue is cancelled.
    std::optional<TQueueTask> Take();
    // The maker of a whole entry offers its frames 0..frames-1 as tasks of their own (none: 0), and
    // shares nothing more of it.
    void ShareFrames(std::size_t entry, int frames);
    // The maker of a whole entry is done with it: it shares no frames from now on.
    void EntryMade(std::size_t entry);
    // Adds an event to the task's stream; a page waits for room. False, with the event dropped, once
    // the queue is cancelled or the consumer has left the entry.
    bool Push(TQueueTask task, TJobEvent event);
    bool Push(std::size_t entry, TJobEvent event) { return Push(TQueueTask{entry}, std::move(event)); }

    // The consumer. The task's next event, waiting for it; none once the queue is cancelled.
    std::optional<TJobEvent> Next(TQueueTask task);
    std::optional<TJobEvent> Next(std::size_t entry) { return Next(TQueueTask{entry}); }
    // The consumer is done with the entry and its frames (its EntryDone taken, or given up): the next
    // entry becomes the consumer's.
    void Finish(std::size_t entry);
    // Wakes every waiter; from now on nothing is handed out and events are dropped.
    void Cancel();

    // The most pages that were waiting at one time (for tests of the bound).
    std::size_t PeakPagesWaiting() const;

private:
    bool RoomFor(const TQueueTask& task) const;
    bool CanTake() const;

    const std::size_t FEntries;
    const TEntryQueueLimits FLimits;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::map<TQueueTask, std::deque<TJobEvent>> FEvents;
    std::map<TQueueTask, std::size_t> FPages; // pages waiting, by task
    // Frames offered and not yet handed out, by entry: a range, so that a file of many frames costs no
    // more than one of two.
    struct TFrameRange {
        int Next = 0;
        int Count = 0;
    };
    std::map<std::size_t, TFrameRange> FSharedFrames;
    std::set<std::size_t> FBeingMade; // entries handed out whose makers may still share
    TQueueTask FConsumerTask;         // the stream the consumer reads now
    std::size_t FPagesWaiting = 0;
    std::size_t FPeakPagesWaiting = 0;
    std::size_t FNextToTake = 0;
    std::size_t FConsuming = 0;
    bool FCancelled = false;
};
