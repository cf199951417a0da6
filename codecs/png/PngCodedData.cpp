#include "codecs/png/PngCodedData.h"
#include "platform/ByteOrder.h"

#include <cstring>
#include <limits>

#include <zlib.h>

namespace {
constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr int kCarriedDepth = 8;
constexpr int kLastFilter = 4; // Paeth
constexpr std::size_t kMaxPaletteEntries = 256;
enum TColourType : std::uint8_t { ctGray = 0, ctRgb = 2, ctPalette = 3 };

bool Is(const std::uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

TPngCodedData Refuse(TPngCodedData d, const char* why) {
    d.Carriable = false;
    d.Refusal = why;
    d.Data.clear();
    return d;
}

std::uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Follows the inflated rows as they arrive: checks filter bytes and, for palettes, rebuilds the
// indexes to check them against the palette's length.
class TRowChecker {
public:
    TRowChecker(std::size_t rowBytes, std::size_t paletteEntries)
        : RowBytes(rowBytes), Entries(paletteEntries), Row(rowBytes), Previous(rowBytes) {}

    bool Take(const std::uint8_t* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t v = data[i];
            if (Column == 0) {
                if (v > kLastFilter) return false;
                Filter = v;
                Column = 1;
                continue;
            }
            const std::size_t x = Column - 1;
            if (Entries) {
                const int a = x >= 1 ? Row[x - 1] : 0, b = Previous[x], c = x >= 1 ? Previous[x - 1] : 0;
                int pred = 0;
                switch (Filter) {
                case 1:
                    pred = a;
                    break;
                case 2:
                    pred = b;
                    break;
                case 3:
                    pred = (a + b) / 2;
                    break;
                case 4:
                    pred = Paeth(a, b, c);
                    break;
                default:
                    break;
                }
                Row[x] = static_cast<std::uint8_t>(v + pred);
                if (Row[x] >= Entries) return false;
            }
            if (++Column > RowBytes) {
                Column = 0;
                Row.swap(Previous);
            }
        }
        return true;
    }

private:
    std::size_t RowBytes, Entries;
    std::vector<std::uint8_t> Row, Previous;
    std::size_t Column = 0;
    std::uint8_t Filter = 0;
};

// Inflates the joined data and checks it against the promised rows. Fails on more or less data than
// promised, on a bad filter byte, on a palette index out of range and on damaged zlib data.
bool InflatesToRows(const std::vector<std::uint8_t>& data, std::uint64_t promised, TRowChecker& rows) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    std::uint8_t buffer[65536];
    std::uint64_t total = 0;
    bool ok = true;
    const std::uint8_t* in = data.data();
    std::size_t left = data.size();
    int rc = Z_OK;
    while (ok && rc != Z_STREAM_END) {
        if (z.avail_in == 0 && left > 0) {
            const std::size_t piece = left < (1u << 30) ? left : (1u << 30);
            z.next_in = const_cast<Bytef*>(in); // zlib never writes its input
            z.avail_in = static_cast<uInt>(piece);
            in += piece;
            left -= piece;
        }
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = sizeof buffer - z.avail_out;
        total += got;
        if (total > promised || !rows.Take(buffer, got)) ok = false;
        if (rc != Z_OK && rc != Z_STREAM_END) ok = false;
        if (rc == Z_OK && got == 0 && z.avail_in == 0 && left == 0) ok = false; // data ends early
    }
    inflateEnd(&z);
    return ok && total == promised;
}
} // namespace

TPngCodedData ProbePngCodedData(std::span<const std::uint8_t> file) {
    TPngCodedData d;
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0)
        return Refuse(d, "the file does not start with the PNG signature");
    std::size_t at = 8;
    bool header = false, ended = false;
    int depth = 0, colourType = 0, interlace = 0;
    while (!ended) {
        if (file.size() - at < 12) return Refuse(d, "damaged PNG chunks");
        const std::uint32_t length = ReadBe32(&file[at]);
        if (length > file.size() - at - 12) return Refuse(d, "damaged PNG chunks");
        const std::uint8_t* type = &file[at + 4];
        const std::uint8_t* body = &file[at + 8];
        const uLong crc = crc32(crc32(0, nullptr, 0), type, uInt(length) + 4);
        if (crc != ReadBe32(body + length)) return Refuse(d, "PNG chunk with a wrong checksum");
        at += std::size_t(length) + 12;
        if (!header) {
            if (!Is(type, "IHDR") || length < 13) return Refuse(d, "damaged PNG header");
            header = true;
            const std::uint32_t w = ReadBe32(body), h = ReadBe32(body + 4);
            if (w == 0 || h == 0 || w > std::uint32_t(std::numeric_limits<int>::max()) ||
                h > std::uint32_t(std::numeric_limits<int>::max()))
                return Refuse(d, "damaged PNG header");
            d.Width = int(w);
            d.Height = int(h);
            depth = body[8];
            colourType = body[9];
            interlace = body[12];
        } else if (Is(type, "PLTE")) {
            if (length % 3 != 0 || length / 3 > kMaxPaletteEntries) return Refuse(d, "damaged PNG palette");
            d.Palette.assign(body, body + length);
        } else if (Is(type, "tRNS")) {
            return Refuse(d, "PNG with transparency");
        } else if (Is(type, "IDAT")) {
            d.Data.insert(d.Data.end(), body, body + length);
        } else if (Is(type, "IEND")) {
            ended = true;
        }
    }
    if (depth != kCarriedDepth) return Refuse(d, "PNG that is not 8 bits per sample");
    if (interlace != 0) return Refuse(d, "interlaced PNG");
    switch (colourType) {
    case ctGray:
        d.Colours = TPngCodedColours::Gray;
        d.Channels = 1;
        break;
    case ctRgb:
        d.Colours = TPngCodedColours::Rgb;
        d.Channels = 3;
        break;
    case ctPalette:
        if (d.Palette.empty()) return Refuse(d, "damaged PNG palette");
        d.Colours = TPngCodedColours::Palette;
        d.Channels = 1;
        break;
    default:
        return Refuse(d, "PNG with an alpha channel");
    }
    const std::uint64_t rowBytes = std::uint64_t(d.Width) * std::uint64_t(d.Channels);
    const std::uint64_t promised = (rowBytes + 1) * std::uint64_t(d.Height);
    // Deflate makes at most 1032 bytes of one: more promised rows cannot all be in the data.
    constexpr std::uint64_t kMaxInflateRatio = 1032;
    if (promised / kMaxInflateRatio > d.Data.size()) return Refuse(d, "damaged PNG image data");
    TRowChecker rows(static_cast<std::size_t>(rowBytes),
                     d.Colours == TPngCodedColours::Palette ? d.Palette.size() / 3 : 0);
    if (d.Data.empty() || !InflatesToRows(d.Data, promised, rows)) return Refuse(d, "damaged PNG image data");
    d.Carriable = true;
    return d;
}
