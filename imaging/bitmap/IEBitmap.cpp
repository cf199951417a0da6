#include "imaging/bitmap/IEBitmap.h"

#include "imaging/bitmap/BitmapMemory.h"
#include "imaging/bitmap/IEFileBuffer.h"
#include "imaging/bitmap/IEMask.h"
#include "platform/Exceptions.h"
#include "platform/PlatformBitmap.h"
#include "platform/SystemInfo.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

std::int32_t DefaultTempFileThreshold = -1;
std::string TempDirectory;

namespace {

constexpr std::int64_t kFallbackThreshold = 33554432; // 32 MiB when the system reports no memory figure

std::int64_t InitialThreshold() {
    if (DefaultTempFileThreshold != -1) return DefaultTempFileThreshold;
    const std::uint64_t available = AvailablePhysicalMemory();
    if (available == 0) return kFallbackThreshold;
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(available / 2, std::numeric_limits<std::int64_t>::max()));
}

// Truncation towards zero that cannot overflow (NaN becomes 0).
std::int64_t TruncToInt64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

// A float grey level scaled to 0..255 (values outside 0..1 and NaN are clamped).
std::uint8_t FloatTo8(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return static_cast<std::uint8_t>(v * 255.0f);
}

bool IsValidType(TIEPixelFormat t) {
    return t <= ie32f;
}

TPixelFormat PlatformFormatOf(TIEPixelFormat t) {
    switch (t) {
    case ie1Bit:
        return pf1bit;
    case ie8Palette:
    case ie8Gray:
    case ie16Gray:
        return pf8bit;
    default:
        return pf24bit;
    }
}

int AlignmentOf(int rowAlignmentBits) {
    return (rowAlignmentBits >= 8 && rowAlignmentBits <= 1024 && rowAlignmentBits % 8 == 0) ? rowAlignmentBits
                                                                                            : 32;
}

// Whole-row loops set the access flags they need (no reading of rows about to be overwritten, no writing
// back of rows only read) and restore them afterwards.
class TAccessScope {
public:
    TAccessScope(TIEBaseBitmap& bitmap, std::uint8_t access) : FBitmap(bitmap), FOld(bitmap.Access) {
        bitmap.Access = access;
    }
    ~TAccessScope() { FBitmap.Access = FOld; }
    TAccessScope(const TAccessScope&) = delete;
    TAccessScope& operator=(const TAccessScope&) = delete;

private:
    TIEBaseBitmap& FBitmap;
    std::uint8_t FOld;
};

// Copies count bits from in (starting at bit inBit) to out (starting at bit outBit); the leftmost pixel
// is the most significant bit.
void CopyBits(const std::uint8_t* in, std::int64_t inBit, std::uint8_t* out, std::int64_t outBit,
              std::int64_t count) {
    if (count <= 0) return;
    if (inBit % 8 == 0 && outBit % 8 == 0) {
        const auto whole = static_cast<std::size_t>(count / 8);
        std::memmove(out + outBit / 8, in + inBit / 8, whole);
        inBit += std::int64_t(whole) * 8;
        outBit += std::int64_t(whole) * 8;
        count -= std::int64_t(whole) * 8;
    }
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t si = inBit + i, di = outBit + i;
        const bool set = (in[si >> 3] >> (7 - (si & 7))) & 1;
        const auto mask = static_cast<std::uint8_t>(0x80 >> (di & 7));
        if (set)
            out[di >> 3] |= mask;
        else
            out[di >> 3] &= static_cast<std::uint8_t>(~mask);
    }
}

} // namespace

// ---- lifetime and storage

TIEBitmap::TIEBitmap() : FFileBuffer(std::make_unique<TIEFileBuffer>()) {
    TempFileThreshold = InitialThreshold();
}

TIEBitmap::~TIEBitmap() {
    FreeStorage(false, false);
}

std::unique_ptr<TIEBitmap> TIEBitmap::NewScratch() const {
    auto scratch = std::make_unique<TIEBitmap>();
    scratch->TempFileThreshold = TempFileThreshold;
    scratch->MonoConversion = MonoConversion;
    scratch->PaletteColors = PaletteColors;
    return scratch;
}

void TIEBitmap::ReleaseRowWindow() {
    if (!FRowWindow) return;
    std::uint8_t* window = FRowWindow;
    FRowWindow = nullptr;
    FRowWindowRow = -1;
    FFileBuffer->UnmapBlock(window);
}

void TIEBitmap::FreeStorage(bool keepTBitmap, bool keepAlpha) {
    if (!keepAlpha) FAlphaPlane.reset();
    FPalette.clear();
    FPaletteLength = 0;
    FRowWindow = nullptr; // the file goes with its windows
    FRowWindowRow = -1;
    FFileBuffer->CloseAndDelete();
    if (FHeap && !FExternalMemory) std::free(FHeap);
    FHeap = nullptr;
    FExternalMemory = false;
    if (!keepTBitmap) {
        if (FTBitmap && !FExternalTBitmap) delete FTBitmap;
        FTBitmap = nullptr;
        FExternalTBitmap = false;
    }
    FRowTable.clear();
    FWidth = FHeight = FBitsPerPixel = FRowStride = 0;
    FullyOpaque = false;
}

void TIEBitmap::Release() {
    FreeStorage(false, false);
}

void TIEBitmap::SwapStorage(TIEBitmap& other) {
    std::swap(FFileBuffer, other.FFileBuffer);
    std::swap(FWidth, other.FWidth);
    std::swap(FHeight, other.FHeight);
    std::swap(FBitsPerPixel, other.FBitsPerPixel);
    std::swap(FRowWindow, other.FRowWindow);
    std::swap(FRowWindowRow, other.FRowWindowRow);
    std::swap(FRowStride, other.FRowStride);
    std::swap(FPixelType, other.FPixelType);
    std::swap(FPalette, other.FPalette);
    std::swap(FPaletteLength, other.FPaletteLength);
    std::swap(FAlphaPlane, other.FAlphaPlane);
    std::swap(FHeap, other.FHeap);
    std::swap(FTBitmap, other.FTBitmap);
    std::swap(FRowTable, other.FRowTable);
    std::swap(FLocation, other.FLocation);
    std::swap(FExternalTBitmap, other.FExternalTBitmap);
    std::swap(FExternalMemory, other.FExternalMemory);
    std::swap(FullyOpaque, other.FullyOpaque);
}

void TIEBitmap::BuildRowTable() {
    FRowTable.clear();
    if (!FTBitmap) return;
    const int rows = FTBitmap->Height();
    FRowTable.resize(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) FRowTable[static_cast<std::size_t>(r)] = FTBitmap->ScanLine(r);
}

void TIEBitmap::AllocateStorage(int width, int height, TIEPixelFormat pixelType) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (!IsValidType(pixelType)) pixelType = ieNone;
    int bits = BitsPerPixelOf(pixelType);
    const int alignment = AlignmentOf(RowAlignmentBits);
    int stride = bitmapmemory::CheckedStride(RowStrideOf(width, bits, alignment));
    FPixelType = pixelType;
    // A wrapped platform bitmap follows even an empty size, so that it never reports a stale one.
    const bool platformFollows = FLocation == ieTBitmap && FTBitmap != nullptr;
    if (pixelType == ieNone || ((width == 0 || height == 0) && !platformFollows)) {
        FWidth = width;
        FHeight = height;
        FBitsPerPixel = bits;
        FRowStride = stride;
        FullyOpaque = false;
        return;
    }
    const std::int64_t size = bitmapmemory::BlockBytes(stride, height);

    if (FLocation == ieHeap || FLocation == ieTempFile) {
        if (FLocation == ieTempFile && size < TempFileThreshold) FLocation = ieHeap;
        if (FLocation == ieHeap && size > TempFileThreshold) FLocation = ieTempFile;
        if (FLocation == ieTempFile && !FFileBuffer->CreateTempFile(size)) FLocation = ieHeap;
        if (FLocation == ieHeap) {
            const std::size_t bytes = bitmapmemory::CheckedBlockSize(stride, height);
            // Zeroed so that rows a short file never reaches hold no stale memory.
            FHeap = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
            if (!FHeap) throw EOutOfMemory();
        }
    } else if (FLocation == ieTBitmap) {
        if (!FTBitmap) {
            FTBitmap = new TBitmap();
            FExternalTBitmap = false;
        }
        FTBitmap->SetSize(1, 1);
        if (pixelType == ie32f)
            throw EPlatformException("ie32f pixel format not allowed when Location=ieTBitmap");
        if (pixelType == ie16Gray) {
            pixelType = ie8Gray;
            FPixelType = ie8Gray;
            bits = 8;
            stride = bitmapmemory::CheckedStride(RowStrideOf(width, bits, alignment));
        }
        FTBitmap->SetPixelFormat(PlatformFormatOf(pixelType));
        if (pixelType == ie1Bit) FTBitmap->SetMonochrome(true);
        if (pixelType == ie8Gray || pixelType == ie8Palette) {
            // Grey rows show through a grey ramp; indexed rows start with the (black) palette room.
            FTBitmap->SetPaletteSize(256);
            for (int i = 0; i < 256; ++i) {
                const auto v = static_cast<std::uint8_t>(pixelType == ie8Gray ? i : 0);
                FTBitmap->SetPaletteEntry(i, RGBColor(v, v, v));
            }
        }
        FTBitmap->SetSize(width, height);
        stride = FTBitmap->BytesPerScanLine();
        BuildRowTable();
    }
    if (pixelType == ie8Palette) {
        FPalette.assign(256, TIERgbTriple{});
        FPaletteLength = 256;
    }
    FWidth = width;
    FHeight = height;
    FBitsPerPixel = bits;
    FRowStride = stride;
    FullyOpaque = false;
}

void TIEBitmap::Reallocate(int width, int height, TIEPixelFormat pixelType) {
    FreeStorage(FExternalTBitmap, false);
    try {
        AllocateStorage(width, height, pixelType);
    } catch (...) {
        FreeStorage(true, false); // an empty bitmap; a platform bitmap keeps its 1 x 1 state
        if (FLocation == ieTBitmap) RecordFromTBitmap();
        throw;
    }
}

// ---- geometry

void TIEBitmap::RecordFromTBitmap() {
    if (!FTBitmap) return;
    TBitmap& b = *FTBitmap;
    TIEPixelFormat derived = ie24Rgb;
    if (b.PixelFormat() == pf1bit) {
        derived = ie1Bit;
    } else if (b.PixelFormat() == pf8bit) {
        // An 8-bit platform bitmap holds grey or indexed pixels alike; keep what we recorded.
        derived = (FPixelType == ie8Gray || FPixelType == ie8Palette) ? FPixelType
                  : IsAlphaPlane                                      ? ie8Gray
                                                                      : ie8Palette;
    } else if (b.PixelFormat() != pf24bit) {
        // Formats without a pixel type of their own become 24-bit, keeping their colours.
        TBitmap copy;
        copy.Assign(b);
        b.SetPixelFormat(pf24bit);
        b.Canvas().Draw(0, 0, copy);
    }
    FWidth = b.Width();
    FHeight = b.Height();
    FPixelType = derived;
    FBitsPerPixel = BitsPerPixelOf(derived);
    FRowStride = b.BytesPerScanLine();
    if (derived == ie8Palette) {
        if (FPalette.size() != 256) {
            FPalette.assign(256, TIERgbTriple{});
            FPaletteLength = 256;
        }
        for (int i = 0; i < std::min(b.PaletteSize(), 256); ++i) {
            const TColor c = b.PaletteEntry(i);
            FPalette[static_cast<std::size_t>(i)] = CreateRGB(ColorRed(c), ColorGreen(c), ColorBlue(c));
        }
    } else {
        FPalette.clear();
        FPaletteLength = 0;
    }
    BuildRowTable();
}

void TIEBitmap::ResyncWithTBitmap() {
    if (FLocation != ieTBitmap || !FTBitmap) return;
    TBitmap& b = *FTBitmap;
    const TPixelFormat pf = b.PixelFormat();
    const bool formatMatches = (pf == pf1bit && FPixelType == ie1Bit) ||
                               (pf == pf8bit && (FPixelType == ie8Gray || FPixelType == ie8Palette)) ||
                               (pf == pf24bit && FPixelType == ie24Rgb);
    if (!formatMatches || b.Width() != FWidth || b.Height() != FHeight) {
        RecordFromTBitmap();
        if (FAlphaPlane && (FAlphaPlane->Width() != FWidth || FAlphaPlane->Height() != FHeight)) {
            FAlphaPlane->Reallocate(FWidth, FHeight, ie8Gray);
            FAlphaPlane->FillAll(255);
        }
    } else if (FHeight > 0 &&
               (FRowTable.size() != static_cast<std::size_t>(FHeight) || b.ScanLine(0) != FRowTable[0])) {
        BuildRowTable();
    }
}

int TIEBitmap::Width() {
    ResyncWithTBitmap();
    return FWidth;
}
int TIEBitmap::Height() {
    ResyncWithTBitmap();
    return FHeight;
}
int TIEBitmap::BitsPerPixel() {
    ResyncWithTBitmap();
    return FBitsPerPixel;
}
TIEPixelFormat TIEBitmap::PixelType() {
    ResyncWithTBitmap();
    return FPixelType;
}
int TIEBitmap::RowStride() {
    ResyncWithTBitmap();
    return FRowStride;
}

std::uint8_t* TIEBitmap::RowPointer(int row) {
    switch (FLocation) {
    case ieHeap:
        if (!FHeap || row < 0 || row >= FHeight) return nullptr;
        return FHeap + std::int64_t(FHeight - 1 - row) * FRowStride;
    case ieTBitmap:
        ResyncWithTBitmap();
        if (row < 0 || row >= FHeight || static_cast<std::size_t>(row) >= FRowTable.size()) return nullptr;
        return FRowTable[static_cast<std::size_t>(row)];
    case ieTempFile:
        ReleaseRowWindow();
        if (!FFileBuffer->HasFile() || row < 0 || row >= FHeight) return nullptr;
        FRowWindow = FFileBuffer->MapBlock(Access, FRowStride, row, std::int64_t(row) * FRowStride);
        FRowWindowRow = row;
        return FRowWindow;
    }
    return nullptr;
}

// ---- palette

void TIEBitmap::SetPaletteEntry(int index, std::uint32_t packedTriple) {
    if (index < 0 || index >= FPaletteLength || static_cast<std::size_t>(index) >= FPalette.size()) return;
    const TIERgbTriple t = IntToTriple(packedTriple);
    FPalette[static_cast<std::size_t>(index)] = t;
    if (FLocation == ieTBitmap && FTBitmap) FTBitmap->SetPaletteEntry(index, RGBColor(t.r, t.g, t.b));
}

void TIEBitmap::PaletteEntry(int index, TIERgbTriple& result) const {
    if (index < 0 || index >= FPaletteLength || static_cast<std::size_t>(index) >= FPalette.size()) return;
    result = FPalette[static_cast<std::size_t>(index)];
}

void TIEBitmap::SetPaletteLength(int length) {
    FPaletteLength = std::clamp(length, 0, static_cast<int>(FPalette.size()));
}

void TIEBitmap::CopyPaletteFrom(const TIEBitmap& source) {
    if (FPalette.empty()) return;
    const std::size_t n = std::min(FPalette.size(), source.FPalette.size());
    std::copy_n(source.FPalette.begin(), n, FPalette.begin());
    FPaletteLength = std::clamp(source.FPaletteLength, 0, static_cast<int>(FPalette.size()));
    SyncPlatformPalette();
}

void TIEBitmap::SyncPlatformPalette() {
    if (FLocation != ieTBitmap || !FTBitmap || FPixelType != ie8Palette) return;
    if (FTBitmap->PaletteSize() < 256) FTBitmap->SetPaletteSize(256);
    for (std::size_t i = 0; i < FPalette.size() && i < 256; ++i)
        FTBitmap->SetPaletteEntry(static_cast<int>(i), RGBColor(FPalette[i].r, FPalette[i].g, FPalette[i].b));
}

// ---- alpha plane

TIEBitmap* TIEBitmap::AlphaPlane() {
    if (IsAlphaPlane) return this; // an alpha plane has none of its own
    if (!FAlphaPlane) {
        auto plane = std::make_unique<TIEBitmap>();
        plane->IsAlphaPlane = true;
        plane->TempFileThreshold = TempFileThreshold;
        plane->SetLocation(FLocation == ieTBitmap ? ieHeap : FLocation);
        plane->Reallocate(Width(), Height(), ie8Gray);
        plane->FillAll(255);
        FAlphaPlane = std::move(plane);
    }
    return FAlphaPlane.get();
}

void TIEBitmap::DropAlphaPlane() {
    if (!IsAlphaPlane) FAlphaPlane.reset();
}

std::uint8_t TIEBitmap::AlphaAt(int x, int y) {
    TIEBitmap* plane = AlphaPlane();
    if (x < 0 || y < 0 || x >= plane->Width() || y >= plane->Height()) return 0;
    const std::uint8_t* row = plane->RowPointer(y);
    if (!row) return 0;
    switch (plane->PixelType()) {
    case ie1Bit:
        return ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
    case ie8Gray:
    case ie8Palette:
        return row[x];
    default:
        return 255;
    }
}

void TIEBitmap::AlphaFromMask(const TIEMask* mask) {
    if (!mask) {
        FillAll(255);
        return;
    }
    if (mask->BitsPerPixel == 1)
        Reallocate(mask->Width, mask->Height, ie1Bit);
    else if (mask->BitsPerPixel == 8)
        Reallocate(mask->Width, mask->Height, ie8Gray);
    else
        return;
    if (FWidth > 0 && FHeight > 0 && !mask->Bits.empty()) {
        TAccessScope access(*this, AccessWrite);
        const auto bytes = static_cast<std::size_t>(std::min(FRowStride, mask->RowStride));
        for (int r = 0; r < FHeight; ++r) {
            std::uint8_t* out = RowPointer(r);
            if (out) std::memcpy(out, mask->RowPointer(r), bytes);
        }
    }
    FullyOpaque = mask->FullyOpaque;
}

void TIEBitmap::AlphaToMask(TIEMask& mask) {
    const TIEPixelFormat t = PixelType();
    if (t != ie1Bit && t != ie8Gray) return;
    mask.Allocate(FWidth, FHeight, t == ie1Bit ? 1 : 8);
    if (FWidth > 0 && FHeight > 0) {
        TAccessScope access(*this, AccessRead);
        const auto bytes = static_cast<std::size_t>(std::min(FRowStride, mask.RowStride));
        for (int r = 0; r < FHeight; ++r) {
            const std::uint8_t* in = RowPointer(r);
            if (in) std::memcpy(mask.RowPointer(r), in, bytes);
        }
    }
    mask.FullyOpaque = FullyOpaque;
}

// ---- fills

bool TIEBitmap::FillAll(double value) {
    const TIEPixelFormat t = PixelType();
    if (t == ieNone) return FullyOpaque;
    const std::int64_t n = TruncToInt64(value);
    TAccessScope access(*this, AccessWrite);
    const auto stride = static_cast<std::size_t>(FRowStride);
    bool opaque = false;
    switch (t) {
    case ie1Bit:
    case ie8Palette:
    case ie8Gray: {
        const std::int64_t v = (t == ie1Bit && n > 0) ? 255 : n;
        const auto byte = static_cast<std::uint8_t>(v & 0xFF);
        for (int r = 0; r < FHeight; ++r)
            if (std::uint8_t* row = RowPointer(r)) std::memset(row, byte, stride);
        opaque = t == ie1Bit ? n != 0 : n == 255;
        break;
    }
    case ie16Gray: {
        const auto v = static_cast<std::uint16_t>(n & 0xFFFF);
        const std::uint8_t lo = static_cast<std::uint8_t>(v & 0xFF), hi = static_cast<std::uint8_t>(v >> 8);
        for (int r = 0; r < FHeight; ++r) {
            std::uint8_t* row = RowPointer(r);
            if (!row) continue;
            for (int x = 0; x < FWidth; ++x) {
                row[2 * x] = lo;
                row[2 * x + 1] = hi;
            }
        }
        opaque = n == 65535;
        break;
    }
    case ie24Rgb: {
        const TColor c = ColorToRGB(static_cast<TColor>(n & 0xFFFFFFFF));
        const TIERgbTriple px = CreateRGB(ColorRed(c), ColorGreen(c), ColorBlue(c));
        for (int r = 0; r < FHeight; ++r) {
            std::uint8_t* row = RowPointer(r);
            if (!row) continue;
            for (int x = 0; x < FWidth; ++x) std::memcpy(row + 3 * std::int64_t(x), &px, 3);
        }
        opaque = px == CreateRGB(255, 255, 255);
        break;
    }
    case ie32f: {
        const auto f = static_cast<float>(value);
        for (int r = 0; r < FHeight; ++r) {
            std::uint8_t* row = RowPointer(r);
            if (!row) continue;
            for (int x = 0; x < FWidth; ++x) std::memcpy(row + 4 * std::int64_t(x), &f, 4);
        }
        opaque = value == 1.0;
        break;
    }
    default:
        break;
    }
    FullyOpaque = opaque;
    return FullyOpaque;
}

void TIEBitmap::FillRectangle(int x1, int y1, int x2, int y2, double value) {
    const TIEPixelFormat t = PixelType();
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, FWidth - 1);
    y2 = std::min(y2, FHeight - 1);
    if (t == ieNone || x2 < x1 || y2 < y1) return;
    const std::int64_t n = TruncToInt64(value);
    const std::size_t count = static_cast<std::size_t>(x2 - x1 + 1);
    const TColor c = ColorToRGB(static_cast<TColor>(n & 0xFFFFFFFF));
    const TIERgbTriple px = CreateRGB(ColorRed(c), ColorGreen(c), ColorBlue(c));
    const auto f = static_cast<float>(value);
    for (int y = y1; y <= y2; ++y) {
        std::uint8_t* row = RowPointer(y);
        if (!row) continue;
        switch (t) {
        case ie1Bit:
            for (int x = x1; x <= x2; ++x) {
                const auto mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
                if (n != 0)
                    row[x >> 3] |= mask;
                else
                    row[x >> 3] &= static_cast<std::uint8_t>(~mask);
            }
            break;
        case ie8Palette:
        case ie8Gray:
            std::memset(row + x1, static_cast<int>(n & 0xFF), count);
            break;
        case ie16Gray:
            for (int x = x1; x <= x2; ++x) {
                row[2 * std::int64_t(x)] = static_cast<std::uint8_t>(n & 0xFF);
                row[2 * std::int64_t(x) + 1] = static_cast<std::uint8_t>((n >> 8) & 0xFF);
            }
            break;
        case ie24Rgb:
            for (int x = x1; x <= x2; ++x) std::memcpy(row + 3 * std::int64_t(x), &px, 3);
            break;
        case ie32f:
            for (int x = x1; x <= x2; ++x) std::memcpy(row + 4 * std::int64_t(x), &f, 4);
            break;
        default:
            break;
        }
    }
}

// ---- pixel queries

TIERgbTriple TIEBitmap::PixelAsRgb(int x, int y) {
    const TIEPixelFormat t = PixelType();
    if (t == ieNone || x < 0 || y < 0 || x >= FWidth || y >= FHeight) return {};
    const std::uint8_t* row = RowPointer(y);
    if (!row) return {};
    switch (t) {
    case ie1Bit: {
        const std::uint8_t v = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
        return {v, v, v};
    }
    case ie8Palette:
        return row[x] < FPalette.size() ? FPalette[row[x]] : TIERgbTriple{};
    case ie8Gray:
        return {row[x], row[x], row[x]};
    case ie16Gray:
        return {row[2 * x + 1], row[2 * x + 1], row[2 * x + 1]};
    case ie24Rgb: {
        TIERgbTriple p;
        std::memcpy(&p, row + 3 * std::int64_t(x), 3);
        return p;
    }
    case ie32f: {
        float f;
        std::memcpy(&f, row + 4 * std::int64_t(x), 4);
        const std::uint8_t v = FloatTo8(f);
        return {v, v, v};
    }
    default:
        return {};
    }
}

bool TIEBitmap::IsGreyscale() {
    const TIEPixelFormat t = PixelType();
    if (t == ie8Palette) {
        for (int i = 0; i < FPaletteLength && static_cast<std::size_t>(i) < FPalette.size(); ++i) {
            const TIERgbTriple& p = FPalette[static_cast<std::size_t>(i)];
            if (p.r != p.g || p.g != p.b) return false;
        }
        return true;
    }
    if (t == ie24Rgb) {
        TAccessScope access(*this, AccessRead);
        for (int y = 0; y < FHeight; ++y) {
            const std::uint8_t* row = RowPointer(y);
            if (!row) continue;
            for (int x = 0; x < FWidth; ++x) {
                const std::uint8_t* p = row + 3 * std::int64_t(x);
                if (p[0] != p[1] || p[1] != p[2]) return false;
            }
        }
    }
    return true;
}

// ---- whole-image copies

void TIEBitmap::CopyRowsFrom(TIEBitmap& source) {
    const int rows = std::min(FHeight, source.FHeight);
    if (rows <= 0 || FPixelType == ieNone || source.FPixelType == ieNone) return;
    TAccessScope sourceAccess(source, AccessRead);
    TAccessScope ownAccess(*this, AccessWrite);
    if (FLocation == ieTempFile && source.FLocation == ieTempFile && FRowStride == source.FRowStride &&
        FHeight == source.FHeight && FFileBuffer->HasFile() && source.FFileBuffer->HasFile()) {
        source.ReleaseRowWindow();
        ReleaseRowWindow();
        source.FFileBuffer->CopyRange(*FFileBuffer, std::int64_t(FRowStride) * FHeight, 0);
        return;
    }
    const auto bytes = static_cast<std::size_t>(std::min(FRowStride, source.FRowStride));
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t* in = source.RowPointer(r);
        std::uint8_t* out = RowPointer(r);
        if (in && out) std::memcpy(out, in, bytes);
    }
}

void TIEBitmap::AssignPixels(TIEBitmap& source, bool keepAlpha) {
    const TIEPixelFormat t = source.PixelType();
    const int w = source.Width(), h = source.Height();
    if (FLocation == ieTBitmap && (t == ie16Gray || t == ie32f)) {
        // The platform bitmap has no such format: bring a copy to 8-bit grey first.
        auto grey = NewScratch();
        grey->SetLocation(ieHeap);
        grey->AssignPixels(source, false);
        grey->ConvertTo(ie8Gray);
        AssignPixels(*grey, keepAlpha);
        FullyOpaque = source.FullyOpaque;
        return;
    }
    FreeStorage(FLocation == ieTBitmap, keepAlpha);
    try {
        RowAlignmentBits = source.RowAlignmentBits;
        AllocateStorage(w, h, t);
        FullyOpaque = source.FullyOpaque;
        CopyRowsFrom(source);
        CopyPaletteFrom(source);
    } catch (...) {
        FreeStorage(FLocation == ieTBitmap, keepAlpha);
        throw;
    }
}

void TIEBitmap::AssignFrom(TIEBaseBitmap* source) {
    auto* src = dynamic_cast<TIEBitmap*>(source);
    if (!src || src == this) return;
    AssignPixels(*src, false);
    if (!IsAlphaPlane && src->FAlphaPlane) AlphaPlane()->AssignFrom(src->FAlphaPlane.get());
    MonoConversion = src->MonoConversion;
}

void TIEBitmap::MoveToLocation(TIELocation location) {
    if (location == FLocation || location > ieTBitmap) return;
    auto scratch = NewScratch();
    SwapStorage(*scratch);
    FLocation = location;
    try {
        if (location == ieTBitmap && (scratch->FPixelType == ie16Gray || scratch->FPixelType == ie32f))
            scratch->ConvertTo(ie8Gray);
        AllocateStorage(scratch->FWidth, scratch->FHeight, scratch->FPixelType);
        CopyRowsFrom(*scratch);
        CopyPaletteFrom(*scratch);
        FullyOpaque = scratch->FullyOpaque;
        FAlphaPlane = std::move(scratch->FAlphaPlane);
    } catch (...) {
        FreeStorage(false, false);
        SwapStorage(*scratch);
        throw;
    }
}

// ---- size changes

void TIEBitmap::ResizeKeepingContent(int width, int height) {
    if (FAlphaPlane) {
        FAlphaPlane->SetWidth(width);
        FAlphaPlane->SetHeight(height);
    }
    if (FLocation == ieTBitmap) {
        if (!FTBitmap) {
            FTBitmap = new TBitmap();
            FExternalTBitmap = false;
            FTBitmap->SetPixelFormat(PlatformFormatOf(FPixelType));
        }
        FTBitmap->SetSize(width, height); // keeps the content at the top-left corner
        FWidth = FTBitmap->Width();
        FHeight = FTBitmap->Height();
        FRowStride = FTBitmap->BytesPerScanLine();
        BuildRowTable();
        return;
    }
    if (FPixelType == ieNone) {
        FWidth = width;
        FHeight = height;
        return;
    }
    auto scratch = NewScratch();
    SwapStorage(*scratch);
    FLocation = scratch->FLocation;
    try {
        AllocateStorage(width, height, scratch->FPixelType);
        const int rows = std::min(FHeight, scratch->FHeight);
        if (rows > 0 && scratch->FWidth > 0) {
            TAccessScope sourceAccess(*scratch, AccessRead);
            const auto bytes = static_cast<std::size_t>(std::min(FRowStride, scratch->FRowStride));
            for (int r = 0; r < rows; ++r) {
                const std::uint8_t* in = scratch->RowPointer(r);
                std::uint8_t* out = RowPointer(r);
                if (in && out) std::memcpy(out, in, bytes);
            }
        }
        CopyPaletteFrom(*scratch);
        FAlphaPlane = std::move(scratch->FAlphaPlane);
        FullyOpaque = false;
    } catch (...) {
        FreeStorage(false, false);
        SwapStorage(*scratch);
        throw;
    }
}

void TIEBitmap::SetWidth(int width) {
    width = std::max(width, 0);
    if (width == Width()) return;
    ResizeKeepingContent(width, FHeight);
}

void TIEBitmap::SetHeight(int height) {
    height = std::max(height, 0);
    if (height == Height()) return;
    ResizeKeepingContent(FWidth, height);
}

void TIEBitmap::CopyRectangle(TIEBitmap& destination, int sx, int sy, int width, int height, int dx, int dy) {
    if (&destination == this) {
        // Overlapping rows of one bitmap (and the single row window of a file) need a detour.
        auto scratch = NewScratch();
        scratch->SetLocation(ieHeap);
        scratch->AssignPixels(*this, false);
        scratch->CopyRectangle(destination, sx, sy, width, height, dx, dy);
        return;
    }
    const TIEPixelFormat st = PixelType(), dt = destination.PixelType();
    const int sw = FWidth, sh = FHeight, dw = destination.Width(), dh = destination.Height();
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    std::int64_t w = width, h = height, x0 = sx, y0 = sy, x1 = dx, y1 = dy;
    if (x1 < 0) {
        x0 -= x1;
        w += x1;
        x1 = 0;
    }
    if (y1 < 0) {
        y0 -= y1;
        h += y1;
        y1 = 0;
    }
    x1 = std::clamp<std::int64_t>(x1, 0, dw - 1);
    y1 = std::clamp<std::int64_t>(y1, 0, dh - 1);
    x0 = std::clamp<std::int64_t>(x0, 0, sw - 1);
    y0 = std::clamp<std::int64_t>(y0, 0, sh - 1);
    w = std::min({w, dw - x1, sw - x0});
    h = std::min({h, dh - y1, sh - y0});
    if (w <= 0 || h <= 0) return;
    const bool bitCopy = st == ie1Bit && dt == ie1Bit;
    const bool expand = st == ie1Bit && dt == ie24Rgb;
    const bool byteCopy = st == dt && st != ie1Bit && st != ieNone;
    if (!bitCopy && !expand && !byteCopy) return;
    const std::int64_t bytesPerPixel = BitsPerPixelOf(st) / 8;
    TAccessScope sourceAccess(*this, AccessRead);
    for (std::int64_t r = 0; r < h; ++r) {
        const std::uint8_t* in = RowPointer(static_cast<int>(y0 + r));
        std::uint8_t* out = destination.RowPointer(static_cast<int>(y1 + r));
        if (!in || !out) continue;
        if (bitCopy) {
            CopyBits(in, x0, out, x1, w);
        } else if (expand) {
            for (std::int64_t i = 0; i < w; ++i) {
                const std::int64_t x = x0 + i;
                const std::uint8_t v = ((in[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
                std::memset(out + 3 * (x1 + i), v, 3);
            }
        } else {
            std::memmove(out + x1 * bytesPerPixel, in + x0 * bytesPerPixel,
                         static_cast<std::size_t>(w * bytesPerPixel));
        }
    }
}

void TIEBitmap::MoveRectangle(int x1, int y1, int x2, int y2, int dx, int dy, double fill) {
    const int w = Width(), h = Height();
    if (PixelType() == ieNone) return;
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, w - 1);
    y2 = std::min(y2, h - 1);
    if (x2 < x1 || y2 < y1) return;
    auto scratch = NewScratch();
    scratch->Reallocate(x2 - x1 + 1, y2 - y1 + 1, FPixelType);
    CopyRectangle(*scratch, x1, y1, x2 - x1 + 1, y2 - y1 + 1, 0, 0);
    FillRectangle(x1, y1, x2, y2, fill);
    scratch->CopyRectangle(*this, 0, 0, x2 - x1 + 1, y2 - y1 + 1, dx, dy);
}

void TIEBitmap::ResizeCanvas(int newWidth, int newHeight, double imageFill, double alphaFill, int hAlign,
                             int vAlign) {
    newWidth = std::max(newWidth, 0);
    newHeight = std::max(newHeight, 0);
    const int w0 = Width(), h0 = Height();
    auto shrink = [&](TIEBitmap& b, double fill) {
        if (newWidth < w0 && newWidth > 0) {
            if (hAlign == 1)
                b.MoveRectangle((w0 - newWidth) / 2, 0, (w0 - newWidth) / 2 + newWidth - 1, h0 - 1, 0, 0,
                                fill);
            else if (hAlign == 2)
                b.MoveRectangle(w0 - newWidth, 0, w0 - 1, h0 - 1, 0, 0, fill);
        }
        if (newHeight < h0 && newHeight > 0) {
            if (vAlign == 1)
                b.MoveRectangle(0, (h0 - newHeight) / 2, w0 - 1, (h0 - newHeight) / 2 + newHeight - 1, 0, 0,
                                fill);
            else if (vAlign == 2)
                b.MoveRectangle(0, h0 - newHeight, w0 - 1, h0 - 1, 0, 0, fill);
        }
    };
    auto grow = [&](TIEBitmap& b, double fill) {
        const int keptRows = std::min(h0, newHeight);
        if (w0 < newWidth) {
            b.FillRectangle(w0, 0, newWidth - 1, newHeight - 1, fill);
            if (hAlign == 1)
                b.MoveRectangle(0, 0, w0 - 1, keptRows - 1, (newWidth - w0) / 2, 0, fill);
            else if (hAlign == 2)
                b.MoveRectangle(0, 0, w0 - 1, keptRows - 1, newWidth - w0, 0, fill);
        }
        if (h0 < newHeight) {
            b.FillRectangle(0, h0, newWidth - 1, newHeight - 1, fill);
            if (vAlign == 1)
                b.MoveRectangle(0, 0, newWidth - 1, h0 - 1, 0, (newHeight - h0) / 2, fill);
            else if (vAlign == 2)
                b.MoveRectangle(0, 0, newWidth - 1, h0 - 1, 0, newHeight - h0, fill);
        }
    };
    shrink(*this, imageFill);
    if (FAlphaPlane) shrink(*FAlphaPlane, alphaFill);
    SetWidth(newWidth);
    SetHeight(newHeight);
    grow(*this, imageFill);
    if (FAlphaPlane) grow(*FAlphaPlane, alphaFill);
}

// ---- platform bitmap hand-over

void TIEBitmap::AttachTBitmap(TBitmap* bitmap, bool releaseFirst) {
    if (!bitmap) return;
    if (releaseFirst) {
        Release();
    } else {
        std::unique_ptr<TIEBitmap> alpha = std::move(FAlphaPlane);
        FreeStorage(bitmap == FTBitmap, false);
        FAlphaPlane = std::move(alpha);
    }
    if (bitmap != FTBitmap) {
        if (FTBitmap && !FExternalTBitmap) delete FTBitmap;
        FTBitmap = bitmap;
    }
    FExternalTBitmap = true;
    FLocation = ieTBitmap;
    RecordFromTBitmap();
    if (FAlphaPlane && (FAlphaPlane->Width() != FWidth || FAlphaPlane->Height() != FHeight)) {
        FAlphaPlane->Reallocate(FWidth, FHeight, ie8Gray);
        FAlphaPlane->FillAll(255);
    }
}

void TIEBitmap::AttachMemory(std::uint8_t* memory, int width, int height, TIEPixelFormat pixelType,
                             bool releaseFirst) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (!IsValidType(pixelType)) pixelType = ieNone;
    const int bits = BitsPerPixelOf(pixelType);
    const int stride = bitmapmemory::CheckedStride(RowStrideOf(width, bits, AlignmentOf(RowAlignmentBits)));
    bitmapmemory::BlockBytes(stride, height);
    std::vector<TIERgbTriple> palette;
    const int paletteLength = FPaletteLength;
    std::unique_ptr<TIEBitmap> alpha;
    if (!releaseFirst) {
        palette = std::move(FPalette);
        alpha = std::move(FAlphaPlane);
    }
    Release();
    FAlphaPlane = std::move(alpha);
    FHeap = memory;
    FExternalMemory = true;
    FLocation = ieHeap;
    FWidth = width;
    FHeight = height;
    FPixelType = pixelType;
    FBitsPerPixel = bits;
    FRowStride = stride;
    if (pixelType == ie8Palette) {
        if (palette.size() == 256) {
            FPalette = std::move(palette);
            FPaletteLength = paletteLength;
        } else {
            FPalette.assign(256, TIERgbTriple{});
            FPaletteLength = 256;
        }
    }
}

void TIEBitmap::ExportToTBitmap(TBitmap& bitmap) {
    if (&bitmap == FTBitmap) return; // already the storage
    const TIEPixelFormat t = PixelType();
    const int w = FWidth, h = FHeight;
    bitmap.SetSize(1, 1);
    switch (t) {
    case ie1Bit:
        bitmap.SetPixelFormat(pf1bit);
        bitmap.SetMonochrome(true);
        break;
    case ie8Palette:
        bitmap.SetPixelFormat(pf8bit);
        bitmap.SetPaletteSize(256);
        for (int i = 0; i < 256; ++i) {
            const TIERgbTriple p = static_cast<std::size_t>(i) < FPalette.size()
                                       ? FPalette[static_cast<std::size_t>(i)]
                                       : TIERgbTriple{};
            bitmap.SetPaletteEntry(i, RGBColor(p.r, p.g, p.b));
        }
        break;
    case ie8Gray:
    case ie16Gray:
    case ie32f:
        bitmap.SetPixelFormat(pf8bit);
        bitmap.SetPaletteSize(256);
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            bitmap.SetPaletteEntry(i, RGBColor(v, v, v));
        }
        break;
    case ie24Rgb:
        bitmap.SetPixelFormat(pf24bit);
        break;
    default:
        bitmap.SetSize(0, 0);
        return;
    }
    bitmap.SetSize(w, h);
    TAccessScope access(*this, AccessRead);
    for (int r = 0; r < h; ++r) {
        const std::uint8_t* in = RowPointer(r);
        std::uint8_t* out = bitmap.ScanLine(r);
        if (!in) continue;
        if (t == ie16Gray) {
            for (int x = 0; x < w; ++x) out[x] = in[2 * std::int64_t(x) + 1];
        } else if (t == ie32f) {
            for (int x = 0; x < w; ++x) {
                float f;
                std::memcpy(&f, in + 4 * std::int64_t(x), 4);
                out[x] = FloatTo8(f);
            }
        } else {
            std::memcpy(out, in, static_cast<std::size_t>(std::min(FRowStride, bitmap.BytesPerScanLine())));
        }
    }
}

void TIEBitmap::ImportIntoHeap(TBitmap& b) {
    const int w = b.Width(), h = b.Height();
    const TPixelFormat pf = b.PixelFormat();
    const bool mono = pf == pf1bit && b.Monochrome();
    const bool indexed = pf == pf1bit || pf == pf4bit || pf == pf8bit;
    Reallocate(w, h, mono ? ie1Bit : indexed ? ie8Palette : ie24Rgb);
    if (indexed && !mono) {
        const int entries = pf == pf1bit ? 2 : pf == pf4bit ? 16 : 256;
        for (int i = 0; i < entries && i < b.PaletteSize(); ++i) {
            const TColor c = b.PaletteEntry(i);
            FPalette[static_cast<std::size_t>(i)] = CreateRGB(ColorRed(c), ColorGreen(c), ColorBlue(c));
        }
        FPaletteLength = entries;
    }
    TAccessScope access(*this, AccessWrite);
    for (int r = 0; r < h; ++r) {
        const std::uint8_t* in = b.ScanLine(r);
        std::uint8_t* out = RowPointer(r);
        if (!out) continue;
        switch (pf) {
        case pf1bit:
            if (mono)
                std::memcpy(out, in, static_cast<std::size_t>(std::min(FRowStride, b.BytesPerScanLine())));
            else
                for (int x = 0; x < w; ++x) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case pf4bit:
            for (int x = 0; x < w; ++x)
                out[x] = static_cast<std::uint8_t>((x & 1) ? in[x >> 1] & 0x0F : in[x >> 1] >> 4);
            break;
        case pf8bit:
        case pf24bit:
            std::memcpy(out, in, static_cast<std::size_t>(std::min(FRowStride, b.BytesPerScanLine())));
            break;
        case pf15bit:
        case pf16bit:
            for (int x = 0; x < w; ++x) {
                const unsigned v = in[2 * x] | (unsigned(in[2 * x + 1]) << 8);
                std::uint8_t* p = out + 3 * std::int64_t(x);
                p[0] = static_cast<std::uint8_t>((v & 31) << 3);
                if (pf == pf15bit) {
                    p[1] = static_cast<std::uint8_t>(((v >> 5) & 31) << 3);
                    p[2] = static_cast<std::uint8_t>(((v >> 10) & 31) << 3);
                } else {
                    p[1] = static_cast<std::uint8_t>(((v >> 5) & 63) << 2);
                    p[2] = static_cast<std::uint8_t>(((v >> 11) & 31) << 3);
                }
            }
            break;
        case pf32bit:
            for (int x = 0; x < w; ++x) std::memcpy(out + 3 * std::int64_t(x), in + 4 * std::int64_t(x), 3);
            break;
        }
    }
    FullyOpaque = false;
}

void TIEBitmap::ImportTBitmap(TBitmap* bitmap) {
    if (!bitmap) return;
    if (bitmap == FTBitmap) {
        ResyncWithTBitmap();
        return;
    }
    if (FLocation != ieTBitmap) {
        ImportIntoHeap(*bitmap);
        return;
    }
    const TPixelFormat pf = bitmap->PixelFormat();
    if ((pf == pf1bit && bitmap->Monochrome()) || pf == pf8bit || pf == pf24bit) {
        FreeStorage(true, false);
        if (!FTBitmap) {
            FTBitmap = new TBitmap();
            FExternalTBitmap = false;
        }
        FTBitmap->Assign(*bitmap);
        FPixelType = ieNone; // the platform format decides (pf8bit: indexed)
        RecordFromTBitmap();
        return;
    }
    // Colour 1-bit and 4-, 15-, 16- and 32-bit formats are unpacked first.
    auto scratch = NewScratch();
    scratch->SetLocation(ieHeap);
    scratch->ImportIntoHeap(*bitmap);
    AssignPixels(*scratch, false);
}

TBitmap* TIEBitmap::VclBitmap() {
    if (FLocation != ieTBitmap) MoveToLocation(ieTBitmap);
    if (!FTBitmap) {
        FTBitmap = new TBitmap();
        FExternalTBitmap = false;
    }
    return FTBitmap;
}

TCanvas* TIEBitmap::DrawingCanvas() {
    return &VclBitmap()->Canvas();
}
