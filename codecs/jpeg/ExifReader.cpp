#include "codecs/jpeg/ExifReader.h"
#include "platform/ByteOrder.h"

#include <cstring>
#include <string>

namespace {

constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kApp13 = 0xED;
constexpr std::uint16_t kIptcResource = 0x0404;

// Reads of a TIFF-structured block in its byte order; every read is checked against the block.
class TTiffView {
public:
    TTiffView(const std::uint8_t* data, std::size_t size, bool bigEndian)
        : Data(data), Size(size), BigEndian(bigEndian) {}

    bool Has(std::uint64_t offset, std::uint64_t count) const {
        return offset <= Size && count <= Size - offset;
    }
    std::uint16_t U16(std::uint64_t at) const { return Read16(Data + at, BigEndian); }
    std::uint32_t U32(std::uint64_t at) const { return Read32(Data + at, BigEndian); }
    std::uint64_t U64(std::uint64_t at) const {
        const std::uint64_t first = U32(at), second = U32(at + 4);
        return BigEndian ? first << 32 | second : second << 32 | first;
    }
    const std::uint8_t* At(std::uint64_t at) const { return Data + at; }

private:
    const std::uint8_t* Data;
    std::size_t Size;
    bool BigEndian;
};

struct TIfdEntry {
    std::uint16_t Tag = 0, Type = 0;
    std::uint32_t Count = 0;
    std::uint64_t ValueOffset = 0; // where the value bytes start inside the block
};

std::uint64_t TypeSize(std::uint16_t type) {
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
        return 1;
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
    case 11:
        return 4;
    case 5:
    case 10:
    case 12:
        return 8;
    default:
        return 0;
    }
}

// The first value of a numeric entry; false for types that are not numbers. A zero denominator reads 0.
bool NumberOf(const TTiffView& v, const TIfdEntry& e, double& out) {
    const std::uint64_t at = e.ValueOffset;
    switch (e.Type) {
    case 1:
        out = *v.At(at);
        return true;
    case 6:
        out = static_cast<std::int8_t>(*v.At(at));
        return true;
    case 3:
        out = v.U16(at);
        return true;
    case 8:
        out = static_cast<std::int16_t>(v.U16(at));
        return true;
    case 4:
        out = v.U32(at);
        return true;
    case 9:
        out = static_cast<std::int32_t>(v.U32(at));
        return true;
    case 5: {
        const std::uint32_t den = v.U32(at + 4);
        out = den == 0 ? 0.0 : double(v.U32(at)) / den;
        return true;
    }
    case 10: {
        const auto den = static_cast<std::int32_t>(v.U32(at + 4));
        out = den == 0 ? 0.0 : double(static_cast<std::int32_t>(v.U32(at))) / den;
        return true;
    }
    case 11: {
        const std::uint32_t bits = v.U32(at);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        out = f;
        return true;
    }
    case 12: {
        const std::uint64_t bits = v.U64(at);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        out = d;
        return true;
    }
    default:
        return false;
    }
}

std::string TextOf(const TTiffView& v, const TIfdEntry& e) {
    if (e.Type != 2 && e.Type != 1 && e.Type != 7) return {};
    const auto* p = reinterpret_cast<const char*>(v.At(e.ValueOffset));
    std::size_t n = 0;
    while (n < e.Count && p[n] != '\0') ++n;
    return std::string(p, n);
}

} // namespace

bool ReadExifTiffBlock(const std::uint8_t* data, std::size_t size, TIOParamsVals& Params) {
    if (!data || size < 8) return false;
    bool bigEndian;
    if (data[0] == 'I' && data[1] == 'I')
        bigEndian = false;
    else if (data[0] == 'M' && data[1] == 'M')
        bigEndian = true;
    else
        return false;
    const TTiffView v(data, size, bigEndian);
    if (v.U16(2) != 42) return false;
    const std::uint64_t ifd = v.U32(4);
    if (!v.Has(ifd, 2)) return false;

    Params.HasExifData = true;
    Params.ExifData.assign(data, data + size);
    Params.ExifXResolution = 0.0;
    Params.ExifYResolution = 0.0;
    Params.ExifResolutionUnit = 0;
    Params.ExifOrientation = 0;
    Params.ExifImageDescription.clear();
    Params.ExifMake.clear();
    Params.ExifModel.clear();
    Params.ExifDateTime.clear();
    Params.ExifSoftware.clear();
    Params.ExifCopyright.clear();

    const std::uint16_t count = v.U16(ifd);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t at = ifd + 2 + std::uint64_t(i) * 12;
        if (!v.Has(at, 12)) break; // a cut directory keeps the entries before the cut
        TIfdEntry e;
        e.Tag = v.U16(at);
        e.Type = v.U16(at + 2);
        e.Count = v.U32(at + 4);
        const std::uint64_t bytes = TypeSize(e.Type) * e.Count;
        if (bytes == 0) continue;
        e.ValueOffset = bytes <= 4 ? at + 8 : v.U32(at + 8);
        if (!v.Has(e.ValueOffset, bytes)) continue;
        double number = 0.0;
        switch (e.Tag) {
        case 0x011A:
            if (NumberOf(v, e, number)) Params.ExifXResolution = number;
            break;
        case 0x011B:
            if (NumberOf(v, e, number)) Params.ExifYResolution = number;
            break;
        case 0x0128:
            if (NumberOf(v, e, number) && number >= 0 && number <= 65535)
                Params.ExifResolutionUnit = static_cast<std::int32_t>(number);
            break;
        case 0x0112:
            if (NumberOf(v, e, number) && number >= 0 && number <= 65535)
                Params.ExifOrientation = static_cast<std::int32_t>(number);
            break;
        case 0x010E:
            Params.ExifImageDescription = TextOf(v, e);
            break;
        case 0x010F:
            Params.ExifMake = TextOf(v, e);
            break;
        case 0x0110:
            Params.ExifModel = TextOf(v, e);
            break;
        case 0x0131:
            Params.ExifSoftware = TextOf(v, e);
            break;
        case 0x0132:
            Params.ExifDateTime = TextOf(v, e);
            break;
        case 0x8298:
            Params.ExifCopyright = TextOf(v, e);
            break;
        default:
            break;
        }
    }
    return true;
}

bool ReadExifApp1(const std::uint8_t* data, std::size_t size, TIOParamsVals& Params) {
    static const std::uint8_t kSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (!data || size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0)
        return false;
    return ReadExifTiffBlock(data + sizeof kSignature, size - sizeof kSignature, Params);
}

bool ReadExifFromMarkers(const TIEMarkerList& Markers, TIOParamsVals& Params) {
    for (const TIEMarker& m : Markers) {
        if (m.Code == kApp1 && ReadExifApp1(m.Data.data(), m.Data.size(), Params)) return true;
    }
    return false;
}

std::size_t ReadIptcDatasets(const std::uint8_t* data, std::size_t size, TIEIPTCInfoList& List) {
    std::size_t added = 0, at = 0;
    while (data && at + 5 <= size && data[at] == 0x1C) {
        const std::uint8_t record = data[at + 1], dataset = data[at + 2];
        std::uint64_t length = ReadBe16(data + at + 3);
        at += 5;
        if (length & 0x8000) { // extended dataset: the low bits give the size of the length field
            const std::size_t fieldBytes = length & 0x7FFF;
            if (fieldBytes > 8 || fieldBytes > size - at) break;
            length = 0;
            for (std::size_t i = 0; i < fieldBytes; ++i) length = length << 8 | data[at + i];
            at += fieldBytes;
        }
        if (length > size - at) break;
        std::vector<std::uint8_t> block;
        block.reserve(static_cast<std::size_t>(length) + 2);
        block.push_back(record);
        block.push_back(dataset);
        block.insert(block.end(), data + at, data + at + length);
        List.push_back(std::move(block));
        at += static_cast<std::size_t>(length);
        ++added;
    }
    return added;
}

std::size_t ReadIptcFromMarkers(const TIEMarkerList& Markers, TIEIPTCInfoList& List) {
    static const char kSignature[] = "Photoshop 3.0"; // with its terminating zero byte
    std::size_t added = 0;
    for (const TIEMarker& m : Markers) {
        if (m.Code != kApp13 || m.Data.size() < sizeof kSignature ||
            std::memcmp(m.Data.data(), kSignature, sizeof kSignature) != 0)
            continue;
        const std::uint8_t* d = m.Data.data();
        const std::size_t size = m.Data.size();
        std::size_t at = sizeof kSignature;
        // Image resource blocks: "8BIM", id, padded Pascal name, 32-bit size, data padded to even.
        while (at + 4 + 2 + 1 <= size && std::memcmp(d + at, "8BIM", 4) == 0) {
            const std::uint16_t id = ReadBe16(d + at + 4);
            at += 6;
            std::size_t nameBytes = std::size_t(d[at]) + 1;
            nameBytes += nameBytes & 1;
            if (nameBytes > size - at) break;
            at += nameBytes;
            if (size - at < 4) break;
            const std::uint64_t length = ReadBe32(d + at);
            at += 4;
            if (length > size - at) break;
            if (id == kIptcResource)
                added += ReadIptcDatasets(d + at, static_cast<std::size_t>(length), List);
            at += static_cast<std::size_t>(length);
            if ((length & 1) && at < size) ++at;
        }
    }
    return added;
}
