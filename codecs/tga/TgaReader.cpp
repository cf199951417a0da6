#include "codecs/tga/TgaReader.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "imaging/params/ReadBudget.h"
#include "imaging/params/ReadFailures.h"
#include "platform/ByteOrder.h"
#include "platform/DateTime.h"
#include "platform/Stream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr int kHeaderSize = 18;
constexpr int kFooterSize = 26;
constexpr int kExtensionSize = 495;

bool AcceptedType(int t) {
    return t == 1 || t == 2 || t == 3 || t == 9 || t == 10 || t == 11;
}
bool AcceptedDepth(int d) {
    return d == 1 || d == 4 || d == 8 || d == 16 || d == 24 || d == 32;
}

struct TTgaHeader {
    int IdLength, ColorMapType, ImageType, MapFirst, MapLength, MapEntryBits;
    int XOrigin, YOrigin, Width, Height, Depth, Descriptor;

    explicit TTgaHeader(const std::uint8_t* b)
        : IdLength(b[0]), ColorMapType(b[1]), ImageType(b[2]), MapFirst(ReadLe16(b + 3)),
          MapLength(ReadLe16(b + 5)), MapEntryBits(b[7]), XOrigin(ReadLe16(b + 8)), YOrigin(ReadLe16(b + 10)),
          Width(ReadLe16(b + 12)), Height(ReadLe16(b + 14)), Depth(b[16]), Descriptor(b[17]) {}
    bool RunLength() const { return ImageType >= 9; }
    bool ColorMapped() const { return ImageType == 1 || ImageType == 9; }
    bool Grey() const { return ImageType == 3 || ImageType == 11; }
    bool RightToLeft() const { return (Descriptor & 0x10) != 0; }
    bool TopDown() const { return (Descriptor & 0x20) != 0; }
    // A 16-bit greyscale pixel is a grey byte and an alpha byte, not a 5-5-5 colour.
    bool GreyAlpha() const { return Grey() && Depth == 16; }
    // Writers disagree on the alpha bit count (8, or 4 from some): any count means the fourth byte
    // of a 32-bit pixel is alpha.
    int AlphaBits() const { return Descriptor & 0x0F; }
    bool HasAlpha() const { return AlphaBits() != 0 && (Depth == 32 || GreyAlpha()); }
    // Colour map entries of 32 bits carry an alpha byte of their own.
    bool MapHasAlpha() const { return ColorMapType == 1 && MapEntryBits == 32 && ColorMapped(); }
    // Pixel data comes in units: one pixel from 8 bits up, one byte of packed pixels below.
    int UnitBytes() const { return Depth >= 8 ? Depth / 8 : 1; }
    std::int64_t UnitsPerRow() const { return Depth >= 8 ? Width : (std::int64_t(Width) * Depth + 7) / 8; }
};

// All input goes through one 8 KiB buffer, refilled with one stream read.
class TTgaInput {
public:
    explicit TTgaInput(TStream& Stream) : FStream(Stream) {}
    // Copies up to Count bytes; returns how many the stream still had.
    std::size_t Read(std::uint8_t* Dest, std::size_t Count) {
        std::size_t done = 0;
        while (done < Count) {
            if (FPos == FLength && !Refill()) break;
            const std::size_t n = std::min(Count - done, FLength - FPos);
            std::memcpy(Dest + done, FBuffer.data() + FPos, n);
            FPos += n;
            done += n;
        }
        return done;
    }
    bool AtEnd() { return FPos == FLength && !Refill(); }

private:
    bool Refill() {
        if (FEnded) return false;
        const std::int64_t got = FStream.Read(FBuffer.data(), std::int64_t(FBuffer.size()));
        FPos = 0;
        FLength = got > 0 ? std::size_t(got) : 0;
        FEnded = FLength == 0;
        return !FEnded;
    }
    TStream& FStream;
    std::array<std::uint8_t, 8192> FBuffer{};
    std::size_t FPos = 0, FLength = 0;
    bool FEnded = false;
};

// Run-length and raw pixel units; packets carry over from one row to the next but never past the image.
class TUnitDecoder {
public:
    TUnitDecoder(TTgaInput& In, int UnitBytes, bool RunLength, std::int64_t TotalUnits)
        : FIn(In), FUnitBytes(std::size_t(UnitBytes)), FRunLength(RunLength), FLeftInImage(TotalUnits) {}

    // Fills Count units into Dest; returns how many the data supplied (the rest is truncated).
    std::size_t Next(std::uint8_t* Dest, std::size_t Count) {
        std::size_t done = 0;
        if (!FRunLength) {
            const std::size_t got = FIn.Read(Dest, Count * FUnitBytes);
            return got / FUnitBytes;
        }
        while (done < Count) {
            if (FPacketLeft == 0 && !StartPacket()) break;
            std::uint8_t* unit = Dest + done * FUnitBytes;
            if (FRun) {
                std::memcpy(unit, FValue.data(), FUnitBytes);
            } else if (FIn.Read(unit, FUnitBytes) != FUnitBytes) {
                FPacketLeft = 0;
                FEnded = true;
                break;
            }
            --FPacketLeft;
            ++done;
        }
        return done;
    }

private:
    bool StartPacket() {
        if (FEnded || FLeftInImage <= 0) return false;
        std::uint8_t header = 0;
        if (FIn.Read(&header, 1) != 1) return FEnded = true, false;
        FPacketLeft = std::min<std::int64_t>((header & 0x7F) + 1, FLeftInImage);
        FLeftInImage -= FPacketLeft;
        FRun = (header & 0x80) != 0;
        if (FRun && FIn.Read(FValue.data(), FUnitBytes) != FUnitBytes) return FEnded = true, false;
        return true;
    }

    TTgaInput& FIn;
    std::size_t FUnitBytes;
    bool FRunLength;
    std::int64_t FLeftInImage;
    std::int64_t FPacketLeft = 0;
    bool FRun = false;
    bool FEnded = false;
    std::array<std::uint8_t, 4> FValue{};
};

constexpr int kChannelBits16 = 5;
TIERgbTriple From16(int p) {
    return CreateRGB(ScaleChannelToByte(std::uint32_t(p >> 10), kChannelBits16),
                     ScaleChannelToByte(std::uint32_t(p >> 5), kChannelBits16),
                     ScaleChannelToByte(std::uint32_t(p), kChannelBits16));
}

std::string TextUpToZero(const std::uint8_t* p, std::size_t maxLength) {
    const std::uint8_t* end = std::find(p, p + maxLength, 0);
    return std::string(p, end);
}

bool ValidDate(int y, int mo, int d, int h, int mi, int s) {
    static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 2499 || mo < 1 || mo > 12 || d < 1 || d > 31 || h >= 24 || mi >= 60 || s >= 60)
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[mo - 1] && !(mo == 2 && d == 29 && !leap);
}

class TTgaReader {
public:
    TTgaReader(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
               std::unique_ptr<TIEMask>& Mask, bool HeaderOnly, TIEProgressRecord& Progress)
        : FStream(Stream), FBitmap(Bitmap), FParams(Params), FIgnoreAlpha(IgnoreAlpha), FMask(Mask),
          FHeaderOnly(HeaderOnly), FProgress(Progress) {}
    void Run();

private:
    void ReadFooter(std::int64_t Start, std::int64_t Size);
    void BuildPalette(const TTgaHeader& h, TTgaInput& In);
    void ConvertRow(const TTgaHeader& h, const std::uint8_t* Units, std::size_t Filled, TIERgbTriple* Row,
                    std::uint8_t* Alpha) const;
    void DecodePixels(const TTgaHeader& h, TTgaInput& In, std::int64_t DataBytes);

    TStream& FStream;
    TIEBitmap& FBitmap;
    TIOParamsVals& FParams;
    bool FIgnoreAlpha;
    std::unique_ptr<TIEMask>& FMask;
    bool FHeaderOnly;
    TIEProgressRecord& FProgress;
    std::array<TIERgbTriple, 256> FPalette{};
    std::array<std::uint8_t, 256> FPaletteAlpha{}; // from 32-bit colour map entries, else 255
};

void TTgaReader::ReadFooter(std::int64_t Start, std::int64_t Size) {
    FParams.TgaAuthor.clear();
    FParams.TgaJobName.clear();
    FParams.TgaDate = TodayAsDateTime();
    FParams.TgaKeyColor = {};
    FParams.TgaAspectRatio = 1.0;
    FParams.TgaGamma = 2.2;
    if (Size - Start < kHeaderSize + kFooterSize) return;
    std::uint8_t footer[kFooterSize] = {};
    FStream.SetPosition(Size - kFooterSize);
    if (FStream.Read(footer, kFooterSize) != kFooterSize) return;
    if (TextUpToZero(footer + 8, 18) != "TRUEVISION-XFILE.") return;
    // Offset 0 means the file has no extension area; one that does not fit the stream is ignored.
    const std::int64_t offset = ReadLe32(footer);
    if (offset == 0 || Start + offset + kExtensionSize > Size) return;
    std::uint8_t ext[kExtensionSize] = {};
    FStream.SetPosition(Start + offset);
    if (FStream.Read(ext, kExtensionSize) != kExtensionSize) return;
    FParams.TgaAuthor = TextUpToZero(ext + 2, 41);
    FParams.TgaJobName = TextUpToZero(ext + 379, 41);
    const int month = ReadLe16(ext + 367), day = ReadLe16(ext + 369), year = ReadLe16(ext + 371);
    const int hour = ReadLe16(ext + 373), minute = ReadLe16(ext + 375), second = ReadLe16(ext + 377);
    if (ValidDate(year, month, day, hour, minute, second))
        FParams.TgaDate = EncodeDateTime(year, month, day, hour, minute, second);
    FParams.TgaKeyColor = CreateRGB(ext[471], ext[472], ext[473]);
    const int aspectNum = ReadLe16(ext + 474), aspectDen = ReadLe16(ext + 476);
    if (aspectNum != 0 && aspectDen != 0) FParams.TgaAspectRatio = double(aspectNum) / aspectDen;
    const int gammaNum = ReadLe16(ext + 478), gammaDen = ReadLe16(ext + 480);
    if (gammaNum != 0 && gammaDen != 0) FParams.TgaGamma = double(gammaNum) / gammaDen;
}

void TTgaReader::BuildPalette(const TTgaHeader& h, TTgaInput& In) {
    FPaletteAlpha.fill(255);
    for (int i = 0; i < 256; ++i) // the 3-3-2 colour cube: 32r + 4g + b
        FPalette[std::size_t(i)] =
            CreateRGB(std::uint8_t(32 * (i >> 5) + 28), std::uint8_t(32 * ((i >> 2) & 7) + 28),
                      std::uint8_t(64 * (i & 3) + 60));
    if (h.ColorMapType == 1) {
        // Every entry is read (or skipped) so the pixel data starts where it should; entries land from
        // the first colour map index on, and those past 255 have no room.
        const std::size_t entryBytes = std::size_t(h.MapEntryBits + 7) / 8;
        std::array<std::uint8_t, 32> e{};
        for (int i = 0; i < h.MapLength; ++i) {
            e.fill(0);
            if (In.Read(e.data(), entryBytes) != entryBytes) break;
            const int index = h.MapFirst + i;
            if (index > 255) continue;
            TIERgbTriple& t = FPalette[std::size_t(index)];
            switch (h.MapEntryBits) {
            case 15:
            case 16:
                t = From16(ReadLe16(e.data()));
                break;
            case 24:
                t = {e[0], e[1], e[2]};
                break;
            case 32:
                t = {e[0], e[1], e[2]};
                FPaletteAlpha[std::size_t(index)] = e[3];
                break;
            case 8:
                t = {e[0], e[0], e[0]};
                break; // one grey level per entry
            default:
                break; // unknown entry size: the start palette stays
            }
        }
        const int count = std::min(h.MapLength, 256);
        FParams.SetPalette(FPalette.data(), count);
        FParams.PaletteCount = count;
        FParams.TgaGrayscale = false;
    } else if (h.Depth == 8) {
        for (int i = 0; i < 256; ++i)
            FPalette[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
        FParams.TgaGrayscale = true;
    } else if (h.Depth == 1) {
        FPalette[0] = CreateRGB(0, 0, 0);
        FPalette[1] = CreateRGB(255, 255, 255);
    }
}

// Turns one row of units into blue-green-red pixels and alpha; pixels beyond the Filled units are black.
void TTgaReader::ConvertRow(const TTgaHeader& h, const std::uint8_t* Units, std::size_t Filled,
                            TIERgbTriple* Row, std::uint8_t* Alpha) const {
    const std::size_t width = std::size_t(h.Width);
    std::fill(Row, Row + width, TIERgbTriple{});
    std::fill(Alpha, Alpha + width, std::uint8_t(255));
    if (h.Depth < 8) {
        const int perByte = 8 / h.Depth;
        const std::size_t pixels = std::min(width, Filled * std::size_t(perByte));
        for (std::size_t x = 0; x < pixels; ++x) {
            const int shift = 8 - h.Depth * (1 + int(x % std::size_t(perByte)));
            Row[x] = FPalette[std::size_t((Units[x / std::size_t(perByte)] >> shift) & ((1 << h.Depth) - 1))];
        }
        return;
    }
    const std::size_t pixels = std::min(width, Filled);
    for (std::size_t x = 0; x < pixels; ++x) {
        const std::uint8_t* p = Units + x * std::size_t(h.UnitBytes());
        switch (h.Depth) {
        case 8:
            Row[x] = FPalette[p[0]];
            Alpha[x] = FPaletteAlpha[p[0]];
            break;
        case 16:
            if (h.GreyAlpha()) {
                Row[x] = {p[0], p[0], p[0]};
                Alpha[x] = p[1];
            } else if (h.ColorMapped()) {
                const int index = ReadLe16(p); // beyond the 256-entry table: black
                if (index < 256) {
                    Row[x] = FPalette[std::size_t(index)];
                    Alpha[x] = FPaletteAlpha[std::size_t(index)];
                }
            } else {
                Row[x] = From16(ReadLe16(p));
            }
            break;
        case 24:
            Row[x] = {p[0], p[1], p[2]};
            break;
        default:
            Row[x] = {p[0], p[1], p[2]};
            Alpha[x] = p[3];
            break;
        }
    }
}

void TTgaReader::DecodePixels(const TTgaHeader& h, TTgaInput& In, std::int64_t DataBytes) {
    const std::int64_t unitsPerRow = h.UnitsPerRow();
    const std::int64_t totalUnits = unitsPerRow * h.Height;
    if (h.Width == 0 || h.Height == 0) {
        FProgress.Fail(reasons::kNoPixels);
        return;
    }
    const TIEPixelFormat format = h.Depth == 1 ? ie1Bit : ie24Rgb;
    const bool wantsMask = !FIgnoreAlpha && (h.HasAlpha() || h.MapHasAlpha());
    // A run packet codes up to 128 units in one header byte and one unit.
    const std::int64_t leastData =
        h.RunLength() ? totalUnits / 128 * (1 + h.UnitBytes()) : totalUnits * h.UnitBytes();
    const std::int64_t allocation = RowStrideOf(h.Width, BitsPerPixelOf(format)) * h.Height +
                                    (wantsMask ? std::int64_t(h.Width) * h.Height : 0);
    if (!StreamCanHold(allocation, leastData, DataBytes)) {
        FProgress.Fail(reasons::kLargerThanFile);
        return;
    }
    FProgress.PercentPerUnit = 100.0 / h.Height;
    FProgress.ProgressCounter = 0;
    FBitmap.Reallocate(h.Width, h.Height, format);

    TIEMask* mask = nullptr;
    if (wantsMask) {
        if (!FMask) FMask = std::make_unique<TIEMask>();
        mask = FMask.get();
        mask->Allocate(h.Width, h.Height, 8);
        mask->Fill(255);
        mask->FullyOpaque = false;
    }

    const std::size_t width = std::size_t(h.Width);
    std::vector<std::uint8_t> units(std::size_t(unitsPerRow) * std::size_t(h.UnitBytes()));
    std::vector<TIERgbTriple> row(width);
    std::vector<std::uint8_t> alpha(width);
    TUnitDecoder decoder(In, h.UnitBytes(), h.RunLength(), totalUnits);
    int firstShort = -1; // the first stored row the data did not fill
    bool anyAlpha = false;
    for (int stored = 0; stored < h.Height; ++stored) {
        const std::size_t filled = decoder.Next(units.data(), std::size_t(unitsPerRow));
        if (firstShort < 0 && filled < std::size_t(unitsPerRow)) firstShort = stored;
        ConvertRow(h, units.data(), filled, row.data(), alpha.data());
        if (mask)
            anyAlpha = anyAlpha ||
                       std::any_of(alpha.begin(), alpha.begin() + std::ptrdiff_t(std::min(width, filled)),
                                   [](std::uint8_t a) { return a != 0; });
        // Bit 4 mirrors the row; only bit 5 says the first stored row is the top one.
        if (h.RightToLeft()) {
            std::reverse(row.begin(), row.end());
            std::reverse(alpha.begin(), alpha.end());
        }
        const int y = h.TopDown() ? stored : h.Height - 1 - stored;
        std::uint8_t* dest = FBitmap.RowPointer(y);
        if (format == ie1Bit) {
            std::memset(dest, 0, (width + 7) / 8);
            for (std::size_t x = 0; x < width; ++x)
                if (GrayOf(row[x].r, row[x].g, row[x].b) >= 128)
                    dest[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
        } else {
            std::memcpy(dest, row.data(), width * 3);
        }
        if (mask) std::memcpy(mask->RowPointer(y), alpha.data(), width);
        ++FProgress.ProgressCounter;
        FProgress.Report(); // a handler's abort does not stop the rows: the image is completed
    }
    // Writers that declare alpha bits and store zeros mean no alpha: taken as it stands, every pixel
    // would be transparent and the page blank.
    if (mask && !anyAlpha) FMask.reset();
    if (firstShort >= 0) {
        if (h.TopDown())
            FProgress.DataEndsEarly(firstShort, h.Height - 1, h.Height);
        else
            FProgress.DataEndsEarly(0, h.Height - 1 - firstShort, h.Height);
    }
}

void TTgaReader::Run() {
    const std::int64_t start = FStream.Position();
    const std::int64_t size = FStream.Size();
    ReadFooter(start, size);

    FStream.SetPosition(start);
    std::uint8_t raw[kHeaderSize] = {};
    const bool complete = FStream.Read(raw, kHeaderSize) == kHeaderSize;
    const TTgaHeader h(raw);
    FParams.TgaXPosition = h.XOrigin;
    FParams.TgaYPosition = h.YOrigin;
    if (!complete) {
        FProgress.Fail("the header ends early");
        return;
    }
    if (!AcceptedType(h.ImageType)) {
        FProgress.Fail(reasons::Unsupported("image type", h.ImageType));
        return;
    }
    if (!AcceptedDepth(h.Depth)) {
        FProgress.Fail(reasons::Unsupported("bit depth", h.Depth));
        return;
    }
    if (h.ColorMapType > 1) {
        FProgress.Fail(reasons::Unsupported("colour map type", h.ColorMapType));
        return;
    }
    const std::int64_t headerBytes =
        kHeaderSize + h.IdLength +
        (h.ColorMapType == 1 ? std::int64_t(h.MapLength) * ((h.MapEntryBits + 7) / 8) : 0);
    // The image ID and colour map are no pixels: a file that cannot hold them is no image.
    if (headerBytes > size - start) {
        FProgress.Fail("the image ID and colour map run past the end of the file");
        return;
    }

    TTgaInput in(FStream);
    std::array<std::uint8_t, 255> id{};
    const std::size_t idRead = in.Read(id.data(), std::size_t(h.IdLength));
    FParams.TgaImageId = TextUpToZero(id.data(), idRead);
    BuildPalette(h, in);
    FParams.TgaCompressed = h.RunLength();

    FParams.ImageWidth = h.Width;
    FParams.ImageHeight = h.Height;
    FParams.SetHorizontalDpi(DefaultDpiX);
    FParams.SetVerticalDpi(DefaultDpiY);
    switch (h.Depth) {
    case 1:
        FParams.BitsPerSample = 1, FParams.SamplesPerPixel = 1;
        break;
    case 16:
        if (h.GreyAlpha())
            FParams.BitsPerSample = 8, FParams.SamplesPerPixel = 2;
        else
            FParams.BitsPerSample = 5, FParams.SamplesPerPixel = 3;
        break;
    case 24:
        FParams.BitsPerSample = 8, FParams.SamplesPerPixel = 3;
        break;
    case 32:
        FParams.BitsPerSample = 8, FParams.SamplesPerPixel = 4;
        break;
    default:
        FParams.BitsPerSample = h.Depth, FParams.SamplesPerPixel = 1;
        break; // 4 and 8: indexes
    }
    if (FHeaderOnly) return;
    DecodePixels(h, in, std::max<std::int64_t>(0, size - start - headerBytes));
}

} // namespace

void ReadTgaStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool IgnoreAlpha,
                   std::unique_ptr<TIEMask>& Mask, bool HeaderOnly, TIEProgressRecord& Progress) {
    try {
        TTgaReader(Stream, Bitmap, Params, IgnoreAlpha, Mask, HeaderOnly, Progress).Run();
    } catch (const std::exception& e) {
        FailFromException(Progress, e);
    }
}

bool IsTgaStream(TStream& Stream) {
    const std::int64_t start = Stream.Position();
    std::uint8_t b[kHeaderSize] = {};
    const std::int64_t got = Stream.Read(b, kHeaderSize);
    Stream.SetPosition(start);
    return got == kHeaderSize && (b[1] == 0 || b[1] == 1) && AcceptedType(b[2]) && AcceptedDepth(b[16]);
}
