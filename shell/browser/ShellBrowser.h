#pragma once
// TShellBrowser: one folder of the shell namespace and one object (file or sub-folder) in it, with
// what the desktop knows about the object: its display name, an info tip, a thumbnail (the
// freedesktop thumbnail cache, filled with our own readers on a miss), and a context menu whose
// chosen command is run. It also walks the folder's objects through a wildcard filter.
//
// Paths use "/"; the namespace root is the file-system root (see ShellNamespace.h). All members run
// on the GUI thread; the menu and dialog members need a QApplication.
#include "platform/Exceptions.h"
#include "shell/browser/ShellNamespace.h"

#include <QObject>
#include <QPoint>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QDialog;
class QImage;
class QLabel;
class QMenu;
class QWidget;

class EShellBrowserError : public EPlatformException {
public:
    using EPlatformException::EPlatformException;
};

// Attribute bits of ObjectAttributes (the values the original shell used, so stored masks still work).
constexpr std::uint32_t SFGAO_CANRENAME = 0x00000010;
constexpr std::uint32_t SFGAO_CANDELETE = 0x00000020;
constexpr std::uint32_t SFGAO_LINK = 0x00010000;
constexpr std::uint32_t SFGAO_READONLY = 0x00040000;
constexpr std::uint32_t SFGAO_HIDDEN = 0x00080000;
constexpr std::uint32_t SFGAO_FILESYSANCESTOR = 0x10000000;
constexpr std::uint32_t SFGAO_FOLDER = 0x20000000;
constexpr std::uint32_t SFGAO_FILESYSTEM = 0x40000000;

using TShellNotifyEvent = std::function<void(QObject* sender)>;
// Called with the chosen command's verb; clearing execute vetoes the command.
using TOnContextMenuSelectEvent = std::function<void(const std::string& command, bool& execute)>;

// The verbs of the context menu's own commands (what ShowContextMenu returns for them).
namespace shellverbs {
inline constexpr const char* Open = "open";
inline constexpr const char* OpenWith = "openwith"; // every "Open With" entry
inline constexpr const char* OpenContainingFolder = "opencontainingfolder";
inline constexpr const char* CopyPath = "copypath";
inline constexpr const char* Rename = "rename"; // offered only while OnRename is assigned
inline constexpr const char* Delete = "delete"; // moves to the trash
inline constexpr const char* Properties = "properties";
} // namespace shellverbs

class TShellBrowser : public QObject {
    Q_OBJECT
public:
    // owner: the owning component; when it is a widget, its window owns the error boxes and dialogs.
    explicit TShellBrowser(QObject* owner = nullptr);
    ~TShellBrowser() override;

    // The current folder's path, always ending in "/". Setting an empty text selects the computer
    // folder ("/"). Raises EShellBrowserError "Cannot Find Folder: <path>" for a path that names
    // nothing, and the SetFolderIDList error for one that names a file; the old folder stays.
    const std::string& Folder() const { return FFolder; }
    void SetFolder(const std::string& value);
    // Changes the folder to an absolute ID list (which must name an existing folder, else
    // EShellBrowserError "ShellBrowser.SetFolderIDList: Desktop.BindToObject: Could not get Folder").
    void SetFolderIDList(const TItemIDList& list);
    const TItemIDList& FolderIDList() const { return FFolderIDList; }
    // False when the special folder has no location here.
    bool SetSpecialFolder(TShellSpecialFolder folder);

    // The current object's name in its folder ("/" when the object is the root itself); empty when
    // there is none. Setting: an empty text clears the object; a name without "/" is looked up in the
    // folder (exactly, then by display name or name ignoring case); "/" selects the root; any other
    // path selects its folder and then its last component (a trailing "/" is dropped first). Raises
    // EShellBrowserError "Error! Cannot find Object \"N\" in Folder \"F\"" for a name not in the
    // folder, and the Folder errors for a folder that cannot be found.
    std::string ObjectName() const;
    void SetObjectName(const std::string& value);
    bool HasObject() const { return FObject.has_value(); }
    // Folder followed by ObjectName ("/" for the root); empty when there is no object.
    std::string ObjectPath() const;
    // The name as the desktop shows it (valid UTF-8 whatever the file name's bytes); ObjectName when
    // that is empty.
    std::string ObjectDisplayName() const;
    bool ObjectIsFolder() const;
    // The requested SFGAO_ bits the object has; 0 when there is no object or it cannot be examined.
    std::uint32_t ObjectAttributes(std::uint32_t requested) const;
    // Selects the next object of the folder (in name order, hidden ones included) that passes the
    // filter; false, with the walk closed, when there is none left. Folders always pass the filter.
    bool NextObject();

    // The info tip: "Type: ...", for images "Dimensions: W x H", "Resolution: X x Y dpi" and
    // "Frames: N" (more than one frame), then "Size: ..." (files) and "Modified: YYYY-MM-DD HH:MM",
    // one per line. Empty when there is no object or it cannot be examined.
    std::string ObjectInfoTip();
    // The object's thumbnail, fitting width x height (64 x 64 unless both are above 0) and keeping the
    // aspect ratio; a null image when there is none. Comes from the freedesktop thumbnail cache when
    // a current entry is there, else it is made with our own readers and written to the cache.
    QImage ExtractThumbnail(int width, int height);
    // Puts the thumbnail, sized to the label's current width and height, into the label as its
    // pixmap (the label keeps its own copy). False, leaving the label alone, when there is none. The
    // pixmap is drawn at its own size: a label with scaledContents would distort it.
    bool AssignThumbnail(QLabel* image);

    // Shows the context menu of the object (or of MultiObjects) at a screen point, runs the chosen
    // command and returns its verb (see shellverbs). Items of extraMenu are shown with it, after the
    // shell items when ShowContextMenuOnTop is true, else before; the menu itself is not changed and a
    // chosen extra item is triggered as usual. Empty when the menu was dismissed, an extra item was
    // chosen, OnContextMenuSelect vetoed the command, it failed, or a delete left the object in place.
    std::string ShowContextMenu(const QPoint& screenPoint, QMenu* extraMenu = nullptr);

    // Wildcard masks separated by ";" ("*" and "?", case-insensitive). An empty text means "*".
    std::string Filter() const;
    void SetFilter(const std::string& value);
    // Whether name matches one of the masks (what the filter applies to non-folders).
    bool NameMatchesFilter(const std::string& name) const;

    bool FileSystemOnly = false;
    // Names in the current folder for the next ShowContextMenu or ObjectInfoTip (which use them
    // instead of the object; the info tip describes the first); emptied by that call. A name that is
    // not in the folder is selected as ObjectName would (and raises as it does); the folder and the
    // object are restored afterwards either way.
    std::vector<std::string> MultiObjects;
    // When true, failures of context-menu commands are shown in message boxes owned by the owner's
    // window; when false they fail silently.
    bool ShowErrorMessages = true;
    bool ShowContextMenuOnTop = false;
    std::string Version() const;
    void SetVersion(const std::string&) {} // read-only: assignments are ignored

    // Replaces the "rename" command; while assigned the menu offers "Rename...".
    TShellNotifyEvent OnRename;
    TOnContextMenuSelectEvent OnContextMenuSelect;

    // Replace QMenu::exec and QDialog::exec (tests, scripted use). MenuExec must behave like exec:
    // trigger and return the chosen action, or return nullptr for a dismissed menu. Each of the
    // menu's own actions carries its verb as data().
    std::function<QAction*(QMenu& menu, const QPoint& screenPoint)> MenuExec;
    std::function<int(QDialog& dialog)> DialogExec;

private:
    struct TMenuCommand;
    QWidget* OwnerWindow() const;
    void ClearObject();
    void SetObjectIDList(const TItemIDList& item);
    bool ObjectMatchesFilter() const;
    std::vector<std::string> CollectObjectPaths();
    bool RunCommand(const TMenuCommand& command, const std::vector<std::string>& paths);
    void ShowError(const std::string& text) const;
    int RunDialog(QDialog& dialog);

    std::string FFolder;
    TItemIDList FFolderIDList;
    std::optional<TItemIDList> FObject; // relative to the folder: one item, or none for the root itself
    std::vector<std::string> FMasks{"*"};
    std::optional<std::vector<std::string>> FWalk; // names still to visit while NextObject walks
    std::size_t FWalkPos = 0;
};
