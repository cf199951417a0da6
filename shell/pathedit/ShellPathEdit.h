#pragma once
// TShellPathEdit: a one-line path edit with a square "..." button that picks a folder (FolderMode) or
// a file. TShellBrowseForFolder: the folder browser behind the button, Qt's widget folder dialog
// (never the desktop's native one, which cannot be rooted, preselected or placed) with a root, an
// initial selection, a title, a position and four options.
//
// Both need a QApplication; paths use "/".
#include "shell/browser/ShellBrowser.h"

#include <QFrame>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

class QFileDialog;
class QLineEdit;
class QPushButton;
class QResizeEvent;

enum TShellBrowseFlag : std::uint8_t { bfNewDialogStyle, bfFileSystemOnly, bfBrowseIncludeFiles, bfEditBox };

// A set of TShellBrowseFlag.
class TShellBrowseFlags {
public:
    constexpr TShellBrowseFlags() = default;
    constexpr TShellBrowseFlags(std::initializer_list<TShellBrowseFlag> flags) {
        for (TShellBrowseFlag f : flags) Include(f);
    }
    constexpr bool Contains(TShellBrowseFlag f) const { return (FBits >> f) & 1u; }
    constexpr void Include(TShellBrowseFlag f) { FBits = std::uint8_t(FBits | (1u << f)); }
    constexpr void Exclude(TShellBrowseFlag f) { FBits = std::uint8_t(FBits & ~(1u << f)); }
    constexpr bool operator==(const TShellBrowseFlags&) const = default;

private:
    std::uint8_t FBits = 0;
};

class TShellBrowseForFolder : public QObject {
    Q_OBJECT
public:
    explicit TShellBrowseForFolder(QObject* owner = nullptr);
    ~TShellBrowseForFolder() override;

    // The dialog's title.
    std::string Title;
    // bfNewDialogStyle (resizable, with a "Create New Folder" button) and bfFileSystemOnly never stand
    // together: a set holding both keeps bfNewDialogStyle. bfBrowseIncludeFiles lists files too (a
    // file may then be chosen); bfEditBox shows the name edit.
    TShellBrowseFlags Options() const { return FOptions; }
    void SetOptions(TShellBrowseFlags value);
    // The root of what can be browsed: RootedAtFileSystemFolder when it names an existing directory,
    // else the special folder RootedAt (the whole file system for SF_DESKTOP, the default).
    TShellSpecialFolder RootedAt = SF_DESKTOP;
    const std::string& RootedAtFileSystemFolder() const { return FRootFolder; }
    // Also sets RootedAt to SF_FILESYSTEMFOLDER.
    void SetRootedAtFileSystemFolder(const std::string& value);
    // Before Execute: the folder selected when the dialog opens (empty: the root of the namespace,
    // "/"). After: the chosen folder, or empty when nothing was chosen.
    std::string Path;
    // Screen position; unless both are above 0 the dialog is centred on the screen. While the dialog
    // is open, reading gives its current place and setting moves it at once.
    int DialogLeft() const;
    int DialogTop() const;
    void SetDialogLeft(int value);
    void SetDialogTop(int value);
    // The special folder the chosen path is (0, SF_FILESYSTEMFOLDER, when it is none).
    TShellSpecialFolder ChosenSpecialFolder() const { return FChosenSpecial; }
    // The dialog while it is open, else null.
    QFileDialog* DialogWindow() const;

    TShellNotifyEvent OnShow;  // before the dialog is created
    TShellNotifyEvent OnClose; // after it is gone
    // Replaces QDialog::exec (tests, scripted use). It gets the prepared dialog; showing it runs the
    // positioning, as exec would. Returns QDialog::Accepted or QDialog::Rejected.
    std::function<int(QFileDialog& dialog)> DialogExec;

    // True when the user chose a folder (or a file, with bfBrowseIncludeFiles).
    bool Execute();

    // Where a dialog of windowSize goes on a screen of screenSize for the stored position.
    static QPoint DialogPosition(int storedLeft, int storedTop, QSize windowSize, QSize screenSize);

private:
    void PlaceDialog();
    std::string RootPath() const;

    TShellBrowseFlags FOptions{bfNewDialogStyle};
    std::string FRootFolder;
    int FLeft = -1;
    int FTop = -1;
    TShellSpecialFolder FChosenSpecial = SF_FILESYSTEMFOLDER;
    QPointer<QFileDialog> FDialog;
};

class TShellPathEdit : public QFrame {
    Q_OBJECT
public:
    explicit TShellPathEdit(QWidget* parent = nullptr);
    ~TShellPathEdit() override;

    // The edit's text, read and written through.
    std::string Path() const;
    void SetPath(const std::string& value);
    // True: the button browses for a folder; false: for a file.
    bool FolderMode = false;
    // Title and filter of the file dialog (file mode). The filter is in the form
    // "description|masks|description|masks", masks separated by ";".
    std::string DialogTitle;
    std::string FileFilter;
    // The path names an existing folder (folder mode) or file (file mode). Never raises.
    bool IsValidPath() const;
    void SetIsValidPath(bool) {} // read-only: assignments are ignored
    // Called on every change of the edit's text, with the inner edit as sender.
    TShellNotifyEvent OnChange;
    // Enables or disables the button, the edit and the panel together.
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool value);
    std::string Version() const;
    void SetVersion(const std::string&) {} // read-only: assignments are ignored

    // What the button runs: the folder browser (rooted at the namespace root, no title, opening at the
    // folder the text names or its nearest existing parent, with a new-folder button and a field to
    // type a path: [bfNewDialogStyle, bfEditBox]) or the file dialog; a chosen path replaces the text.
    void Browse();

    QLineEdit* Edit() const { return FEdit; }
    QPushButton* Button() const { return FButton; }

    // Replaces the exec of the dialogs Browse opens (tests, scripted use); see
    // TShellBrowseForFolder::DialogExec.
    std::function<int(QFileDialog& dialog)> DialogExec;

    // The file dialog's name filters for a "description|masks|..." filter.
    static QStringList NameFilters(const std::string& fileFilter);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void SquareButton();

    QLineEdit* FEdit;
    QPushButton* FButton;
};
