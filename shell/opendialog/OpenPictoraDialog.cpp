#include "shell/opendialog/OpenPictoraDialog.h"

#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "platform/Ascii.h"
#include "platform/FileSystem.h"
#include "shell/opendialog/DialogPreview.h"
#include "shell/opendialog/PreviewViews.h"
#include "shell/preview/PreviewThreads.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>

#include <algorithm>
#include <cfenv>
#include <memory>

namespace {

constexpr int kInitialWidth = 800, kInitialHeight = 480;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The 1-based index of the window's current filter, or 0. The type combo knows it exactly; the
// selected filter's text is shortened when the masks are hidden, so it serves only as a fallback.
int CurrentFilterIndex(const QFileDialog& window) {
    if (auto* types = window.findChild<QComboBox*>("fileTypeCombo"))
        if (types->count() == window.nameFilters().size()) return types->currentIndex() + 1;
    return int(window.nameFilters().indexOf(window.selectedNameFilter())) + 1;
}

// The name column narrower than this would cut most file names.
constexpr int kMinimumNameColumn = 160;

// Every column but the name as wide as its contents; the name takes what they leave, so the whole row
// (the date last) is in view when the list is wide enough for it.
void FitDetailColumns(QTreeView& details) {
    QHeaderView* header = details.header();
    int others = 0;
    for (int column = 1; column < header->count(); ++column) {
        if (header->isSectionHidden(column)) continue;
        details.resizeColumnToContents(column);
        others += header->sectionSize(column);
    }
    header->resizeSection(0, std::max(kMinimumNameColumn, details.viewport()->width() - others));
}

} // namespace

// ---- TIECommonDialog

TIECommonDialog::TIECommonDialog(QObject* owner) : QObject(owner) {}

TIECommonDialog::~TIECommonDialog() = default;

QDialog* TIECommonDialog::DialogWindow() const {
    return FWindow.data();
}

void TIECommonDialog::SetDialogWindow(QDialog* window) {
    FWindow = window;
}

QWidget* TIECommonDialog::OwnerWindow() const {
    if (auto* w = qobject_cast<QWidget*>(parent())) return w->window();
    return QApplication::activeWindow();
}

bool TIECommonDialog::RunModal(QDialog& window) {
    QPointer<QWidget> previous = QApplication::activeWindow();
    std::fenv_t environment;
    const bool saved = std::fegetenv(&environment) == 0;
    window.setWindowModality(Qt::ApplicationModal);
    const int result = window.exec();
    if (saved) std::fesetenv(&environment);
    if (previous) previous->activateWindow();
    return result == QDialog::Accepted;
}

void TIECommonDialog::Guard(const std::function<void()>& body) {
    try {
        body();
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        try {
            if (OnHandlerException) {
                OnHandlerException(error);
                return;
            }
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            qWarning("open dialog: %s", e.what());
        } catch (...) {
            qWarning("open dialog: unknown exception");
        }
    }
}

// ---- the dialog window

// Qt's widget file dialog, with the two points the component must hear about: the first show and
// the OK that the close-query event may refuse.
class TOpenPictoraDialog::TDialogWindow : public QFileDialog {
public:
    TDialogWindow(TOpenPictoraDialog& owner, QWidget* parent) : QFileDialog(parent), FOwner(&owner) {
        setOption(QFileDialog::DontUseNativeDialog, true);
    }
    // A window destroyed while the component still uses it (its owner window went first) hands the
    // panels back before Qt deletes its children.
    ~TDialogWindow() override {
        if (FOwner) FOwner->FinishWindow(QDialog::Rejected, true);
    }
    TDialogWindow(const TDialogWindow&) = delete;
    TDialogWindow& operator=(const TDialogWindow&) = delete;
    // The component is done with the window.
    void Release() { FOwner = nullptr; }

protected:
    void done(int result) override {
        if (result == QDialog::Accepted && FOwner && !FOwner->AskCanClose()) return;
        QFileDialog::done(result);
    }
    void showEvent(QShowEvent* event) override {
        QFileDialog::showEvent(event);
        if (FShown || !FOwner) return;
        FShown = true;
        TOpenPictoraDialog* owner = FOwner;
        owner->Guard([owner] {
            if (owner->OnShow) owner->OnShow(owner);
        });
    }

private:
    QPointer<TOpenPictoraDialog> FOwner;
    bool FShown = false;
};

// ---- TOpenPictoraDialog

TOpenPictoraDialog::TOpenPictoraDialog(QObject* owner)
    : TIECommonDialog(owner), FPreviewImage(std::make_unique<TIEView>()),
      FFrameImage(std::make_unique<TIEView>()) {
    FPreviewImage->Background = clWhite;
    FPreviewIO = FPreviewImage->IOComponent();
    FPreviewIO->OnProgress = [this](void*, int percent) { ProgressChanged(percent); };
    FFrameImage->Background = clWhite;
    FFrameIO = FFrameImage->IOComponent();
    FFrameIO->OnProgress = FPreviewIO->OnProgress;
    FPreviewRequests = std::make_unique<TPreviewThreads>(
        nullptr,
        [this](const std::string& path, const TPreviewResult& result) { PreviewArrived(path, result); },
        false);
    CreateControls();
    RefreshTexts();
}

TOpenPictoraDialog::~TOpenPictoraDialog() {
    FPreviewRequests.reset(); // no preview arrives at a dialog on its way out
    if (QDialog* window = DialogWindow()) {
        static_cast<TDialogWindow*>(window)->Release();
        window->disconnect(this);
        FReadOnlyCheck = nullptr;
        DetachPanels(*window);
        SetDialogWindow(nullptr);
        delete window;
    }
    delete FPicturePanel;
    delete FInfoPanel;
}

std::string TOpenPictoraDialog::FileName() const {
    if (auto* window = qobject_cast<QFileDialog*>(DialogWindow())) {
        const QStringList files = window->selectedFiles();
        if (!files.isEmpty()) return files.first().toStdString();
        if (!FPreviewPath.empty()) return FPreviewPath;
    }
    return FFileName;
}

void TOpenPictoraDialog::SetFileName(const std::string& value) {
    FFileName = value;
}

int TOpenPictoraDialog::FilterIndex() const {
    if (auto* window = qobject_cast<QFileDialog*>(DialogWindow()))
        if (const int i = CurrentFilterIndex(*window); i > 0) return i;
    return FFilterIndex;
}

void TOpenPictoraDialog::SetFilterIndex(int value) {
    FFilterIndex = value;
    auto* window = qobject_cast<QFileDialog*>(DialogWindow());
    if (!window) return;
    const QStringList names = window->nameFilters();
    if (value >= 1 && value <= names.size()) window->selectNameFilter(names[value - 1]);
}

void TOpenPictoraDialog::SetInitialDir(const std::string& value) {
    FInitialDir = NormalizeInitialDir(value);
}

// ---- running the dialog

bool TOpenPictoraDialog::Execute() {
    if (DialogWindow()) return false;
    QDialog* window = BuildWindow();
    if (!window) return false;
    bool accepted = false;
    FDone = [&accepted](bool ok) { accepted = ok; };
    RunModal(*window);
    FDone = nullptr; // it points into this frame
    return accepted;
}

void TOpenPictoraDialog::Open(std::function<void(bool accepted)> done) {
    if (DialogWindow()) return;
    QDialog* window = BuildWindow();
    if (!window) return;
    FDone = std::move(done);
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
}

QDialog* TOpenPictoraDialog::BuildWindow() {
    RefreshTexts();
    FPreviewCheck->show();
    if (AutoSetFilter) Filter = AutomaticFilter(FAviSupported, MsgLanguage);
    FPlayButton->setVisible(!AlwaysAnimate);
    FSelectedFiles.clear();

    auto* window = new TDialogWindow(*this, OwnerWindow());
    window->setObjectName("OpenPictoraDialog");
    window->setAcceptMode(QFileDialog::AcceptOpen);
    window->setOption(QFileDialog::HideNameFilterDetails, true);
    window->setOption(QFileDialog::DontResolveSymlinks, Options.Contains(ofNoDereferenceLinks));
    if (Options.Contains(ofAllowMultiSelect))
        window->setFileMode(QFileDialog::ExistingFiles);
    else if (Options.Contains(ofFileMustExist))
        window->setFileMode(QFileDialog::ExistingFile);
    else
        window->setFileMode(QFileDialog::AnyFile);
    if (Options.Contains(ofForceShowHidden)) window->setFilter(window->filter() | QDir::Hidden);
    window->setSizeGripEnabled(true);
    if (!Title.empty()) window->setWindowTitle(Q(Title));

    QStringList names;
    for (const std::string& n : FilterToNameFilters(Filter)) names << Q(n);
    if (!names.isEmpty()) {
        window->setNameFilters(names);
        const int index = (FFilterIndex >= 1 && FFilterIndex <= names.size()) ? FFilterIndex : 1;
        window->selectNameFilter(names[index - 1]);
        FLastTypeIndex = index;
    } else {
        FLastTypeIndex = 1;
    }
    FCurrentMasks = FilterMasks(Filter, FLastTypeIndex);
    if (!FInitialDir.empty()) window->setDirectory(Q(FInitialDir));
    if (!FFileName.empty()) window->selectFile(Q(FFileName));
    window->setDefaultSuffix(Q(!DefaultExt.empty() ? DefaultExt : FirstMaskExtension(FCurrentMasks)));
    if (!ShowPlacesBar)
        if (auto* sidebar = window->findChild<QWidget*>("sidebar")) sidebar->hide();

    connect(window, &QFileDialog::currentChanged, this,
            [this](const QString& path) { RequestPreview(path.toStdString()); });
    connect(window, &QFileDialog::directoryEntered, this, [this](const QString&) {
        Guard([this] {
            if (OnFolderChange) OnFolderChange(this);
        });
    });
    connect(window, &QFileDialog::filterSelected, this, [this, window](const QString&) {
        Guard([this, window] { TypeChanged(CurrentFilterIndex(*window)); });
    });
    connect(window, &QDialog::finished, this, [this](int result) { FinishWindow(result, false); });
    // The detail columns start too narrow for sizes and types and the name too wide for the date to
    // stay in view beside the panel: fit them once the first folder is read.
    auto* model = window->findChild<QFileSystemModel*>();
    auto* details = window->findChild<QTreeView*>("treeView");
    if (model && details) {
        auto fitted = std::make_shared<bool>(false);
        connect(model, &QFileSystemModel::directoryLoaded, window, [details, fitted](const QString&) {
            if (*fitted) return;
            *fitted = true;
            // The rows arrive after this signal; measure them once they are laid out.
            QTimer::singleShot(0, details, [details] { FitDetailColumns(*details); });
        });
    }

    SetDialogWindow(window);
    LayoutPanel(*window);
    window->adjustSize();
    // Room for the file list's columns beside the panel, within the screen.
    QSize size = window->size().expandedTo(QSize(kInitialWidth, kInitialHeight));
    if (QScreen* screen = QGuiApplication::primaryScreen()) size = size.boundedTo(screen->availableSize());
    window->resize(size);
    PositionWindow(*window);
    return window;
}

void TOpenPictoraDialog::PositionWindow(QDialog& window) {
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect s = screen->geometry();
    const TIntPoint p = DialogPosition({s.width(), s.height()},
                                       {window.frameGeometry().width(), window.frameGeometry().height()});
    window.move(s.left() + p.X, s.top() + p.Y);
}

bool TOpenPictoraDialog::AskCanClose() {
    auto* window = qobject_cast<QFileDialog*>(DialogWindow());
    if (!window) return true;
    bool canClose = true;
    Guard([this, window, &canClose] {
        CollectNames(*window);
        if (OnCanClose) OnCanClose(this, canClose);
    });
    FSelectedFiles.clear();
    return canClose;
}

void TOpenPictoraDialog::CollectNames(QFileDialog& window) {
    FSelectedFiles.clear();
    const QStringList files = window.selectedFiles();
    for (const QString& f : files) FSelectedFiles.push_back(QDir::fromNativeSeparators(f).toStdString());
    if (!Options.Contains(ofAllowMultiSelect) && FSelectedFiles.size() > 1) FSelectedFiles.resize(1);
    if (!FSelectedFiles.empty()) FFileName = FSelectedFiles.front();
}

void TOpenPictoraDialog::TypeChanged(int index) {
    auto* window = qobject_cast<QFileDialog*>(DialogWindow());
    if (!window || index < 1) return;
    FCurrentMasks = FilterMasks(Filter, index);
    window->setDefaultSuffix(Q(FirstMaskExtension(FCurrentMasks)));
    if (index == FLastTypeIndex) return;
    FLastTypeIndex = index;
    if (OnTypeChange) OnTypeChange(this);
}

void TOpenPictoraDialog::FinishWindow(int result, bool destroying) {
    auto* window = static_cast<TDialogWindow*>(DialogWindow());
    if (!window) return;
    window->Release();
    const bool accepted = result == QDialog::Accepted && !destroying;
    if (accepted) {
        CollectNames(*window);
        const std::string suffix = window->defaultSuffix().toStdString();
        const std::string ext = ExtractFileExt(FFileName);
        if (!suffix.empty() && !EqualsIgnoringAsciiCase(ext.empty() ? ext : ext.substr(1), suffix))
            Options.Include(ofExtensionDifferent);
        else
            Options.Exclude(ofExtensionDifferent);
        if (FReadOnlyCheck) {
            if (FReadOnlyCheck->isChecked())
                Options.Include(ofReadOnly);
            else
                Options.Exclude(ofReadOnly);
        }
        if (const int i = CurrentFilterIndex(*window); i > 0) FFilterIndex = i;
    }
    // What the window's destruction does: forget it, stop playback, empty both views, hide the hint.
    FPreviewRequests->Cancel();
    FPlayButton->setChecked(false);
    FPictoraMView->Clear();
    BlankViews();
    ClearInformation();
    FPreviewPath.clear();
    QToolTip::hideText();
    window->disconnect(this);
    FReadOnlyCheck = nullptr;
    DetachPanels(*window);
    SetDialogWindow(nullptr);
    if (!destroying) window->deleteLater();
    Guard([this] {
        if (OnClose) OnClose(this);
    });
    if (auto done = std::move(FDone)) {
        FDone = nullptr;
        done(accepted);
    }
}
