#pragma once
// TForm1: the program's main window. It holds the numbered file list and its hidden path list, the
// output and page options, the document information, the progress bar and the hidden view with the
// two I/O components the conversion job works with, and binds the menu's actions to them.
//
// Everything that would block or reach outside the program (dialogs, message boxes, the beep, the
// file manager, the shell menu, the event loop step) goes through TWindowHooks, so tests can answer
// instead of a user.
#include "app/job/ConversionJob.h"
#include "imaging/io/IEView.h"

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QComboBox;
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
class TShellBrowser;
class TShellPathEdit;

struct TWindowHooks {
    // Runs the prepared open dialog; true, with the chosen paths in the dialog's order, on OK.
    std::function<bool(TOpenPictoraDialog& dialog, QStringList& chosen)> ExecuteOpenDialog;
    // An information box with an OK button.
    std::function<void(QWidget* parent, const QString& text)> ShowMessage;
    std::function<void()> Beep;
    std::function<void(const QString& folder)> OpenFolder;
    // Lets pending events run once (the job calls it after every entry and frame page).
    std::function<void()> ProcessMessages;
    // Shows the shell's menu for the browser's object at a screen point and runs the chosen command.
    std::function<void(TShellBrowser& browser, const QPoint& screenPoint)> ShowContextMenu;
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
    // Files dropped from the desktop, in the order the drop listed them.
    void FilesDropped(const QStringList& paths);
    // Only drags that start in the display list itself may end there.
    bool FileListDragOver(QObject* source) const;
    // Moves the selected entry to the entry under pos (list viewport coordinates).
    void FileListDragDrop(const QPoint& pos);
    void FileListClick();
    // pos: list viewport coordinates.
    void FileListMouseUp(Qt::MouseButton button, const QPoint& pos);
    // Entry i := "<i + 1>.  <file name of path i>" for every entry.
    void Renumber();

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
    QMenu* HelpMenu = nullptr;

    QAction* ActAddFiles = nullptr;
    QAction* ActConvert = nullptr;
    QAction* ActExit = nullptr;
    QAction* ActDelete = nullptr;
    QAction* ActClear = nullptr;
    QAction* ActClearProperties = nullptr;
    QAction* ActAbout = nullptr;

    // Non-visual components.
    TIEView PictoraView1;
    TPictoraIO& PictoraIO1() { return *FPictoraIO1; }
    TOpenPictoraDialog* OpenPictoraDialog1 = nullptr;
    TShellBrowser* ShellBrowser1 = nullptr;
    TAboutBox* AboutBox() const { return FAboutBox.get(); }
    TConversionJob& Job() { return *FJob; }

signals:
    // The window was closed (the program ends).
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateActions();
    void FormCreate();
    void AppendPath(const QString& path);
    void ClearPreview();
    void SetInputsEnabled(bool enabled);
    bool HandleExternalDrag(QEvent* event);
    QString SkippedReport(const std::vector<TSkippedInput>& skipped,
                          const std::vector<TPageNote>& notes) const;

    TWindowHooks FHooks;
    std::unique_ptr<TPictoraIO> FPictoraIO1;
    std::unique_ptr<TConversionJob> FJob;
    std::unique_ptr<TAboutBox> FAboutBox;
    bool FImage1ShowHint = false;
    bool FShown = false;
};
