#pragma once
// The pages a run's workers are making whose encoding another worker may take over: a worker with
// no entry left helps one rather than wait for the others to finish.
#include <mutex>
#include <vector>

class TDctPageSink;

class TPageHelpBoard {
public:
    // The maker's: from now until Withdraw, page may be helped. Withdraw before page goes.
    void Offer(TDctPageSink& page);
    void Withdraw(TDctPageSink& page);
    // Encodes rows of one offered page until they end; false when no page would take help.
    bool HelpOne();

private:
    std::mutex Lock;
    std::vector<TDctPageSink*> Offered;
};

// Offers a page for as long as it lives; a null board offers nothing.
class TOfferedPage {
public:
    TOfferedPage(TPageHelpBoard* board, TDctPageSink& page) : Board(board), Page(page) {
        if (Board) Board->Offer(Page);
    }
    ~TOfferedPage() {
        if (Board) Board->Withdraw(Page);
    }
    TOfferedPage(const TOfferedPage&) = delete;
    TOfferedPage& operator=(const TOfferedPage&) = delete;

private:
    TPageHelpBoard* const Board;
    TDctPageSink& Page;
};
