#pragma once
// What composing an animated GIF has built up so far: the canvas and what the last frame's disposal
// needs. Kept between frame loads of one unchanged file so that frame k+1 continues from frame k
// instead of decoding frames 0..k again.
#include "imaging/bitmap/IEBitmap.h"

#include <cstdint>
#include <string>

struct TIOParamsVals;

struct TGifComposition {
    TGifComposition() { Canvas.SetLocation(ieTBitmap); }

    std::string Key;   // the file and its size and modification time; empty: not reusable
    int NextFrame = 0; // frames 0 .. NextFrame-1 are on the canvas
    int Count = 0;
    // The screen as a player shows it. Its alpha plane is exact: 255 where the screen shows a colour,
    // 0 where it shows nothing, so that the page shows its paper there.
    TIEBitmap Canvas;
    bool CanvasEmpty = true;
    std::uint8_t UntouchedAlpha = 0; // what the screen shows where no frame has been drawn
    int PreviousDisposal = 0;
    int PrevLeft = 0, PrevTop = 0, PrevWidth = 0, PrevHeight = 0;
    // Disposal 3 ("restore to previous") puts back what the frame covered; players honour it, so a
    // page composed without it would show a frame that was never on screen at that moment.
    TIEBitmap Covered, CoveredAlpha;
};

// Lays one decoded frame (ie1Bit, ie8Palette or ie24Rgb, with an alpha plane where it has transparent
// pixels) on the canvas as a player shows it: first the previous frame's disposal, then the frame
// over what the screen shows. params holds the frame's fields as the reader filled them (position,
// disposal, logical screen, background). The frame may be converted to the canvas's pixel type.
void ComposeGifFrame(TGifComposition& composition, TIEBitmap& frame, const TIOParamsVals& params);
