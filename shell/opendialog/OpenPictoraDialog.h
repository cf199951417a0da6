#pragma once
// TOpenPictoraDialog: the file-open dialog with an image preview panel. The dialog itself is Qt's
// widget-based file dialog (never the desktop's native one, which cannot host the panel); the panel
// previews the file under the cursor with the system's own readers and shows its size, colour depth,
// resolution, file size and format. TIECommonDialog is the base: it runs the dialog modally for the
// application and fires OnShow and OnClose.
//
// Both classes create widgets in their constructors: construct them after the QApplication.
#include "shell/opendialog/OpenDialogTexts.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDialog;
class QFileDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;
class QWidget;
class TIEView;
class TPictoraIO;
class TIEPreviewView;
class TIEFrameView;
class TPreviewThreads;
struct TDialogPreview;
struct TDialogPreviewRequest;
struct TPreviewResult;

enum TOpenOption : std::uint8_t {
    ofReadOnly,
    ofOverwritePrompt,
    ofHideReadOnly,
    ofNoChangeDir,
    ofShowHelp,
    ofNoValidate,
    ofAllowMultiSelect,
    ofExtensionDifferent,
    ofPathMustExist,
    ofFileMustExist,
    ofCreatePrompt,
    ofShareAware,
    ofNoReadOnlyReturn,
    ofNoTestFileCreate,
    ofNoNetworkButton,
    ofNoLongNames,
    ofOldStyleDialog,
    ofNoDereferenceLinks,
    ofEnableIncludeNotify,
    ofEnableSizing,
    ofDontAddToRecent,
    ofForceShowHidden
};

// A set of TOpenOption.
class TOpenOptions {
public:
    constexpr TOpenOptions() = default;
    constexpr TOpenOptions(std::initializer_list<TOpenOption> options) {
        for (TOpenOption o : options) Include(o);
    }
    constexpr bool Contains(TOpenOption o) const { return (FBits >> o) & 1u; }
    constexpr void Include(TOpenOption o) { FBits |= 1u << o; }
    constexpr void Exclude(TOpenOption o) { FBits &= ~(1u << o); }
    constexpr bool operator==(const TOpenOptions&) const = default;

private:
    std::uint32_t FBits = 0;
};

// Look of the preview image.
enum TIEDBorderStyle : std::uint8_t { iepsDefault, iepsCropped, iepsCropShadow };
// Resampling of the preview when it is zoomed: none (nearest pixel) or a fast linear filter.
enum TResampleFilter : std::uint8_t { rfNone, rfFastLinear };

using TIENotifyEvent = std::function<void(QObject* sender)>;
using TIECloseQueryEvent = std::function<void(QObject* sender, bool& canClose)>;

class TIECommonDialog : public QObject {
    Q_OBJECT
public:
    // owner: the component's owner; when it is a widget, its window also owns the dialog window.
    explicit TIECommonDialog(QObject* owner = nullptr);
    ~TIECommonDialog() override;

    bool Ctl3D = true; // kept for stored settings; the widget style draws its own frames
    int HelpContext = 0;
    TIENotifyEvent OnShow;
    TIENotifyEvent OnClose;
    TMsgLanguage MsgLanguage = msSystem;
    bool ShowPlacesBar = true;
    bool ExtendedDialog = true;
    // Receives exceptions raised inside the dialog's event handlers (the dialog stays open);
    // without one they are written to the Qt warning log.
    std::function<void(std::exception_ptr)> OnHandlerException;

    // Runs the dialog modally; true when the user confirmed.
    virtual bool Execute() = 0;
    // The dialog window while it is open, else null.
    QDialog* DialogWindow() const;
    std::string Msg(int number) const { return IEMessage(number, MsgLanguage); }

protected:
    // The window that owns the dialog: the owner's window, else the active window (may be null).
    QWidget* OwnerWindow() const;
    // Runs window application-modally, restores the floating-point environment afterwards and
    // re-activates the window that was active before. True when accepted.
    bool RunModal(QDialog& window);
    // Runs a handler body; exceptions go to OnHandlerException.
    void Guard(const std::function<void()>& body);
    void SetDialogWindow(QDialog* window);

private:
    QPointer<QDialog> FWindow;
};

class TOpenPictoraDialog : public TIECommonDialog {
    Q_OBJECT
public:
    explicit TOpenPictoraDialog(QObject* owner = nullptr);
    ~TOpenPictoraDialog() override;

    // Extension (without the dot) added to typed names that have none.
    std::string DefaultExt;
    // The chosen file; while the dialog is open, its current selection.
    std::string FileName() const;
    void SetFileName(const std::string& value);
    // Pairs of a description and its masks, all separated by "|"; masks separated by ";".
    std::string Filter;
    // The selected filter, 1-based; while the dialog is open, the current one.
    int FilterIndex() const;
    void SetFilterIndex(int value);
    // A trailing "/" is removed unless it is the root or follows ":".
    const std::string& InitialDir() const { return FInitialDir; }
    void SetInitialDir(const std::string& value);
    TOpenOptions Options{ofHideReadOnly};
    std::string Title;
    TIECloseQueryEvent OnCanClose;
    TIENotifyEvent OnFolderChange;
    TIENotifyEvent OnSelectionChange;
    TIENotifyEvent OnTypeChange;
    // Replace Filter with the automatic filter at each Execute.
    bool AutoSetFilter = true;
    // Start animated files at once (and hide the play button).
    bool AlwaysAnimate = false;
    TIEDBorderStyle PreviewBorderStyle() const { return FBorderStyle; }
    void SetPreviewBorderStyle(TIEDBorderStyle value);
    bool AutoAdjustDPI = false;
    bool FilteredAdjustDPI = false;
    TResampleFilter ZoomFilter() const { return FZoomFilter; }
    void SetZoomFilter(TResampleFilter value);
    // Multi-frame files show all their frames as thumbnails, with playback.
    bool ShowAllFrames = false;

    // The chosen paths in the dialog's order; emptied at each Execute, filled on OK.
    const std::vector<std::string>& SelectedFiles() const { return FSelectedFiles; }

    bool Execute() override;
    // Execute without a nested event loop: builds and shows the dialog (application-modal) and
    // returns at once. When the dialog closes, SelectedFiles, FileName, FilterIndex and Options hold
    // the answer and done(accepted) runs. Does nothing while the dialog is already open.
    void Open(std::function<void(bool accepted)> done = {});

    // Previews path at once, on the calling thread; an empty path or one that is no readable file
    // clears the panel. Never raises.
    void UpdatePreview(const std::string& path);
    // What a selection change does: previews path from a thread of its own, so the dialog never
    // waits for a decode. The panel empties at once and fills when the picture is made, unless the
    // selection has moved on by then.
    void RequestPreview(const std::string& path);
    // A requested preview that has not arrived yet.
    bool PreviewPending() const;
    // The modal preview window for the current preview image or selected thumbnail; null when
    // nothing is previewed. PreviewButton runs it.
    std::unique_ptr<QDialog> CreatePreviewForm();
    // Frames of the previewed file (1 for single images, 0 when nothing is previewed).
    int PreviewFrameCount() const { return FFrameCount; }

    // The preview panel's controls (owned by the component).
    QWidget* PicturePanel() const { return FPicturePanel; }
    QComboBox* ZoomCombo() const { return FZoomCombo; }
    QToolButton* PreviewButton() const { return FPreviewButton; }
    QToolButton* PlayButton() const { return FPlayButton; }
    TIEPreviewView* PictoraView() const { return FPictoraView; }
    TIEFrameView* PictoraMView() const { return FPictoraMView; }
    QLabel* PicLabel1() const { return FPicLabel1; }
    QLabel* PicLabel2() const { return FPicLabel2; }
    QLabel* PicLabel3() const { return FPicLabel3; }
    QProgressBar* ProgressBar() const { return FProgressBar; }
    QWidget* InfoPanel() const { return FInfoPanel; }
    QLabel* InfoLabel1() const { return FInfoLabel1; }
    QLabel* InfoLabel2() const { return FInfoLabel2; }
    QPushButton* AdvancedButton() const { return FAdvancedButton; }
    QCheckBox* PreviewCheck() const { return FPreviewCheck; }
    // The "Open as read-only" box shown when Options lacks ofHideReadOnly (null while closed).
    QCheckBox* ReadOnlyCheck() const { return FReadOnlyCheck; }

    // The image the preview view holds, and the I/O component that loads it.
    TIEView& PreviewImage() { return *FPreviewImage; }
    TPictoraIO& PreviewIO() { return *FPreviewIO; }

private:
    class TDialogWindow;
    friend class TDialogWindow;

    void CreateControls();
    void RefreshTexts();
    QDialog* BuildWindow();
    void LayoutPanel(QFileDialog& window);
    void DetachPanels(QDialog& window);
    void PositionWindow(QDialog& window);
    void FinishWindow(int result, bool destroying);
    void CollectNames(QFileDialog& window);
    bool AskCanClose();
    void TypeChanged(int index);

    TDialogPreviewRequest PreviewRequest() const;
    void PreviewArrived(const std::string& path, const TPreviewResult& result);
    void ShowPreview(TDialogPreview& preview);
    void ShowProgress(bool measured);
    void ShowInformation(const TIOParamsVals& params, std::int64_t fileSize);
    void SetInformation(const TPreviewInfoTexts& texts);
    void ClearInformation();
    void BlankViews();
    void FailPreview();
    void ApplyZoom();
    void ProgressChanged(int percent);
    void PreviewCheckToggled(bool checked);
    void PlayToggled(bool playing);
    void RunPreviewForm();

    std::string FFileName;
    int FFilterIndex = 1;
    std::string FInitialDir;
    TIEDBorderStyle FBorderStyle = iepsDefault;
    TResampleFilter FZoomFilter = rfFastLinear;
    std::vector<std::string> FSelectedFiles;
    bool FPreviewBusy = false;
    std::int64_t FFileSize = 0;
    int FFrameCount = 0;
    std::string FCurrentMasks;
    std::string FPreviewPath;
    // The automatic filter offers AVI files only when a video reader is built in; this build has none.
    bool FAviSupported = false;
    std::function<void(bool)> FDone;
    int FLastTypeIndex = 1;
    bool FThumbnailMode = false;
    bool FFramesAreGif = false;

    std::unique_ptr<TIEView> FPreviewImage;
    TPictoraIO* FPreviewIO = nullptr;     // attached to FPreviewImage, owned by it
    std::unique_ptr<TIEView> FFrameImage; // frames of multi-frame files, one at a time
    TPictoraIO* FFrameIO = nullptr;

    QWidget* FPicturePanel = nullptr;
    QComboBox* FZoomCombo = nullptr;
    QToolButton* FPreviewButton = nullptr;
    QToolButton* FPlayButton = nullptr;
    TIEPreviewView* FPictoraView = nullptr;
    TIEFrameView* FPictoraMView = nullptr;
    QLabel* FPicLabel1 = nullptr;
    QLabel* FPicLabel2 = nullptr;
    QLabel* FPicLabel3 = nullptr;
    QProgressBar* FProgressBar = nullptr;
    QWidget* FInfoPanel = nullptr;
    QLabel* FInfoLabel1 = nullptr;
    QLabel* FInfoLabel2 = nullptr;
    QPushButton* FAdvancedButton = nullptr;
    QCheckBox* FPreviewCheck = nullptr;
    QCheckBox* FReadOnlyCheck = nullptr; // a child of the open window
    // Previews for selection changes; its threads end before the views they fill go.
    std::unique_ptr<TPreviewThreads> FPreviewRequests;
};
