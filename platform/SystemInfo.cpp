#include "platform/SystemInfo.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace {
std::atomic<std::uint64_t> gMemoryLimit{0};

std::uint64_t KernelAvailableMemory() {
    std::FILE* f = std::fopen("/proc/meminfo", "r");
    if (!f) return 0;
    char line[256];
    std::uint64_t kib = 0;
    while (std::fgets(line, sizeof line, f)) {
        unsigned long long v = 0;
        if (std::sscanf(line, "MemAvailable: %llu kB", &v) == 1) {
            kib = v;
            break;
        }
    }
    std::fclose(f);
    return kib * 1024u;
}
} // namespace

std::uint64_t AvailablePhysicalMemory() {
    const std::uint64_t available = KernelAvailableMemory();
    const std::uint64_t limit = MemoryLimit();
    if (limit == 0) return available;
    return available == 0 ? limit : std::min(available, limit);
}

void SetMemoryLimit(std::uint64_t bytes) {
    gMemoryLimit.store(bytes, std::memory_order_relaxed);
}

std::uint64_t MemoryLimit() {
    return gMemoryLimit.load(std::memory_order_relaxed);
}
