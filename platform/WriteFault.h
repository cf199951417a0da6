#pragma once
// A test seam: file-stream writes that fail as on a full disk, so that everything writing files can
// have its error paths tested without filling a real one.
#include <cstdint>

enum class TFileStreamKind {
    Named,  // files opened or created by path
    Unnamed // TFileStream::CreateUnnamed files
};

// While it lives, writes to file streams of that kind stop with "No space left on device" once
// bytesAllowed bytes in all have been written. One at a time, set up before the writing starts.
class TScopedWriteFault {
public:
    TScopedWriteFault(TFileStreamKind kind, std::int64_t bytesAllowed);
    ~TScopedWriteFault();
    TScopedWriteFault(const TScopedWriteFault&) = delete;
    TScopedWriteFault& operator=(const TScopedWriteFault&) = delete;
};

// How many of count bytes a file stream of this kind may write now (count without a fault); the
// allowance is taken from the fault's budget.
std::int64_t TakeWriteAllowance(TFileStreamKind kind, std::int64_t count);
