#include "codecs/png/PngReader.h"

#include "codecs/png/PngGlue.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

enum TPngColorType { pctGray = 0, pctRgb = 2, pctPalette = 3, pctGrayAlpha = 4, pctRgbAlpha = 6 };

// What the rows become in the bitmap.
enum class TPngRoute {
    Bits1,         // 1-bit grey or a black-then-white palette: the bits as stored
    Bits1Inverted, // a white-then-black palette: the bits inverted, so 1 stays white
    NativePalette, // 8-bit palette, indexes as stored
    NativeGray,    // 8-bit grey as stored
    Rgb24          // everything else, through the decoder's transformations
};

// Deflate cannot expand one input byte to more than 1032 output bytes, so an image whose raw rows
// exceed this many times the bytes left in the stream cannot be complete; refusing it keeps a
// few-byte file from claiming a bitmap of gigabytes.
constexpr std::int64_t kMaxInflateRatio = 1040;
constexpr std::int64_t kInflateSlack = 1 << 20;

bool IsBlack(const TPngPaletteEntry& e) {
    return e.Red == 0 && e.Green == 0 && e.Blue == 0;
}
bool IsWhite(const TPngPaletteEntry& e) {
    return e.Red == 255 && e.Green == 255 && e.Blue == 255;
}

TPngRoute ChooseRoute(const TPngHeader& h, bool native, const TPngPaletteEntry* palette, int paletteCount) {
    if (h.BitDepth == 1 && h.ColorType == pctGray) return TPngRoute::Bits1;
    if (h.BitDepth == 1 && h.ColorType == pctPalette && paletteCount > 0) {
        // Only the two palettes that map onto the bitmap's own black and white keep one bit per
        // pixel; any other pair of colours would come out wrong, so it goes through RGB.
        const bool one = paletteCount < 2;
        if (IsBlack(palette[0]) && (one || IsWhite(palette[1]))) return TPngRoute::Bits1;
        if (IsWhite(palette[0]) && (one || IsBlack(palette[1]))) return TPngRoute::Bits1Inverted;
    }
    if (native && h.BitDepth == 8 && h.ColorType == pctPalette) return TPngRoute::NativePalette;
    if (native && h.BitDepth == 8 && h.ColorType == pctGray) return TPngRoute::NativeGray;
    return TPngRoute::Rgb24;
}

bool IsOneBit(TPngRoute r) {
    return r == TPngRoute::Bits1 || r == TPngRoute::Bits1Inverted;
}

// A bKGD value brought to 8 bits: palette entries are 8-bit already, grey levels are scaled from
// the file's depth, 16-bit samples keep their high byte.
std::uint8_t BackgroundByte(std::uint16_t v, const TPngHeader& h) {
    if (h.ColorType == pctPalette) return static_cast<std::uint8_t>(v & 0xFF);
    if (h.BitDepth == 16) return static_cast<std::uint8_t>(v >> 8);
    if (h.BitDepth < 8) {
        const unsigned maxValue = (1u << h.BitDepth) - 1;
        return static_cast<std::uint8_t>((std::min<unsigned>(v, maxValue) * 255u) / maxValue);
    }
    return static_cast<std::uint8_t>(v & 0xFF);
}

// Pixels per metre to dots per inch, halves to even; 0 stays 0.
int DpiFromPixelsPerMetre(std::uint32_t ppm) {
    const double dpi = std::nearbyint(static_cast<double>(ppm) / 100.0 * 2.54);
    return dpi > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                          : static_cast<int>(dpi);
}

bool SetTransformations(TPngDecoder& png, const TPngHeader& h, TPngRoute route) {
    if (route != TPngRoute::Rgb24) return true; // stored samples go straight into the bitmap
    const int d = h.BitDepth;
    const bool palette = h.ColorType == pctPalette;
    const bool gray = h.ColorType == pctGray;
    // A 1-bit palette that reaches here is expanded like the deeper ones.
    if (palette && d <= 8 && !png.SetExpand()) return false;
    if (gray && d > 1 && d < 8 && !png.SetExpand()) return false;
    if (d == 16 && !png.SetStrip16()) return false;
    if (d > 1 && d < 8 && !png.SetPacking()) return false;
    if ((gray || h.ColorType == pctGrayAlpha) && d > 1 && !png.SetGrayToRgb()) return false;
    if ((d > 1 || palette) && !png.SetBgr()) return false;
    return true;
}

bool SetBackground(TPngDecoder& png, const TPngHeader& h, TPngRoute route, TIOParamsVals& Params) {
    TPngColor16 file;
    const bool hasFile = png.FileBackground(file);
    if (hasFile)
        Params.PngBackgroundColor = CreateRGB(BackgroundByte(file.Red, h), BackgroundByte(file.Green, h),
                                              BackgroundByte(file.Blue, h));
    // One-bit output carries no transparency, and compositing in one bit per sample would only
    // disturb the stored bits.
    if (IsOneBit(route)) return true;
    if (hasFile) return png.SetBackground(file, pbgFile, true, 1.0);
    // The decoder takes a screen background in the output's format, which is 8 bits per sample here.
    const TIERgbTriple c = Params.PngBackgroundColor;
    TPngColor16 record;
    record.Red = c.r;
    record.Green = c.g;
    record.Blue = c.b;
    record.Gray = GrayOf(c.r, c.g, c.b);
    return png.SetBackground(record, pbgScreen, false, 1.0);
}

void FillParams(TPngDecoder& png, const TPngHeader& h, const TPngPaletteEntry* palette, int paletteCount,
                TIOParamsVals& Params) {
    Params.ImageWidth = static_cast<std::int32_t>(h.Width);
    Params.ImageHeight = static_cast<std::int32_t>(h.Height);
    Params.BitsPerSample = h.BitDepth;
    switch (h.ColorType) {
    case pctGray:
    case pctPalette:
        Params.SamplesPerPixel = 1;
        break;
    case pctRgb:
        Params.SamplesPerPixel = 3;
        break;
    case pctGrayAlpha:
        Params.SamplesPerPixel = 2;
        break;
    case pctRgbAlpha:
        Params.SamplesPerPixel = 4;
        break;
    default:
        break;
    }
    Params.HorizontalDpi = DpiFromPixelsPerMetre(png.XPixelsPerMetre());
    if (Params.HorizontalDpi == 0) Params.HorizontalDpi = DefaultDpiX;
    Params.VerticalDpi = DpiFromPixelsPerMetre(png.YPixelsPerMetre());
    if (Params.VerticalDpi == 0) Params.VerticalDpi = DefaultDpiY;
    Params.FreePalette();
    if (h.ColorType == pctPalette && paletteCount > 0) {
        std::vector<TIERgbTriple> entries(static_cast<std::size_t>(paletteCount));
        for (int i = 0; i < paletteCount; ++i)
            entries[static_cast<std::size_t>(i)] =
                CreateRGB(palette[i].Red, palette[i].Green, palette[i].Blue);
        Params.SetPalette(entries.data(), paletteCount);
    }
    Params.PngInterlaced = h.Interlace != 0;
}

TIEPixelFormat PixelFormatOf(TPngRoute route) {
    switch (route) {
    case TPngRoute::Bits1:
    case TPngRoute::Bits1Inverted:
        return ie1Bit;
    case TPngRoute::NativePalette:
        return ie8Palette;
    case TPngRoute::NativeGray:
        return ie8Gray;
    default:
        return ie24Rgb;
    }
}

// The decoder's output must be what the bitmap row holds: anything else would write past the row.
bool OutputFits(TPngDecoder& png, TPngRoute route, TIEBitmap& Bitmap, std::uint32_t width) {
    const int channels = png.Channels();
    const int depth = png.OutputBitDepth();
    const std::uint64_t rowBytes = png.RowBytes();
    switch (route) {
    case TPngRoute::Bits1:
    case TPngRoute::Bits1Inverted:
        return channels == 1 && depth == 1 && rowBytes <= std::uint64_t(Bitmap.RowStride());
    case TPngRoute::NativePalette:
    case TPngRoute::NativeGray:
        return channels == 1 && depth == 8 && rowBytes <= std::uint64_t(Bitmap.RowStride());
    default:
        if (depth != 8) return false;
        if (channels == 3) return rowBytes <= std::uint64_t(Bitmap.RowStride());
        return channels == 4 && rowBytes == std::uint64_t(width) * 4;
    }
}

void InvertBits(std::uint8_t* row, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
}

struct TRowLoop {
    TRowLoop(TPngDecoder& png, TIEBitmap& bitmap, TIEMask* mask, TIEProgressRecord& progress, TPngRoute route)
        : Png(png), Bitmap(bitmap), Mask(mask), Progress(progress), Route(route) {}

    TPngDecoder& Png;
    TIEBitmap& Bitmap;
    TIEMask* Mask; // null: alpha is dropped
    TIEProgressRecord& Progress;
    TPngRoute Route;
    int Width = 0;
    int Height = 0;
    int Passes = 1;
    bool FourChannels = false;
    std::vector<std::uint8_t> Work;

    // One decoded row into row y. The decoder writes only the current pass's pixels, so whatever a
    // row holds from earlier passes must be in the decoder's own format when it is called.
    bool DecodeRow(int y) {
        std::uint8_t* row = Bitmap.RowPointer(y);
        if (FourChannels) {
            std::uint8_t* alpha = Mask ? Mask->RowPointer(y) : nullptr;
            if (Passes > 1) {
                for (int x = 0; x < Width; ++x) {
                    std::memcpy(&Work[std::size_t(x) * 4], row + std::size_t(x) * 3, 3);
                    Work[std::size_t(x) * 4 + 3] = alpha ? alpha[x] : 255;
                }
            }
            const bool ok = Png.ReadRow(Work.data());
            for (int x = 0; x < Width; ++x) {
                std::memcpy(row + std::size_t(x) * 3, &Work[std::size_t(x) * 4], 3);
                if (alpha) alpha[x] = Work[std::size_t(x) * 4 + 3];
            }
            return ok;
        }
        const std::size_t bits1Bytes = (std::size_t(Width) + 7) / 8;
        const bool invert = Route == TPngRoute::Bits1Inverted;
        if (invert && Passes > 1) InvertBits(row, bits1Bytes);
        const bool ok = Png.ReadRow(row);
        if (invert) InvertBits(row, bits1Bytes);
        return ok;
    }

    void Run() {
        const std::int64_t total = std::int64_t(Height) * Passes;
        Progress.PercentPerUnit = 100.0 / static_cast<double>(total);
        Progress.ProgressCounter = 0;
        std::int64_t counter = 0;
        for (int pass = 0; pass < Passes; ++pass) {
            for (int y = 0; y < Height; ++y) {
                if (!DecodeRow(y)) return; // the error handler has set Aborting
                ++counter;
                Progress.ProgressCounter = static_cast<std::int32_t>(
                    std::min<std::int64_t>(counter, std::numeric_limits<std::int32_t>::max()));
                Progress.ReportPercent(
                    static_cast<int>(std::trunc(static_cast<double>(counter) * Progress.PercentPerUnit)));
                if (Progress.IsAborting()) break;
            }
            if (Progress.IsAborting()) return;
        }
    }
};

void ClearRows(TIEBitmap& Bitmap, int height) {
    const std::size_t stride = static_cast<std::size_t>(Bitmap.RowStride());
    for (int y = 0; y < height; ++y) std::memset(Bitmap.RowPointer(y), 0, stride);
}

} // namespace

bool IsPngStream(TStream& Stream) {
    const std::int64_t start = Stream.Position();
    std::uint8_t sig[8] = {};
    const std::int64_t got = Stream.Read(sig, 8);
    Stream.SetPosition(start);
    return got >= 4 && sig[0] == 0x89 && sig[1] == 0x50 && sig[2] == 0x4E && sig[3] == 0x47;
}

void ReadPngStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool ApplyBackground,
                   std::unique_ptr<TIEMask>& Mask, bool HeaderOnly, TIEProgressRecord& Progress) {
    const std::int64_t available = std::max<std::int64_t>(0, Stream.Size() - Stream.Position());
    TPngDecoder png(Stream, Progress.Aborting);
    if (!png.Create()) {
        Progress.Abort();
        return;
    }
    TPngHeader h;
    if (!png.ReadInfo() || !png.Header(h)) return;

    TPngPaletteEntry palette[256];
    const int paletteCount = png.Palette(palette);
    const TPngRoute route = ChooseRoute(h, Params.NativePixelFormat, palette, paletteCount);

    if (ApplyBackground) {
        if (!SetBackground(png, h, route, Params)) return;
    } else if (!Mask) {
        Mask = std::make_unique<TIEMask>();
    }
    if (!SetTransformations(png, h, route)) return;
    const int passes = png.SetInterlaceHandling();
    if (passes <= 0 || !png.UpdateInfo()) return;

    // The palette is taken after the update: in background mode the decoder composites it.
    TPngPaletteEntry used[256];
    const int usedCount = png.Palette(used);
    FillParams(png, h, used, usedCount, Params);
    if (HeaderOnly) return;

    const int width = static_cast<int>(h.Width);
    const int height = static_cast<int>(h.Height);
    const int channels = png.Channels();
    const std::int64_t rawBytes = (static_cast<std::int64_t>(png.RowBytes()) + 1) * height;
    if (rawBytes > available * kMaxInflateRatio + kInflateSlack) {
        Progress.Abort();
        return;
    }

    Bitmap.Reallocate(width, height, PixelFormatOf(route));
    if (route == TPngRoute::NativePalette) {
        Bitmap.SetPaletteLength(256);
        for (int i = 0; i < Params.PaletteCount; ++i)
            Bitmap.SetPaletteEntry(i, Params.Palette[std::size_t(i)]);
    }
    ClearRows(Bitmap, height); // rows a short file never reaches stay black
    if (!OutputFits(png, route, Bitmap, h.Width)) {
        Progress.Abort();
        return;
    }

    TIEMask* mask = nullptr;
    if (!ApplyBackground) {
        Mask->Allocate(width, height, 8);
        Mask->Fill(255);
        mask = Mask.get();
    }

    TRowLoop loop(png, Bitmap, mask, Progress, route);
    loop.Width = width;
    loop.Height = height;
    loop.Passes = passes;
    loop.FourChannels = channels == 4;
    if (loop.FourChannels) {
        loop.Work.assign(std::size_t(width) * 4, 0);
        if (mask) mask->FullyOpaque = false;
    }
    loop.Run();
    loop.Work.clear();
    if (!Progress.IsAborting()) png.ReadEnd();
}
