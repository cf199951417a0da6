#pragma once
// TFileListBox: the numbered display list. Entries are selected as in a file manager (several at once
// with Ctrl and Shift; a right click selects the entry under the pointer unless it is already
// selected) and dragged to a new place, with a line showing where they will land and scrolling when
// the pointer nears the top or bottom edge. Files dragged from the desktop and web addresses dragged
// from a browser land at the pointer the same way. The window decides what each gesture does,
// through the callbacks.
#include "app/window/ListMoves.h"

#include <QListWidget>

#include <functional>
#include <vector>

class QMimeData;
class QTimer;

class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* parent = nullptr);

    // The selected index: the current entry when it is selected, else the first selected one; -1 when
    // no entry is selected.
    int ItemIndex() const;
    // Selects index alone (-1: none) and makes it current; emits nothing.
    void SetItemIndex(int index);
    // The selected indexes, ascending.
    std::vector<int> SelectedRows() const;
    // Selects exactly rows and makes current the current entry; emits nothing.
    void SelectRows(const std::vector<int>& rows, int current);
    // The entry under a point of the viewport, counting only real entries (-1 below the last).
    int ItemAtPos(const QPoint& viewportPos) const;
    // Where a drop at a point of the viewport lands: the gap before the entry whose upper half is under
    // the point, after it for the lower half; NoGap below the last entry.
    int DropGapAt(const QPoint& viewportPos) const;
    // The gap the insertion line marks while a drag is over the list; NoGap when none is shown.
    int DropIndicatorGap() const { return FDropGap; }

    // What a drag of the selected entries carries: a marker only this list recognises, so a drag that
    // started elsewhere (another list, another copy of the program) is never taken for one.
    QMimeData* CreateEntryDragData() const;
    bool IsEntryDrag(const QMimeData* data) const;

    // The selected entries were dropped at a gap (NoGap: below the last entry).
    std::function<void(int gap)> OnEntriesDropped;
    // Files from the desktop or web addresses from a browser were dropped at a gap (NoGap: below the
    // last entry).
    std::function<void(const QStringList& paths, int gap)> OnFilesDropped;
    std::function<void(Qt::MouseButton button, const QPoint& viewportPos)> OnMouseUp;
    // Delete; Ctrl+Up (-1) and Ctrl+Down (+1); the context menu key or Shift+F10 (at the current
    // entry, viewport coordinates); Ctrl+F1, which shows the current entry's info tip.
    std::function<void()> OnDeleteKey;
    std::function<void(int step)> OnMoveKey;
    std::function<void(const QPoint& viewportPos)> OnMenuKey;
    std::function<void()> OnInfoTipKey;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class TDragKind { None, Entries, Files };
    QByteArray EntryDragToken() const;
    TDragKind KindOf(const QDropEvent* event) const;
    // Follows the pointer of a drag: the insertion line and the edge scrolling.
    void TrackDrag(const QPoint& viewportPos, TDragKind kind);
    void EndDrag();
    void SetDropGap(int gap);
    void AutoScrollStep();
    int AutoScrollDirection() const;
    QRect CurrentEntryRect() const;

    int FDropGap = NoGap;
    QPoint FDragPos;
    TDragKind FDragKind = TDragKind::None;
    QTimer* FScrollTimer;
};
