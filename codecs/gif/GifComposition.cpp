#include "codecs/gif/GifComposition.h"

#include "imaging/params/IOParams.h"
#include "platform/Colors.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace {
constexpr std::uint8_t kTransparent = 0;
constexpr std::uint8_t kOpaque = 255;
constexpr std::int64_t kMaxSide = std::numeric_limits<int>::max();

// Canvas fill value for a background colour in the canvas's pixel type.
double FillValueFor(TIEBitmap& bitmap, TIERgbTriple colour) {
    if (bitmap.PixelType() == ie1Bit) return GrayOf(colour.r, colour.g, colour.b) >= 128 ? 1.0 : 0.0;
    return static_cast<double>(RGBColor(colour.r, colour.g, colour.b));
}

// What a screen nobody has drawn on shows: the background colour of the global colour table, unless
// the animation begins with a transparent frame and so is meant to be seen over whatever lies behind
// it. A file without that table names no colour at all. Where the screen shows nothing, the page
// shows its paper.
std::uint8_t UntouchedScreenAlpha(const TIOParamsVals& firstFrame) {
    return firstFrame.GifHasGlobalColorTable && !firstFrame.GifHasTransparency ? kOpaque : kTransparent;
}

// One side of the screen a player shows. A file that states no screen size gets one that holds its
// frames.
int ScreenSide(int screen, int frameOffset, int frameSize) {
    if (screen > 0) return screen;
    return static_cast<int>(std::min<std::int64_t>(std::int64_t(frameOffset) + frameSize, kMaxSide));
}

// Draws frame onto canvas at (left, top), clipped to the canvas: where the frame's alpha is 0 the
// canvas keeps its pixel and its transparency; everywhere else the frame's pixel replaces it and the
// canvas becomes opaque there. A pixel a frame painted must never be left transparent, or the page
// would show paper where the player shows the frame.
void DrawFrame(TIEBitmap& canvas, TIEBitmap& frame, int left, int top) {
    const int fw = frame.Width(), fh = frame.Height();
    const int cw = canvas.Width(), ch = canvas.Height();
    TIEBitmap* alpha = frame.HasAlphaPlane() ? frame.AlphaPlane() : nullptr;
    if (alpha && alpha->PixelType() != ie8Gray) alpha->ConvertTo(ie8Gray); // one byte a pixel below
    TIEBitmap& canvasAlpha = *canvas.AlphaPlane();
    const bool oneBit = canvas.PixelType() == ie1Bit;
    const std::int64_t from = std::max<std::int64_t>(left, 0);
    const std::int64_t to = std::min<std::int64_t>(std::int64_t(left) + fw, cw);
    std::vector<std::uint8_t> alphaRow(std::size_t(fw), kOpaque);
    std::vector<std::uint8_t> src;
    for (int y = 0; y < fh; ++y) {
        const std::int64_t cy = std::int64_t(top) + y;
        if (cy < 0 || cy >= ch) continue;
        // Copy each row first: a file-backed bitmap keeps only one row pointer valid at a time.
        if (alpha) {
            const std::uint8_t* a = alpha->RowPointer(y);
            alphaRow.assign(a, a + fw);
        }
        const std::uint8_t* srcRow = frame.RowPointer(y);
        src.assign(srcRow, srcRow + frame.RowStride());
        std::uint8_t* opaque = canvasAlpha.RowPointer(static_cast<int>(cy));
        for (std::int64_t cx = from; cx < to; ++cx)
            if (alphaRow[std::size_t(cx - left)] != kTransparent) opaque[cx] = kOpaque;
        std::uint8_t* dst = canvas.RowPointer(static_cast<int>(cy));
        for (std::int64_t cx = from; cx < to; ++cx) {
            const std::size_t x = std::size_t(cx - left);
            if (alphaRow[x] == kTransparent) continue;
            if (oneBit) {
                const bool white = src[x >> 3] & (0x80 >> (x & 7));
                const auto bit = static_cast<std::uint8_t>(0x80 >> (cx & 7));
                if (white)
                    dst[cx >> 3] |= bit;
                else
                    dst[cx >> 3] &= static_cast<std::uint8_t>(~bit);
            } else {
                std::copy_n(&src[x * 3], 3, &dst[std::size_t(cx) * 3]);
            }
        }
    }
}

// Undoes what the previous frame asked to be undone before the next one is drawn.
void DisposePrevious(TGifComposition& c, TIERgbTriple background) {
    TIEBitmap& canvas = c.Canvas;
    if (c.PreviousDisposal == 2) {
        // Restored to the background: players show nothing there, so the paper shows.
        const int x2 = c.PrevLeft + c.PrevWidth - 1, y2 = c.PrevTop + c.PrevHeight - 1;
        canvas.FillRectangle(c.PrevLeft, c.PrevTop, x2, y2, FillValueFor(canvas, background));
        canvas.AlphaPlane()->FillRectangle(c.PrevLeft, c.PrevTop, x2, y2, kTransparent);
    } else if (c.PreviousDisposal == 3 && c.Covered.Width() > 0) {
        if (c.Covered.PixelType() != canvas.PixelType()) c.Covered.ConvertTo(canvas.PixelType());
        c.Covered.CopyRectangle(canvas, 0, 0, c.Covered.Width(), c.Covered.Height(), c.PrevLeft, c.PrevTop);
        c.CoveredAlpha.CopyRectangle(*canvas.AlphaPlane(), 0, 0, c.CoveredAlpha.Width(),
                                     c.CoveredAlpha.Height(), c.PrevLeft, c.PrevTop);
    }
}
} // namespace

void ComposeGifFrame(TGifComposition& c, TIEBitmap& frame, const TIOParamsVals& params) {
    TIEBitmap& canvas = c.Canvas;
    // Frames of one file may differ in pixel type (a two-colour frame after a colour one): compose in
    // full colour then, so no earlier frame is thrown away.
    if (frame.PixelType() != ie1Bit && frame.PixelType() != ie24Rgb) frame.ConvertTo(ie24Rgb);
    if (!c.CanvasEmpty && canvas.PixelType() != frame.PixelType()) {
        canvas.ConvertTo(ie24Rgb);
        frame.ConvertTo(ie24Rgb);
    }
    const TIERgbTriple background = params.GifBackgroundColor;
    if (!c.CanvasEmpty) DisposePrevious(c, background);
    const int width = ScreenSide(params.GifScreenWidth, params.GifFrameLeft, frame.Width());
    const int height = ScreenSide(params.GifScreenHeight, params.GifFrameTop, frame.Height());
    if (c.CanvasEmpty) {
        c.UntouchedAlpha = UntouchedScreenAlpha(params);
        canvas.Reallocate(width, height, frame.PixelType());
        canvas.FillAll(FillValueFor(canvas, background));
        canvas.AlphaPlane()->FillAll(c.UntouchedAlpha);
        c.CanvasEmpty = false;
    }
    if (canvas.Width() < width || canvas.Height() < height)
        canvas.ResizeCanvas(std::max(width, canvas.Width()), std::max(height, canvas.Height()),
                            FillValueFor(canvas, background), c.UntouchedAlpha, 0, 0);
    if (params.GifDisposal == 3) {
        c.Covered.Reallocate(frame.Width(), frame.Height(), canvas.PixelType());
        canvas.CopyRectangle(c.Covered, params.GifFrameLeft, params.GifFrameTop, frame.Width(),
                             frame.Height(), 0, 0);
        c.CoveredAlpha.Reallocate(frame.Width(), frame.Height(), ie8Gray);
        canvas.AlphaPlane()->CopyRectangle(c.CoveredAlpha, params.GifFrameLeft, params.GifFrameTop,
                                           frame.Width(), frame.Height(), 0, 0);
    }
    DrawFrame(canvas, frame, params.GifFrameLeft, params.GifFrameTop);
    canvas.AlphaPlane()->FullyOpaque = false;
    c.PrevLeft = params.GifFrameLeft;
    c.PrevTop = params.GifFrameTop;
    c.PrevWidth = frame.Width();
    c.PrevHeight = frame.Height();
    c.PreviousDisposal = params.GifDisposal;
}
