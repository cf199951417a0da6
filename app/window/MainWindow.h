#pragma once
// TForm1: the program's main window. It holds the numbered file list and its hidden path list, the
// output and page options, the document information, the progress bar and the hidden view with the
// two I/O components the conversion job works with, and binds the menu's actions to them.
//
// Everything that would block or reach outside the program (dialogs, message boxes, the beep, the
// file manager, the shell menu, the event loop step) goes through TWindowHooks, so tests can answer
// instead of a user.
//
// The job runs on a thread of its own (TRunThread). The window reacts to a run through plain member
// functions (SetProgressMax, PageStarted, RunFinished, ...) that take values only, called on the GUI
// thread through queued calls; StopRun only clears the job's atomic run flag.
#include "app/job/ConversionJob.h"
#include "app/window/ListMoves.h"
#include "imaging/io/IEView.h"

#include <QMainWindow>
#include <QSize>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QPushButton;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class TAboutBox;
class TFileListBox;
class TOpenPictoraDialog;
class TPictoraIO;
class TRunThread;
class TShellBrowser;
class TShellPathEdit;
class TWebPreview;
class TPreviewThreads;
struct TPreviewResult;
class QImage;

struct TWindowHooks {
    // Runs the prepared open dialog; true, with the chosen paths in the dialog's order, on OK.
    std::function<bool(TOpenPictoraDialog& dialog, QStringList& chosen)> ExecuteOpenDialog;
    // An information box with an OK button.
    std::function<void(QWidget* parent, const QString& text)> ShowMessage;
    std::function<void()> Beep;
    std::function<void(const QString& folder)> OpenFolder;
    // Opens a file with the desktop's application for it.
    std::function<void(const QString& file)> OpenFile;
    // The end-of-run report; offerOpen adds a button that opens the written PDF. True when the user
    // chose that button.
    std::function<bool(QWidget* parent, const QString& text, bool offerOpen)> ShowRunReport;
    // Called on the GUI thread at the run's meeting points, after every entry and frame page (the run
    // waits there for the window; see TRunThread).
    std::function<void()> ProcessMessages;
    // Shows the shell's menu for the browser's object at a screen point, runs the chosen command and
    // returns its verb (empty when nothing was done).
    std::function<std::string(TShellBrowser& browser, const QPoint& screenPoint)> ShowContextMenu;
};
// The hooks that talk to the real desktop.
TWindowHooks DesktopHooks();

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(TWindowHooks hooks = DesktopHooks(), QWidget* parent = nullptr);
    ~TForm1() override;

    // The run flag: 1 while a conversion may go on; closing or quitting sets 0.
    int Tag() const { return FJob->RunFlag; }
    bool RunActive() const { return Tag() == 1; }
    // From the start of a run until its end-of-run report is done (the run itself goes on a thread of
    // its own).
    bool Converting() const;

    // Handlers, callable directly (the menu, shortcuts and events call them too).
    void FormShow();
    bool FormCloseQuery();
    void ActAddFilesExecute();
    void ActConvertExecute();
    void ActExitExecute();
    void ActDeleteExecute();
    void ActClearExecute();
    void ActClearPropertiesExecute();
    void ActAboutExecute();
    // Files dropped from the desktop, web addresses dropped from a browser (or either named on the
    // command line), in the order the drop listed them, appended to the list. Folders and files of
    // other types are left out and the status bar says so.
    void FilesDropped(const QStringList& paths);
    // The same, inserted at a gap of the list (NoGap: appended).
    void FilesDroppedAt(const QStringList& paths, int gap);
    // Moves the selected entries to where a drop at pos lands (list viewport coordinates).
    void FileListDragDrop(const QPoint& pos);
    // Moves the selected entries to a gap (NoGap moves nothing), or one step up (-1) or down (+1).
    void MoveSelectedEntries(int gap);
    void MoveSelectedEntriesBy(int step);
    void FileListClick();
    // A web address's picture arrived (null: it could not be had, for the reason given); shown if the
    // address is still the selected entry. A failure goes into the preview's hover hint, never a box.
    void WebPreviewArrived(const std::string& address, const QImage& image, const std::string& failure);
    // A file's picture and info tip arrived; shown if the file is still the selected entry.
    void FilePreviewArrived(const std::string& path, const TPreviewResult& result);
    // A file's preview is being made off the GUI thread.
    bool FilePreviewPending() const;
    // pos: list viewport coordinates. The right button opens the shell menu of the entry under pos
    // (which its press selected).
    void FileListMouseUp(Qt::MouseButton button, const QPoint& pos);
    // The shell menu of entry row, at pos (list viewport coordinates); none for a web address. An
    // entry whose file the menu moved to the trash leaves the list.
    void ShowEntryMenu(int row, const QPoint& pos);
    // Shows the selected entry's info tip beside it (the keyboard's way to the preview's hover hint).
    void ShowInfoTip();
    // Entry i := "<i + 1>.  <file name of path i>" for every entry; entries whose file names repeat
    // show their full path on hover.
    void Renumber();

    // The Stop button: clears the run flag as closing the window does; the program stays open and the
    // pages done so far are written.
    void StopRun();
    // What a run reports (see the class comment).
    void SetProgressMax(int max);
    void SetProgressPosition(int position);
    void PageStarted(const TPageProgress& page);
    void RunFinished(const TJobResult& result);

    // Keeps the window, frame included, on its screen's free area: the standard size where it fits,
    // smaller (down to what the controls need) on a small or highly scaled screen.
    void FitToScreen();

    // The run's inputs as the window's controls hold them.
    TConversionInputs Inputs() const;
    // Whether Image1 shows its hint on hover.
    bool Image1ShowHint() const { return FImage1ShowHint; }

    // Controls (owned by the window).
    TFileListBox* FileList = nullptr;
    QListWidget* ListBox1 = nullptr; // hidden: the full paths
    QGroupBox* GroupBox4 = nullptr;
    QLabel* Image1 = nullptr;
    QFrame* Panel1 = nullptr;
    QLineEdit* OutputFile = nullptr;
    TShellPathEdit* ShellPathEdit1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* StopButton = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* CompresBox = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QComboBox* FormatBox = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLineEdit* TitleEd = nullptr;
    QLineEdit* SubjectEd = nullptr;
    QLineEdit* AuthorEd = nullptr;
    QLineEdit* CreatorEd = nullptr;
    QLineEdit* ProducerEd = nullptr;
    QPlainTextEdit* Keywords = nullptr;
    QMenu* FileMenu = nullptr;
    QMenu* EditMenu = nullptr;
    QMenu* OptionsMenu = nullptr;
    QMenu* HelpMenu = nullptr;

    QAction* ActAddFiles = nullptr;
    QAction* ActConvert = nullptr;
    QAction* ActExit = nullptr;
    QAction* ActDelete = nullptr;
    QAction* ActClear = nullptr;
    QAction* ActClearProperties = nullptr;
    QAction* ActAbout = nullptr;
    QAction* ActKeepTransparency = nullptr; // checked: transparency becomes the page image's soft mask
    QAction* ActKeepAsStored = nullptr;     // checked: pages are not turned upright

    // Non-visual components.
    TIEView PictoraView1;
    TPictoraIO& PictoraIO1() { return *FPictoraIO1; }
    TOpenPictoraDialog* OpenPictoraDialog1 = nullptr;
    TShellBrowser* ShellBrowser1 = nullptr;
    TAboutBox* AboutBox() const { return FAboutBox.get(); }
    TConversionJob& Job() { return *FJob; }

signals:
    // The window was closed (the program ends); when closed during a run, once the run has written its
    // pages.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    QWidget* CreateRightColumn(QWidget* parent);
    void CreateActions();
    void FormCreate();
    QStringList Paths() const;
    void ApplyMove(const TRowMove& move);
    void RemoveEntries(std::vector<int> rows);
    void ClearPreview();
    void ShowWebPreview(const QString& address);
    void SetInputsEnabled(bool enabled);
    bool HandleExternalDrag(QEvent* event);

    TWindowHooks FHooks;
    std::unique_ptr<TPictoraIO> FPictoraIO1;
    std::unique_ptr<TConversionJob> FJob;
    std::unique_ptr<TAboutBox> FAboutBox;
    std::unique_ptr<TWebPreview> FWebPreview;
    std::unique_ptr<TPreviewThreads> FFilePreview;
    std::unique_ptr<TRunThread> FRun; // after FJob: it ends its thread before the job goes
    bool FClosePending = false;       // closed during a run
    bool FImage1ShowHint = false;
    bool FShown = false;
    bool FPlaced = false;
    QSize FFittedSize; // the size FitToScreen last set
    // Where the open dialog starts: the folder of the files last chosen in it, for this session only.
    QString FLastDialogFolder;
};
