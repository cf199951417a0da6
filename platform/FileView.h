#pragma once
// A read-only view of part of an open file: large pieces are copied straight from the system's cache
// of the file, with no buffer to fill first.
#include <cstdint>

class TFileView {
public:
    // Views length bytes from offset of the open file handle. Data() is null when the system cannot
    // (the caller then reads the bytes instead) or length is not positive.
    TFileView(int handle, std::int64_t offset, std::int64_t length);
    ~TFileView();
    TFileView(const TFileView&) = delete;
    TFileView& operator=(const TFileView&) = delete;

    const std::uint8_t* Data() const { return FData; }

private:
    void* FMapping = nullptr;
    std::uint64_t FMappedLength = 0;
    const std::uint8_t* FData = nullptr;
};
