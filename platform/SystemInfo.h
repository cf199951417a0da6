#pragma once
#include <cstdint>

// Physical memory the kernel reports as available (MemAvailable), in bytes; 0 when unknown.
std::uint64_t AvailablePhysicalMemory();
