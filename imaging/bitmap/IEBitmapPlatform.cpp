// Hand-over between TIEBitmap and the platform bitmap: attaching, exporting and importing.
#include "imaging/bitmap/BitmapInternals.h"
#include "imaging/bitmap/BitmapMemory.h"
#include "imaging/bitmap/IEBitmap.h"
#include "platform/ByteOrder.h"
#include "platform/PlatformBitmap.h"

#include <algorithm>
#include <cstring>

using bitmapinternals::AlignmentOf;
using bitmapinternals::FloatTo8;
using bitmapinternals::IsValidType;
using bitmapinternals::TAccessScope;

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
                const unsigned v = ReadLe16(in + 2 * x);
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
