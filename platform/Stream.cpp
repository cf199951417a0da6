#include "platform/Stream.h"

#include "platform/Allocator.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/WriteFault.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

std::int64_t TStream::Size() {
    const std::int64_t pos = Position();
    const std::int64_t end = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return end;
}

std::int64_t TStream::Remaining() {
    return std::max<std::int64_t>(0, Size() - Position());
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError(WriteErrorText());
}

std::string TStream::WriteErrorText() const {
    return "Stream write error";
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 20)));
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t n = std::min<std::int64_t>(count - done, static_cast<std::int64_t>(chunk.size()));
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        done += n;
    }
    return done;
}

// ---- TBufferedReader

TBufferedReader::TBufferedReader(TStream& source)
    : FSource(source), FSize(source.Size()), FPos(source.Position()),
      FBuffer(std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize)) {}

TBufferedReader::~TBufferedReader() {
    try {
        FSource.SetPosition(FPos);
    } catch (const std::exception&) {
        // Nothing more may be read then anyway.
    }
}

std::int64_t TBufferedReader::Read(void* buffer, std::int64_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        if (FPos >= FBufferStart && FPos < FBufferStart + FBuffered) {
            const std::int64_t n = std::min(count - done, FBufferStart + FBuffered - FPos);
            std::memcpy(out + done, FBuffer.get() + (FPos - FBufferStart), static_cast<std::size_t>(n));
            FPos += n;
            done += n;
            continue;
        }
        if (FPos >= FSize) break;
        FSource.SetPosition(FPos);
        if (count - done >= kBufferSize) {
            // A large read goes straight to the caller.
            const std::int64_t got = FSource.Read(out + done, count - done);
            if (got <= 0) break;
            FPos += got;
            done += got;
            continue;
        }
        FBufferStart = FPos;
        FBuffered = std::max<std::int64_t>(FSource.Read(FBuffer.get(), kBufferSize), 0);
        if (FBuffered == 0) break;
    }
    return done;
}

std::int64_t TBufferedReader::Seek(std::int64_t offset, TSeekOrigin origin) {
    const std::int64_t from = origin == TSeekOrigin::soBeginning ? 0
                              : origin == TSeekOrigin::soCurrent ? FPos
                                                                 : FSize;
    // Offsets come from files: kept from overflowing, and clamped at the start.
    if (offset > 0 && from > std::numeric_limits<std::int64_t>::max() - offset)
        FPos = std::numeric_limits<std::int64_t>::max();
    else
        FPos = std::max<std::int64_t>(0, from + offset);
    return FPos;
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& path, unsigned mode) : Path(path) {
    int flags = O_CLOEXEC;
    if ((mode & 0xFF00u) == fmCreate) {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        switch (mode & 0x3u) {
        case fmOpenWrite:
            flags |= O_WRONLY;
            break;
        case fmOpenReadWrite:
            flags |= O_RDWR;
            break;
        default:
            flags |= O_RDONLY;
            break;
        }
    }
    Fd = ::open(path.c_str(), flags, 0666);
    if (Fd < 0) throw EFOpenError(path, std::strerror(errno));
    struct stat st {};
    if (::fstat(Fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(Fd);
        Fd = -1;
        throw EFOpenError(path, std::strerror(EISDIR));
    }
}

TFileStream::TFileStream(int handle, std::string folder)
    : Path(std::move(folder)), Fd(handle), FUnnamed(true) {}

std::unique_ptr<TFileStream> TFileStream::CreateUnnamed(const std::string& folder, TUnnamedFileCreation how) {
    const std::string dir = folder.empty() ? std::string(".") : ExcludeTrailingPathDelimiter(folder);
    int fd = -1;
    if (how == TUnnamedFileCreation::NeverNamed)
        fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    int error = 0;
    // Some file systems offer no nameless files: then the name lives only between these two calls.
    if (fd < 0) {
        std::string templ = IncludeTrailingPathDelimiter(dir) + ".spool-XXXXXX";
        fd = ::mkostemp(templ.data(), O_CLOEXEC); // mode 0600
        error = errno;
        if (fd >= 0 && ::unlink(templ.c_str()) != 0) {
            error = errno;
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) throw EFOpenError(dir, std::strerror(error));
    return std::unique_ptr<TFileStream>(new TFileStream(fd, dir));
}

TFileStream::~TFileStream() {
    if (Fd >= 0) ::close(Fd);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::read(Fd, out + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    const std::int64_t allowed =
        TakeWriteAllowance(FUnnamed ? TFileStreamKind::Unnamed : TFileStreamKind::Named, count);
    const std::int64_t done = WriteAll(static_cast<const std::uint8_t*>(buffer), allowed);
    if (done == allowed && allowed < count) LastWriteError = ENOSPC;
    return done;
}

std::int64_t TFileStream::WriteAll(const std::uint8_t* bytes, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(Fd, bytes + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            LastWriteError = n < 0 ? errno : ENOSPC; // a regular file takes nothing only when full
            break;
        }
        done += n;
    }
    return done;
}

namespace {
// The errors of a copy the system cannot make between these two files; the bytes then go through a
// buffer.
bool CopyNotOffered(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}
} // namespace

std::int64_t TFileStream::CopyRangeFrom(TFileStream& source, std::int64_t offset, std::int64_t count) {
    // One call moves at most this much, so a fault allowance and a full disk stop it near the limit.
    constexpr std::int64_t kStep = 1 << 20;
    constexpr std::int64_t kBufferSize = 1 << 16;
    const std::int64_t allowed =
        TakeWriteAllowance(FUnnamed ? TFileStreamKind::Unnamed : TFileStreamKind::Named, count);
    std::unique_ptr<std::uint8_t[]> buffer; // once the system declines
    std::int64_t done = 0;
    while (done < allowed) {
        if (!buffer) {
            loff_t from = static_cast<loff_t>(offset + done);
            const ssize_t n = ::copy_file_range(source.Fd, &from, Fd, nullptr,
                                                static_cast<std::size_t>(std::min(allowed - done, kStep)), 0);
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && !CopyNotOffered(errno)) {
                LastWriteError = errno;
                return done;
            }
            // Declined, or nothing copied (some file systems say so rather than decline): the
            // buffer's reads tell a source that really ends.
            buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize);
        }
        const std::int64_t want = std::min(allowed - done, kBufferSize);
        const ssize_t n = ::pread(source.Fd, buffer.get(), static_cast<std::size_t>(want),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EReadError("Stream read error");
        const std::int64_t written = WriteAll(buffer.get(), n);
        done += written;
        if (written < n) return done;
    }
    if (allowed < count) LastWriteError = ENOSPC;
    return done;
}

std::string TFileStream::WriteErrorText() const {
    const char* reason = std::strerror(LastWriteError != 0 ? LastWriteError : EIO);
    if (FUnnamed) return "Cannot write the temporary file in \"" + Path + "\": " + reason;
    return "Cannot write \"" + Path + "\": " + reason;
}

bool TFileStream::Discard(std::int64_t offset, std::int64_t length) {
    if (offset < 0 || length <= 0) return length == 0;
    return ::fallocate(Fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                       static_cast<off_t>(length)) == 0;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    off_t r = ::lseek(Fd, static_cast<off_t>(offset), whence);
    if (r < 0) r = ::lseek(Fd, 0, SEEK_SET); // a position before the start clamps to 0
    return static_cast<std::int64_t>(r);
}

std::int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(Fd, &st) != 0) return 0;
    return static_cast<std::int64_t>(st.st_size);
}

void TFileStream::SetSize(std::int64_t newSize) {
    if (::ftruncate(Fd, static_cast<off_t>(newSize)) != 0)
        throw EWriteError("Cannot set the size of \"" + Path + "\": " + std::strerror(errno));
}

// ---- TMemoryStream

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    const std::int64_t size = Size();
    if (count <= 0 || Pos >= size) return 0;
    const std::int64_t n = std::min(count, size - Pos);
    std::memcpy(buffer, Data.data() + Pos, static_cast<std::size_t>(n));
    Pos += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0) return 0;
    const std::int64_t end = Pos + count;
    if (end > Size()) {
        PrepareRoom(static_cast<std::size_t>(end));
        Data.resize(static_cast<std::size_t>(end));
    }
    std::memcpy(Data.data() + Pos, buffer, static_cast<std::size_t>(count));
    Pos = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                        : origin == TSeekOrigin::soCurrent ? Pos
                                                           : Size();
    Pos = std::max<std::int64_t>(0, base + offset);
    return Pos;
}

void TMemoryStream::SetSize(std::int64_t newSize) {
    Data.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, newSize)));
    Pos = std::min(Pos, Size());
}

void TMemoryStream::PrepareRoom(std::size_t end) {
    // Smaller rooms are not worth a call; room that is outgrown moves, and its new storage is
    // filled by the copy anyway.
    constexpr std::size_t kStep = std::size_t(512) << 10;
    const std::size_t capacity = Data.capacity();
    if (capacity < 2 * kStep || end > capacity) return;
    if (Data.data() != PreparedStorage) {
        PreparedStorage = Data.data();
        Prepared = Data.size();
    }
    if (end <= Prepared) return;
    const std::size_t to = std::min(capacity, (end + kStep - 1) / kStep * kStep);
    PrepareForWriting(Data.data() + Prepared, to - Prepared);
    Prepared = to;
}

void TMemoryStream::Clear() {
    Data.clear();
    Data.shrink_to_fit();
    Pos = 0;
    PreparedStorage = nullptr;
}

void TMemoryStream::Reserve(std::int64_t bytes) {
    if (bytes <= 0 || static_cast<std::uint64_t>(bytes) > Data.max_size()) return;
    try {
        Data.reserve(static_cast<std::size_t>(bytes));
    } catch (const std::bad_alloc&) {
        // Only advice: without the room the stream grows as it is written.
    }
}

std::vector<std::uint8_t> TMemoryStream::TakeBytes() {
    Pos = 0;
    PreparedStorage = nullptr; // new storage may come at the same address
    return std::exchange(Data, {});
}

void TMemoryStream::LoadFromFile(const std::string& path) {
    TFileStream f(path, fmOpenRead | fmShareDenyWrite);
    const std::int64_t size = f.Size();
    Data.resize(static_cast<std::size_t>(size));
    f.ReadBuffer(Data.data(), size);
    Pos = 0;
}

void TMemoryStream::SaveToFile(const std::string& path) {
    TFileStream f(path, fmCreate);
    f.WriteBuffer(Data.data(), Size());
}

// ---- TReadOnlyMemoryStream

std::int64_t TReadOnlyMemoryStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || Pos >= Length) return 0;
    const std::int64_t n = std::min(count, Length - Pos);
    std::memcpy(buffer, Base + Pos, static_cast<std::size_t>(n));
    Pos += n;
    return n;
}

std::int64_t TReadOnlyMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                        : origin == TSeekOrigin::soCurrent ? Pos
                                                           : Length;
    Pos = std::max<std::int64_t>(0, base + offset);
    return Pos;
}
