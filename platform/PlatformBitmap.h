#pragma once
// TBitmap: the shared device-independent bitmap of the desktop platform. Scan lines are top-down and
// padded to 32 bits; the pixel block is one contiguous allocation so a window can show it without a
// copy. Formats up to 8 bits per pixel carry a palette of up to 256 colours.
#include "platform/Colors.h"

#include <cstdint>
#include <memory>
#include <vector>

enum TPixelFormat : std::uint8_t { pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Bits per pixel of a platform pixel format.
constexpr int PixelFormatBits(TPixelFormat f) {
    switch (f) {
    case pf1bit:
        return 1;
    case pf4bit:
        return 4;
    case pf8bit:
        return 8;
    case pf15bit:
    case pf16bit:
        return 16;
    case pf24bit:
        return 24;
    default:
        return 32;
    }
}

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0; // Right and Bottom are exclusive
};

class TBitmap;

// The small drawing surface of a TBitmap: enough to fill areas and to draw another bitmap on it.
class TCanvas {
public:
    explicit TCanvas(TBitmap& owner) : FOwner(owner) {}
    // Fills the rectangle (clipped to the bitmap) with the brush colour.
    void FillRect(const TRect& rect);
    // Draws source with its top-left corner at (x, y), clipped to this bitmap; colours are converted
    // when the formats differ (indexed targets take the nearest palette entry).
    void Draw(int x, int y, const TBitmap& source);
    TColor BrushColor = clWhite;

private:
    TBitmap& FOwner;
};

class TBitmap {
public:
    TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Resizing keeps the content anchored at the top-left corner; new pixels are 0.
    // Raises EOutOfMemory for sizes whose rows or block cannot be held.
    void SetWidth(int width) { SetSize(width, FHeight); }
    void SetHeight(int height) { SetSize(FWidth, height); }
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const { return FFormat; }
    // Changing the format discards the pixels (all 0) and installs the format's default palette:
    // black and white for pf1bit (Monochrome), a grey ramp for pf4bit and pf8bit, none otherwise.
    void SetPixelFormat(TPixelFormat format);
    bool Monochrome() const { return FMonochrome; }
    // true makes the bitmap pf1bit with a black and white palette; false only clears the flag.
    void SetMonochrome(bool monochrome);

    // Row 0 is the top row; no range check (0 <= row < Height).
    std::uint8_t* ScanLine(int row) { return FPixels.get() + std::int64_t(row) * FStride; }
    const std::uint8_t* ScanLine(int row) const { return FPixels.get() + std::int64_t(row) * FStride; }
    int BytesPerScanLine() const { return FStride; }
    // The whole pixel block: Height rows of BytesPerScanLine bytes, top row first.
    std::uint8_t* PixelBlock() { return FPixels.get(); }
    std::int64_t PixelBlockSize() const { return std::int64_t(FStride) * FHeight; }

    // Palette colours (platform colour values); empty for formats above 8 bits.
    int PaletteSize() const { return static_cast<int>(FPalette.size()); }
    // Sets the number of entries (clamped to 0..256); new entries are black.
    void SetPaletteSize(int count);
    TColor PaletteEntry(int index) const;
    void SetPaletteEntry(int index, TColor color); // ignored out of range

    // Pixel access as platform colours (indexed formats look the colour up; writes pick the nearest
    // palette entry). Out-of-range coordinates read black and write nothing.
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    // Makes this bitmap an exact copy of source (format, size, palette, pixels).
    void Assign(const TBitmap& source);

    TCanvas& Canvas() { return FCanvas; }

private:
    int NearestPaletteIndex(TColor color) const;
    void Allocate(int width, int height, bool keepContent);

    int FWidth = 0;
    int FHeight = 0;
    int FStride = 0;
    TPixelFormat FFormat = pf24bit;
    bool FMonochrome = false;
    // Pixels from AllocateZeroedPixels, released with std::free.
    struct TPixelFree {
        void operator()(std::uint8_t* pixels) const noexcept;
    };
    using TPixelStore = std::unique_ptr<std::uint8_t[], TPixelFree>;
    static TPixelStore ZeroedPixels(std::int64_t size);

    TPixelStore FPixels;
    std::vector<TColor> FPalette;
    TCanvas FCanvas;
};
