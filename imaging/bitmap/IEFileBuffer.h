#pragma once
// TIEFileBuffer: the temporary file behind a file-backed bitmap, read and written through blocks that
// are mapped into fresh heap buffers and written back (when mapped for writing) on release.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TFileStream;

class TIEFileBuffer {
public:
    TIEFileBuffer();
    ~TIEFileBuffer();
    TIEFileBuffer(const TIEFileBuffer&) = delete;
    TIEFileBuffer& operator=(const TIEFileBuffer&) = delete;

    // Creates a new temporary file of size bytes (prefix "pictora", in TempDirectory or the system's
    // temporary folder, created when missing). Any failure gives false; an empty folder path raises
    // EPlatformException("Cannot Create Directory").
    bool CreateTempFile(std::int64_t size);
    // A fresh buffer of length bytes for the file range at offset, filled from the file when access holds
    // AccessRead (bytes beyond the file's end read as 0). nullptr when there is no file.
    std::uint8_t* MapBlock(std::uint8_t access, std::int64_t length, std::int64_t callerValue,
                           std::int64_t offset);
    // Writes the block back when it was mapped with AccessWrite, then frees it. Raises EWriteError when
    // the write fails (the block is freed either way).
    void UnmapBlock(std::uint8_t* buffer);
    void UnmapAll();
    // Copies count bytes at offset into destination's file (same offset); the whole file goes through the
    // system's file copy. Raises EWriteError when the copy fails.
    void CopyRange(TIEFileBuffer& destination, std::int64_t count, std::int64_t offset);
    // Frees every mapped block without writing it back, closes the file and deletes it.
    void CloseAndDelete();

    bool HasFile() const { return FStream != nullptr; }
    const std::string& FileName() const { return FFileName; }
    std::int64_t Size() const { return FSize; }

private:
    struct TMappedBlock {
        std::int64_t Offset = 0;
        std::int64_t Length = 0;
        std::int64_t CallerValue = 0;
        std::unique_ptr<std::uint8_t[]> Buffer;
        std::uint8_t Access = 0;
    };
    void WriteBack(const TMappedBlock& block);
    void Reopen();

    std::string FFileName;
    std::unique_ptr<TFileStream> FStream;
    std::int64_t FSize = 0;
    std::vector<TMappedBlock> FBlocks;
};
