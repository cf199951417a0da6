// Whole-image copies, location moves and size changes of TIEBitmap.
#include "imaging/bitmap/BitmapInternals.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEFileBuffer.h"
#include "platform/PlatformBitmap.h"

#include <algorithm>
#include <cstring>

using bitmapinternals::PlatformFormatOf;
using bitmapinternals::TAccessScope;

namespace {

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
