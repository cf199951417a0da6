// Linked into every fuzz target: the fuzzer stops a run at 2 GiB of memory, while a few bytes of
// header may ask for a canvas of many gigabytes that a desktop machine would honestly try to hold.
// Capping each image block well below the fuzzer's ceiling turns those into the refusal a smaller
// machine gives (EOutOfMemory) and keeps the run on the code paths after it.
#include "platform/SystemInfo.h"

namespace {
constexpr unsigned long long kFuzzImageBlockLimit = 256ull << 20;

const bool gLimitSet = [] {
    SetMemoryLimit(kFuzzImageBlockLimit);
    return true;
}();
} // namespace
