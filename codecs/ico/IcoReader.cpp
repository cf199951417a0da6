#include "codecs/ico/IcoReader.h"

#include "codecs/bmp/BmpReader.h"
#include "codecs/bmp/DibCommon.h"
#include "codecs/png/PngReader.h"
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
#include <vector>

using namespace dib;

namespace {

constexpr std::uint16_t kBmpType = 0x4D42;
constexpr int kInfoHeaderSize = 40;
// Info headers up to the largest bitmap header; a bigger size field is taken as damage.
constexpr std::uint32_t kLargestInfoHeader = 124;

enum class TDirKind { Icon = 1, Cursor = 2 };

struct TDirEntry {
    int Width = 0, Height = 0, ColorCount = 0, Reserved = 0;
    int PlanesOrHotX = 0, BitsOrHotY = 0;
    std::uint32_t Size = 0, Offset = 0;
};

TDirEntry ParseEntry(const std::uint8_t* e) {
    return {e[0], e[1], e[2], e[3], ReadLe16(e + 4), ReadLe16(e + 6), ReadLe32(e + 8), ReadLe32(e + 12)};
}

// Index of the highest set bit (a colour count of 16 gives 4).
int HighestBit(int v) {
    return std::bit_width(unsigned(v)) - 1;
}

// Restores the stream position on every way out.
class TPositionKeeper {
public:
    explicit TPositionKeeper(TStream& s) : Stream(s), Pos(s.Position()) {}
    ~TPositionKeeper() { Stream.SetPosition(Pos); }
    TPositionKeeper(const TPositionKeeper&) = delete;
    TPositionKeeper& operator=(const TPositionKeeper&) = delete;

private:
    TStream& Stream;
    std::int64_t Pos;
};

bool IsDirectory(TStream& Stream, TDirKind kind) {
    try {
        TPositionKeeper keep(Stream);
        const std::int64_t start = Stream.Position();
        if (Stream.Size() <= 22) return false;
        std::uint8_t hdr[6]{};
        if (Stream.Read(hdr, 6) != 6) return false;
        const int count = ReadLe16(hdr + 4);
        if (ReadLe16(hdr) != 0 || ReadLe16(hdr + 2) != int(kind) || count == 0) return false;
        for (int i = 0; i < count; ++i) {
            std::uint8_t raw[16];
            if (Stream.Read(raw, 16) != 16) return false;
            const TDirEntry e = ParseEntry(raw);
            if (e.Reserved != 0 || e.Size == 0 || start + std::int64_t(e.Offset) < Stream.Position())
                return false;
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The decoding state of one directory image stored as a device-independent bitmap.
struct TIconImage {
    int W = 0, H = 0, Bits = 0;
    std::array<TIERgbTriple, 256> Lut{}; // colour table, black past its end
    TIERgbTriple Background{};
};

// Whether every alpha byte of the 32-bit colour rows that were read is 0. Such icons come from writers
// that leave the fourth byte unused and say what is transparent in the AND bitmap alone.
bool AlphaAllZero(const std::vector<std::uint8_t>& colour, std::int64_t colourGot) {
    for (std::int64_t i = 3; i < colourGot; i += 4)
        if (colour[std::size_t(i)] != 0) return false;
    return true;
}

// Stored rows (bottom-up) of which all bytes are in the data; the last row needs no padding.
std::int64_t CompleteRows(std::int64_t got, std::int64_t stride, std::int64_t lastRowBytes,
                          std::int64_t rows) {
    if (got >= (rows - 1) * stride + lastRowBytes) return rows;
    return got / stride;
}

// Fills bitmap and mask from the colour rows and the AND rows (both bottom-up). Pixels the data does
// not reach stay blank and opaque.
void DecodeIconPixels(const TIconImage& img, const std::vector<std::uint8_t>& colour, std::int64_t colourGot,
                      const std::vector<std::uint8_t>& andBits, bool ownAlpha, TIEBitmap& Bitmap,
                      TIEMask& Mask) {
    const std::int64_t stride = RowStrideOf(img.W, img.Bits);
    const std::int64_t andStride = RowStrideOf(img.W, 1);
    const bool whiteBackground = img.Background == CreateRGB(255, 255, 255);
    for (int i = 0; i < img.H; ++i) {
        const int y = img.H - 1 - i;
        const std::uint8_t* in = colour.data() + std::size_t(i) * std::size_t(stride);
        const std::int64_t rowGot = std::clamp<std::int64_t>(colourGot - i * stride, 0, stride);
        const std::int64_t covered = std::min<std::int64_t>(img.W, rowGot * 8 / img.Bits);
        // 32-bit images that carry their own alpha leave the AND bitmap unread.
        const std::uint8_t* andRow =
            ownAlpha ? nullptr : andBits.data() + std::size_t(i) * std::size_t(andStride);
        std::uint8_t* out = Bitmap.RowPointer(y);
        std::uint8_t* alpha = Mask.RowPointer(y);
        for (int x = 0; x < img.W; ++x) {
            const bool transparent = andRow && (andRow[x >> 3] & (0x80 >> (x & 7)));
            if (transparent) alpha[x] = 0;
            if (img.Bits == 1) {
                const auto bit = std::uint8_t(0x80 >> (x & 7));
                const bool stored = x < covered ? (in[x >> 3] & bit) != 0 : !transparent;
                // A transparent pixel shows the background: its stored bit is flipped for white.
                const bool white = transparent ? stored != whiteBackground : stored;
                out[x >> 3] = white ? std::uint8_t(out[x >> 3] | bit) : std::uint8_t(out[x >> 3] & ~bit);
                continue;
            }
            std::uint8_t* px = out + 3 * std::size_t(x);
            if (transparent) {
                std::memcpy(px, &img.Background, 3);
                continue;
            }
            if (x >= covered) continue;
            switch (img.Bits) {
            case 4:
                std::memcpy(px, &img.Lut[(x & 1) ? in[x / 2] & 0x0F : in[x / 2] >> 4], 3);
                break;
            case 8:
                std::memcpy(px, &img.Lut[in[x]], 3);
                break;
            case 24:
                std::memcpy(px, in + 3 * std::size_t(x), 3);
                break;
            case 32:
                std::memcpy(px, in + 4 * std::size_t(x), 3);
                if (ownAlpha) alpha[x] = in[4 * std::size_t(x) + 3];
                break;
            default:
                break;
            }
        }
    }
}

bool Decoded(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32;
}

void FillDirectoryTables(const std::vector<TDirEntry>& entries, int count, TIOParamsVals& Params) {
    for (int i = 0; i < 16; ++i) {
        if (i >= count) {
            Params.IconSizes[std::size_t(i)] = {0, 0};
            continue;
        }
        const TDirEntry& e = entries[std::size_t(i)];
        Params.IconSizes[std::size_t(i)] = {e.Width, e.Height};
        Params.IconBitDepths[std::size_t(i)] = e.BitsOrHotY != 0   ? e.BitsOrHotY
                                               : e.ColorCount != 0 ? HighestBit(e.ColorCount)
                                                                   : 24;
    }
}

void ReadDirectoryImage(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params,
                        std::unique_ptr<TIEMask>& Mask, TIEProgressRecord& Progress, bool HeaderOnly,
                        TDirKind kind) {
    const bool cursor = kind == TDirKind::Cursor;
    const std::int64_t start = Stream.Position();
    std::uint8_t hdr[6]{};
    ReadPadded(Stream, hdr, 6);
    if (!cursor && ReadLe16(hdr) == kBmpType) {
        Stream.SetPosition(start);
        ReadBmpStream(Stream, Bitmap, Stream.Size() - start, HeaderOnly, Progress, Params, Mask);
        return;
    }
    const int count = ReadLe16(hdr + 4);
    const int index = cursor ? Params.CursorImageIndex : Params.IconImageIndex;
    if (index < 0 || index >= count) {
        // A header read leaves everything as it was; a load without an image must not give a page.
        if (!HeaderOnly)
            Progress.Fail(cursor ? "no image in the cursor directory" : "no image in the icon directory");
        return;
    }

    // Entries up to the chosen one, and the first 16 for the size and depth tables of icons.
    const int toRead = cursor ? index + 1 : std::max(index + 1, std::min(count, 16));
    std::vector<TDirEntry> entries(static_cast<std::size_t>(toRead));
    bool chosenComplete = false;
    for (int i = 0; i < toRead; ++i) {
        std::uint8_t raw[16];
        const std::int64_t got = ReadPadded(Stream, raw, 16);
        entries[std::size_t(i)] = ParseEntry(raw);
        if (i == index) chosenComplete = got == 16;
    }
    if (!cursor) FillDirectoryTables(entries, count, Params);
    if (!chosenComplete) {
        Progress.Fail("the directory ends early");
        return;
    }
    const TDirEntry& e = entries[std::size_t(index)];
    if (cursor) {
        Params.CursorHotSpotX = e.PlanesOrHotX;
        Params.CursorHotSpotY = e.BitsOrHotY;
    }

    const std::int64_t imageStart = start + std::int64_t(e.Offset);
    if (imageStart >= Stream.Size()) {
        Progress.Fail("the image offset lies past the end of the file");
        return;
    }
    Stream.SetPosition(imageStart);
    if (IsPngStream(Stream)) {
        // The caller applies the background for header-only reads, as for PNG files.
        ReadPngStream(Stream, Bitmap, Params, HeaderOnly, Mask, HeaderOnly, Progress);
        return;
    }

    std::uint8_t info[kInfoHeaderSize]{};
    ReadPadded(Stream, info, kInfoHeaderSize);
    const std::uint32_t infoSize = ReadLe32(info);
    // An image header the file cannot hold describes no image of it.
    if (imageStart + std::max<std::int64_t>(infoSize, kInfoHeaderSize) > Stream.Size()) {
        Progress.Fail("the image header runs past the end of the file");
        return;
    }
    const std::int32_t infoWidth = ReadLeInt32(info + 4);
    const std::int32_t infoHeight = ReadLeInt32(info + 8);
    const int infoBits = ReadLe16(info + 14);
    const int dpiX = PelsPerMetreToDpi(ReadLeInt32(info + 24));
    const int dpiY = PelsPerMetreToDpi(ReadLeInt32(info + 28));
    Params.HorizontalDpi = dpiX > 0 ? dpiX : DefaultDpiX;
    Params.VerticalDpi = dpiY > 0 ? dpiY : DefaultDpiY;
    // Larger headers (V4, V5) are followed by the colour table only after their own length.
    if (infoSize > std::uint32_t(kInfoHeaderSize) && infoSize <= kLargestInfoHeader)
        Stream.SetPosition(imageStart + infoSize);

    int bits = cursor ? 0 : e.BitsOrHotY;
    if (infoBits != 0) bits = infoBits;
    if (bits == 0) {
        if (e.ColorCount == 0) {
            Progress.Fail("image without a bit depth");
            return;
        }
        bits = HighestBit(e.ColorCount);
    }
    if (bits <= 8) {
        Params.BitsPerSample = bits;
        Params.SamplesPerPixel = 1;
    } else {
        Params.BitsPerSample = 8;
        Params.SamplesPerPixel = bits == 32 ? 4 : 3;
    }

    std::int64_t w = e.Width, h = e.Height;
    if (w == 0) w = infoWidth;
    if (h == 0) h = infoHeight / 2;
    if (!cursor && e.Width != 0 && e.Width != infoWidth && infoWidth != 0 && infoWidth < 2048 &&
        infoHeight < 2048) {
        // The directory of some writers disagrees with the image; the image's own header wins.
        w = infoWidth;
        h = infoHeight / 2;
    }

    TIconImage img;
    img.Bits = bits;
    img.Background = cursor ? Params.CursorBackgroundColor : Params.IconBackgroundColor;
    Params.FreePalette();
    if (bits <= 8) {
        int colours = 1 << bits;
        if (cursor) colours = e.ColorCount == 0 ? 1 << bits : e.ColorCount == 255 ? 256 : e.ColorCount;
        std::vector<std::uint8_t> raw(std::size_t(colours) * 4);
        ReadPadded(Stream, raw.data(), std::int64_t(raw.size()));
        std::vector<TIERgbTriple> table(static_cast<std::size_t>(colours));
        for (std::size_t i = 0; i < table.size(); ++i) {
            table[i] = {raw[4 * i], raw[4 * i + 1], raw[4 * i + 2]};
            img.Lut[i] = table[i];
        }
        Params.SetPalette(table.data(), colours);
    }
    Params.ImageWidth = std::int32_t(w);
    Params.ImageHeight = std::int32_t(h);
    if (HeaderOnly) return;
    if (w <= 0 || h <= 0) {
        Progress.Fail(reasons::kNoPixels);
        return;
    }
    if (!Decoded(bits)) {
        Progress.Fail(reasons::Unsupported("bit depth", bits));
        return;
    }

    img.W = int(w);
    img.H = int(h);
    const TIEPixelFormat type = bits == 1 ? ie1Bit : ie24Rgb;
    const std::int64_t stride = RowStrideOf(w, bits);
    const std::int64_t andStride = RowStrideOf(w, 1);
    const std::int64_t andBytes = MulSat(andStride, h);
    const std::int64_t colourBytes = MulSat(stride, h);
    const std::int64_t allocBytes = AddSat(BitmapBytes(w, h, type), BitmapBytes(w, h, ie8Gray));
    // The AND bitmap of a 32-bit image may be missing: its alpha bytes speak for it.
    const std::int64_t leastData = bits == 32 ? colourBytes : AddSat(colourBytes, andBytes);
    if (!StreamCanHold(AddSat(allocBytes, AddSat(colourBytes, andBytes)), leastData, Stream.Remaining())) {
        Progress.Fail(reasons::kLargerThanFile);
        return;
    }

    AllocateBlank(Bitmap, img.W, img.H, type);
    if (!Mask) Mask = std::make_unique<TIEMask>();
    Mask->Allocate(img.W, img.H, 8);
    Mask->Fill(255);
    Mask->FullyOpaque = false;

    std::vector<std::uint8_t> colour(static_cast<std::size_t>(colourBytes));
    const std::int64_t colourGot = ReadPadded(Stream, colour.data(), colourBytes);
    std::vector<std::uint8_t> andBits(static_cast<std::size_t>(andBytes));
    const std::int64_t andGot = ReadPadded(Stream, andBits.data(), andBytes);
    const bool ownAlpha = bits == 32 && !AlphaAllZero(colour, colourGot);
    DecodeIconPixels(img, colour, colourGot, andBits, ownAlpha, Bitmap, *Mask);

    // Stored rows run bottom-up: a short file lacks the top rows. Without its AND rows an image keeps
    // its colours but not which of them are transparent; a 32-bit one is whole without them.
    const std::int64_t complete = CompleteRows(colourGot, stride, (w * bits + 7) / 8, h);
    if (complete < h) Progress.DataEndsEarly(0, h - 1 - complete, h);
    if (bits != 32 && CompleteRows(andGot, andStride, (w + 7) / 8, h) < h) Progress.DataEndsEarly();
}

void ReadDirectory(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, std::unique_ptr<TIEMask>& Mask,
                   TIEProgressRecord& Progress, bool HeaderOnly, TDirKind kind) {
    try {
        ReadDirectoryImage(Stream, Bitmap, Params, Mask, Progress, HeaderOnly, kind);
    } catch (const std::exception& e) {
        FailFromException(Progress, e);
    }
}

} // namespace

void ReadIcoStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, std::unique_ptr<TIEMask>& Mask,
                   TIEProgressRecord& Progress, bool HeaderOnly) {
    ReadDirectory(Stream, Bitmap, Params, Mask, Progress, HeaderOnly, TDirKind::Icon);
}

void ReadCurStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, std::unique_ptr<TIEMask>& Mask,
                   TIEProgressRecord& Progress, bool HeaderOnly) {
    ReadDirectory(Stream, Bitmap, Params, Mask, Progress, HeaderOnly, TDirKind::Cursor);
}

bool IsIcoStream(TStream& Stream) {
    return IsDirectory(Stream, TDirKind::Icon);
}
bool IsCurStream(TStream& Stream) {
    return IsDirectory(Stream, TDirKind::Cursor);
}

int GetIcoImageCount(TStream& Stream) {
    TPositionKeeper keep(Stream);
    std::uint8_t hdr[6]{};
    if (Stream.Read(hdr, 6) != 6) return 0;
    return ReadLe16(hdr + 4);
}
