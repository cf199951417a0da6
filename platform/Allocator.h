#pragma once
// How the process's heap treats page-sized pixel blocks.

// Pixel blocks up to a few hundred megabytes come from the heap and stay there once freed, so the
// next page's bitmap reuses memory already mapped instead of faulting in fresh pages for every image
// (page faults cost more than the decoding on virtual machines). Memory stays bounded by the
// largest pages in flight. Call once, at the start of main, before any thread starts.
void KeepPixelBlocksForReuse();
