#include "platform/WriteFault.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace {
// Atomics: writes may come from any thread while a fault is set.
std::atomic<bool> gArmed{false};
std::atomic<TFileStreamKind> gKind{TFileStreamKind::Named};
std::atomic<std::int64_t> gBudget{0};
} // namespace

TScopedWriteFault::TScopedWriteFault(TFileStreamKind kind, std::int64_t bytesAllowed) {
    if (gArmed.load()) throw std::logic_error("a write fault is already set");
    gKind = kind;
    gBudget = std::max<std::int64_t>(0, bytesAllowed);
    gArmed = true;
}

TScopedWriteFault::~TScopedWriteFault() {
    gArmed = false;
}

std::int64_t TakeWriteAllowance(TFileStreamKind kind, std::int64_t count) {
    if (!gArmed.load(std::memory_order_relaxed) || gKind.load() != kind || count <= 0) return count;
    std::int64_t budget = gBudget.load();
    std::int64_t granted = 0;
    do {
        granted = std::min(budget, count);
    } while (!gBudget.compare_exchange_weak(budget, budget - granted));
    return granted;
}
