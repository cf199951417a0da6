#include "app/job/EntryQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace {
TJobEvent PageEvent(int entry, int page) {
    TJobEvent e;
    e.Kind = TJobEventKind::Page;
    e.Page = std::make_unique<TMadePage>();
    e.Page->Stored.Frame = page;
    e.Page->Stored.SourceFormat = entry;
    return e;
}

TJobEvent SkipEvent(int entry) {
    TJobEvent e;
    e.Kind = TJobEventKind::Skipped;
    e.Skip.Frame = entry;
    return e;
}

// Workers that make pages[i] pages for entry i (and a skip for an entry without pages), each page
// taking a little time that varies by entry so that later entries often finish first.
void RunWorkers(TEntryQueue& queue, const std::vector<int>& pages, int workers,
                std::atomic<std::size_t>& aheadSeen, const std::atomic<std::size_t>& consuming,
                std::vector<std::jthread>& threads) {
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&queue, &pages, &aheadSeen, &consuming] {
            while (const std::optional<TQueueTask> task = queue.Take()) {
                const std::optional<std::size_t> i = task->Entry;
                const std::size_t ahead = *i - std::min(*i, consuming.load());
                std::size_t seen = aheadSeen.load();
                while (ahead > seen && !aheadSeen.compare_exchange_weak(seen, ahead)) {
                }
                const int n = pages[*i];
                bool go = true;
                if (n == 0) go = queue.Push(*i, SkipEvent(int(*i)));
                for (int p = 0; go && p < n; ++p) {
                    std::this_thread::sleep_for(std::chrono::microseconds(50 * ((*i * 7 + p) % 5)));
                    go = queue.Push(*i, PageEvent(int(*i), p));
                }
                if (go) queue.Push(*i, TJobEvent{});
                queue.EntryMade(*i);
            }
        });
}

struct OrderCase {
    const char* Name;
    std::vector<int> Pages;
    int Workers;
    TEntryQueueLimits Limits;
};

class EntryQueueOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(EntryQueueOrder, ConsumerSeesEveryEventInListOrderWithinTheBounds) {
    const OrderCase& c = GetParam();
    TEntryQueue queue(c.Pages.size(), c.Limits);
    std::atomic<std::size_t> aheadSeen{0}, consuming{0};
    std::vector<std::pair<int, int>> seen;
    {
        std::vector<std::jthread> threads;
        RunWorkers(queue, c.Pages, c.Workers, aheadSeen, consuming, threads);
        for (std::size_t i = 0; i < c.Pages.size(); ++i) {
            while (std::optional<TJobEvent> e = queue.Next(i)) {
                if (e->Kind == TJobEventKind::EntryDone) break;
                if (e->Kind == TJobEventKind::Page) {
                    seen.emplace_back(e->Page->Stored.SourceFormat, e->Page->Stored.Frame);
                    // A slow document: the workers must wait for it, not pile pages up.
                    if (i % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
                } else {
                    seen.emplace_back(e->Skip.Frame, -1);
                }
            }
            queue.Finish(i);
            consuming = i + 1;
        }
    }
    std::vector<std::pair<int, int>> expected;
    for (std::size_t i = 0; i < c.Pages.size(); ++i) {
        if (c.Pages[i] == 0) expected.emplace_back(int(i), -1);
        for (int p = 0; p < c.Pages[i]; ++p) expected.emplace_back(int(i), p);
    }
    EXPECT_EQ(seen, expected);
    EXPECT_LE(queue.PeakPagesWaiting(), c.Limits.PagesWaiting + c.Limits.PagesPerEntry);
    EXPECT_LE(aheadSeen.load(), c.Limits.EntriesAhead);
}

const OrderCase kOrderCases[] = {
    {"OneWorker", {1, 2, 0, 3}, 1, {2, 4, 4}},
    {"SinglePages", std::vector<int>(40, 1), 4, {2, 8, 8}},
    {"LongFileFirst", {30, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 3, {2, 6, 6}},
    {"MixedWithEmptyEntries", {0, 5, 0, 0, 2, 9, 1, 0, 4, 3, 0, 1}, 4, {2, 8, 8}},
    {"TightestLimits", {3, 3, 3, 3, 3, 3}, 4, {1, 1, 1}},
    {"MoreWorkersThanEntries", {2, 1}, 6, {2, 12, 12}},
    {"NoEntries", {}, 2, {2, 4, 4}},
};

INSTANTIATE_TEST_SUITE_P(Lists, EntryQueueOrder, ::testing::ValuesIn(kOrderCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(EntryQueue, CancelWakesWaitingWorkersAndDropsTheirPages) {
    // Two entries of many pages, a consumer that takes one page and gives up: every worker is
    // blocked on a full window until the cancel, which must let them all finish.
    const std::vector<int> pages = {50, 50, 50, 50};
    TEntryQueue queue(pages.size(), {1, 2, 2});
    std::atomic<std::size_t> aheadSeen{0}, consuming{0};
    {
        std::vector<std::jthread> threads;
        RunWorkers(queue, pages, 3, aheadSeen, consuming, threads);
        std::optional<TJobEvent> first = queue.Next(0);
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(first->Kind, TJobEventKind::Page);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.Cancel();
    } // joins: a worker still waiting would hang here
    EXPECT_FALSE(queue.Next(0).has_value());
    EXPECT_FALSE(queue.Take().has_value());
    EXPECT_FALSE(queue.Push(1, PageEvent(1, 0)));
    EXPECT_LE(queue.PeakPagesWaiting(), 3u);
}

// Entries whose frames are shared out: frames[i] > 0 makes entry i offer that many frames, each made
// as a task of its own; the consumer reads them frame by frame. Whatever worker makes what, the
// pages come out in list and frame order, within the bounds, and nothing hangs.
struct SharedCase {
    const char* Name;
    std::vector<int> Frames; // 0: a single page made by the entry's own task
    int Workers;
    TEntryQueueLimits Limits;
};

class EntryQueueShared : public ::testing::TestWithParam<SharedCase> {};

TEST_P(EntryQueueShared, FramesOfOneEntryComeOutInOrderWhicheverWorkerMadeThem) {
    const SharedCase& c = GetParam();
    TEntryQueue queue(c.Frames.size(), c.Limits);
    std::vector<std::pair<int, int>> seen;
    std::atomic<int> frameTasks{0};
    {
        std::vector<std::jthread> threads;
        for (int w = 0; w < c.Workers; ++w)
            threads.emplace_back([&] {
                while (const std::optional<TQueueTask> task = queue.Take()) {
                    const std::size_t i = task->Entry;
                    if (task->Frame != TQueueTask::kWholeEntry) {
                        ++frameTasks;
                        EXPECT_EQ(task->Frames, c.Frames[i]);
                        // Later frames are often quicker, so they wait on earlier ones.
                        std::this_thread::sleep_for(std::chrono::microseconds(40 * (4 - task->Frame % 4)));
                        if (queue.Push(*task, PageEvent(int(i), task->Frame))) {
                            TJobEvent done;
                            done.Kind = TJobEventKind::FrameDone;
                            queue.Push(*task, std::move(done));
                        }
                        continue;
                    }
                    bool go = true;
                    if (c.Frames[i] > 0) {
                        TJobEvent shared;
                        shared.Kind = TJobEventKind::FramesShared;
                        shared.Frames = c.Frames[i];
                        go = queue.Push(i, std::move(shared));
                        if (go) queue.ShareFrames(i, c.Frames[i]);
                    } else {
                        go = queue.Push(i, PageEvent(int(i), -1));
                    }
                    if (go) queue.Push(i, TJobEvent{});
                    queue.EntryMade(i);
                }
            });
        for (std::size_t i = 0; i < c.Frames.size(); ++i) {
            while (std::optional<TJobEvent> e = queue.Next(i)) {
                if (e->Kind == TJobEventKind::EntryDone) break;
                if (e->Kind == TJobEventKind::Page) seen.emplace_back(int(i), e->Page->Stored.Frame);
                if (e->Kind != TJobEventKind::FramesShared) continue;
                for (int k = 0; k < e->Frames; ++k)
                    while (std::optional<TJobEvent> f = queue.Next(TQueueTask{i, k})) {
                        if (f->Kind == TJobEventKind::FrameDone) break;
                        seen.emplace_back(int(i), f->Page->Stored.Frame);
                    }
            }
            queue.Finish(i);
        }
    } // joins: a worker left waiting would hang here
    std::vector<std::pair<int, int>> expected;
    int frames = 0;
    for (std::size_t i = 0; i < c.Frames.size(); ++i) {
        if (c.Frames[i] == 0) expected.emplace_back(int(i), -1);
        for (int k = 0; k < c.Frames[i]; ++k) expected.emplace_back(int(i), k);
        frames += c.Frames[i];
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(frameTasks.load(), frames);
    EXPECT_LE(queue.PeakPagesWaiting(), c.Limits.PagesWaiting + c.Limits.PagesPerEntry);
}

const SharedCase kSharedCases[] = {
    {"OneWorkerMakesEveryFrame", {3, 0, 2}, 1, {2, 4, 4}}, {"LongFileLast", {0, 0, 0, 0, 8}, 2, {2, 4, 4}},
    {"LongFilesBackToBack", {12, 9, 0, 7}, 3, {2, 6, 6}},  {"TightestLimits", {5, 0, 5, 5}, 4, {1, 1, 1}},
    {"ManyWorkersFewFrames", {2, 2}, 8, {2, 16, 16}},
};

INSTANTIATE_TEST_SUITE_P(Lists, EntryQueueShared, ::testing::ValuesIn(kSharedCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(EntryQueue, WorkersWaitForFramesAnEntryBeingMadeMayStillShare) {
    // The last entry is still being made when the other worker looks for work: that worker must not
    // leave, for the entry's frames are about to be shared.
    TEntryQueue queue(1, {2, 4, 4});
    const std::optional<TQueueTask> entry = queue.Take();
    ASSERT_TRUE(entry.has_value());
    std::optional<TQueueTask> helped;
    std::jthread helper([&] { helped = queue.Take(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.ShareFrames(0, 1);
    helper.join();
    ASSERT_TRUE(helped.has_value());
    EXPECT_EQ(helped->Frame, 0);
    queue.EntryMade(0);
    EXPECT_FALSE(queue.Take().has_value());
}

TEST(EntryQueue, AnEntryThatSharesNothingLetsIdleWorkersGoAtOnce) {
    // Its maker says so as it starts: the other worker leaves the queue (to help elsewhere) rather
    // than wait for the entry to be made.
    TEntryQueue queue(1, {2, 4, 4});
    ASSERT_TRUE(queue.Take().has_value());
    std::atomic<bool> left{false};
    std::jthread other([&] { left = !queue.Take().has_value(); });
    queue.ShareFrames(0, 0);
    other.join();
    EXPECT_TRUE(left);
}

} // namespace
