// Storage, geometry and palette of TIEBitmap.
#include "imaging/bitmap/IEBitmap.h"

#include "imaging/bitmap/BitmapInternals.h"
#include "imaging/bitmap/BitmapMemory.h"
#include "imaging/bitmap/IEFileBuffer.h"
#include "platform/Allocator.h"
#include "platform/Exceptions.h"
#include "platform/PlatformBitmap.h"
#include "platform/SystemInfo.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

std::int32_t DefaultTempFileThreshold = -1;
std::string TempDirectory;

using bitmapinternals::AlignmentOf;
using bitmapinternals::IsValidType;
using bitmapinternals::PlatformFormatOf;

namespace {

constexpr std::int64_t kFallbackThreshold = 33554432; // 32 MiB when the system reports no memory figure

std::int64_t InitialThreshold() {
    if (DefaultTempFileThreshold != -1) return DefaultTempFileThreshold;
    const std::uint64_t available = AvailablePhysicalMemory();
    if (available == 0) return kFallbackThreshold;
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(available / 2, std::numeric_limits<std::int64_t>::max()));
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
            FHeap = static_cast<std::uint8_t*>(AllocateZeroedPixels(bytes));
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
