#include "codecs/png/PngReader.h"

#include "codecs/png/PngGlue.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "imaging/params/ReadBudget.h"
#include "imaging/params/ReadFailures.h"
#include "platform/Stream.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
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
constexpr std::int64_t kMaxInflateRatio = 1032;

// Where the data of an image ends: the first pass and image row it does not complete; -1, -1 when it
// completes them all.
struct TDataEnd {
    int Pass = -1, Row = -1;
    bool Whole() const { return Pass < 0; }
    bool Before(const TDataEnd& o) const {
        return !Whole() && (o.Whole() || Pass < o.Pass || (Pass == o.Pass && Row < o.Row));
    }
};

// The passes of an image's filtered data in file order (one for a plain image): for each, the first
// image row, the step between its rows, its number of rows and the bytes of each (a filter byte and
// packed pixels). Each calls Visit until it returns false.
template <typename F> void ForEachPass(const TPngHeader& h, F Visit) {
    static constexpr int kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kY0[7] = {0, 0, 4, 0, 2, 0, 1};
    static constexpr int kDx[7] = {8, 8, 4, 4, 2, 2, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
    int channels = 1;
    if (h.ColorType == pctRgb) channels = 3;
    if (h.ColorType == pctGrayAlpha) channels = 2;
    if (h.ColorType == pctRgbAlpha) channels = 4;
    const std::int64_t bits = std::int64_t(channels) * h.BitDepth;
    const int passes = h.Interlace ? 7 : 1;
    for (int p = 0; p < passes; ++p) {
        const std::int64_t x0 = h.Interlace ? kX0[p] : 0, y0 = h.Interlace ? kY0[p] : 0;
        const std::int64_t dx = h.Interlace ? kDx[p] : 1, dy = h.Interlace ? kDy[p] : 1;
        const std::int64_t w = h.Width > x0 ? (h.Width - x0 + dx - 1) / dx : 0;
        const std::int64_t rows = h.Height > y0 ? (h.Height - y0 + dy - 1) / dy : 0;
        if (w == 0 || rows == 0) continue;
        if (!Visit(p, y0, dy, rows, 1 + (w * bits + 7) / 8)) return;
    }
}

// Bytes of the whole filtered image.
std::int64_t FilteredBytes(const TPngHeader& h) {
    std::int64_t total = 0;
    ForEachPass(h, [&](int, std::int64_t, std::int64_t, std::int64_t rows, std::int64_t rowBytes) {
        total = AddSat(total, MulSat(rows, rowBytes));
        return true;
    });
    return total;
}

// The pass and row that Inflated bytes of filtered image data reach.
TDataEnd DataEndOf(const TPngHeader& h, std::int64_t Inflated) {
    TDataEnd end;
    std::int64_t left = Inflated;
    ForEachPass(h, [&](int p, std::int64_t y0, std::int64_t dy, std::int64_t rows, std::int64_t rowBytes) {
        if (left >= rowBytes * rows) {
            left -= rowBytes * rows;
            return true;
        }
        end = {p, int(y0 + left / rowBytes * dy)};
        return false;
    });
    return end;
}

// The Adam7 pass (0 to 6) that carries pixel (x, y) of an interlaced image.
int Adam7Pass(int x, int y) {
    static constexpr std::uint8_t kPass[8][8] = {{0, 5, 3, 5, 1, 5, 3, 5}, {6, 6, 6, 6, 6, 6, 6, 6},
                                                 {4, 5, 4, 5, 4, 5, 4, 5}, {6, 6, 6, 6, 6, 6, 6, 6},
                                                 {2, 5, 3, 5, 2, 5, 3, 5}, {6, 6, 6, 6, 6, 6, 6, 6},
                                                 {4, 5, 4, 5, 4, 5, 4, 5}, {6, 6, 6, 6, 6, 6, 6, 6}};
    return kPass[y & 7][x & 7];
}

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

    // The first row that may not be the file's: the one being decoded when the stream ran out (the
    // library was given zeros from then on) or when the decoder failed. -1: none.
    int MissingPass = -1, MissingRow = -1;
    // The row at which the decoder failed; -1: none.
    int FailedPass = -1, FailedRow = -1;

    // False when the decoder failed; true when every row came, or the caller stopped the read.
    bool Run() {
        const std::int64_t total = std::int64_t(Height) * Passes;
        Progress.PercentPerUnit = 100.0 / static_cast<double>(total);
        Progress.ProgressCounter = 0;
        std::int64_t counter = 0;
        for (int pass = 0; pass < Passes; ++pass) {
            for (int y = 0; y < Height; ++y) {
                const bool ok = DecodeRow(y);
                if ((!ok || Png.StreamEnded()) && MissingPass < 0) {
                    MissingPass = pass;
                    MissingRow = y;
                }
                if (!ok) {
                    FailedPass = pass;
                    FailedRow = y;
                    return false;
                }
                ++counter;
                Progress.ProgressCounter = static_cast<std::int32_t>(
                    std::min<std::int64_t>(counter, std::numeric_limits<std::int32_t>::max()));
                Progress.ReportPercent(
                    static_cast<int>(std::trunc(static_cast<double>(counter) * Progress.PercentPerUnit)));
                if (Progress.IsAborting()) break;
            }
            if (Progress.IsAborting()) return true;
        }
        return true;
    }

    // In an interlaced image the pixels of pass MissingPass from row MissingRow on, and those of every
    // later pass, are transparent.
    void MarkMissingPixels() const {
        for (int y = 0; y < Height; ++y) {
            std::uint8_t* alpha = Mask->RowPointer(y);
            for (int x = 0; x < Width; ++x) {
                const int pass = Adam7Pass(x, y);
                if (pass > MissingPass || (pass == MissingPass && y >= MissingRow)) alpha[x] = 0;
            }
        }
        Mask->FullyOpaque = false;
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

namespace {
constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool HasSignature(TStream& Stream) {
    const std::int64_t start = Stream.Position();
    std::uint8_t sig[8] = {};
    const std::int64_t got = Stream.Read(sig, 8);
    Stream.SetPosition(start);
    return got == 8 && std::memcmp(sig, kSignature, 8) == 0;
}

// Why the decoder stopped before the rows.
std::string_view HeaderFailure(const TPngDecoder& png) {
    return png.StreamEnded() ? reasons::kNoRowData : "damaged PNG header";
}
} // namespace

void ReadPngStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool ApplyBackground,
                   std::unique_ptr<TIEMask>& Mask, bool HeaderOnly, TIEProgressRecord& Progress) {
    const std::int64_t start = Stream.Position();
    const std::int64_t available = std::max<std::int64_t>(0, Stream.Size() - start);
    if (!HasSignature(Stream)) {
        Progress.Fail("not a PNG file");
        return;
    }
    // The library's errors land here; the read decides what they mean (a cut file keeps its rows).
    bool failed = false;
    TPngDecoder png(Stream, &failed);
    if (!png.Create()) {
        Progress.Fail(reasons::kOutOfMemory);
        return;
    }
    TPngHeader h;
    if (!png.ReadInfo() || !png.Header(h)) {
        Progress.Fail(HeaderFailure(png));
        return;
    }

    TPngPaletteEntry palette[256];
    const int paletteCount = png.Palette(palette);
    const TPngRoute route = ChooseRoute(h, Params.NativePixelFormat, palette, paletteCount);

    if (ApplyBackground) {
        if (!SetBackground(png, h, route, Params)) {
            Progress.Fail(HeaderFailure(png));
            return;
        }
    } else if (!Mask) {
        Mask = std::make_unique<TIEMask>();
    }
    const int passes = SetTransformations(png, h, route) ? png.SetInterlaceHandling() : 0;
    if (passes <= 0 || !png.UpdateInfo()) {
        Progress.Fail(HeaderFailure(png));
        return;
    }

    // The palette is taken after the update: in background mode the decoder composites it.
    TPngPaletteEntry used[256];
    const int usedCount = png.Palette(used);
    FillParams(png, h, used, usedCount, Params);
    if (HeaderOnly) return;

    const int width = static_cast<int>(h.Width);
    const int height = static_cast<int>(h.Height);
    const int channels = png.Channels();
    const std::int64_t rawBytes = MulSat(static_cast<std::int64_t>(png.RowBytes()) + 1, height);
    const std::int64_t bitmapBytes = MulSat(RowStrideOf(width, BitsPerPixelOf(PixelFormatOf(route))), height);
    const std::int64_t maskBytes = ApplyBackground ? 0 : MulSat(width, height);
    if (!StreamCanHold(AddSat(bitmapBytes, maskBytes), rawBytes / kMaxInflateRatio, available)) {
        Progress.Fail(reasons::kLargerThanFile);
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
        Progress.Fail(reasons::Unsupported("colour type", h.ColorType) + " at " + std::to_string(h.BitDepth) +
                      " bits");
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
    const bool decoded = loop.Run();
    loop.Work.clear();
    if (loop.MissingPass < 0) {
        // What follows the image data no longer matters: a file cut after it is whole.
        if (!Progress.IsAborting()) png.ReadEnd();
        return;
    }
    if (!decoded && !png.StreamEnded()) {
        Progress.Fail("damaged PNG data");
        return;
    }
    // The stream ended inside the image data. libpng reads ahead and was handed zeros past the end,
    // so what the file itself gives is counted apart: the rows (or passes) it completes stay.
    TDataEnd end = DataEndOf(h, InflatedImageBytes(Stream, start, FilteredBytes(h)));
    const TDataEnd stopped{loop.FailedPass, loop.FailedRow};
    if (!decoded && stopped.Before(end)) end = stopped;
    if (end.Whole()) return;
    loop.MissingPass = end.Pass;
    loop.MissingRow = end.Row;
    if (passes == 1) {
        Progress.DataEndsEarly(end.Row, height - 1, height);
    } else if (end.Pass == 0 && end.Row == 0) {
        Progress.Fail(reasons::kNoRowData);
    } else {
        if (mask) loop.MarkMissingPixels();
        Progress.DataEndsEarly();
    }
}
