#pragma once
// TIEBitmap: the in-memory raster image. Rows are reached only through RowPointer (row 0 is the top);
// storage lives on the heap (bottom-up), in a temporary file (one-row window) or in a platform bitmap.
#include "imaging/bitmap/PixelTypes.h"
#include "platform/Colors.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TBitmap;
class TCanvas;
class TIEMask;
class TIEFileBuffer;

// Library-wide settings: -1 means "half the available physical memory".
extern std::int32_t DefaultTempFileThreshold;
extern std::string TempDirectory;

class TIEBaseBitmap {
public:
    virtual ~TIEBaseBitmap() = default;
    virtual std::uint8_t* RowPointer(int row) = 0;
    virtual int BitsPerPixel() = 0;
    virtual int Height() = 0;
    virtual int Width() = 0;
    virtual TIEPixelFormat PixelType() = 0;
    virtual int RowStride() = 0;
    virtual void Reallocate(int width, int height, TIEPixelFormat pixelType) = 0;
    virtual void AssignFrom(TIEBaseBitmap* source) = 0;

    std::uint8_t Access = AccessRead | AccessWrite;
};

class TIEBitmap : public TIEBaseBitmap {
public:
    TIEBitmap();
    ~TIEBitmap() override;
    TIEBitmap(const TIEBitmap&) = delete;
    TIEBitmap& operator=(const TIEBitmap&) = delete;

    // Geometry (an ieTBitmap bitmap resynchronises with its platform bitmap first).
    // RowPointer gives nullptr for rows outside 0..Height-1 and for bitmaps without storage; the row of a
    // file-backed bitmap stays valid until the next RowPointer call on the same bitmap.
    std::uint8_t* RowPointer(int row) override;
    int BitsPerPixel() override;
    int Height() override;
    int Width() override;
    TIEPixelFormat PixelType() override;
    int RowStride() override;

    // Discards the image and allocates a new one. Raises EOutOfMemory for sizes that cannot be held.
    void Reallocate(int width, int height, TIEPixelFormat pixelType) override;
    // Source: a TIEBitmap (AssignFrom) or, via ImportTBitmap, a platform bitmap; anything else is ignored.
    void AssignFrom(TIEBaseBitmap* source) override;
    void AssignFrom(TBitmap* source) { ImportTBitmap(source); }

    void SetWidth(int width);
    void SetHeight(int height);
    void ResizeCanvas(int newWidth, int newHeight, double imageFill, double alphaFill, int hAlign,
                      int vAlign);
    void CopyRectangle(TIEBitmap& destination, int sx, int sy, int width, int height, int dx, int dy);
    void MoveRectangle(int x1, int y1, int x2, int y2, int dx, int dy, double fill);
    bool FillAll(double value);
    void FillRectangle(int x1, int y1, int x2, int y2, double value);
    // In place, same size; the alpha plane stays. In ieTBitmap storage ie16Gray gives ie8Gray and ie32f
    // raises EPlatformException ("ie32f pixel format not allowed when Location=ieTBitmap").
    void ConvertTo(TIEPixelFormat pixelType);
    void MoveToLocation(TIELocation location);

    // Palette (room for 256 entries in ie8Palette bitmaps).
    void SetPaletteEntry(int index, std::uint32_t packedTriple);
    void SetPaletteEntry(int index, TIERgbTriple triple) { SetPaletteEntry(index, TripleToInt(triple)); }
    // Out-of-range indexes leave the result untouched.
    void PaletteEntry(int index, TIERgbTriple& result) const;
    TIERgbTriple PaletteEntry(int index) const {
        TIERgbTriple t;
        PaletteEntry(index, t);
        return t;
    }
    int PaletteLength() const { return FPaletteLength; }
    void SetPaletteLength(int length);
    // Direct palette room (nullptr when there is none).
    TIERgbTriple* Palette() { return FPalette.empty() ? nullptr : FPalette.data(); }

    // Alpha plane: an owned ie8Gray bitmap of the same size, 255 opaque, created on first request.
    // On a bitmap that is itself an alpha plane, AlphaPlane returns the bitmap itself.
    bool HasAlphaPlane() const { return FAlphaPlane != nullptr; }
    TIEBitmap* AlphaPlane();
    void DropAlphaPlane();
    std::uint8_t AlphaAt(int x, int y);
    void AlphaFromMask(const TIEMask* mask);
    void AlphaToMask(TIEMask& mask);

    TIERgbTriple PixelAsRgb(int x, int y);
    bool IsGreyscale();

    // Platform bitmap hand-over. An attached bitmap is never freed; one in a format without a pixel type
    // of its own (4, 15, 16, 32 bits) is turned into pf24bit in place, keeping its colours.
    void AttachTBitmap(TBitmap* bitmap, bool releaseFirst);
    void AttachMemory(std::uint8_t* memory, int width, int height, TIEPixelFormat pixelType,
                      bool releaseFirst);
    void ExportToTBitmap(TBitmap& bitmap);
    void ImportTBitmap(TBitmap* bitmap);
    // Moves the storage into a platform bitmap (when on the heap or in a file) and returns it.
    TBitmap* VclBitmap();
    // The same move; returns the platform bitmap's drawing canvas.
    TCanvas* DrawingCanvas();
    void Release();

    TIELocation Location() const { return FLocation; }
    // Sets the location used by the next allocation (no storage moves; see MoveToLocation).
    void SetLocation(TIELocation location) { FLocation = location; }

    bool FullyOpaque = false;
    bool IsAlphaPlane = false;
    std::int64_t TempFileThreshold = 0;
    TIEMonoConversion MonoConversion = ieMeanThreshold;
    int PaletteColors = 256;
    int RowAlignmentBits = 32;

    bool ExternalTBitmap() const { return FExternalTBitmap; }
    bool ExternalMemory() const { return FExternalMemory; }

private:
    friend class TIEBitmapInternals; // conversion and copy helpers in their own files
    void ResyncWithTBitmap();
    void BuildRowTable();
    // Records size, type and stride from the platform bitmap (preferring the current 8-bit type for pf8bit).
    void RecordFromTBitmap();
    // Frees storage; keepTBitmap keeps the platform bitmap object, keepAlpha the alpha plane.
    void FreeStorage(bool keepTBitmap, bool keepAlpha);
    // Allocates storage for the given image in the current Location (palette, location choice, block).
    void AllocateStorage(int width, int height, TIEPixelFormat pixelType);
    void ReleaseRowWindow();
    // Exchanges every storage field (not the settings, Access or IsAlphaPlane) with other.
    void SwapStorage(TIEBitmap& other);
    std::unique_ptr<TIEBitmap> NewScratch() const;
    // Replaces size, type, pixels and palette with source's; the alpha plane is kept when keepAlpha.
    void AssignPixels(TIEBitmap& source, bool keepAlpha);
    void CopyRowsFrom(TIEBitmap& source);
    void CopyPaletteFrom(const TIEBitmap& source);
    void SyncPlatformPalette();
    void ResizeKeepingContent(int width, int height);
    void ConvertInTBitmap(TIEPixelFormat pixelType);
    void ImportIntoHeap(TBitmap& bitmap);

    std::unique_ptr<TIEFileBuffer> FFileBuffer;
    int FWidth = 0;
    int FHeight = 0;
    int FBitsPerPixel = 0;
    std::uint8_t* FRowWindow = nullptr;
    int FRowWindowRow = -1;
    int FRowStride = 0;
    TIEPixelFormat FPixelType = ieNone;
    std::vector<TIERgbTriple> FPalette;
    int FPaletteLength = 0;
    std::unique_ptr<TIEBitmap> FAlphaPlane;
    std::uint8_t* FHeap = nullptr; // ieHeap storage (owned unless FExternalMemory)
    TBitmap* FTBitmap = nullptr;   // ieTBitmap storage (owned unless FExternalTBitmap)
    std::vector<std::uint8_t*> FRowTable;
    TIELocation FLocation = ieTempFile;
    bool FExternalTBitmap = false;
    bool FExternalMemory = false;
};
