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
            while (const std::optional<std::size_t> i = queue.Take()) {
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

} // namespace
