#include "imaging/io/IEView.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatIds.h"
#include "platform/PlatformBitmap.h"

TIEView::TIEView()
    : FTBitmap(std::make_unique<TBitmap>()), FBitmap(std::make_unique<TIEBitmap>()), FDpiX(DefaultDpiX),
      FDpiY(DefaultDpiY) {
    FBitmap->AttachTBitmap(FTBitmap.get(), false);
    FBitmap->Reallocate(1, 1, ie24Rgb);
    FillBackground();
}

TIEView::~TIEView() {
    // The own component detaches first, then every other observer learns that the view goes.
    FIO.reset();
    auto observers = FObservers;
    for (auto& [handle, observer] : observers) observer(true);
    FObservers.clear();
    FBitmap.reset();
}

void TIEView::Update() {
    FBitmapWidth = FBitmap->Width();
    FBitmapHeight = FBitmap->Height();
    if (OnUpdate) OnUpdate();
}

void TIEView::SetDpi(int x, int y) {
    if (x != 0) FDpiX = x;
    if (y != 0) FDpiY = y;
}

TPictoraIO* TIEView::IOComponent() {
    if (!FIO) {
        FIO = std::make_unique<TPictoraIO>();
        FIO->SetAttachedPictora(this);
        FIO->OnProgress = OnProgress;
    }
    return FIO.get();
}

void TIEView::ResetToBlank() {
    const TIEPixelFormat type = FBitmap->PixelType() == ieNone ? ie24Rgb : FBitmap->PixelType();
    FBitmap->Reallocate(1, 1, type);
    FillBackground();
}

void TIEView::FillBackground() {
    FBitmap->FillAll(static_cast<double>(ColorToRGB(Background)));
    Update();
}

int TIEView::RegisterBitmapChangeEvent(std::function<void(bool)> observer) {
    const int handle = FNextObserver++;
    FObservers[handle] = std::move(observer);
    return handle;
}

void TIEView::RemoveBitmapChangeEvent(int handle) {
    FObservers.erase(handle);
}

void TIEView::CallBitmapChangeEvents() {
    auto observers = FObservers;
    for (auto& [handle, observer] : observers) observer(false);
}
