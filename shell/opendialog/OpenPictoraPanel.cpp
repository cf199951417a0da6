// The preview panel of the open dialog: its controls, the previews and the preview window.
#include "shell/opendialog/OpenPictoraDialog.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "shell/opendialog/DialogPreview.h"
#include "shell/opendialog/PreviewViews.h"
#include "shell/preview/PreviewThreads.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Geometry of the preview panel, in pixels.
constexpr int kPanelBorder = 6;
constexpr int kPanelWidth = 186;
constexpr int kViewLeft = 6, kViewTop = 36, kViewWidth = 133, kViewHeight = 139;
constexpr int kLabelTops[3] = {180, 203, 226};

// What a window manager's frame takes around the preview window (title bar, borders).
constexpr QMargins kPreviewFrameAllowance(4, 30, 4, 4);

const int kZoomSteps[] = {0, 25, 50, 75, 100, 125, 150, 175, 200, 300, 400};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The two glyphs of the panel's buttons, drawn so no image resources are needed.
QIcon MagnifierIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.6));
    p.setBrush(QColor(200, 225, 255));
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(QColor(40, 40, 40), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
    return QIcon(pm);
}

QIcon PlayIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(4, 2);
    path.lineTo(14, 8);
    path.lineTo(4, 14);
    path.closeSubpath();
    p.fillPath(path, QColor(30, 130, 40));
    return QIcon(pm);
}

// Restores the cursor however the preview ends.
struct TWaitCursor {
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

} // namespace

void TOpenPictoraDialog::CreateControls() {
    // The panels live as long as the component and are lent to each dialog window.
    FPicturePanel = new QFrame(nullptr);
    FPicturePanel->setObjectName("PicturePanel");
    static_cast<QFrame*>(FPicturePanel)->setFrameShape(QFrame::NoFrame);
    FPicturePanel->setContentsMargins(kPanelBorder, kPanelBorder, kPanelBorder, kPanelBorder);
    FPicturePanel->setFixedWidth(kPanelWidth);
    FPicturePanel->setMinimumHeight(kLabelTops[2] + 24);

    FZoomCombo = new QComboBox(FPicturePanel);
    FZoomCombo->setObjectName("ZoomCombo");
    FZoomCombo->setGeometry(6, 5, 50, 21);
    FZoomCombo->setToolTip("Zoom");
    for (int zoom : kZoomSteps)
        FZoomCombo->addItem(zoom == 0 ? QString("Fit") : QString("%1%").arg(zoom), zoom);
    FZoomCombo->setMinimumContentsLength(4);
    FZoomCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FZoomCombo->setGeometry(6, 5, 50, 21);

    FPreviewButton = new QToolButton(FPicturePanel);
    FPreviewButton->setObjectName("PreviewButton");
    FPreviewButton->setGeometry(60, 5, 23, 22);
    FPreviewButton->setAutoRaise(true);
    FPreviewButton->setIcon(MagnifierIcon());

    FPlayButton = new QToolButton(FPicturePanel);
    FPlayButton->setObjectName("PlayButton");
    FPlayButton->setGeometry(85, 5, 23, 22);
    FPlayButton->setAutoRaise(true);
    FPlayButton->setCheckable(true);
    FPlayButton->setIcon(PlayIcon());

    FPictoraView = new TIEPreviewView(FPicturePanel);
    FPictoraView->setObjectName("PictoraView");
    FPictoraView->setGeometry(kViewLeft, kViewTop, kViewWidth, kViewHeight);
    FPictoraView->SetResampleFilter(FZoomFilter);
    FPictoraView->SetBorderStyle(FBorderStyle);

    FPictoraMView = new TIEFrameView(FPicturePanel);
    FPictoraMView->setObjectName("PictoraMView");
    FPictoraMView->setGeometry(kViewLeft, kViewTop, kViewWidth, kViewHeight);
    FPictoraMView->hide();

    QLabel** labels[3] = {&FPicLabel1, &FPicLabel2, &FPicLabel3};
    for (int i = 0; i < 3; ++i) {
        *labels[i] = new QLabel(FPicturePanel);
        (*labels[i])->setObjectName(QString("PicLabel%1").arg(i + 1));
        (*labels[i])->setGeometry(6, kLabelTops[i], kPanelWidth - 2 * kPanelBorder, 20);
    }

    FProgressBar = new QProgressBar(FPicturePanel);
    FProgressBar->setObjectName("ProgressBar");
    FProgressBar->setRange(0, 100);
    FProgressBar->setTextVisible(false);
    FProgressBar->setGeometry(kViewLeft + (kViewWidth - 127) / 2, kViewTop + (kViewHeight - 19) / 2, 127, 19);
    FProgressBar->hide();

    FInfoPanel = new QFrame(nullptr);
    FInfoPanel->setObjectName("InfoPanel");
    FInfoPanel->setContentsMargins(kPanelBorder, 0, kPanelBorder, kPanelBorder);
    auto* info = new QHBoxLayout(FInfoPanel);
    info->setContentsMargins(0, 0, 0, 0);
    auto* texts = new QVBoxLayout;
    FInfoLabel1 = new QLabel(FInfoPanel);
    FInfoLabel1->setObjectName("InfoLabel1");
    FInfoLabel2 = new QLabel(FInfoPanel);
    FInfoLabel2->setObjectName("InfoLabel2");
    texts->addWidget(FInfoLabel1);
    texts->addWidget(FInfoLabel2);
    info->addLayout(texts, 1);
    FAdvancedButton = new QPushButton(FInfoPanel);
    FAdvancedButton->setObjectName("AdvancedButton");
    FAdvancedButton->hide();
    info->addWidget(FAdvancedButton);
    FPreviewCheck = new QCheckBox(FInfoPanel);
    FPreviewCheck->setObjectName("PreviewCheck");
    FPreviewCheck->setChecked(true);
    info->addWidget(FPreviewCheck);

    connect(FZoomCombo, &QComboBox::activated, this, [this](int) { Guard([this] { ApplyZoom(); }); });
    connect(FPreviewButton, &QToolButton::clicked, this, [this] { Guard([this] { RunPreviewForm(); }); });
    connect(FPlayButton, &QToolButton::toggled, this,
            [this](bool on) { Guard([this, on] { PlayToggled(on); }); });
    connect(FPreviewCheck, &QCheckBox::toggled, this,
            [this](bool on) { Guard([this, on] { PreviewCheckToggled(on); }); });
    FPictoraView->OnDoubleClick = [this] { Guard([this] { RunPreviewForm(); }); };
    FPictoraMView->OnDoubleClick = FPictoraView->OnDoubleClick;
    FailPreview();
}

void TOpenPictoraDialog::RefreshTexts() {
    FPreviewButton->setToolTip(Q(Msg(msgPreview)));
    FPreviewCheck->setText(Q(Msg(msgPreview)));
    FAdvancedButton->setText(Q(Msg(msgAdvanced) + "..."));
    FPlayButton->setToolTip(Q(Msg(msgAnimate)));
}

void TOpenPictoraDialog::SetPreviewBorderStyle(TIEDBorderStyle value) {
    FBorderStyle = value;
    FPictoraView->SetBorderStyle(value);
}

void TOpenPictoraDialog::SetZoomFilter(TResampleFilter value) {
    FZoomFilter = value;
    FPictoraView->SetResampleFilter(value);
}

void TOpenPictoraDialog::LayoutPanel(QFileDialog& window) {
    FZoomCombo->setCurrentIndex(0);
    FPictoraView->SetZoom(0);
    FPlayButton->setChecked(false);
    FPlayButton->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(FPicLabel1), static_cast<QWidget*>(FPicLabel2),
                       static_cast<QWidget*>(FPicLabel3), static_cast<QWidget*>(FZoomCombo)})
        w->setVisible(ExtendedDialog);
    FPicturePanel->setMinimumHeight(ExtendedDialog ? kLabelTops[2] + 24
                                                   : kViewTop + kViewHeight + kPanelBorder);

    auto* grid = qobject_cast<QGridLayout*>(window.layout());
    if (!grid) { // the widget dialog always has its grid; keep the panel usable anyway
        if (window.layout()) window.layout()->addWidget(FPicturePanel);
        FPicturePanel->show();
        return;
    }
    // The standard controls fill the grid; the panel takes a new column beside all of them, the way
    // a template's placeholder gives the standard controls their area.
    const int rows = grid->rowCount();
    const int columns = grid->columnCount();
    grid->addWidget(FPicturePanel, 0, columns, rows, 1);
    FPicturePanel->show();
    int nextRow = rows;
    if (!Options.Contains(ofHideReadOnly)) {
        FReadOnlyCheck = new QCheckBox("Open as read-only", &window);
        FReadOnlyCheck->setObjectName("ReadOnlyCheck");
        FReadOnlyCheck->setChecked(Options.Contains(ofReadOnly));
        grid->addWidget(FReadOnlyCheck, nextRow++, 1, 1, std::max(1, columns - 1));
    }
    if (ExtendedDialog) {
        grid->addWidget(FInfoPanel, nextRow, 0, 1, columns + 1);
        FInfoPanel->show();
    }
}

void TOpenPictoraDialog::DetachPanels(QDialog& window) {
    for (QWidget* panel : {FPicturePanel, FInfoPanel}) {
        if (panel->parentWidget() != &window) continue;
        if (window.layout()) window.layout()->removeWidget(panel);
        panel->hide();
        panel->setParent(nullptr);
    }
}

// ---- the preview

TDialogPreviewRequest TOpenPictoraDialog::PreviewRequest() const {
    TDialogPreviewRequest r;
    r.Decode = FPreviewCheck->isChecked();
    r.ShowAllFrames = ShowAllFrames;
    r.ViewWidth = FPictoraView->width();
    r.ViewHeight = FPictoraView->height();
    r.AutoAdjustDPI = AutoAdjustDPI;
    r.FilteredAdjustDPI = FilteredAdjustDPI;
    r.Language = MsgLanguage;
    return r;
}

void TOpenPictoraDialog::UpdatePreview(const std::string& path) {
    if (FPreviewBusy) return;
    FPreviewBusy = true;
    FPreviewRequests->Cancel();
    FPreviewPath = path;
    try {
        TWaitCursor wait;
        BlankViews();
        FPlayButton->setChecked(false);
        ShowProgress(true);
        const TIEProgressEvent progress = [this](void*, int percent) { ProgressChanged(percent); };
        const std::atomic<bool> never{false};
        TDialogPreview preview = MakeDialogPreview(path, PreviewRequest(), never, progress);
        ShowPreview(preview);
    } catch (...) {
        // A file that cannot be previewed leaves the panel blank; the dialog goes on.
        try {
            FailPreview();
        } catch (...) {
        }
    }
    FPreviewBusy = false;
    Guard([this] {
        if (OnSelectionChange) OnSelectionChange(this);
    });
}

void TOpenPictoraDialog::RequestPreview(const std::string& path) {
    FPreviewPath = path;
    BlankViews();
    FPlayButton->setChecked(false);
    ClearInformation();
    const QFileInfo info(Q(path));
    if (path.empty() || !info.isFile()) {
        FPreviewRequests->Cancel();
        FailPreview();
    } else {
        // The settings of this moment travel with the request; the widgets stay on this thread.
        const TDialogPreviewRequest request = PreviewRequest();
        ShowProgress(false);
        FPreviewRequests->Request(
            path, FPictoraView->size(),
            [request](const std::string& key, QSize, const std::atomic<bool>& cancelled) {
                TPreviewResult result;
                result.Extra = std::make_shared<TDialogPreview>(MakeDialogPreview(key, request, cancelled));
                return result;
            });
    }
    Guard([this] {
        if (OnSelectionChange) OnSelectionChange(this);
    });
}

bool TOpenPictoraDialog::PreviewPending() const {
    return FPreviewRequests->Pending();
}

void TOpenPictoraDialog::PreviewArrived(const std::string& path, const TPreviewResult& result) {
    const auto* preview = std::any_cast<std::shared_ptr<TDialogPreview>>(&result.Extra);
    if (path != FPreviewPath || !preview || !*preview) {
        FailPreview();
        return;
    }
    try {
        ShowPreview(**preview);
    } catch (...) {
        FailPreview();
    }
}

void TOpenPictoraDialog::ShowProgress(bool measured) {
    // A preview made on its own thread has no percentages to show: the bar only says it is busy.
    FProgressBar->setRange(0, measured ? 100 : 0);
    FProgressBar->setValue(0);
    FProgressBar->show();
    FProgressBar->raise();
}

void TOpenPictoraDialog::ShowPreview(TDialogPreview& preview) {
    using TKind = TDialogPreview::TKind;
    FProgressBar->hide();
    FProgressBar->setRange(0, 100);
    if (preview.Kind == TKind::Nothing) {
        FailPreview();
        return;
    }
    FFileSize = preview.FileSize;
    FFrameCount = preview.FrameCount;
    if (preview.Kind == TKind::Information) {
        BlankViews();
        SetInformation(preview.Texts);
        return;
    }
    BlankViews();
    FPlayButton->setChecked(false);
    FThumbnailMode = preview.Kind == TKind::Frames;
    FPlayButton->setEnabled(FThumbnailMode);
    FZoomCombo->setEnabled(!FThumbnailMode); // zooming has no meaning for thumbnails
    FPictoraView->setVisible(!FThumbnailMode);
    FPictoraMView->setVisible(FThumbnailMode);
    if (FThumbnailMode) {
        FFramesAreGif = preview.FramesAreGif;
        for (const TDialogFrame& frame : preview.Frames)
            FPictoraMView->AddFrame(frame.Thumbnail, frame.DelayMs);
        if (FPictoraMView->FrameCount() > 0) FPictoraMView->setCurrentRow(0);
    } else {
        // The preview's own view becomes the panel's: its I/O component holds what the load found.
        FPreviewImage = std::move(preview.View);
        FPreviewIO = FPreviewImage->IOComponent();
        FPreviewIO->OnProgress = [this](void*, int percent) { ProgressChanged(percent); };
        FPictoraView->ShowImage(*FPreviewImage);
        ApplyZoom();
    }
    SetInformation(preview.Texts);
    FPreviewButton->setEnabled(true);
    if (FThumbnailMode && AlwaysAnimate && FFramesAreGif) FPlayButton->setChecked(true);
}

void TOpenPictoraDialog::ShowInformation(const TIOParamsVals& params, std::int64_t fileSize) {
    SetInformation(PreviewInfoTexts(params, FFrameCount, fileSize, MsgLanguage));
}

void TOpenPictoraDialog::SetInformation(const TPreviewInfoTexts& texts) {
    const std::pair<QLabel*, const std::string*> rows[] = {{FPicLabel1, &texts.PicLabel1},
                                                           {FPicLabel2, &texts.PicLabel2},
                                                           {FPicLabel3, &texts.PicLabel3},
                                                           {FInfoLabel1, &texts.InfoLabel1},
                                                           {FInfoLabel2, &texts.InfoLabel2}};
    for (const auto& [label, text] : rows) {
        label->setText(Q(*text));
        label->setToolTip(Q(*text)); // long texts are cut by the narrow panel
    }
}

void TOpenPictoraDialog::ClearInformation() {
    SetInformation({});
}

void TOpenPictoraDialog::BlankViews() {
    FPictoraView->Blank();
    FPictoraMView->Clear();
    FPreviewImage->Background = clWhite;
    FPreviewImage->ResetToBlank();
}

void TOpenPictoraDialog::FailPreview() {
    ClearInformation();
    FPreviewButton->setEnabled(false);
    FZoomCombo->setEnabled(false);
    FPlayButton->setChecked(false);
    FPlayButton->setEnabled(false);
    FProgressBar->hide();
    BlankViews();
    FThumbnailMode = false;
    FPictoraMView->hide();
    FPictoraView->show();
    FFrameCount = 0;
}

void TOpenPictoraDialog::ApplyZoom() {
    const int zoom = FZoomCombo->currentData().toInt();
    FPictoraView->SetZoom(zoom);
}

void TOpenPictoraDialog::ProgressChanged(int percent) {
    FProgressBar->setValue(std::clamp(percent, 0, 100));
    if (FProgressBar->isVisible()) FProgressBar->repaint();
}

void TOpenPictoraDialog::PreviewCheckToggled(bool checked) {
    if (checked) {
        RequestPreview(FPreviewPath);
        return;
    }
    FPreviewRequests->Cancel();
    FPlayButton->setChecked(false);
    ClearInformation();
    BlankViews();
    FZoomCombo->setCurrentIndex(
        int(std::find(std::begin(kZoomSteps), std::end(kZoomSteps), 100) - std::begin(kZoomSteps)));
    FPictoraView->SetZoom(100);
    FPreviewButton->setEnabled(false);
    FZoomCombo->setEnabled(false);
}

void TOpenPictoraDialog::PlayToggled(bool playing) {
    FPictoraMView->Play(playing && FThumbnailMode);
    FPreviewButton->setEnabled(!playing && (FThumbnailMode || !FPictoraView->IsBlank()));
    FZoomCombo->setEnabled(!playing && !FThumbnailMode && !FPictoraView->IsBlank());
}

std::unique_ptr<QDialog> TOpenPictoraDialog::CreatePreviewForm() {
    QImage image;
    if (FThumbnailMode && FPictoraMView->FrameCount() > 0 && !FPreviewPath.empty()) {
        // The thumbnails are small: the selected frame is read again at its own size.
        TIOParamsVals& p = FFrameIO->Params();
        const int frame = FPictoraMView->SelectedFrame();
        if (FFramesAreGif) {
            p.GifFrameIndex = frame;
            FFrameIO->LoadGifFile(FPreviewPath);
        } else {
            p.TiffFrameIndex = frame;
            FFrameIO->LoadTiffFile(FPreviewPath);
        }
        if (!FFrameIO->Aborting) image = DisplayImage(*FFrameImage->IEBitmap(), qRgb(255, 255, 255)).copy();
        p.GifFrameIndex = 0;
        p.TiffFrameIndex = 0;
        FFrameImage->ResetToBlank();
    } else if (!FPictoraView->IsBlank()) {
        // The panel decodes large JPEG files reduced to its own size; the preview window shows the
        // image itself, read again at full size.
        if (!FPreviewPath.empty()) {
            FFrameIO->LoadFromFile(FPreviewPath);
            if (!FFrameIO->Aborting)
                image = DisplayImage(*FFrameImage->IEBitmap(), qRgb(255, 255, 255)).copy();
            FFrameImage->ResetToBlank();
        }
        if (image.isNull()) image = FPictoraView->CopyImage();
    }
    if (image.isNull()) return nullptr;

    QWidget* parent = DialogWindow() ? static_cast<QWidget*>(DialogWindow()) : OwnerWindow();
    auto form = std::make_unique<QDialog>(parent);
    form->setObjectName("PreviewForm");
    form->setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    form->setSizeGripEnabled(true);
    form->setWindowTitle(Q(Msg(msgPreview) + ": " + (FPreviewPath.empty() ? FileName() : FPreviewPath)));
    auto* layout = new QVBoxLayout(form.get());
    layout->setContentsMargins(0, 0, 0, 0);
    auto* area = new QScrollArea(form.get());
    area->setObjectName("PreviewView");
    area->setFrameShape(QFrame::NoFrame);
    area->setAlignment(Qt::AlignCenter);
    area->setBackgroundRole(QPalette::Base);
    QPalette palette = area->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Window, Qt::white);
    area->setPalette(palette);
    auto* picture = new QLabel;
    picture->setObjectName("PreviewPicture");
    picture->setPixmap(QPixmap::fromImage(image));
    picture->setFixedSize(image.size());
    area->setWidget(picture);
    layout->addWidget(area);

    // The window with its frame stays within the screen's free area.
    QScreen* screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect s = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize room = s.marginsRemoved(kPreviewFrameAllowance).size();
    const TIntSize client = PreviewClientSize({image.width(), image.height()}, {room.width(), room.height()});
    form->resize(client.Width, client.Height);
    const QSize frame = QSize(client.Width, client.Height).grownBy(kPreviewFrameAllowance);
    form->move(s.left() + (s.width() - frame.width()) / 2, s.top() + (s.height() - frame.height()) / 2);
    return form;
}

void TOpenPictoraDialog::RunPreviewForm() {
    if (FPlayButton->isChecked()) return;
    if (std::unique_ptr<QDialog> form = CreatePreviewForm()) form->exec();
}
