#pragma once
// Owner of one libpng read structure and its info structure, fed from a TStream. This and its .cpp
// are the only code that includes png.h or reaches libpng's setjmp/longjmp error path.
//
// Every operation that enters libpng returns false when the library reported an error; the error
// handler has then set the flag given at construction. A C++ exception raised by the stream while libpng was
// reading is carried across the library and raised again from the operation that called it.
#include <cstddef>
#include <cstdint>
#include <exception>

class TStream;

// Bytes the image data (the IDAT chunks' contents) of the PNG stream at Start inflates to, as far as
// the stream holds it: what a cut file really gives, without the zeros libpng is handed past the end.
// Counting stops at Limit. The stream position is restored.
std::int64_t InflatedImageBytes(TStream& Stream, std::int64_t Start, std::int64_t Limit);

struct TPngHeader {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    int BitDepth = 0;
    int ColorType = 0; // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGB and alpha
    int Interlace = 0; // 0 none, 1 Adam7
};

struct TPngColor16 {
    std::uint8_t Index = 0;
    std::uint16_t Red = 0, Green = 0, Blue = 0, Gray = 0;
};

struct TPngPaletteEntry {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
};

enum TPngBackgroundGamma { pbgScreen = 1, pbgFile = 2 };

class TPngDecoder {
public:
    TPngDecoder(TStream& Stream, bool* Aborting);
    ~TPngDecoder();
    TPngDecoder(const TPngDecoder&) = delete;
    TPngDecoder& operator=(const TPngDecoder&) = delete;

    // Creates the read and info structures; false when either cannot be made.
    bool Create();

    bool ReadInfo();
    bool Header(TPngHeader& Header);
    // The bKGD chunk's colour as the file stores it; false when there is none.
    bool FileBackground(TPngColor16& Color) const;
    // Pixels per metre from pHYs; 0 when there is no pHYs or its unit is not the metre.
    std::uint32_t XPixelsPerMetre() const;
    std::uint32_t YPixelsPerMetre() const;
    // The PLTE entries (at most 256); returns their number, 0 when there is none.
    int Palette(TPngPaletteEntry* Entries) const;

    bool SetBackground(const TPngColor16& Color, TPngBackgroundGamma GammaCode, bool NeedExpand,
                       double BackgroundGamma);
    bool SetExpand();
    bool SetStrip16();
    bool SetPacking();
    bool SetGrayToRgb();
    bool SetBgr();
    // Number of passes (7 for Adam7, 1 otherwise); 0 on error.
    int SetInterlaceHandling();
    bool UpdateInfo();
    // After UpdateInfo: channels and bytes of one decoded row.
    int Channels() const;
    std::uint64_t RowBytes() const;
    int OutputBitDepth() const;

    // Decodes the next row of the current pass into Row; for an interlaced image only the pixels of
    // the pass are written and the others are kept.
    bool ReadRow(std::uint8_t* Row);
    bool ReadEnd();
    // The stream ran out while libpng read: what it was given after that were zeros.
    bool StreamEnded() const { return FZerosSupplied > 0; }

private:
    friend struct TPngCallbacks;
    template <typename F> bool Call(F& f);
    void RethrowPending();

    TStream& FStream;
    bool* FAborting;
    void* FPng = nullptr;  // png_structp
    void* FInfo = nullptr; // png_infop
    std::uint64_t FZerosSupplied = 0;
    std::exception_ptr FPending;
};
