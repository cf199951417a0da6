#pragma once
#include <cstdint>

// Physical memory the kernel reports as available (MemAvailable), in bytes, but never more than the
// limit below; 0 when unknown and no limit is set.
std::uint64_t AvailablePhysicalMemory();

// A ceiling for any single image block, in memory or in a temporary file; 0 (the default) means
// none. Hosts with a tighter budget than the machine (a fuzzer, a service) set it once at start.
void SetMemoryLimit(std::uint64_t bytes);
std::uint64_t MemoryLimit();
