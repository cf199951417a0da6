#pragma once
// The two image views of the open dialog's preview panel: TIEPreviewView shows the bitmap of a TIEView
// (fitted or zoomed, centred), TIEFrameView shows the frames of a multi-frame file as thumbnails and
// plays them.
#include "shell/opendialog/OpenPictoraDialog.h"

#include <QFrame>
#include <QImage>
#include <QListWidget>

#include <functional>
#include <vector>

class QTimer;
class TBitmap;
class TIEBitmap;
class TIEView;

// The platform bitmap's pixels as a QImage that shares them (no copy): valid only while the bitmap
// keeps its storage, size and format. Null for an empty bitmap.
QImage WrapPlatformBitmap(TBitmap& bitmap);
// A QImage of the bitmap for display: shared pixels when it has no alpha plane, otherwise a copy
// with the alpha plane composed over background (an RGB value, red in the high byte as in QRgb).
QImage DisplayImage(TIEBitmap& bitmap, unsigned background);

class TIEPreviewView : public QFrame {
    Q_OBJECT
public:
    explicit TIEPreviewView(QWidget* parent = nullptr);

    // Shows the view's current bitmap. Call after every load that finished; the view must outlive
    // the display (Blank releases it).
    void ShowImage(TIEView& view);
    // Shows nothing but the background, and lets go of the last image.
    void Blank();
    bool IsBlank() const { return FImage.isNull(); }
    // The displayed image, detached from the bitmap (null when blank).
    QImage CopyImage() const;
    QSize ImageSize() const { return FImage.size(); }

    // 0 fits the image into the view; otherwise a percentage.
    void SetZoom(int percent);
    int Zoom() const { return FZoom; }
    void SetBorderStyle(TIEDBorderStyle style);
    TIEDBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetResampleFilter(TResampleFilter filter);

    std::function<void()> OnDoubleClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Scales the visible part of the image once, so painting never touches the full bitmap.
    void RebuildScaled();

    QImage FImage;
    QImage FScaled;
    QRect FTarget;
    int FZoom = 0;
    TIEDBorderStyle FBorderStyle = iepsDefault;
    TResampleFilter FFilter = rfFastLinear;
};

class TIEFrameView : public QListWidget {
    Q_OBJECT
public:
    explicit TIEFrameView(QWidget* parent = nullptr);

    // Empties the view and stops playback.
    void Clear();
    // Appends a frame: image is scaled down to the thumbnail size; delayMs is its display time
    // during playback (values below 20 ms are taken as 100 ms).
    void AddFrame(const QImage& image, int delayMs);
    // The image scaled down to fit a thumbnail, or a copy of it when it fits already: it owns its
    // pixels, so it may travel between threads.
    static QImage FitThumbnail(const QImage& image);
    int FrameCount() const { return count(); }
    // The selected frame (0 when none is selected and there are frames, -1 when empty).
    int SelectedFrame() const;

    void Play(bool on);
    bool Playing() const;
    // Moves to the next frame as one playback tick does.
    void Step();

    std::function<void()> OnDoubleClick;

    static constexpr int kThumbnailWidth = 100;
    static constexpr int kThumbnailHeight = 109;

private:
    QTimer* FTimer = nullptr;
    std::vector<int> FDelays;
};
