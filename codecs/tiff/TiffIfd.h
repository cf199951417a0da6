#pragma once
// TIFF container access inside the reader: bounded reads relative to the header, byte order, image file
// directories and tag values. Every offset is checked against the stream size before it is used.
#include "platform/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tiff {

// Tag numbers the reader looks at.
enum TTiffTag : std::uint16_t {
    tagImageWidth = 256,
    tagImageLength = 257,
    tagBitsPerSample = 258,
    tagCompression = 259,
    tagPhotometric = 262,
    tagFillOrder = 266,
    tagDocumentName = 269,
    tagImageDescription = 270,
    tagMake = 271,
    tagModel = 272,
    tagStripOffsets = 273,
    tagOrientation = 274,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagXResolution = 282,
    tagYResolution = 283,
    tagPlanarConfig = 284,
    tagPageName = 285,
    tagXPosition = 286,
    tagYPosition = 287,
    tagT4Options = 292,
    tagResolutionUnit = 296,
    tagPageNumber = 297,
    tagTransferFunction = 301,
    tagSoftware = 305,
    tagDateTime = 306,
    tagPredictor = 317,
    tagColorMap = 320,
    tagTileWidth = 322,
    tagTileLength = 323,
    tagTileOffsets = 324,
    tagTileByteCounts = 325,
    tagExtraSamples = 338,
    tagSampleFormat = 339,
    tagJpegTables = 347,
    tagJpegProc = 512,
    tagJpegInterchangeFormat = 513,
    tagJpegInterchangeFormatLength = 514,
    tagJpegRestartInterval = 515,
    tagJpegQTables = 519,
    tagJpegDcTables = 520,
    tagJpegAcTables = 521,
    tagAnnotation = 32932,
    tagCopyright = 33432,
    tagIptc = 33723,
    tagExifIfd = 34665,
};

// The version word of the 64-bit format.
constexpr std::uint16_t kBigTiffVersion = 43;

struct TTiffEntry {
    std::uint16_t Tag = 0;
    std::uint16_t Type = 0;
    std::uint64_t Count = 0;
    std::uint8_t Field[8] =
        {}; // the value-or-offset field as stored (file byte order); 4 bytes in classic TIFF
};

// Bytes per value of a field type; 0 for types this reader does not know.
int TypeSize(std::uint16_t type);

// The stream seen from the TIFF header: offsets are relative to Base and never reach past Size.
class TTiffSource {
public:
    TTiffSource(TStream& stream, std::int64_t base);

    // Reads exactly count bytes at base + offset; false (nothing read) when they are not all there.
    bool ReadAt(std::int64_t offset, void* buffer, std::int64_t count);
    // Bytes available from base + offset to the end of the stream (0 when the offset is outside).
    std::int64_t AvailableAt(std::int64_t offset) const;
    // What tells this file apart from any other and from itself once changed (device, file number,
    // size, times, base); empty when the stream is not a file.
    std::string FileIdentity() const;

    std::uint16_t U16(const std::uint8_t* p) const;
    std::uint32_t U32(const std::uint8_t* p) const;
    std::uint64_t U64(const std::uint8_t* p) const;
    // An offset field: 4 bytes, or 8 in the 64-bit format.
    std::uint64_t Offset(const std::uint8_t* p) const { return BigTiff ? U64(p) : U32(p); }
    // Bytes of values kept in an entry's own field.
    std::uint64_t InlineBytes() const { return BigTiff ? 8 : 4; }

    bool BigEndian = false;
    bool BigTiff = false; // the 64-bit format (version 43): 8-byte counts and offsets
    std::int64_t Base = 0;
    std::int64_t Size = 0; // the stream's total size

private:
    TStream& Stream;
};

// One image file directory with typed access to its tags. Absent tags yield the given default.
class TTiffDirectory {
public:
    TTiffDirectory() = default;
    TTiffDirectory(TTiffSource& source, std::vector<TTiffEntry> entries)
        : Source(&source), Entries(std::move(entries)) {}

    const TTiffEntry* Find(std::uint16_t tag) const;
    bool Has(std::uint16_t tag) const { return Find(tag) != nullptr; }

    // The first value, read from the value field itself (the count is not looked at).
    std::uint32_t Single(std::uint16_t tag, std::uint32_t fallback) const;
    // The first of a tag's integer values (wherever they are stored); fallback when absent.
    std::uint32_t First(std::uint16_t tag, std::uint32_t fallback) const {
        const std::vector<std::uint32_t> v = Values(tag, 1);
        return v.empty() ? fallback : v[0];
    }
    // Integer values (BYTE, SHORT, LONG and their signed and IFD kinds); at most the values the stream
    // holds, and at most maxCount of them.
    std::vector<std::uint32_t> Values(std::uint16_t tag, std::uint32_t maxCount = 0xFFFFFFFFu) const;
    // Value index of a RATIONAL (also SRATIONAL, FLOAT, DOUBLE or an integer type); a denominator of 0
    // counts as 1; fallback when absent or unreadable.
    double Rational(std::uint16_t tag, std::uint32_t index = 0, double fallback = 0.0) const;
    // ASCII text up to its first zero byte; empty for counts above 0xFFFFF.
    std::string Text(std::uint16_t tag) const;
    // The raw bytes of a tag's values (any type); empty when they are not all in the stream.
    std::vector<std::uint8_t> Bytes(std::uint16_t tag) const;

    bool Empty() const { return Entries.empty(); }

private:
    // Where the values of an entry live: inline in the field, or at an offset.
    bool ValueBytes(const TTiffEntry& e, std::uint64_t count, std::vector<std::uint8_t>& out) const;

    TTiffSource* Source = nullptr;
    std::vector<TTiffEntry> Entries;
};

// Reads the entries of the directory at offset (count word first); false when the count is unreadable.
// Entries past the end of the stream are dropped.
bool LoadDirectory(TTiffSource& source, std::int64_t offset, TTiffDirectory& directory);

// Result of walking the chain of directories from the header.
struct TTiffChain {
    bool BadHeader = false; // not "II"/"MM", too short, or a version this reader does not know
    std::string Problem;    // why the header is bad
    int Count = 0;          // directories found
    bool Found = false;     // the wanted directory is among them
    TTiffDirectory Wanted;
};

// Reads the header at source.Base and walks the chain, loading directory number wanted (-1: none).
// The walk ends at an offset of 0, at an offset outside the stream, at a directory whose entries reach
// the stream's end, and at any offset seen before (a loop through one or several directories). A
// file's chain is remembered: the frames of a file are loaded one by one, and walking it again for
// each would take time with the square of the frames. A file that changed is walked again.
TTiffChain WalkChain(TTiffSource& source, int wanted);

} // namespace tiff
