#include "imaging/params/ReadBudget.h"

bool StreamCanHold(std::int64_t Allocation, std::int64_t LeastData, std::int64_t Available) {
    if (Allocation < 0 || LeastData < 0) return false;
    if (Allocation <= kSmallImageBytes) return true;
    if (Available <= 0) return false;
    return LeastData / kCutFileShare <= Available;
}
