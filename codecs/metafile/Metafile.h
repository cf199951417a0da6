#pragma once
// Windows metafiles (WMF with or without the placeable header, and EMF) loaded from a stream and
// played into a caller's 24-bit blue-green-red pixel buffer. This is the metafile object the I/O
// component renders through; the drawing itself is a GDI emulation on cairo.
#include "platform/Colors.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TStream;

// Resolution the picture's pixel size refers to for WMF files (the desktop's logical resolution).
constexpr int kMetafileScreenDpi = 96;
// The pixel size reported for a picture is clamped to this, so callers' ratio arithmetic stays small.
constexpr int kMetafileMaxPictureSide = 1 << 20;

class TMetafile {
public:
    TMetafile() = default;

    // Reads the rest of the stream. Returns false (and leaves the object empty) when the bytes are not
    // a metafile this player understands: no valid WMF or EMF header, a header that does not fit the
    // data, or a picture with an empty frame. Bad data never raises; only an allocation failure does.
    // A valid picture may still be so small that its pixel size rounds to 0.
    bool LoadFromStream(TStream& Stream);
    // Opens the file (read, deny write) and loads it. A file that cannot be opened raises the platform's
    // EFOpenError; a file that is not a metafile returns false.
    bool LoadFromFile(const std::string& Path);
    void Clear();

    bool Empty() const { return FData.empty(); }
    // True for an enhanced (EMF) metafile, false for WMF.
    bool Enhanced() const { return FEnhanced; }
    // The picture's size in pixels: WMF from the placeable bounds and units per inch at
    // kMetafileScreenDpi (without the placeable header, from the window extent or, lacking one, from
    // what the records draw); EMF from the header's frame at the recording device's pixels per mm.
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // The picture's size in hundredths of a millimetre.
    int MMWidth() const { return FMMWidth; }
    int MMHeight() const { return FMMHeight; }

    // Paints Background (a platform colour, system colours resolved) over Width x Height pixels of
    // Buffer (3 bytes per pixel, blue, green, red; rows top-down, Stride bytes apart) and plays the
    // picture stretched to that rectangle. Every pixel is written. Returns true when playback reached
    // the end of the picture; false when the object is empty or a malformed record ended playback
    // (what was drawn before it stays). Raises EPlatformException for a null buffer, a size below 1
    // or a stride shorter than a row.
    bool Draw(std::uint8_t* Buffer, int Width, int Height, std::ptrdiff_t Stride, TColor Background) const;

private:
    bool LoadWmf();
    bool LoadEmf();

    std::vector<std::uint8_t> FData; // the whole file
    bool FEnhanced = false;
    int FWidth = 0, FHeight = 0;
    int FMMWidth = 0, FMMHeight = 0;

    // WMF: where the records start, and the picture's frame in logical units with its units per inch.
    std::size_t FWmfRecords = 0, FWmfObjects = 0;
    double FWmfLeft = 0, FWmfTop = 0, FWmfRight = 0, FWmfBottom = 0, FWmfInch = 1440;
    // EMF: the frame in reference-device pixels and the device's pixels per millimetre.
    double FEmfLeft = 0, FEmfTop = 0, FEmfRight = 0, FEmfBottom = 0;
    double FEmfPxPerMmX = 1, FEmfPxPerMmY = 1;
    std::size_t FEmfHandles = 0;
};
