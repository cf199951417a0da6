#include "codecs/bmp/BmpReader.h"

#include "codecs/bmp/DibCommon.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "imaging/params/ReadFailures.h"
#include "platform/ByteOrder.h"
#include "platform/Stream.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

using namespace dib;

namespace {

constexpr std::uint16_t kBmpType = 0x4D42; // "BM"
constexpr std::uint32_t kCoreHeaderSize = 12;
enum : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

// One colour channel of a 16- or 32-bit pixel: the lowest run of set bits of its mask.
struct TChannel {
    int Shift = 0;
    int Bits = 0;
};

TChannel MakeChannel(std::uint32_t mask) {
    if (mask == 0) return {};
    const int shift = std::countr_zero(mask);
    return {shift, std::countr_one(mask >> shift)};
}

// The channel scaled to 8 bits: narrower channels stretched to the full range (5 bits: 31 -> 255),
// wider ones cut to their top 8 bits.
std::uint8_t Extract(std::uint32_t pixel, TChannel c) {
    if (c.Bits == 0) return 0;
    const std::uint32_t v = std::uint32_t((pixel >> c.Shift) & ((std::uint64_t(1) << c.Bits) - 1));
    return c.Bits >= 8 ? std::uint8_t(v >> (c.Bits - 8)) : ScaleChannelToByte(v, c.Bits);
}

struct TBmpLayout {
    std::int64_t Start = 0;
    std::int64_t Width = 0;
    std::int64_t Height = 0; // made positive; TopDown remembers the sign
    bool TopDown = false;
    int Bits = 0;
    std::uint32_t Compression = kRgb;
    std::int64_t CompressedSize = 0;
    std::array<std::uint32_t, 3> Masks{}; // red, green, blue
    std::uint32_t AlphaMask = 0;          // bit fields only; 0: no alpha
    bool Native = false;
    bool ColourOneBit = false;           // 1-bit pixels through a table other than black and white
    std::array<TIERgbTriple, 256> Lut{}; // colour table, black past its end
};

// Colour count of an info header: above 256 counts as 0, and 0 means the full table up to 8 bits.
int ColorCount(std::uint32_t colorsUsed, int bits) {
    if (colorsUsed > 256) colorsUsed = 0;
    if (colorsUsed == 0 && bits >= 0 && bits <= 8) return 1 << bits;
    return int(colorsUsed);
}

void ReadColorTable(TStream& Stream, TIOParamsVals& Params, TBmpLayout& l, int count, int entryBytes) {
    if (count <= 0) return;
    std::vector<std::uint8_t> raw(std::size_t(count) * entryBytes);
    ReadPadded(Stream, raw.data(), std::int64_t(raw.size()));
    std::vector<TIERgbTriple> table(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* e = &raw[std::size_t(i) * entryBytes];
        table[std::size_t(i)] = {e[0], e[1], e[2]};
        if (i < 256) l.Lut[std::size_t(i)] = table[std::size_t(i)];
    }
    Params.SetPalette(table.data(), count);
}

// Info header of any size but 12: the first 64 bytes at most are looked at. Returns false when the
// dimensions cannot describe an image.
bool ReadInfoHeader(TStream& Stream, std::uint32_t size, TBmpLayout& l, TIOParamsVals& Params) {
    std::uint8_t rec[64]{};
    ReadPadded(Stream, rec, std::min<std::uint32_t>(size, 64));
    if (size > 64) Stream.Seek(std::int64_t(size) - 64, TSeekOrigin::soCurrent);
    Params.BmpHeaderKind = size == 40 ? 1 : size == 64 ? 3 : 0;

    const std::int32_t width = ReadLeInt32(rec + 4);
    const std::int32_t height = ReadLeInt32(rec + 8);
    if (width < 0 || height == std::numeric_limits<std::int32_t>::min()) return false;
    l.Width = width;
    l.TopDown = height < 0;
    l.Height = height < 0 ? -std::int64_t(height) : height;
    Params.ImageWidth = width;
    Params.ImageHeight = std::int32_t(l.Height);
    l.Bits = ReadLe16(rec + 14);
    l.Compression = ReadLe32(rec + 16);
    l.CompressedSize = ReadLe32(rec + 20);

    const int dpiX = PelsPerMetreToDpi(ReadLeInt32(rec + 24));
    const int dpiY = PelsPerMetreToDpi(ReadLeInt32(rec + 28));
    Params.HorizontalDpi = dpiX > 0 ? dpiX : DefaultDpiX;
    Params.VerticalDpi = dpiY > 0 ? dpiY : DefaultDpiY;

    // Bit-field masks sit inside headers of 52 bytes and more (the 64-byte OS/2 header has other
    // fields there); after a shorter header they come first, before the colour table.
    const bool fields = l.Compression == kBitFields || l.Compression == kAlphaBitFields;
    if (fields && size >= 52 && size != 64) {
        l.Masks = {ReadLe32(rec + 40), ReadLe32(rec + 44), ReadLe32(rec + 48)};
        if (size >= 56) l.AlphaMask = ReadLe32(rec + 52);
    } else if (fields) {
        std::uint8_t m[16]{};
        ReadPadded(Stream, m, l.Compression == kAlphaBitFields ? 16 : 12);
        l.Masks = {ReadLe32(m), ReadLe32(m + 4), ReadLe32(m + 8)};
        if (l.Compression == kAlphaBitFields) l.AlphaMask = ReadLe32(m + 12);
    }
    ReadColorTable(Stream, Params, l, ColorCount(ReadLe32(rec + 32), l.Bits), 4);
    return true;
}

void ReadCoreHeader(TStream& Stream, TBmpLayout& l, TIOParamsVals& Params) {
    std::uint8_t rec[12]{};
    ReadPadded(Stream, rec, 12);
    Params.BmpHeaderKind = 2;
    l.Width = ReadLe16(rec + 4);
    l.Height = ReadLe16(rec + 6);
    l.Bits = ReadLe16(rec + 10);
    Params.ImageWidth = std::int32_t(l.Width);
    Params.ImageHeight = std::int32_t(l.Height);
    Params.HorizontalDpi = DefaultDpiX;
    Params.VerticalDpi = DefaultDpiY;
    if (l.Bits <= 8) ReadColorTable(Stream, Params, l, 1 << l.Bits, 3);
}

bool Decodable(const TBmpLayout& l) {
    switch (l.Bits) {
    case 1:
        return l.Compression == kRgb;
    case 4:
        return l.Compression == kRgb || l.Compression == kRle4;
    case 8:
        return l.Compression == kRgb || l.Compression == kRle8;
    case 16:
    case 32:
        return l.Compression == kRgb || l.Compression == kBitFields || l.Compression == kAlphaBitFields;
    case 24:
        // Embedded JPEG or PNG data (compressions 4 and 5) is no row of pixels.
        return l.Compression == kRgb || l.Compression == kBitFields;
    default:
        return false;
    }
}

// Why a layout cannot be decoded.
std::string UnsupportedReason(const TBmpLayout& l) {
    switch (l.Bits) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return reasons::Unsupported("compression", l.Compression) + " for " + std::to_string(l.Bits) +
               "-bit pixels";
    default:
        return reasons::Unsupported("bit depth", l.Bits);
    }
}

bool IsRunLength(const TBmpLayout& l) {
    return (l.Bits == 8 && l.Compression == kRle8) || (l.Bits == 4 && l.Compression == kRle4);
}

class TBmpDecoder {
public:
    // mask: filled with the alpha of bit fields, or with the pixels run-length data paints.
    TBmpDecoder(TStream& stream, TIEBitmap& bitmap, TIEProgressRecord& progress, TBmpLayout& layout,
                TIEMask* mask)
        : Stream(stream), Bitmap(bitmap), Progress(progress), L(layout), Mask(mask), W(int(layout.Width)),
          H(int(layout.Height)) {}

    void DecodeRows(bool invertOneBit);
    void DecodeRunLength(std::int64_t compressedSize);

private:
    int BitmapRow(std::int64_t fileRow) const { return int(L.TopDown ? fileRow : H - 1 - fileRow); }
    // The data ended before file rows fileRow..H-1 were complete (bottom-up files miss their top rows).
    void RowsMissingFrom(std::int64_t fileRow) {
        if (L.TopDown)
            Progress.DataEndsEarly(fileRow, H - 1, H);
        else
            Progress.DataEndsEarly(0, H - 1 - fileRow, H);
    }
    bool Step(int rowsDone) {
        Progress.ProgressCounter = rowsDone;
        Progress.Report();
        return !Progress.IsAborting();
    }
    void ConvertRow(const std::uint8_t* in, std::int64_t got, std::uint8_t* out, bool invert);
    void ConvertAlpha(const std::uint8_t* in, std::int64_t got, std::uint8_t* out) const;
    void Put(std::vector<std::uint8_t>& row, std::vector<std::uint8_t>& painted, std::int64_t x,
             std::uint8_t index) const;

    TStream& Stream;
    TIEBitmap& Bitmap;
    TIEProgressRecord& Progress;
    TBmpLayout& L;
    TIEMask* Mask;
    const int W, H;

public:
    bool AnyAlpha = false;   // a bit-field alpha above 0 was read
    bool AllPainted = false; // run-length codes reached every pixel
};

// Converts the pixels that the got bytes of a stored row cover; the rest of the row stays blank.
void TBmpDecoder::ConvertRow(const std::uint8_t* in, std::int64_t got, std::uint8_t* out, bool invert) {
    const std::int64_t covered = std::min<std::int64_t>(W, got * 8 / L.Bits);
    switch (L.Bits) {
    case 1:
        if (L.ColourOneBit) {
            for (std::int64_t x = 0; x < covered; ++x)
                std::memcpy(out + 3 * x, &L.Lut[(in[x / 8] >> (7 - x % 8)) & 1], 3);
            break;
        }
        for (std::int64_t i = 0; i < (covered + 7) / 8; ++i) out[i] = invert ? std::uint8_t(~in[i]) : in[i];
        break;
    case 4:
        for (std::int64_t x = 0; x < covered; ++x) {
            const std::uint8_t index = (x & 1) ? in[x / 2] & 0x0F : in[x / 2] >> 4;
            if (L.Native) {
                out[x] = index;
            } else {
                std::memcpy(out + 3 * x, &L.Lut[index], 3);
            }
        }
        break;
    case 8:
        if (L.Native) {
            std::memcpy(out, in, std::size_t(covered));
        } else {
            for (std::int64_t x = 0; x < covered; ++x) std::memcpy(out + 3 * x, &L.Lut[in[x]], 3);
        }
        break;
    case 24:
        std::memcpy(out, in, std::size_t(covered * 3));
        break;
    case 16:
    case 32: {
        const TChannel r = MakeChannel(L.Masks[0]), g = MakeChannel(L.Masks[1]), b = MakeChannel(L.Masks[2]);
        for (std::int64_t x = 0; x < covered; ++x) {
            const std::uint32_t p = L.Bits == 16 ? ReadLe16(in + 2 * x) : ReadLe32(in + 4 * x);
            out[3 * x] = Extract(p, b);
            out[3 * x + 1] = Extract(p, g);
            out[3 * x + 2] = Extract(p, r);
        }
        break;
    }
    default:
        break;
    }
}

// The alpha of the pixels the got bytes of a stored bit-field row cover.
void TBmpDecoder::ConvertAlpha(const std::uint8_t* in, std::int64_t got, std::uint8_t* out) const {
    const std::int64_t covered = std::min<std::int64_t>(W, got * 8 / L.Bits);
    const TChannel a = MakeChannel(L.AlphaMask);
    for (std::int64_t x = 0; x < covered; ++x) {
        const std::uint32_t p = L.Bits == 16 ? ReadLe16(in + 2 * x) : ReadLe32(in + 4 * x);
        out[x] = Extract(p, a);
    }
}

void TBmpDecoder::DecodeRows(bool invertOneBit) {
    const std::int64_t stride = RowStrideOf(W, L.Bits);
    std::vector<std::uint8_t> stored(static_cast<std::size_t>(stride));
    for (int i = 0; i < H; ++i) {
        if (!Step(i)) return;
        const std::int64_t got = std::max<std::int64_t>(0, Stream.Read(stored.data(), stride));
        // The padding of the last row is no pixel: a file that stops after the pixels is whole.
        const std::int64_t needed = i == H - 1 ? (std::int64_t(W) * L.Bits + 7) / 8 : stride;
        if (got > 0) ConvertRow(stored.data(), got, Bitmap.RowPointer(BitmapRow(i)), invertOneBit);
        if (Mask && got > 0) {
            std::uint8_t* alpha = Mask->RowPointer(BitmapRow(i));
            ConvertAlpha(stored.data(), got, alpha);
            AnyAlpha = AnyAlpha || std::any_of(alpha, alpha + W, [](std::uint8_t v) { return v != 0; });
        }
        if (got < needed) { // the rest of the image is not in the file; a partial row counts as missing
            RowsMissingFrom(i);
            return;
        }
    }
}

// Stores one pixel of a run-length row. Pixels past the right edge are dropped: encoders pad runs
// to an even count, so an odd width gets one more pixel than the row holds.
void TBmpDecoder::Put(std::vector<std::uint8_t>& row, std::vector<std::uint8_t>& painted, std::int64_t x,
                      std::uint8_t index) const {
    if (x >= W) return;
    painted[std::size_t(x)] = 255;
    if (L.Native) {
        row[std::size_t(x)] = index;
    } else {
        std::memcpy(&row[std::size_t(x) * 3], &L.Lut[index], 3);
    }
}

// Decodes run-length data. Pixels the codes never reach (skipped by a delta, an early end of line or
// end of bitmap) are not painted: they stay blank and, in the mask, transparent.
void TBmpDecoder::DecodeRunLength(std::int64_t compressedSize) {
    const std::int64_t size = std::min(std::max<std::int64_t>(compressedSize, 0), Stream.Remaining());
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    const std::int64_t n = size > 0 ? std::max<std::int64_t>(0, Stream.Read(data.data(), size)) : 0;

    const bool four = L.Bits == 4;
    std::vector<std::uint8_t> row(std::size_t(W) * (L.Native ? 1 : 3));
    std::vector<std::uint8_t> painted(std::size_t(W), 0);
    std::int64_t paintedCount = 0;
    bool dirty = false;
    std::int64_t x = 0, y = 0, pos = 0;
    auto flush = [&] {
        if (!dirty) return;
        std::memcpy(Bitmap.RowPointer(BitmapRow(y)), row.data(), row.size());
        std::fill(row.begin(), row.end(), std::uint8_t(0));
        paintedCount += std::count(painted.begin(), painted.end(), std::uint8_t(255));
        if (Mask) std::memcpy(Mask->RowPointer(BitmapRow(y)), painted.data(), painted.size());
        std::fill(painted.begin(), painted.end(), std::uint8_t(0));
        dirty = false;
    };
    bool ended = false; // an end-of-bitmap code, the last row's end, a delta out of the image or a stop
    while (pos + 1 < n) {
        const std::uint8_t count = data[std::size_t(pos)], value = data[std::size_t(pos + 1)];
        pos += 2;
        if (count != 0) { // encoded run
            for (int i = 0; i < count; ++i, ++x) {
                Put(row, painted, x, four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            }
            dirty = true;
        } else if (value == 0) { // end of line
            flush();
            x = 0;
            ended = ++y >= H || !Step(int(y));
            if (ended) break;
        } else if (value == 1) { // end of bitmap
            ended = true;
            break;
        } else if (value == 2) { // delta
            if (pos + 1 >= n) break;
            const std::uint8_t dx = data[std::size_t(pos)], dy = data[std::size_t(pos + 1)];
            pos += 2;
            ended = x + dx > W || y + dy >= H;
            if (ended) break;
            if (dy != 0) flush();
            x += dx;
            y += dy;
        } else { // absolute run of value pixels, padded to an even byte count
            const std::int64_t bytes = four ? (value + 1) / 2 : value;
            for (int i = 0; i < value; ++i, ++x) {
                const std::int64_t at = pos + (four ? i / 2 : i);
                if (at >= n) break;
                const std::uint8_t b = data[std::size_t(at)];
                Put(row, painted, x, four ? ((i & 1) ? b & 0x0F : b >> 4) : b);
            }
            dirty = true;
            pos += bytes + (bytes & 1);
        }
    }
    // Data that runs out before the last row and without an end-of-bitmap code was cut short. A row
    // whose end-of-line code is missing may be whole; the rows after it are not in the file.
    const bool lastRowWhole = dirty && x >= W;
    flush();
    AllPainted = paintedCount == std::int64_t(W) * H;
    if (!ended && y < H && !(lastRowWhole && y == H - 1)) RowsMissingFrom(lastRowWhole ? y + 1 : y);
}

void ApplyNativePalette(TIEBitmap& Bitmap, const TBmpLayout& l) {
    for (int i = 0; i < 256; ++i) Bitmap.SetPaletteEntry(i, l.Lut[std::size_t(i)]);
    Bitmap.SetPaletteLength(l.Bits == 4 ? 16 : 256);
}

void SetSampleParams(TIOParamsVals& Params, int bits) {
    switch (bits) {
    case 1:
    case 4:
    case 8:
        Params.BitsPerSample = bits;
        Params.SamplesPerPixel = 1;
        break;
    case 16:
        Params.BitsPerSample = 5;
        Params.SamplesPerPixel = 3;
        break;
    default: // 24, 32, and other depths, which give a blank 24-bit bitmap the parameters must describe
        Params.BitsPerSample = 8;
        Params.SamplesPerPixel = 3;
        break;
    }
}

// A table of exactly black and white (either order) keeps 1-bit pixels bilevel.
bool BlackAndWhite(const TIOParamsVals& Params) {
    const TIERgbTriple black = CreateRGB(0, 0, 0), white = CreateRGB(255, 255, 255);
    if (Params.PaletteCount < 2) return true; // no colours to show
    const TIERgbTriple a = Params.Palette[0], b = Params.Palette[1];
    return (a == black && b == white) || (a == white && b == black);
}

// The mask the pixels need: bit-field alpha, or the paint of run-length data. Null for neither.
TIEMask* MakeMask(const TBmpLayout& l, std::unique_ptr<TIEMask>& Mask) {
    const bool alpha = (l.Bits == 16 || l.Bits == 32) &&
                       (l.Compression == kBitFields || l.Compression == kAlphaBitFields) && l.AlphaMask != 0;
    if (!alpha && !IsRunLength(l)) return nullptr;
    if (!Mask) Mask = std::make_unique<TIEMask>();
    Mask->Allocate(int(l.Width), int(l.Height), 8);
    Mask->Fill(alpha ? 255 : 0);
    Mask->FullyOpaque = false;
    return Mask.get();
}

void ReadBmp(TStream& Stream, TIEBitmap& Bitmap, std::int64_t DataSize, bool HeaderOnly,
             TIEProgressRecord& Progress, TIOParamsVals& Params, std::unique_ptr<TIEMask>& Mask) {
    TBmpLayout l;
    l.Start = Stream.Position();
    std::uint8_t fileHeader[14]{};
    ReadPadded(Stream, fileHeader, 14);
    if (ReadLe16(fileHeader) != kBmpType) {
        Progress.Fail("not a BMP file");
        return;
    }
    const std::uint32_t fileSize = ReadLe32(fileHeader + 2);
    const std::uint32_t pixelOffset = ReadLe32(fileHeader + 10);
    if (DataSize < 1 && fileSize > 0) DataSize = fileSize;

    const std::int64_t infoStart = Stream.Position();
    std::uint8_t sizeField[4]{};
    ReadPadded(Stream, sizeField, 4);
    Stream.SetPosition(infoStart);
    const std::uint32_t headerSize = ReadLe32(sizeField);
    const std::int64_t streamEnd = Stream.Size();
    // Headers and a pixel offset the file cannot hold describe no image of it.
    if (headerSize < kCoreHeaderSize) {
        Progress.Fail("invalid header size " + std::to_string(headerSize));
        return;
    }
    if (std::int64_t(headerSize) > streamEnd - infoStart) {
        Progress.Fail("the image header runs past the end of the file");
        return;
    }
    if (std::int64_t(pixelOffset) > streamEnd - l.Start) {
        Progress.Fail("the pixel data offset lies past the end of the file");
        return;
    }
    Params.FreePalette();

    if (headerSize == kCoreHeaderSize) {
        ReadCoreHeader(Stream, l, Params);
    } else if (!ReadInfoHeader(Stream, headerSize, l, Params)) {
        Progress.Fail("invalid image size");
        return;
    }
    if (l.Compression == kRgb || l.Compression == kBitFields) Params.BmpRunLength = false;
    if (l.Compression == kRle8 || l.Compression == kRle4) Params.BmpRunLength = true;

    if (pixelOffset != 0) Stream.SetPosition(l.Start + pixelOffset);
    if (DataSize >= 1) l.CompressedSize = DataSize - (Stream.Position() - l.Start);

    SetSampleParams(Params, l.Bits);
    if (HeaderOnly) return;
    // Nothing is allocated for an image this reader cannot fill: no made-up page.
    if (l.Width == 0 || l.Height == 0) {
        Progress.Fail(reasons::kNoPixels);
        return;
    }
    if (!Decodable(l)) {
        Progress.Fail(UnsupportedReason(l));
        return;
    }

    l.Native = Params.NativePixelFormat && (l.Bits == 4 || l.Bits == 8);
    l.ColourOneBit = l.Bits == 1 && !BlackAndWhite(Params);
    const TIEPixelFormat type = l.Bits == 1 && !l.ColourOneBit ? ie1Bit : l.Native ? ie8Palette : ie24Rgb;
    // Run-length data codes at most 255 pixels in two bytes.
    const std::int64_t leastData =
        IsRunLength(l) ? MulSat(l.Width, l.Height) / 128 : MulSat(RowStrideOf(l.Width, l.Bits), l.Height);
    const std::int64_t available =
        IsRunLength(l) ? std::min(std::max<std::int64_t>(l.CompressedSize, 0), Stream.Remaining())
                       : Stream.Remaining();
    const bool masked = IsRunLength(l) || l.AlphaMask != 0;
    const std::int64_t maskBytes = masked ? MulSat(l.Width, l.Height) : 0;
    if (!StreamCanHold(AddSat(BitmapBytes(l.Width, l.Height, type), maskBytes), leastData, available)) {
        Progress.Fail(reasons::kLargerThanFile);
        return;
    }

    AllocateBlank(Bitmap, int(l.Width), int(l.Height), type);
    if (l.Native) ApplyNativePalette(Bitmap, l);
    Progress.PercentPerUnit = 100.0 / double(l.Height);

    if (l.Bits == 16 || l.Bits == 32) {
        const bool fields = l.Compression == kBitFields || l.Compression == kAlphaBitFields;
        if (!fields || (l.Masks[0] | l.Masks[1] | l.Masks[2]) == 0) {
            l.Masks = l.Bits == 16 ? std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                                   : std::array<std::uint32_t, 3>{0xFF0000, 0xFF00, 0xFF};
        }
    }
    // A (white, black) table is turned around so that 1 stays white in the bitmap.
    const bool invert = l.Bits == 1 && Params.PaletteCount == 2 &&
                        Params.Palette[0] == CreateRGB(255, 255, 255) &&
                        Params.Palette[1] == CreateRGB(0, 0, 0);

    TIEMask* mask = MakeMask(l, Mask);
    TBmpDecoder decoder(Stream, Bitmap, Progress, l, mask);
    if (IsRunLength(l)) {
        decoder.DecodeRunLength(l.CompressedSize);
        if (decoder.AllPainted) Mask.reset();
    } else {
        decoder.DecodeRows(invert);
        // Writers that declare an alpha channel and store zeros mean no alpha: taken as it stands,
        // the page would be blank.
        if (mask && !decoder.AnyAlpha) Mask.reset();
    }
}

} // namespace

void ReadBmpStream(TStream& Stream, TIEBitmap& Bitmap, std::int64_t DataSize, bool HeaderOnly,
                   TIEProgressRecord& Progress, TIOParamsVals& Params, std::unique_ptr<TIEMask>& Mask) {
    try {
        ReadBmp(Stream, Bitmap, DataSize, HeaderOnly, Progress, Params, Mask);
    } catch (const std::exception& e) {
        FailFromException(Progress, e);
    }
}
