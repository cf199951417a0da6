#include "app/job/PageHelpBoard.h"

#include "pdf/PdfDctPageSink.h"

#include <algorithm>

void TPageHelpBoard::Offer(TDctPageSink& page) {
    const std::lock_guard<std::mutex> hold(Lock);
    Offered.push_back(&page);
}

void TPageHelpBoard::Withdraw(TDctPageSink& page) {
    const std::lock_guard<std::mutex> hold(Lock);
    std::erase(Offered, &page);
}

bool TPageHelpBoard::HelpOne() {
    TDctPageSink* chosen = nullptr;
    {
        // A page that said yes waits for its helper before it goes, so it outlives its withdrawal.
        const std::lock_guard<std::mutex> hold(Lock);
        const auto it = std::find_if(Offered.begin(), Offered.end(),
                                     [](TDctPageSink* page) { return page->AskForHelp(); });
        if (it == Offered.end()) return false;
        chosen = *it;
        Offered.erase(it);
    }
    chosen->Help();
    return true;
}
