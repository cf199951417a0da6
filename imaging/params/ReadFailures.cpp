#include "imaging/params/ReadFailures.h"

#include "imaging/params/ProgressRecord.h"
#include "platform/Exceptions.h"

#include <new>

namespace reasons {
std::string Unsupported(std::string_view what, long long value) {
    return "unsupported " + std::string(what) + " " + std::to_string(value);
}
} // namespace reasons

void FailFromException(TIEProgressRecord& Progress, const std::exception& e) {
    if (dynamic_cast<const EOutOfMemory*>(&e) || dynamic_cast<const std::bad_alloc*>(&e))
        Progress.Fail(reasons::kOutOfMemory);
    else if (dynamic_cast<const EReadError*>(&e))
        Progress.Fail(reasons::kUnreadable);
    else
        Progress.Abort();
}
