#pragma once
// What composing an animated GIF has built up so far: the canvas and what the last frame's disposal
// needs. Kept between frame loads of one unchanged file so that frame k+1 continues from frame k
// instead of decoding frames 0..k again.
#include "imaging/bitmap/IEBitmap.h"

#include <string>

struct TGifComposition {
    TGifComposition() { Canvas.SetLocation(ieTBitmap); }

    std::string Key;   // the file and its size and modification time; empty: not reusable
    int NextFrame = 0; // frames 0 .. NextFrame-1 are on the canvas
    int Count = 0;
    TIEBitmap Canvas;
    bool CanvasEmpty = true;
    int PreviousDisposal = 0;
    int PrevLeft = 0, PrevTop = 0, PrevWidth = 0, PrevHeight = 0;
    // Disposal 3 ("restore to previous") puts back what the frame covered; players honour it, so a
    // page composed without it would show a frame that was never on screen at that moment.
    TIEBitmap Covered, CoveredAlpha;
};
