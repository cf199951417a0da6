#pragma once
// How the process's heap treats page-sized pixel blocks.
#include <cstddef>

// Pixel blocks up to a few hundred megabytes come from the heap and stay there once freed, so the
// next page's bitmap reuses memory already mapped instead of faulting in fresh pages for every image
// (page faults cost more than the decoding on virtual machines). Memory stays bounded by the
// largest pages in flight. Call once, at the start of main, before any thread starts.
void KeepPixelBlocksForReuse();

// A zeroed block for pixels, or null when there is no memory; release it with std::free. A large
// block asks the system for huge pages, so that filling it takes a few hundred faults fewer per
// megabyte (each worker thread's first page pays for all of them otherwise).
void* AllocateZeroedPixels(std::size_t bytes);

// Maps the whole pages inside [block, block + bytes) at once, ahead of their first writes: on a virtual
// machine a fault for each fresh page costs over ten times as much as this. The contents stay as they
// are. Advice only: a system that cannot leaves the pages to be mapped as they are touched (false).
bool PrepareForWriting(void* block, std::size_t bytes);
