#pragma once
// TIEView: the holder of the current bitmap. It draws nothing: the window shows its platform bitmap
// itself. It keeps the bitmap in ieTBitmap around its own platform bitmap, records the bitmap's size
// when told the bitmap changed, and owns an I/O component of its own.
#include "imaging/params/ProgressRecord.h"
#include "platform/Colors.h"

#include <functional>
#include <map>
#include <memory>

class TBitmap;
class TIEBitmap;
class TPictoraIO;

class TIEView {
public:
    TIEView();
    ~TIEView();
    TIEView(const TIEView&) = delete;
    TIEView& operator=(const TIEView&) = delete;

    TIEBitmap* IEBitmap() { return FBitmap.get(); }
    TBitmap* PlatformBitmap() { return FTBitmap.get(); }
    // The size recorded by the last Update.
    int BitmapWidth() const { return FBitmapWidth; }
    int BitmapHeight() const { return FBitmapHeight; }

    // Records the bitmap's size and tells the listeners to repaint.
    void Update();
    // Stores each value that is not 0.
    void SetDpi(int x, int y);
    int DpiX() const { return FDpiX; }
    int DpiY() const { return FDpiY; }

    TColor Background = clBtnFace;
    TIEProgressEvent OnProgress;
    std::function<void()> OnImageChange; // fired by the I/O component after a load
    std::function<void()> OnUpdate;      // a window may repaint here

    // The view's own I/O component, created on first use.
    TPictoraIO* IOComponent();
    // Shrinks the bitmap to 1 x 1 and fills it with the background.
    void ResetToBlank();
    // Fills the bitmap with the background colour, size unchanged, then Update.
    void FillBackground();

    // Bitmap observers: called with detach = true when the view goes away.
    int RegisterBitmapChangeEvent(std::function<void(bool detach)> observer);
    void RemoveBitmapChangeEvent(int handle);
    void CallBitmapChangeEvents();

private:
    std::unique_ptr<TBitmap> FTBitmap;
    std::unique_ptr<TIEBitmap> FBitmap;
    std::unique_ptr<TPictoraIO> FIO;
    std::map<int, std::function<void(bool)>> FObservers;
    int FNextObserver = 0;
    int FBitmapWidth = 0;
    int FBitmapHeight = 0;
    int FDpiX;
    int FDpiY;
};
