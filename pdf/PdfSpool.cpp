#include "pdf/PdfSpool.h"

#include "pdf/PdfDigestingOutput.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"

#include <algorithm>

namespace {
// Copies to streams other than files move this much at a time: memory for the copy stays small
// whatever the page.
constexpr std::int64_t kCopyChunk = 1 << 20;
// Released space starts at a multiple of this, so no block is left half released between two copies;
// a power of two no smaller than any file system's block.
constexpr std::int64_t kReleaseAlignment = 1 << 16;

std::unique_ptr<TFileStream> CreateSpoolFile(const std::string& folder) {
    const std::string temp = SystemTempFolder();
    if (folder.empty()) return TFileStream::CreateUnnamed(temp);
    try {
        return TFileStream::CreateUnnamed(folder);
    } catch (const EFOpenError&) {
        // A folder that takes the document but no scratch file: the temporary folder still can.
        if (ExcludeTrailingPathDelimiter(folder) == temp) throw;
        try {
            return TFileStream::CreateUnnamed(temp);
        } catch (const EFOpenError&) {
        }
        throw;
    }
}
} // namespace

TIEPDFSpool::TIEPDFSpool(const std::string& folder) : FFile(CreateSpoolFile(folder)) {}

TIEPDFSpool::~TIEPDFSpool() = default;

const std::string& TIEPDFSpool::Folder() const {
    return FFile->FileName();
}

TIEPDFSpoolRange TIEPDFSpool::Append(TIEPDFObject& object) {
    FFile->SetPosition(FEnd);
    TDigestingOutput text(*FFile);
    object.WriteTo(text);
    const std::array<std::uint8_t, 16> digest = text.Finish();
    const TIEPDFSpoolRange range{FEnd, text.Position() - FEnd, digest};
    FEnd += range.Length;
    return range;
}

void TIEPDFSpool::DropFrom(std::int64_t offset) {
    if (offset >= 0 && offset < FEnd) FEnd = offset;
}

void TIEPDFSpool::CopyTo(const TIEPDFSpoolRange& range, TStream& output) {
    if (range.Offset < 0 || range.Length < 0 || range.Length > FEnd - range.Offset)
        throw EReadError("Spool range outside the spool");
    if (auto* file = dynamic_cast<TFileStream*>(&output)) {
        if (file->CopyRangeFrom(*FFile, range.Offset, range.Length) < range.Length)
            throw EWriteError(file->WriteErrorText());
    } else {
        FFile->SetPosition(range.Offset);
        if (!FBuffer) FBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(kCopyChunk);
        for (std::int64_t done = 0; done < range.Length;) {
            const std::int64_t n = std::min(range.Length - done, kCopyChunk);
            FFile->ReadBuffer(FBuffer.get(), n);
            output.WriteBuffer(FBuffer.get(), n);
            done += n;
        }
    }
    // Only a range that continues what was released: everything before it has been copied then. A
    // file system that cannot release keeps the space until the spool closes.
    const std::int64_t end = range.Offset + range.Length;
    if (!FReleaseAsCopied || range.Offset > FReleasedTo || end <= FReleasedTo) return;
    const std::int64_t from = FReleasedTo - FReleasedTo % kReleaseAlignment;
    if (FFile->Discard(from, end - from)) FReleasedTo = end;
}

void TIEPDFSpool::ReleaseAsCopied() {
    FReleaseAsCopied = true;
}

void TIEPDFSpooledObject::WriteTo(TStream& stream) {
    FilePosition = stream.Position();
    Spool.CopyTo(Range, stream);
}
