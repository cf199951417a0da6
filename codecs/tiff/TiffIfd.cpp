#include "codecs/tiff/TiffIfd.h"
#include "platform/ByteOrder.h"
#include "platform/Stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unordered_set>

namespace tiff {

int TypeSize(std::uint16_t type) {
    switch (type) {
    case 1: // BYTE
    case 2: // ASCII
    case 6: // SBYTE
    case 7: // UNDEFINED
        return 1;
    case 3: // SHORT
    case 8: // SSHORT
        return 2;
    case 4:  // LONG
    case 9:  // SLONG
    case 11: // FLOAT
    case 13: // IFD
        return 4;
    case 5:  // RATIONAL
    case 10: // SRATIONAL
    case 12: // DOUBLE
    case 16: // LONG8
    case 17: // SLONG8
    case 18: // IFD8
        return 8;
    default:
        return 0;
    }
}

TTiffSource::TTiffSource(TStream& stream, std::int64_t base) : Base(base), Stream(stream) {
    Size = stream.Size();
}

namespace {

// 64-bit offsets beyond any stream are kept out of the int64 arithmetic.
constexpr std::uint64_t kFarOffset = std::uint64_t(1) << 62;

std::int64_t Far(std::uint64_t offset) {
    return std::int64_t(std::min(offset, kFarOffset));
}

// 64-bit values where the reader keeps 32: larger ones say "beyond the file" just as well.
std::uint32_t Saturate(std::uint64_t v) {
    return std::uint32_t(std::min<std::uint64_t>(v, 0xFFFFFFFFu));
}

} // namespace

std::int64_t TTiffSource::AvailableAt(std::int64_t offset) const {
    if (offset < 0) return 0;
    const std::int64_t pos = Base + offset; // offsets are below 2^32, Base below 2^62
    return pos < Size ? Size - pos : 0;
}

std::string TTiffSource::FileIdentity() const {
    const auto* file = dynamic_cast<const TFileStream*>(&Stream);
    struct stat st {};
    if (!file || ::fstat(file->Handle(), &st) != 0) return {};
    std::string key;
    for (const std::int64_t v : {std::int64_t(st.st_dev), std::int64_t(st.st_ino), std::int64_t(st.st_size),
                                 std::int64_t(st.st_mtim.tv_sec), std::int64_t(st.st_mtim.tv_nsec),
                                 std::int64_t(st.st_ctim.tv_sec), std::int64_t(st.st_ctim.tv_nsec), Base})
        key += std::to_string(v) + ':';
    return key;
}

bool TTiffSource::ReadAt(std::int64_t offset, void* buffer, std::int64_t count) {
    if (count < 0 || AvailableAt(offset) < count) return false;
    if (count == 0) return true;
    Stream.SetPosition(Base + offset);
    return Stream.Read(buffer, count) == count;
}

std::uint64_t TTiffSource::U64(const std::uint8_t* p) const {
    const std::uint64_t first = U32(p), second = U32(p + 4);
    return BigEndian ? (first << 32) | second : (second << 32) | first;
}

std::uint16_t TTiffSource::U16(const std::uint8_t* p) const {
    return Read16(p, BigEndian);
}

std::uint32_t TTiffSource::U32(const std::uint8_t* p) const {
    return Read32(p, BigEndian);
}

const TTiffEntry* TTiffDirectory::Find(std::uint16_t tag) const {
    for (const TTiffEntry& e : Entries)
        if (e.Tag == tag) return &e;
    return nullptr;
}

bool TTiffDirectory::ValueBytes(const TTiffEntry& e, std::uint64_t count,
                                std::vector<std::uint8_t>& out) const {
    const int size = TypeSize(e.Type);
    if (size == 0 || !Source || count > e.Count || count > kFarOffset) return false;
    const std::uint64_t bytes = count * std::uint64_t(size);
    // Where the values are depends on all of them, however many are asked for.
    if (e.Count <= Source->InlineBytes() / std::uint64_t(size)) {
        out.assign(e.Field, e.Field + bytes);
        return true;
    }
    const std::int64_t offset = Far(Source->Offset(e.Field));
    if (std::uint64_t(Source->AvailableAt(offset)) < bytes) return false;
    out.resize(static_cast<std::size_t>(bytes));
    return Source->ReadAt(offset, out.data(), static_cast<std::int64_t>(bytes));
}

std::uint32_t TTiffDirectory::Single(std::uint16_t tag, std::uint32_t fallback) const {
    const TTiffEntry* e = Find(tag);
    if (!e) return fallback;
    switch (TypeSize(e->Type)) {
    case 1:
        return e->Field[0];
    case 2:
        return Source->U16(e->Field);
    case 8:
        return Source->BigTiff ? Saturate(Source->U64(e->Field)) : Source->U32(e->Field);
    default:
        return Source->U32(e->Field);
    }
}

std::vector<std::uint32_t> TTiffDirectory::Values(std::uint16_t tag, std::uint32_t maxCount) const {
    std::vector<std::uint32_t> result;
    const TTiffEntry* e = Find(tag);
    if (!e) return result;
    const int size = TypeSize(e->Type);
    const bool integer8 = e->Type == 16 || e->Type == 17 || e->Type == 18;
    if (size != 1 && size != 2 && (size != 4 || e->Type == 11) && !integer8) return result;
    std::uint32_t count = std::uint32_t(std::min<std::uint64_t>(e->Count, maxCount));
    if (e->Count > Source->InlineBytes() / std::uint64_t(size)) {
        // Only as many values as the stream holds: a count cannot ask for more memory than the file has.
        const std::int64_t available = Source->AvailableAt(Far(Source->Offset(e->Field))) / size;
        count = static_cast<std::uint32_t>(std::min<std::int64_t>(count, available));
    }
    std::vector<std::uint8_t> raw;
    if (!ValueBytes(*e, count, raw)) return result;
    result.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* p = raw.data() + std::size_t(i) * size;
        result[i] = size == 1   ? *p
                    : size == 2 ? Source->U16(p)
                    : size == 4 ? Source->U32(p)
                                : Saturate(Source->U64(p));
    }
    return result;
}

double TTiffDirectory::Rational(std::uint16_t tag, std::uint32_t index, double fallback) const {
    const TTiffEntry* e = Find(tag);
    if (!e || index >= e->Count) return fallback;
    std::vector<std::uint8_t> raw;
    switch (e->Type) {
    case 5:
    case 10: {
        if (!ValueBytes(*e, index + 1, raw)) return fallback;
        const std::uint8_t* p = raw.data() + std::size_t(index) * 8;
        const std::uint32_t n = Source->U32(p), d = Source->U32(p + 4);
        if (e->Type == 10) {
            const double sd = double(std::int32_t(d));
            return double(std::int32_t(n)) / (sd == 0 ? 1.0 : sd);
        }
        return double(n) / (d == 0 ? 1.0 : double(d));
    }
    case 11: {
        if (!ValueBytes(*e, index + 1, raw)) return fallback;
        const std::uint32_t bits = Source->U32(raw.data() + std::size_t(index) * 4);
        float f;
        std::memcpy(&f, &bits, 4);
        return std::isfinite(f) ? double(f) : fallback;
    }
    case 12: {
        if (!ValueBytes(*e, index + 1, raw)) return fallback;
        const std::uint8_t* p = raw.data() + std::size_t(index) * 8;
        const std::uint64_t hi = Source->U32(Source->BigEndian ? p : p + 4);
        const std::uint64_t lo = Source->U32(Source->BigEndian ? p + 4 : p);
        const std::uint64_t bits = (hi << 32) | lo;
        double d;
        std::memcpy(&d, &bits, 8);
        return std::isfinite(d) ? d : fallback;
    }
    default: {
        const std::vector<std::uint32_t> v = Values(tag, index + 1);
        return index < v.size() ? double(v[index]) : fallback;
    }
    }
}

std::string TTiffDirectory::Text(std::uint16_t tag) const {
    const TTiffEntry* e = Find(tag);
    if (!e || e->Count > 0xFFFFF || TypeSize(e->Type) != 1) return {};
    std::vector<std::uint8_t> raw;
    if (!ValueBytes(*e, e->Count, raw)) return {};
    const auto end = std::find(raw.begin(), raw.end(), std::uint8_t(0));
    return std::string(raw.begin(), end);
}

std::vector<std::uint8_t> TTiffDirectory::Bytes(std::uint16_t tag) const {
    std::vector<std::uint8_t> raw;
    const TTiffEntry* e = Find(tag);
    if (!e || !ValueBytes(*e, e->Count, raw)) raw.clear();
    return raw;
}

namespace {

// The layout of a directory: its entry count, then entries, then the next directory's offset.
struct TDirectoryLayout {
    std::int64_t CountBytes, EntryBytes, FieldBytes;
};

TDirectoryLayout LayoutOf(const TTiffSource& source) {
    return source.BigTiff ? TDirectoryLayout{8, 20, 8} : TDirectoryLayout{2, 12, 4};
}

// The entry count at offset; false when it is not in the stream.
bool ReadEntryCount(TTiffSource& source, std::int64_t offset, std::int64_t& count) {
    std::uint8_t bytes[8];
    const TDirectoryLayout layout = LayoutOf(source);
    if (!source.ReadAt(offset, bytes, layout.CountBytes)) return false;
    count = source.BigTiff ? Far(source.U64(bytes)) : source.U16(bytes);
    return true;
}

} // namespace

bool LoadDirectory(TTiffSource& source, std::int64_t offset, TTiffDirectory& directory) {
    std::int64_t n = 0;
    if (!ReadEntryCount(source, offset, n)) return false;
    const TDirectoryLayout layout = LayoutOf(source);
    const std::int64_t first = offset + layout.CountBytes;
    const std::int64_t fit = std::min<std::int64_t>(n, source.AvailableAt(first) / layout.EntryBytes);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(fit * layout.EntryBytes));
    if (!source.ReadAt(first, raw.data(), fit * layout.EntryBytes)) return false;
    std::vector<TTiffEntry> entries(static_cast<std::size_t>(fit));
    for (std::int64_t i = 0; i < fit; ++i) {
        const std::uint8_t* p = raw.data() + i * layout.EntryBytes;
        TTiffEntry& e = entries[static_cast<std::size_t>(i)];
        e.Tag = source.U16(p);
        e.Type = source.U16(p + 2);
        e.Count = source.BigTiff ? source.U64(p + 4) : source.U32(p + 4);
        std::memcpy(e.Field, p + layout.EntryBytes - layout.FieldBytes, std::size_t(layout.FieldBytes));
    }
    directory = TTiffDirectory(source, std::move(entries));
    return true;
}

namespace {
using TOffsets = std::vector<std::int64_t>;

// The chains of the files walked last, by FileIdentity.
class TChainCache {
public:
    std::shared_ptr<const TOffsets> Find(const std::string& file) {
        const std::lock_guard<std::mutex> hold(Lock);
        for (const auto& [key, offsets] : Recent)
            if (key == file) return offsets;
        return nullptr;
    }
    void Add(const std::string& file, std::shared_ptr<const TOffsets> offsets) {
        const std::lock_guard<std::mutex> hold(Lock);
        if (Recent.size() == kFiles) Recent.pop_front();
        Recent.emplace_back(file, std::move(offsets));
    }

private:
    static constexpr std::size_t kFiles = 4; // the frame files a run's workers may be in at once
    std::mutex Lock;
    std::deque<std::pair<std::string, std::shared_ptr<const TOffsets>>> Recent;
};

TChainCache& Chains() {
    static TChainCache cache;
    return cache;
}

// The offsets of the directories the chain from first counts.
TOffsets DirectoryOffsets(TTiffSource& source, std::int64_t first) {
    const TDirectoryLayout layout = LayoutOf(source);
    TOffsets offsets;
    std::unordered_set<std::int64_t> seen;
    for (std::int64_t offset = first; offset != 0;) {
        std::int64_t n = 0;
        if (!ReadEntryCount(source, offset, n)) break;
        const std::int64_t end = offset + layout.CountBytes +
                                 std::min<std::int64_t>(n, std::int64_t(kFarOffset / 32)) * layout.EntryBytes;
        if (source.AvailableAt(end) <= 0) break; // entries reach the end: this directory is not counted
        std::uint8_t nextBytes[8];
        std::int64_t next =
            source.ReadAt(end, nextBytes, layout.FieldBytes) ? Far(source.Offset(nextBytes)) : 0;
        seen.insert(offset);
        if (next == offset || (!source.BigTiff && next > std::numeric_limits<std::int32_t>::max()) ||
            source.AvailableAt(next) <= 0 || seen.count(next) != 0)
            next = 0;
        offsets.push_back(offset);
        offset = next;
    }
    return offsets;
}
} // namespace

TTiffChain WalkChain(TTiffSource& source, int wanted) {
    TTiffChain chain;
    std::uint8_t header[8];
    if (!source.ReadAt(0, header, 8) ||
        !((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M'))) {
        chain.BadHeader = true;
        chain.Problem = "not a TIFF file";
        return chain;
    }
    source.BigEndian = header[0] == 'M';
    std::int64_t first = source.U32(header + 4);
    // Version 43 is the 64-bit format: offsets of 8 bytes (the only size there is), the first at byte 8.
    if (source.U16(header + 2) == kBigTiffVersion) {
        std::uint8_t firstBytes[8];
        if (source.U16(header + 4) != 8 || source.U16(header + 6) != 0 || !source.ReadAt(8, firstBytes, 8)) {
            chain.BadHeader = true;
            chain.Problem = "unsupported: BigTIFF with offsets of other than 8 bytes";
            return chain;
        }
        source.BigTiff = true;
        first = Far(source.U64(firstBytes));
    }
    const std::string file = source.FileIdentity();
    std::shared_ptr<const TOffsets> offsets = file.empty() ? nullptr : Chains().Find(file);
    if (!offsets) {
        offsets = std::make_shared<const TOffsets>(DirectoryOffsets(source, first));
        if (!file.empty()) Chains().Add(file, offsets);
    }
    chain.Count = static_cast<int>(std::min<std::size_t>(offsets->size(), std::numeric_limits<int>::max()));
    if (wanted >= 0 && wanted < chain.Count) {
        // A directory that cannot be loaded ends the chain there.
        chain.Found = LoadDirectory(source, (*offsets)[std::size_t(wanted)], chain.Wanted);
        if (!chain.Found) chain.Count = wanted;
    }
    return chain;
}

} // namespace tiff
