#pragma once
// A 1- or 8-bit transparency mask (255 opaque, 0 transparent), rows stored bottom-up.
#include <cstdint>
#include <limits>
#include <vector>

class TIEMask {
public:
    TIEMask() = default;

    void Allocate(int width, int height, int bitsPerPixel);
    void FreeData();
    void SetPixel(int x, int y, int value);
    int GetPixel(int x, int y) const;
    bool IsPixelSet(int x, int y) const { return GetPixel(x, y) != 0; }
    void SetRowRange(int value, int x1, int x2, int y);
    std::uint8_t* RowPointer(int y);
    const std::uint8_t* RowPointer(int y) const;
    bool Fill(int value);
    bool IsEmpty() const { return X1 == std::numeric_limits<std::int32_t>::max(); }
    void Clear();

    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 0;
    int RowStride = 0;
    std::vector<std::uint8_t> Bits;
    std::int32_t X1 = std::numeric_limits<std::int32_t>::max();
    std::int32_t Y1 = std::numeric_limits<std::int32_t>::max();
    std::int32_t X2 = 0;
    std::int32_t Y2 = 0;
    bool FullyOpaque = false;

private:
    void EmptyBoundingBox();
    void UpdateOpaque(int value);
};
