#include "codecs/pcx/PcxReader.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "imaging/params/ReadBudget.h"
#include "imaging/params/ReadFailures.h"
#include "platform/ByteOrder.h"
#include "platform/Stream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr int kHeaderSize = 128;
constexpr int kPalette256Size = 768;
// One run-length pair produces at most 63 bytes.
constexpr std::int64_t kMaxRunLength = 63;
// Header versions: 3 is written without palette information, 0 means the fixed palette of the first
// version; their header palettes hold no colours of the file.
constexpr std::uint8_t kVersionFixedPalette = 0, kVersionNoPalette = 3;

struct TPcxHeader {
    std::uint8_t Manufacturer = 0, Version = 0, Encoding = 0, Bits = 0;
    int XMin = 0, YMin = 0, XMax = 0, YMax = 0, HDpi = 0, VDpi = 0;
    std::array<TIERgbTriple, 16> Palette16{};
    int Planes = 0;
    int BytesPerLine = 0;

    bool IsSupported() const { return Manufacturer == 10 && Bits <= 8 && Encoding <= 1; }
};

TPcxHeader ParseHeader(const std::uint8_t* h) {
    TPcxHeader r;
    r.Manufacturer = h[0];
    r.Version = h[1];
    r.Encoding = h[2];
    r.Bits = h[3];
    r.XMin = ReadLe16(h + 4);
    r.YMin = ReadLe16(h + 6);
    r.XMax = ReadLe16(h + 8);
    r.YMax = ReadLe16(h + 10);
    r.HDpi = ReadLe16(h + 12);
    r.VDpi = ReadLe16(h + 14);
    for (int i = 0; i < 16; ++i)
        r.Palette16[std::size_t(i)] = CreateRGB(h[16 + 3 * i], h[17 + 3 * i], h[18 + 3 * i]);
    r.Planes = h[65];
    r.BytesPerLine = ReadLe16(h + 66);
    return r;
}

// How a row's scan lines become pixels.
enum class TPcxLayout {
    None,      // not converted: the image stays black
    Mono,      // one 1-bit plane, copied into an ie1Bit row
    TwoColour, // one 1-bit plane shown through the first two colours of the header palette
    Packed,    // one plane of 2 or 4 bits, the 16-colour header palette
    Indexed,   // one 8-bit plane, the 256-colour palette
    Planar,    // 2 to 4 planes of 1 bit: plane k gives bit k of the header palette index
    Rgb,       // three 8-bit planes: red, green, blue
    Rgba       // four 8-bit planes: red, green, blue, alpha
};

// Whether a 1-bit file's header palette names its two colours. Common decoders ignore it and show black
// and white; a file that sets two colours is shown in them, as 1-bit BMP and PNG files are. Many writers
// leave that palette unset, though: all zero or repeated entries (taken as they stand, an all-black
// page), the standard 16 colours (black and dark blue), or a version that says it holds no palette.
// Those, and plain black and white, stay black and white.
bool HasTwoColours(const TPcxHeader& h) {
    const TIERgbTriple first = h.Palette16[0], second = h.Palette16[1];
    const TIERgbTriple black = CreateRGB(0, 0, 0), white = CreateRGB(255, 255, 255);
    const TIERgbTriple standardBlue = CreateRGB(0, 0, 0xAA);
    if (h.Version == kVersionNoPalette || h.Version == kVersionFixedPalette) return false;
    if (first == second) return false;
    if (first == black && (second == white || second == standardBlue)) return false;
    return true;
}

TPcxLayout LayoutOf(const TPcxHeader& h) {
    if (h.Planes == 1 && h.Bits == 1) return HasTwoColours(h) ? TPcxLayout::TwoColour : TPcxLayout::Mono;
    if (h.Planes == 1 && (h.Bits == 2 || h.Bits == 4)) return TPcxLayout::Packed;
    if (h.Planes == 1 && h.Bits == 8) return TPcxLayout::Indexed;
    if (h.Planes >= 2 && h.Planes <= 4 && h.Bits == 1) return TPcxLayout::Planar;
    if (h.Planes == 3 && h.Bits == 8) return TPcxLayout::Rgb;
    if (h.Planes == 4 && h.Bits == 8) return TPcxLayout::Rgba;
    return TPcxLayout::None;
}

// A run that did not fit in its scan line; the rest is written at the start of the next one.
struct TPcxRun {
    std::int64_t Count = 0;
    std::uint8_t Value = 0;

    std::int64_t WriteInto(std::uint8_t* line, std::int64_t room) {
        const std::int64_t n = std::min(Count, room);
        if (n > 0) std::memset(line, Value, std::size_t(n));
        Count -= n;
        return n;
    }
};

class TScanLineDecoder {
public:
    TScanLineDecoder(const std::vector<std::uint8_t>& data, bool runLength)
        : Data(data), RunLength(runLength) {}

    // Fills up to length bytes of line; returns how many the data produced.
    std::int64_t Decode(std::uint8_t* line, std::int64_t length) {
        const std::int64_t size = std::int64_t(Data.size());
        if (!RunLength) {
            const std::int64_t n = std::min(length, size - Pos);
            if (n > 0) std::memcpy(line, Data.data() + Pos, std::size_t(n));
            Pos += n;
            return n;
        }
        std::int64_t x = Pending.WriteInto(line, length);
        while (x < length && Pos < size) {
            const std::uint8_t b = Data[std::size_t(Pos++)];
            if ((b & 0xC0) != 0xC0) {
                line[x++] = b;
                continue;
            }
            if (Pos >= size) break; // run byte missing
            Pending = {b & 0x3F, Data[std::size_t(Pos++)]};
            x += Pending.WriteInto(line + x, length - x);
        }
        return x;
    }

    bool Exhausted() const { return Pos >= std::int64_t(Data.size()) && Pending.Count == 0; }

private:
    const std::vector<std::uint8_t>& Data;
    bool RunLength;
    std::int64_t Pos = 0;
    TPcxRun Pending;
};

// Writes the first covered pixels of one row from its decoded scan lines.
void ConvertRow(TPcxLayout layout, const TPcxHeader& h, const std::array<TIERgbTriple, 256>& pal256,
                const std::vector<std::uint8_t>& lines, std::int64_t covered, std::uint8_t* out) {
    const std::size_t l = std::size_t(h.BytesPerLine);
    auto put = [&](std::int64_t x, const TIERgbTriple& c) { std::memcpy(out + 3 * x, &c, 3); };
    switch (layout) {
    case TPcxLayout::Mono:
        if (covered > 0) std::memcpy(out, lines.data(), std::size_t((covered + 7) / 8));
        break;
    case TPcxLayout::TwoColour:
        for (std::int64_t x = 0; x < covered; ++x)
            put(x, h.Palette16[std::size_t((lines[std::size_t(x / 8)] >> (7 - x % 8)) & 1)]);
        break;
    case TPcxLayout::Packed: {
        const int perByte = 8 / h.Bits;
        const int mask = (1 << h.Bits) - 1;
        for (std::int64_t x = 0; x < covered; ++x) {
            const int shift = 8 - h.Bits * int(x % perByte + 1);
            put(x, h.Palette16[std::size_t((lines[std::size_t(x / perByte)] >> shift) & mask)]);
        }
        break;
    }
    case TPcxLayout::Indexed:
        for (std::int64_t x = 0; x < covered; ++x) put(x, pal256[lines[std::size_t(x)]]);
        break;
    case TPcxLayout::Planar:
        for (std::int64_t x = 0; x < covered; ++x) {
            int index = 0;
            for (int k = 0; k < h.Planes; ++k)
                if (lines[k * l + std::size_t(x / 8)] & (0x80 >> (x % 8))) index |= 1 << k;
            put(x, h.Palette16[std::size_t(index)]);
        }
        break;
    case TPcxLayout::Rgb:
    case TPcxLayout::Rgba: // the alpha plane goes to the mask
        for (std::int64_t x = 0; x < covered; ++x) {
            const std::size_t i = std::size_t(x);
            put(x, CreateRGB(lines[i], lines[l + i], lines[2 * l + i]));
        }
        break;
    case TPcxLayout::None:
        break;
    }
}

void FillParams(const TPcxHeader& h, std::int64_t width, std::int64_t height, bool havePal256,
                const std::array<TIERgbTriple, 256>& pal256, TIOParamsVals& Params) {
    Params.BitsPerSample = h.Bits;
    Params.SamplesPerPixel = h.Planes;
    Params.ImageWidth = std::int32_t(width);
    Params.ImageHeight = std::int32_t(height);
    Params.PcxVersion = h.Version;
    Params.FreePalette();
    if (h.Bits == 8) {
        // Three-plane true colour has no palette to report.
        if (havePal256) Params.SetPalette(pal256.data(), 256);
    } else if (h.Bits == 1 && h.Planes == 4) {
        Params.SetPalette(h.Palette16.data(), 16);
        Params.BitsPerSample = 4;
        Params.SamplesPerPixel = 1;
    } else if (havePal256) { // one plane of 5 to 7 bits: the header palette has only 16 entries
        Params.SetPalette(pal256.data(), 1 << h.Bits);
    } else {
        Params.SetPalette(h.Palette16.data(), std::min(1 << h.Bits, 16));
    }
}

void ReadPcx(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool HeaderOnly,
             TIEProgressRecord& Progress, std::int64_t DataSize, std::unique_ptr<TIEMask>& Mask) {
    const std::int64_t start = Stream.Position();
    std::uint8_t raw[kHeaderSize]{};
    if (Stream.Read(raw, kHeaderSize) != kHeaderSize) {
        Progress.Fail("the header ends early");
        return;
    }
    const TPcxHeader h = ParseHeader(raw);
    if (h.Manufacturer != 10) {
        Progress.Fail("not a PCX file");
        return;
    }
    if (!h.IsSupported()) {
        Progress.Fail(h.Bits > 8 ? reasons::Unsupported("bit depth", h.Bits)
                                 : reasons::Unsupported("encoding", h.Encoding));
        return;
    }
    const std::int64_t width = std::int64_t(h.XMax) - h.XMin + 1;
    const std::int64_t height = std::int64_t(h.YMax) - h.YMin + 1;
    const bool noDpi = h.HDpi == 0 || h.VDpi == 0;
    Params.HorizontalDpi = noDpi ? DefaultDpiX : h.HDpi;
    Params.VerticalDpi = noDpi ? DefaultDpiY : h.VDpi;

    std::array<TIERgbTriple, 256> pal256{};
    const bool havePal256 = h.Planes == 1 && h.Bits > 4;
    if (havePal256) {
        std::uint8_t rgb[kPalette256Size];
        if (DataSize < kHeaderSize + kPalette256Size) {
            Progress.Fail("the 256-colour palette is missing");
            return;
        }
        Stream.SetPosition(start + DataSize - kPalette256Size);
        if (Stream.Read(rgb, kPalette256Size) != kPalette256Size) {
            Progress.Fail("the 256-colour palette is missing");
            return;
        }
        for (int i = 0; i < 256; ++i)
            pal256[std::size_t(i)] = CreateRGB(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        Stream.SetPosition(start + kHeaderSize);
    }
    FillParams(h, width, height, havePal256, pal256, Params);
    if (HeaderOnly) return;
    if (width <= 0 || height <= 0) {
        Progress.Fail(reasons::kNoPixels);
        return;
    }
    if (DataSize < kHeaderSize) {
        Progress.Fail("the header ends early");
        return;
    }
    const TPcxLayout layout = LayoutOf(h);
    if (layout == TPcxLayout::None) { // nothing to convert: no made-up page
        Progress.Fail("unsupported layout: " + std::to_string(h.Planes) + " planes of " +
                      std::to_string(h.Bits) + " bits");
        return;
    }

    const TIEPixelFormat type = layout == TPcxLayout::Mono ? ie1Bit : ie24Rgb;
    const std::int64_t bitmapBytes =
        RowStrideOf(width, BitsPerPixelOf(type)) * height + (layout == TPcxLayout::Rgba ? width * height : 0);
    const std::int64_t decodedBytes = std::int64_t(h.BytesPerLine) * h.Planes * height;
    const std::int64_t dataLength = std::min(DataSize - kHeaderSize, Stream.Remaining());
    if (!StreamCanHold(bitmapBytes, h.Encoding == 1 ? decodedBytes / kMaxRunLength : decodedBytes,
                       dataLength)) {
        Progress.Fail(reasons::kLargerThanFile);
        return;
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(dataLength));
    data.resize(std::size_t(std::max<std::int64_t>(0, Stream.Read(data.data(), dataLength))));

    Bitmap.Reallocate(int(width), int(height), type);
    Bitmap.FillAll(type == ie1Bit ? 255.0 : 0.0);
    Progress.PercentPerUnit = 100.0 / double(height);

    const std::int64_t l = h.BytesPerLine;
    std::vector<std::uint8_t> lines(std::size_t(l) * std::size_t(h.Planes));
    TIEMask* mask = nullptr;
    if (layout == TPcxLayout::Rgba) {
        if (!Mask) Mask = std::make_unique<TIEMask>();
        mask = Mask.get();
        mask->Allocate(int(width), int(height), 8);
        mask->Fill(255);
        mask->FullyOpaque = false;
    }
    // Writers that leave the alpha plane zero mean no alpha: taken as it stands, the page was blank.
    bool anyAlpha = false;
    auto keepAlpha = [&] {
        if (mask && !anyAlpha) Mask.reset();
    };
    TScanLineDecoder decoder(data, h.Encoding == 1);
    for (int y = 0; y < int(height); ++y) {
        Progress.ProgressCounter = y;
        Progress.Report();
        if (Progress.IsAborting()) return keepAlpha();
        std::int64_t got = l;
        for (int k = 0; k < h.Planes; ++k) got = std::min(got, decoder.Decode(lines.data() + k * l, l));
        const std::int64_t covered = std::min(width, got * 8 / h.Bits);
        ConvertRow(layout, h, pal256, lines, covered, Bitmap.RowPointer(y));
        if (mask && covered > 0) {
            const std::uint8_t* alpha = lines.data() + 3 * l;
            std::memcpy(mask->RowPointer(y), alpha, std::size_t(covered));
            anyAlpha = anyAlpha || std::any_of(alpha, alpha + covered, [](std::uint8_t a) { return a != 0; });
        }
        if (covered < width) { // rows not in the data stay blank
            Progress.DataEndsEarly(y, height - 1, height);
            return keepAlpha();
        }
    }
    keepAlpha();
}

} // namespace

void ReadPcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool HeaderOnly,
                   TIEProgressRecord& Progress, std::int64_t DataSize, std::unique_ptr<TIEMask>& Mask) {
    try {
        ReadPcx(Stream, Bitmap, Params, HeaderOnly, Progress, DataSize, Mask);
    } catch (const std::exception& e) {
        FailFromException(Progress, e);
    }
}

bool IsPcxStream(TStream& Stream) {
    const std::int64_t pos = Stream.Position();
    std::uint8_t h[kHeaderSize];
    const bool ok =
        Stream.Size() > kHeaderSize && Stream.Read(h, kHeaderSize) == kHeaderSize && h[0] == 10 && h[1] <= 5;
    Stream.SetPosition(pos);
    return ok;
}
