#include "shell/opendialog/PreviewViews.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "platform/PlatformBitmap.h"

#include <QListWidgetItem>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {
QRgb ToQRgb(TColor c) {
    return qRgb(ColorRed(c), ColorGreen(c), ColorBlue(c));
}

Qt::TransformationMode ModeOf(TResampleFilter filter) {
    return filter == rfNone ? Qt::FastTransformation : Qt::SmoothTransformation;
}
} // namespace

QImage WrapPlatformBitmap(TBitmap& bitmap) {
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0 || !bitmap.PixelBlock()) return {};
    QImage::Format format;
    switch (bitmap.PixelFormat()) {
    case pf1bit:
        format = QImage::Format_Mono;
        break;
    case pf8bit:
        format = QImage::Format_Indexed8;
        break;
    case pf24bit:
        format = QImage::Format_BGR888;
        break;
    case pf32bit:
        format = QImage::Format_RGB32;
        break; // blue, green, red, unused: Qt's order on little-endian
    default:
        return {}; // the bitmap layer never keeps the others
    }
    QImage image(bitmap.PixelBlock(), bitmap.Width(), bitmap.Height(), bitmap.BytesPerScanLine(), format);
    if (format == QImage::Format_Mono || format == QImage::Format_Indexed8) {
        const int entries = format == QImage::Format_Mono ? 2 : 256;
        QList<QRgb> table(entries, qRgb(0, 0, 0));
        for (int i = 0; i < std::min(entries, bitmap.PaletteSize()); ++i)
            table[i] = ToQRgb(bitmap.PaletteEntry(i));
        // A mono bitmap without a palette is black and white, 1 white.
        if (format == QImage::Format_Mono && bitmap.PaletteSize() < 2) table[1] = qRgb(255, 255, 255);
        image.setColorTable(table);
    }
    return image;
}

QImage DisplayImage(TIEBitmap& bitmap, unsigned background) {
    TBitmap* platform = bitmap.VclBitmap();
    if (!platform) return {};
    QImage image = WrapPlatformBitmap(*platform);
    if (image.isNull() || !bitmap.HasAlphaPlane()) return image;
    TIEBitmap* alpha = bitmap.AlphaPlane();
    if (!alpha || alpha->Width() != image.width() || alpha->Height() != image.height()) return image;
    QImage composed = image.convertToFormat(QImage::Format_RGB32);
    const int br = qRed(background), bg = qGreen(background), bb = qBlue(background);
    for (int y = 0; y < composed.height(); ++y) {
        const std::uint8_t* a = alpha->RowPointer(y);
        if (!a) continue;
        auto* row = reinterpret_cast<QRgb*>(composed.scanLine(y));
        for (int x = 0; x < composed.width(); ++x) {
            const int k = a[x];
            const QRgb p = row[x];
            row[x] = qRgb((qRed(p) * k + br * (255 - k)) / 255, (qGreen(p) * k + bg * (255 - k)) / 255,
                          (qBlue(p) * k + bb * (255 - k)) / 255);
        }
    }
    return composed;
}

// ---- TIEPreviewView

TIEPreviewView::TIEPreviewView(QWidget* parent) : QFrame(parent) {
    SetBorderStyle(iepsDefault);
}

void TIEPreviewView::ShowImage(TIEView& view) {
    TIEBitmap* bitmap = view.IEBitmap();
    FImage = bitmap ? DisplayImage(*bitmap, qRgb(255, 255, 255)) : QImage();
    RebuildScaled();
    update();
}

void TIEPreviewView::Blank() {
    FImage = QImage();
    FScaled = QImage();
    FTarget = QRect();
    update();
}

QImage TIEPreviewView::CopyImage() const {
    return FImage.copy();
}

void TIEPreviewView::SetZoom(int percent) {
    FZoom = std::max(0, percent);
    RebuildScaled();
    update();
}

void TIEPreviewView::SetBorderStyle(TIEDBorderStyle style) {
    FBorderStyle = style;
    if (style == iepsDefault) {
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
    } else {
        setFrameStyle(QFrame::NoFrame);
    }
    RebuildScaled();
    update();
}

void TIEPreviewView::SetResampleFilter(TResampleFilter filter) {
    FFilter = filter;
    RebuildScaled();
    update();
}

void TIEPreviewView::RebuildScaled() {
    FScaled = QImage();
    FTarget = QRect();
    if (FImage.isNull()) return;
    const QRect area = contentsRect().adjusted(2, 2, -2, -2);
    if (area.width() <= 0 || area.height() <= 0) return;
    const double iw = FImage.width(), ih = FImage.height();
    const double scale = FZoom == 0 ? std::min(area.width() / iw, area.height() / ih) : FZoom / 100.0;
    const double dw = iw * scale, dh = ih * scale;
    // The displayed rectangle, centred, and the part of it inside the view.
    const QRectF shown(area.center().x() + 0.5 - dw / 2, area.center().y() + 0.5 - dh / 2, dw, dh);
    const QRectF visible = shown.intersected(QRectF(area));
    if (visible.isEmpty()) return;
    const QRectF source((visible.left() - shown.left()) / scale, (visible.top() - shown.top()) / scale,
                        visible.width() / scale, visible.height() / scale);
    const QRect src = source.toAlignedRect().intersected(FImage.rect());
    if (src.isEmpty()) return;
    FTarget = QRect(int(std::lround(shown.left() + src.left() * scale)),
                    int(std::lround(shown.top() + src.top() * scale)),
                    std::max(1, int(std::lround(src.width() * scale))),
                    std::max(1, int(std::lround(src.height() * scale))));
    // Only the visible part is scaled; a picture much larger than the view is first thinned by
    // sampling so the filter never works on (or converts) the whole bitmap.
    QImage part = src == FImage.rect() ? FImage : FImage.copy(src);
    if (FFilter != rfNone && part.width() > 4 * FTarget.width() && part.height() > 4 * FTarget.height())
        part = part.scaled(FTarget.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    FScaled = part.scaled(FTarget.size(), Qt::IgnoreAspectRatio, ModeOf(FFilter));
}

void TIEPreviewView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = contentsRect();
    if (FBorderStyle == iepsDefault) painter.fillRect(area, Qt::white);
    if (!FScaled.isNull()) {
        painter.setClipRect(area);
        if (FBorderStyle == iepsCropShadow) painter.fillRect(FTarget.translated(3, 3), QColor(0, 0, 0, 90));
        painter.drawImage(FTarget.topLeft(), FScaled);
    }
    painter.end();
    QFrame::paintEvent(event); // the frame line
}

void TIEPreviewView::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    RebuildScaled();
}

void TIEPreviewView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (OnDoubleClick) OnDoubleClick();
    event->accept();
}

// ---- TIEFrameView

TIEFrameView::TIEFrameView(QWidget* parent) : QListWidget(parent), FTimer(new QTimer(this)) {
    setViewMode(QListView::IconMode);
    setIconSize(QSize(kThumbnailWidth, kThumbnailHeight));
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, [this] {
        // Playback goes on until Play(false) stops the timer.
        Step();
        const int row = std::max(0, currentRow());
        FTimer->start(row < int(FDelays.size()) ? FDelays[std::size_t(row)] : 100);
    });
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem*) {
        if (OnDoubleClick) OnDoubleClick();
    });
}

void TIEFrameView::Clear() {
    Play(false);
    clear();
    FDelays.clear();
}

QImage TIEFrameView::FitThumbnail(const QImage& image) {
    if (image.width() <= kThumbnailWidth && image.height() <= kThumbnailHeight) return image.copy();
    return image.scaled(kThumbnailWidth, kThumbnailHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void TIEFrameView::AddFrame(const QImage& image, int delayMs) {
    QPixmap thumb(kThumbnailWidth, kThumbnailHeight);
    thumb.fill(Qt::white);
    if (!image.isNull()) {
        const QImage small = image.width() > kThumbnailWidth || image.height() > kThumbnailHeight
                                 ? FitThumbnail(image)
                                 : image;
        QPainter p(&thumb);
        p.drawImage((kThumbnailWidth - small.width()) / 2, (kThumbnailHeight - small.height()) / 2, small);
    }
    auto* item = new QListWidgetItem(QIcon(thumb), QString::number(count() + 1), this);
    item->setTextAlignment(Qt::AlignHCenter);
    FDelays.push_back(delayMs < 20 ? 100 : delayMs);
}

int TIEFrameView::SelectedFrame() const {
    if (count() == 0) return -1;
    return std::max(0, currentRow());
}

void TIEFrameView::Play(bool on) {
    if (!on) {
        FTimer->stop();
        return;
    }
    if (count() < 2 || FTimer->isActive()) return;
    const int row = std::max(0, currentRow());
    FTimer->start(row < int(FDelays.size()) ? FDelays[std::size_t(row)] : 100);
}

bool TIEFrameView::Playing() const {
    return FTimer->isActive();
}

void TIEFrameView::Step() {
    if (count() == 0) return;
    const int next = (std::max(0, currentRow()) + 1) % count();
    setCurrentRow(next);
    scrollToItem(item(next), QAbstractItemView::PositionAtTop);
}
