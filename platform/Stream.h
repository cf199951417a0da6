#pragma once
// Byte streams: the abstract TStream with a file stream and a growable memory stream.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Writes up to count bytes; returns how many were accepted.
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Moves the position; returns the new position. Positions below 0 are clamped to 0.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual std::int64_t Size();
    virtual void SetSize(std::int64_t newSize) = 0;

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    // Bytes between the position and the end (never negative).
    std::int64_t Remaining();

    // Read or write exactly count bytes, or raise EReadError / EWriteError (with WriteErrorText).
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);
    // Why the last write fell short, for messages; streams that know more than "Stream write error"
    // (the file, the system's reason) say so.
    virtual std::string WriteErrorText() const;
    // Copies count bytes from source (all of it from its start when count is 0); returns bytes copied.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// File open modes: one access mode, optionally combined with a share mode (advisory on this platform).
enum TFileMode : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmCreate = 0xFF00, // create or truncate, read and write
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyNone = 0x0040,
};

// How CreateUnnamed makes its file.
enum class TUnnamedFileCreation {
    NeverNamed,    // a file that never has a name, where the file system offers one; else as below
    UnlinkedAtOnce // a uniquely named file whose name is removed right after it is created
};

class TFileStream : public TStream {
public:
    // Raises EFOpenError (path and the system's reason) when the file cannot be opened.
    TFileStream(const std::string& path, unsigned mode);
    ~TFileStream() override;

    // A new, empty read-write file in folder, mode 0600, that has no name once this returns: the system
    // frees it when the stream closes, also when the process is killed, so no exit path leaves it
    // behind. FileName() is the folder. Raises EFOpenError naming the folder.
    static std::unique_ptr<TFileStream>
    CreateUnnamed(const std::string& folder, TUnnamedFileCreation how = TUnnamedFileCreation::NeverNamed);

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;
    void SetSize(std::int64_t newSize) override;
    // "Cannot write <file>: <the system's reason>".
    std::string WriteErrorText() const override;

    // Gives the disk space of length bytes from offset back to the file system; they then read as
    // zeros and the size stays. False when the file system cannot.
    bool Discard(std::int64_t offset, std::int64_t length);
    // Copies count bytes of source, from offset on, to this file's position: within the system where
    // it can, so that the bytes never pass through this process. Returns the bytes written, fewer only
    // when this file took no more (WriteErrorText says why); EReadError when source holds fewer.
    std::int64_t CopyRangeFrom(TFileStream& source, std::int64_t offset, std::int64_t count);

    const std::string& FileName() const { return Path; }
    bool Unnamed() const { return FUnnamed; }
    int Handle() const { return Fd; }

private:
    TFileStream(int handle, std::string folder); // adopts an unnamed file
    // Writes what it can of count bytes, with no fault allowance taken.
    std::int64_t WriteAll(const std::uint8_t* bytes, std::int64_t count);

    std::string Path;
    int Fd = -1;
    bool FUnnamed = false;
    int LastWriteError = 0; // the system's error number of the last short write
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(Data.size()); }
    void SetSize(std::int64_t newSize) override;

    void Clear();
    const std::uint8_t* Memory() const { return Data.data(); }
    std::uint8_t* Memory() { return Data.data(); }
    const std::vector<std::uint8_t>& Bytes() const { return Data; }
    // Room for this many bytes before the storage moves; only what is written takes memory. Advice
    // only: room the system cannot give is not taken.
    void Reserve(std::int64_t bytes);
    // Hands the bytes over without copying them; the stream is left empty.
    std::vector<std::uint8_t> TakeBytes();
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);

private:
    // Before the stream grows to end inside reserved room, prepares the next stretch of that room at
    // once rather than page by page as it is first written.
    void PrepareRoom(std::size_t end);

    std::vector<std::uint8_t> Data;
    std::int64_t Pos = 0;
    const std::uint8_t* PreparedStorage = nullptr; // the storage Prepared counts in
    std::size_t Prepared = 0; // bytes from the storage's start that are ready to be written
};

// A read-only stream over bytes owned by someone else (fuzzers and tests read buffers through it).
// Reads another stream through a buffer, so that a reader's many small reads and short skips cost
// one read of that stream per 64 KiB rather than a system call each. The other stream is left at
// this one's position when it goes.
class TBufferedReader : public TStream {
public:
    explicit TBufferedReader(TStream& source);
    ~TBufferedReader() override;
    TBufferedReader(const TBufferedReader&) = delete;
    TBufferedReader& operator=(const TBufferedReader&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return FSize; }
    void SetSize(std::int64_t) override {}

private:
    static constexpr std::int64_t kBufferSize = 1 << 16;

    TStream& FSource;
    const std::int64_t FSize;
    std::int64_t FPos;
    std::unique_ptr<std::uint8_t[]> FBuffer;
    std::int64_t FBufferStart = 0; // where the buffered bytes lie in the source
    std::int64_t FBuffered = 0;
};

class TReadOnlyMemoryStream : public TStream {
public:
    TReadOnlyMemoryStream(const void* data, std::int64_t size)
        : Base(static_cast<const std::uint8_t*>(data)), Length(size) {}
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void*, std::int64_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return Length; }
    void SetSize(std::int64_t) override {}

private:
    const std::uint8_t* Base;
    std::int64_t Length;
    std::int64_t Pos = 0;
};
