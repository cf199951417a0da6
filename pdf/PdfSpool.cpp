#include "pdf/PdfSpool.h"

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/FileView.h"
#include "platform/Stream.h"

#include <algorithm>

namespace {
// Copies move this much at a time: memory for the copy stays small whatever the page.
constexpr std::int64_t kCopyChunk = 1 << 20;
// Ranges from this size on are copied from views of the spool file, this much at a time.
constexpr std::int64_t kViewedRange = 1 << 16;
constexpr std::int64_t kViewWindow = 8 << 20;
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
    object.WriteTo(*FFile);
    const std::int64_t end = FFile->Position();
    const TIEPDFSpoolRange range{FEnd, end - FEnd};
    FEnd = end;
    return range;
}

void TIEPDFSpool::DropFrom(std::int64_t offset) {
    if (offset >= 0 && offset < FEnd) FEnd = offset;
}

void TIEPDFSpool::CopyTo(const TIEPDFSpoolRange& range, TStream& output) {
    if (range.Offset < 0 || range.Length < 0 || range.Length > FEnd - range.Offset)
        throw EReadError("Spool range outside the spool");
    // A page's image is copied from views of the spool, a window at a time so that the memory they
    // take stays small; small objects, or a system without views, go through a buffer.
    std::int64_t done = 0;
    if (range.Length >= kViewedRange) {
        while (done < range.Length) {
            const std::int64_t n = std::min(range.Length - done, kViewWindow);
            const TFileView view(FFile->Handle(), range.Offset + done, n);
            if (!view.Data()) break;
            output.WriteBuffer(view.Data(), n);
            done += n;
        }
    }
    if (done < range.Length) {
        FFile->SetPosition(range.Offset + done);
        if (!FBuffer) FBuffer = std::make_unique_for_overwrite<std::uint8_t[]>(kCopyChunk);
        while (done < range.Length) {
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
