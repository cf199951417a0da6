#include "imaging/bitmap/IEFileBuffer.h"

#include "imaging/bitmap/BitmapMemory.h"
#include "imaging/bitmap/IEBitmap.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {
constexpr std::int64_t kCopyChunk = 1 << 20;
}

TIEFileBuffer::TIEFileBuffer() = default;

TIEFileBuffer::~TIEFileBuffer() {
    CloseAndDelete();
}

bool TIEFileBuffer::CreateTempFile(std::int64_t size) {
    CloseAndDelete();
    if (size < 0) return false;
    const std::string folder = TempDirectory.empty() ? SystemTempFolder() : TempDirectory;
    if (folder.empty()) throw EPlatformException("Cannot Create Directory");
    if (!ForceDirectories(folder)) return false;
    const std::string name = CreateUniqueTempFile(folder, "pictora");
    if (name.empty()) return false;
    try {
        FStream = std::make_unique<TFileStream>(name, fmOpenReadWrite | fmShareExclusive);
        FStream->SetSize(size);
    } catch (const std::exception&) {
        FStream.reset();
        DeleteFile(name);
        return false;
    }
    FFileName = name;
    FSize = size;
    return true;
}

std::uint8_t* TIEFileBuffer::MapBlock(std::uint8_t access, std::int64_t length, std::int64_t callerValue,
                                      std::int64_t offset) {
    if (!FStream || length < 0 || offset < 0) return nullptr;
    const std::size_t bytes = bitmapmemory::CheckedBlockSize(length, 1);
    TMappedBlock block;
    block.Offset = offset;
    block.Length = length;
    block.CallerValue = callerValue;
    block.Access = access;
    block.Buffer.reset(new (std::nothrow) std::uint8_t[bytes == 0 ? 1 : bytes]());
    if (!block.Buffer) throw EOutOfMemory();
    if ((access & AccessRead) && length > 0) {
        FStream->SetPosition(offset);
        FStream->Read(block.Buffer.get(), length); // a short read leaves zeros
    }
    std::uint8_t* result = block.Buffer.get();
    FBlocks.push_back(std::move(block));
    return result;
}

void TIEFileBuffer::WriteBack(const TMappedBlock& block) {
    if (!(block.Access & AccessWrite) || !FStream || block.Length == 0) return;
    if (FStream->Seek(block.Offset, TSeekOrigin::soBeginning) != block.Offset)
        throw EWriteError("Cannot write the temporary file");
    FStream->WriteBuffer(block.Buffer.get(), block.Length);
}

void TIEFileBuffer::UnmapBlock(std::uint8_t* buffer) {
    const auto it = std::find_if(FBlocks.begin(), FBlocks.end(),
                                 [buffer](const TMappedBlock& b) { return b.Buffer.get() == buffer; });
    if (it == FBlocks.end()) return;
    TMappedBlock block = std::move(*it);
    FBlocks.erase(it);
    WriteBack(block);
}

void TIEFileBuffer::UnmapAll() {
    std::vector<TMappedBlock> blocks = std::move(FBlocks);
    FBlocks.clear();
    for (const TMappedBlock& b : blocks) WriteBack(b);
}

void TIEFileBuffer::Reopen() {
    FStream.reset();
    FStream = std::make_unique<TFileStream>(FFileName, fmOpenReadWrite | fmShareExclusive);
}

void TIEFileBuffer::CopyRange(TIEFileBuffer& destination, std::int64_t count, std::int64_t offset) {
    if (!FStream || !destination.FStream || &destination == this || count <= 0 || offset < 0) return;
    UnmapAll();
    destination.UnmapAll();
    if (offset == 0 && count == FSize) {
        FStream.reset();
        destination.FStream.reset();
        DeleteFile(destination.FFileName);
        const bool copied = CopyFileContents(FFileName, destination.FFileName);
        Reopen();
        destination.Reopen();
        destination.FSize = destination.FStream->Size();
        if (!copied) throw EWriteError("Cannot copy the temporary file");
        return;
    }
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min(count, kCopyChunk)));
    FStream->SetPosition(offset);
    destination.FStream->SetPosition(offset);
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t n = std::min<std::int64_t>(count - done, static_cast<std::int64_t>(chunk.size()));
        const std::int64_t got = FStream->Read(chunk.data(), n);
        if (got < n) std::memset(chunk.data() + got, 0, static_cast<std::size_t>(n - got));
        destination.FStream->WriteBuffer(chunk.data(), n);
        done += n;
    }
    destination.FSize = std::max(destination.FSize, offset + count);
}

void TIEFileBuffer::CloseAndDelete() {
    FBlocks.clear();
    if (FStream) {
        FStream.reset();
        DeleteFile(FFileName);
    }
    FFileName.clear();
    FSize = 0;
}
