// The alpha plane of TIEBitmap and its exchange with masks.
#include "imaging/bitmap/BitmapInternals.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"

#include <algorithm>
#include <cstring>

using bitmapinternals::TAccessScope;

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
