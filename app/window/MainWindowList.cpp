// The main window's file list: adding, dropping, moving and deleting entries, the preview of the
// selected entry and its shell menu.
#include "app/window/MainWindow.h"

#include "app/window/DefaultFolders.h"
#include "app/window/FileListBox.h"
#include "app/window/FileListRules.h"
#include "app/window/FilePreview.h"
#include "app/window/WebPreview.h"
#include "app/window/WindowText.h"
#include "imaging/io/PictoraIO.h"
#include "platform/FileSystem.h"
#include "shell/browser/ShellBrowser.h"
#include "shell/opendialog/OpenPictoraDialog.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QToolTip>

#include <algorithm>

namespace {
void SelectRow(QListWidget* list, int index) {
    const QSignalBlocker block(list);
    if (index < 0 || index >= list->count()) {
        list->clearSelection();
        list->setCurrentRow(-1, QItemSelectionModel::Clear);
    } else {
        list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    }
}
} // namespace

QStringList TForm1::Paths() const {
    QStringList paths;
    for (int i = 0; i < ListBox1->count(); ++i) paths << ListBox1->item(i)->text();
    return paths;
}

void TForm1::FilesDropped(const QStringList& paths) {
    FilesDroppedAt(paths, NoGap);
}

void TForm1::FilesDroppedAt(const QStringList& paths, int gap) {
    std::vector<std::pair<QString, TDropRefusal>> refused;
    int at = gap >= 0 && gap <= ListBox1->count() ? gap : ListBox1->count();
    {
        const QSignalBlocker block(FileList);
        for (const QString& path : paths) {
            const TDropRefusal refusal = DropRefusal(path, !IsWebEntry(path) && QFileInfo(path).isDir());
            if (refusal != TDropRefusal::None) {
                refused.emplace_back(path, refusal);
                continue;
            }
            ListBox1->insertItem(at, path);
            FileList->insertItem(at, QString());
            ++at;
        }
    }
    Renumber();
    SelectRow(ListBox1, FileList->ItemIndex());
    // A run fixed its entries when it started: files dropped meanwhile wait for the next one.
    if (ListBox1->count() > 0 && !RunActive()) {
        ActConvert->setEnabled(true);
        ActClear->setEnabled(true);
    }
    if (!refused.empty()) statusBar()->showMessage(NotAddedMessage(refused));
}

void TForm1::ActAddFilesExecute() {
    if (!ActAddFiles->isEnabled()) return;
    OpenPictoraDialog1->SetInitialDir(
        Encoded(FLastDialogFolder.isEmpty() ? DefaultDialogFolder() : FLastDialogFolder));
    QStringList chosen;
    if (!FHooks.ExecuteOpenDialog || !FHooks.ExecuteOpenDialog(*OpenPictoraDialog1, chosen)) return;
    if (!chosen.isEmpty()) FLastDialogFolder = QFileInfo(chosen.front()).absolutePath();
    const int count = ListBox1->count();
    {
        const QSignalBlocker block(FileList);
        for (int i = 0; i < chosen.size(); ++i) {
            ListBox1->addItem(chosen[i]);
            FileList->addItem(DisplayEntry(count + i + 1, chosen[i]));
        }
    }
    Renumber();
    if (ListBox1->count() > 0) {
        ActConvert->setEnabled(true);
        ActClear->setEnabled(true);
    }
}

void TForm1::FileListDragDrop(const QPoint& pos) {
    MoveSelectedEntries(FileList->DropGapAt(pos));
}

void TForm1::MoveSelectedEntries(int gap) {
    const std::vector<int> rows = FileList->SelectedRows();
    if (rows.empty()) return;
    ApplyMove(MoveRowsToGap(ListBox1->count(), rows, gap));
}

void TForm1::MoveSelectedEntriesBy(int step) {
    const std::vector<int> rows = FileList->SelectedRows();
    if (rows.empty()) return;
    ApplyMove(MoveRowsByStep(ListBox1->count(), rows, step));
    if (const int current = FileList->currentRow(); current >= 0)
        FileList->scrollToItem(FileList->item(current));
}

// Both lists take the new order; the moved entries stay selected and the current one stays current.
void TForm1::ApplyMove(const TRowMove& move) {
    const QStringList paths = Paths();
    if (static_cast<qsizetype>(move.Order.size()) != paths.size()) return;
    const int current = FileList->currentRow();
    int newCurrent = -1;
    {
        const QSignalBlocker block(ListBox1);
        for (int i = 0; i < paths.size(); ++i) {
            ListBox1->item(i)->setText(paths[move.Order[i]]);
            if (move.Order[i] == current) newCurrent = i;
        }
    }
    Renumber();
    if (newCurrent < 0 ||
        std::find(move.Selected.begin(), move.Selected.end(), newCurrent) == move.Selected.end())
        newCurrent = move.Selected.empty() ? -1 : move.Selected.front();
    FileList->SelectRows(move.Selected, newCurrent);
    SelectRow(ListBox1, FileList->ItemIndex());
}

void TForm1::Renumber() {
    const QSignalBlocker block(FileList);
    const QStringList paths = Paths();
    const std::vector<bool> repeated = RepeatedNames(paths);
    const int n = std::min(FileList->count(), ListBox1->count());
    for (int i = 0; i < n; ++i) {
        QListWidgetItem* item = FileList->item(i);
        item->setText(DisplayEntry(i + 1, paths[i]));
        // An address shows only its last part, so the whole of it is always at hand.
        item->setToolTip(repeated[i] || IsWebEntry(paths[i]) ? paths[i] : QString());
    }
}

void TForm1::ClearPreview() {
    FWebPreview->Cancel();
    FFilePreview->Cancel();
    Image1->clear();
    Image1->setToolTip(QString());
    Image1->setAccessibleDescription(QString());
    FImage1ShowHint = false;
    QToolTip::hideText();
}

void TForm1::RemoveEntries(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    {
        const QSignalBlocker block(FileList);
        for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
            if (*it < 0 || *it >= ListBox1->count()) continue;
            delete FileList->takeItem(*it);
            delete ListBox1->takeItem(*it);
        }
    }
    FileList->SetItemIndex(-1);
    SelectRow(ListBox1, -1);
    ClearPreview();
    Renumber();
    const bool any = ListBox1->count() > 0;
    ActConvert->setEnabled(any && !RunActive());
    ActClear->setEnabled(any && !RunActive());
    ActDelete->setEnabled(false);
}

void TForm1::ActDeleteExecute() {
    if (!ActDelete->isEnabled()) return;
    std::vector<int> rows;
    for (int i : FileList->SelectedRows())
        if (i < ListBox1->count() && !ListBox1->item(i)->text().isEmpty()) rows.push_back(i);
    if (rows.empty()) return;
    RemoveEntries(rows);
}

void TForm1::ActClearExecute() {
    if (!ActClear->isEnabled()) return;
    {
        const QSignalBlocker block(FileList);
        FileList->clear();
        ListBox1->clear();
    }
    PictoraView1.FillBackground();
    FPictoraIO1->Params().ClearTexts();
    PictoraView1.IOComponent()->Params().ClearTexts();
    ClearPreview();
    ActConvert->setEnabled(false);
    ActClear->setEnabled(false);
    ActDelete->setEnabled(false);
}

void TForm1::FileListClick() {
    const int i = FileList->ItemIndex();
    if (i < 0) {
        FWebPreview->Cancel();
        FFilePreview->Cancel();
        Image1->clear();
        ActDelete->setEnabled(false);
        FImage1ShowHint = false;
        // The path list follows, so no later action works on an entry no longer selected.
        SelectRow(ListBox1, -1);
        return;
    }
    FImage1ShowHint = true;
    ActDelete->setEnabled(!RunActive());
    SelectRow(ListBox1, i);
    if (i >= ListBox1->count()) return;
    const QString path = ListBox1->item(i)->text();
    if (IsWebEntry(path)) {
        FFilePreview->Cancel();
        ShowWebPreview(path);
        return;
    }
    FWebPreview->Cancel();
    // The hint and picture of the file shown before must not stay on this entry meanwhile.
    Image1->clear();
    Image1->setToolTip(QString());
    Image1->setAccessibleDescription(QString());
    if (!FileExists(Encoded(path))) {
        FFilePreview->Cancel();
        return;
    }
    try {
        ShellBrowser1->SetObjectName(Encoded(path)); // the shell menu's object
    } catch (const std::exception& e) {
        FFilePreview->Cancel();
        if (FHooks.ShowMessage) FHooks.ShowMessage(this, QString::fromUtf8(e.what()));
        return;
    }
    // Reading a big image takes a while: the picture and its tip come when they are made.
    FFilePreview->Request(Encoded(path), Image1->size());
}

void TForm1::FilePreviewArrived(const std::string& path, const TPreviewResult& result) {
    const int i = FileList->ItemIndex();
    if (i < 0 || i >= ListBox1->count() || Encoded(ListBox1->item(i)->text()) != path) return;
    const QString tip = QString::fromStdString(result.Tip);
    Image1->setToolTip(tip);
    Image1->setAccessibleDescription(tip);
    Image1->setVisible(!result.Image.isNull());
    if (!result.Image.isNull()) Image1->setPixmap(QPixmap::fromImage(result.Image));
    if (!result.Failure.empty() && FHooks.ShowMessage)
        FHooks.ShowMessage(this, QString::fromStdString(result.Failure));
}

// The shell knows nothing of web addresses: the picture is downloaded off the GUI thread and shown
// when it arrives, if the entry is still the selected one; a failure leaves the preview empty.
void TForm1::ShowWebPreview(const QString& address) {
    Image1->clear();
    Image1->setVisible(true);
    Image1->setToolTip(address);
    Image1->setAccessibleDescription(address);
    FWebPreview->Request(address.toStdString(), std::min(Image1->width(), Image1->height()));
}

void TForm1::WebPreviewArrived(const std::string& address, const QImage& image, const std::string& failure) {
    const int i = FileList->ItemIndex();
    if (i < 0 || i >= ListBox1->count() || ListBox1->item(i)->text().toStdString() != address) return;
    if (image.isNull()) {
        Image1->clear();
        const QString tip = QString::fromStdString(address) + QStringLiteral("\nNo preview: ") +
                            QString::fromStdString(failure);
        Image1->setToolTip(tip);
        Image1->setAccessibleDescription(tip);
        return;
    }
    Image1->setPixmap(QPixmap::fromImage(image));
}

void TForm1::ShowInfoTip() {
    const int i = FileList->ItemIndex();
    if (i < 0 || !FImage1ShowHint || Image1->toolTip().isEmpty()) return;
    const QRect entry = FileList->visualItemRect(FileList->item(i));
    QToolTip::showText(FileList->viewport()->mapToGlobal(entry.bottomLeft()), Image1->toolTip(), FileList);
}

void TForm1::FileListMouseUp(Qt::MouseButton button, const QPoint& pos) {
    if (button != Qt::RightButton) return;
    // The menu is for the entry the button went down on, which the press made current; a release
    // elsewhere opens none.
    const int row = FileList->ItemAtPos(pos);
    if (row >= 0 && row == FileList->currentRow()) ShowEntryMenu(row, pos);
}

void TForm1::ShowEntryMenu(int row, const QPoint& pos) {
    if (row < 0 || row >= ListBox1->count()) return;
    const QString path = ListBox1->item(row)->text();
    // The shell's commands are for local files; an address is never handed to it.
    if (IsWebEntry(path) || !FileExists(Encoded(path))) return;
    try {
        ShellBrowser1->SetObjectName(Encoded(path));
        if (!FHooks.ShowContextMenu) return;
        const std::string verb =
            FHooks.ShowContextMenu(*ShellBrowser1, FileList->viewport()->mapToGlobal(pos));
        // A file the menu moved to the trash can no longer become a page: every entry of it goes.
        if (verb == shellverbs::Delete && !FileExists(Encoded(path))) {
            std::vector<int> gone;
            for (int i = 0; i < ListBox1->count(); ++i)
                if (ListBox1->item(i)->text() == path) gone.push_back(i);
            RemoveEntries(gone);
        }
    } catch (const std::exception& e) {
        if (FHooks.ShowMessage) FHooks.ShowMessage(this, QString::fromUtf8(e.what()));
    }
}
