#include "pdf/PdfDigestingOutput.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <cstring>

TDigestingOutput::TDigestingOutput(TStream& output) : Output(output), Start(output.Position()) {}

std::int64_t TDigestingOutput::Write(const void* buffer, std::int64_t count) {
    if (count <= 0 || Failed) return 0;
    if (Gathered + std::size_t(count) > sizeof Gathering && !Flush()) return 0;
    if (std::size_t(count) < sizeof Gathering) {
        std::memcpy(Gathering + Gathered, buffer, std::size_t(count));
        Gathered += std::size_t(count);
    } else {
        const std::int64_t written = Output.Write(buffer, count);
        if (written > 0) Digest.Update(buffer, std::size_t(written));
        Failed = written < count;
        if (Failed) return std::max<std::int64_t>(written, 0);
    }
    Passed += count;
    return count;
}

std::int64_t TDigestingOutput::Seek(std::int64_t offset, TSeekOrigin origin) {
    if (offset == 0 && origin == TSeekOrigin::soCurrent) return Start + Passed;
    throw EWriteError("PDF text is written in one pass");
}

void TDigestingOutput::SetSize(std::int64_t) {
    throw EWriteError("PDF text cannot be resized");
}

TStream& TDigestingOutput::Bypass(const std::array<std::uint8_t, 16>& digest, std::int64_t count) {
    if (!Flush()) throw EWriteError(Output.WriteErrorText());
    Digest.Update(digest.data(), digest.size());
    Passed += count;
    return Output;
}

std::array<std::uint8_t, 16> TDigestingOutput::Finish() {
    if (!Flush()) throw EWriteError(Output.WriteErrorText());
    return Digest.Finish();
}

bool TDigestingOutput::Flush() {
    if (Failed) return false;
    if (Gathered == 0) return true;
    const std::int64_t written = Output.Write(Gathering, std::int64_t(Gathered));
    if (written > 0) Digest.Update(Gathering, std::size_t(written));
    Failed = written < std::int64_t(Gathered);
    Gathered = 0;
    return !Failed;
}
