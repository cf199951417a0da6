#pragma once
// Object text on its way to a file: short pieces gathered into few writes, every byte digested, and
// positions counted here rather than asked of the file.
#include "pdf/PdfMd5.h"
#include "platform/Stream.h"

#include <array>
#include <cstddef>
#include <cstdint>

class TDigestingOutput : public TStream {
public:
    // Passes bytes on to output, from its present position.
    explicit TDigestingOutput(TStream& output);
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    // Tells the position only: the text is written in one pass.
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return Start + Passed; }
    void SetSize(std::int64_t) override;
    // A short write is the output's: its file and the system's reason make the message.
    std::string WriteErrorText() const override { return Output.WriteErrorText(); }

    // For count bytes the caller writes to the output itself, right away: digest stands in for them.
    // Returns the output, with everything gathered before passed on (EWriteError when it fell short).
    TStream& Bypass(const std::array<std::uint8_t, 16>& digest, std::int64_t count);
    // Passes on everything gathered; the digest of all that was passed. Spent afterwards.
    std::array<std::uint8_t, 16> Finish();

private:
    bool Flush();

    TStream& Output;
    const std::int64_t Start;
    std::int64_t Passed = 0; // bytes accepted, gathered ones included
    std::uint8_t Gathering[16384];
    std::size_t Gathered = 0;
    bool Failed = false;
    TMd5 Digest;
};
