#include "platform/FileView.h"

#include <sys/mman.h>
#include <unistd.h>

TFileView::TFileView(int handle, std::int64_t offset, std::int64_t length) {
    const long page = ::sysconf(_SC_PAGESIZE);
    if (handle < 0 || offset < 0 || length <= 0 || page <= 0) return;
    // A mapping starts on a page boundary; the view starts where asked within it.
    const std::int64_t lead = offset % page;
    if (length > INT64_MAX - lead) return;
    const std::uint64_t mapped = static_cast<std::uint64_t>(length + lead);
    if (mapped > SIZE_MAX) return;
    // All pages at once: one call instead of a fault for every page read.
    void* m = ::mmap(nullptr, static_cast<std::size_t>(mapped), PROT_READ, MAP_SHARED | MAP_POPULATE, handle,
                     static_cast<off_t>(offset - lead));
    if (m == MAP_FAILED) return;
    FMapping = m;
    FMappedLength = mapped;
    FData = static_cast<const std::uint8_t*>(m) + lead;
}

TFileView::~TFileView() {
    if (FMapping) ::munmap(FMapping, static_cast<std::size_t>(FMappedLength));
}
