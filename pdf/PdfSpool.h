#pragma once
// The spool: finished object text waiting on disk until the document is written, so that a long
// document does not keep its pages' image data in memory.
#include "pdf/PdfObjects.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class TFileStream;

// Where one object's text lies in the spool, and its MD5: the document's identifier is made from it
// without reading the text again, on whichever thread spooled the object.
struct TIEPDFSpoolRange {
    std::int64_t Offset = 0;
    std::int64_t Length = 0;
    std::array<std::uint8_t, 16> Digest{};
};

class TIEPDFSpool {
public:
    // An unnamed temporary file (mode 0600, gone on every exit, a killed process included) in folder,
    // or in the system's temporary folder when folder cannot hold one; an empty folder means the
    // temporary folder. Raises EFOpenError naming the folder tried first.
    explicit TIEPDFSpool(const std::string& folder);
    ~TIEPDFSpool();
    TIEPDFSpool(const TIEPDFSpool&) = delete;
    TIEPDFSpool& operator=(const TIEPDFSpool&) = delete;

    // Appends the object's text (what its WriteTo writes) and says where it lies. A failed write
    // raises EWriteError naming the spool's folder; ranges appended before stay intact and the next
    // append starts where the failed one did.
    TIEPDFSpoolRange Append(TIEPDFObject& object);
    // Forgets what was appended from offset on; the next append writes there.
    void DropFrom(std::int64_t offset);
    // Copies a range to output, within the system when output is a file; EReadError or EWriteError
    // when the bytes cannot be moved.
    void CopyTo(const TIEPDFSpoolRange& range, TStream& output);
    // From now on each copy gives the disk space of everything copied so far back, so that writing
    // the document needs little more room than the document itself. Ranges are then copied once, in
    // the order they were appended.
    void ReleaseAsCopied();

    // The folder holding the spool.
    const std::string& Folder() const;
    // Bytes appended.
    std::int64_t Size() const { return FEnd; }

private:
    std::unique_ptr<TFileStream> FFile;
    std::int64_t FEnd = 0;
    bool FReleaseAsCopied = false;
    std::int64_t FReleasedTo = 0;
    std::unique_ptr<std::uint8_t[]> FBuffer; // for copies to streams other than files
};

// A registered object whose text already lies in the spool: writing it copies that text.
class TIEPDFSpooledObject : public TIEPDFObject {
public:
    TIEPDFSpooledObject(TIEPDFSpool& spool, TIEPDFSpoolRange range) : Spool(spool), Range(range) {}
    void WriteTo(TStream& stream) override;

    TIEPDFSpool& Spool; // the document's, which outlives its objects
    const TIEPDFSpoolRange Range;
};
