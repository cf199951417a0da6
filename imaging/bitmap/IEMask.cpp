#include "imaging/bitmap/IEMask.h"

#include "imaging/bitmap/BitmapMemory.h"
#include "imaging/bitmap/PixelTypes.h"

#include <algorithm>
#include <cstring>

void TIEMask::Allocate(int width, int height, int bitsPerPixel) {
    FreeData();
    width = std::max(width, 0);
    height = std::max(height, 0);
    const std::int64_t stride = RowStrideOf(width, std::max(bitsPerPixel, 0));
    const std::size_t size = bitmapmemory::CheckedBlockSize(stride, height);
    try {
        Bits.assign(size, 0);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    Width = width;
    Height = height;
    BitsPerPixel = bitsPerPixel;
    RowStride = static_cast<int>(stride);
    EmptyBoundingBox();
    FullyOpaque = false;
}

void TIEMask::FreeData() {
    Bits.clear();
    Bits.shrink_to_fit();
    Width = Height = BitsPerPixel = RowStride = 0;
}

void TIEMask::EmptyBoundingBox() {
    X1 = Y1 = std::numeric_limits<std::int32_t>::max();
    X2 = Y2 = 0;
}

void TIEMask::UpdateOpaque(int value) {
    if (FullyOpaque) FullyOpaque = BitsPerPixel != 8 || value == 255;
}

std::uint8_t* TIEMask::RowPointer(int y) {
    return Bits.data() + std::int64_t(Height - 1 - y) * RowStride;
}

const std::uint8_t* TIEMask::RowPointer(int y) const {
    return Bits.data() + std::int64_t(Height - 1 - y) * RowStride;
}

void TIEMask::SetPixel(int x, int y, int value) {
    if (x < 0 || y < 0 || x >= Width || y >= Height) return;
    if (value != 0) {
        X1 = std::min(X1, x);
        Y1 = std::min(Y1, y);
        X2 = std::max(X2, x);
        Y2 = std::max(Y2, y);
    }
    UpdateOpaque(value);
    std::uint8_t* row = RowPointer(y);
    if (BitsPerPixel == 1) {
        const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
        if (value != 0)
            row[x >> 3] |= bit;
        else
            row[x >> 3] &= static_cast<std::uint8_t>(~bit);
    } else if (BitsPerPixel == 8) {
        row[x] = static_cast<std::uint8_t>(value);
    }
}

int TIEMask::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= Width || y >= Height) return 0;
    const std::uint8_t* row = RowPointer(y);
    if (BitsPerPixel == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1;
    if (BitsPerPixel == 8) return row[x];
    return 0;
}

void TIEMask::SetRowRange(int value, int x1, int x2, int y) {
    if (Width <= 0 || Height <= 0) return;
    x1 = std::max(x1, 0);
    x2 = std::min(x2, Width - 1);
    y = std::clamp(y, 0, Height - 1);
    if (x2 < x1) return;
    UpdateOpaque(value);
    std::uint8_t* row = RowPointer(y);
    if (BitsPerPixel == 1) {
        for (int x = x1; x <= x2; ++x) row[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
    } else if (BitsPerPixel == 8) {
        std::memset(row + x1, value & 0xFF, static_cast<std::size_t>(x2 - x1 + 1));
    }
}

bool TIEMask::Fill(int value) {
    std::fill(Bits.begin(), Bits.end(), static_cast<std::uint8_t>(value));
    FullyOpaque = BitsPerPixel != 8 || value == 255;
    return FullyOpaque;
}

void TIEMask::Clear() {
    Fill(0);
    EmptyBoundingBox();
}
