#include "app/window/FileListBox.h"

#include "app/window/WebDrop.h"

#include <QCoreApplication>
#include <QDrag>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

namespace {
// What an entry drag carries: nothing another program could use, only a marker.
const QString EntryMime = QStringLiteral("application/x-folianto-list-entry");
// Edge scrolling moves one entry per tick while the pointer rests near an edge.
constexpr int AutoScrollIntervalMs = 80;
constexpr int IndicatorWidth = 2;
constexpr int DragImageOffset = 12;
} // namespace

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent), FScrollTimer(new QTimer(this)) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    // The list draws its own insertion line; the view's would mark entries as drop targets.
    setDropIndicatorShown(false);
    viewport()->setCursor(Qt::PointingHandCursor);
    FScrollTimer->setInterval(AutoScrollIntervalMs);
    connect(FScrollTimer, &QTimer::timeout, this, &TFileListBox::AutoScrollStep);
}

int TFileListBox::ItemIndex() const {
    const QModelIndex current = currentIndex();
    if (current.isValid() && selectionModel()->isSelected(current)) return current.row();
    const std::vector<int> rows = SelectedRows();
    return rows.empty() ? -1 : rows.front();
}

void TFileListBox::SetItemIndex(int index) {
    SelectRows(index >= 0 && index < count() ? std::vector<int>{index} : std::vector<int>{}, index);
}

std::vector<int> TFileListBox::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : selectedIndexes()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TFileListBox::SelectRows(const std::vector<int>& rows, int current) {
    const QSignalBlocker block(this);
    QItemSelection selection;
    for (int row : rows) {
        if (row < 0 || row >= count()) continue;
        const QModelIndex i = model()->index(row, 0);
        selection.select(i, i);
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    const QModelIndex currentIndex =
        current >= 0 && current < count() ? model()->index(current, 0) : QModelIndex();
    selectionModel()->setCurrentIndex(currentIndex, QItemSelectionModel::NoUpdate);
}

int TFileListBox::ItemAtPos(const QPoint& viewportPos) const {
    const QModelIndex index = indexAt(viewportPos);
    return index.isValid() ? index.row() : -1;
}

int TFileListBox::DropGapAt(const QPoint& viewportPos) const {
    const int row = ItemAtPos(viewportPos);
    if (row < 0) return NoGap;
    return viewportPos.y() < visualItemRect(item(row)).center().y() ? row : row + 1;
}

QByteArray TFileListBox::EntryDragToken() const {
    return QByteArray::number(QCoreApplication::applicationPid()) + '-' +
           QByteArray::number(reinterpret_cast<quintptr>(this));
}

QMimeData* TFileListBox::CreateEntryDragData() const {
    auto* data = new QMimeData;
    data->setData(EntryMime, EntryDragToken());
    return data;
}

bool TFileListBox::IsEntryDrag(const QMimeData* data) const {
    return data && data->hasFormat(EntryMime) && data->data(EntryMime) == EntryDragToken();
}

TFileListBox::TDragKind TFileListBox::KindOf(const QDropEvent* event) const {
    if (IsEntryDrag(event->mimeData())) return TDragKind::Entries;
    // Files and web addresses come from other programs; a drag from inside this one (text, say) has a
    // source here.
    if (event->source() == nullptr && event->mimeData() && !DroppedEntries(*event->mimeData()).isEmpty())
        return TDragKind::Files;
    return TDragKind::None;
}

void TFileListBox::startDrag(Qt::DropActions) {
    const int index = ItemIndex();
    if (index < 0) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(CreateEntryDragData());
    // The entry under the pointer travels with it, drawn opaque: a drag image with transparency shows
    // black where no compositor blends it.
    const QRect rect = visualItemRect(item(index));
    QPixmap image(rect.size());
    image.fill(palette().color(QPalette::Highlight));
    QPainter painter(&image);
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.setFont(font());
    const std::vector<int> rows = SelectedRows();
    QString text = item(index)->text();
    if (rows.size() > 1) text += QStringLiteral("  (+%1)").arg(rows.size() - 1);
    painter.drawText(image.rect().adjusted(4, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
    painter.end();
    drag->setPixmap(image);
    // Below and right of the pointer, so the insertion line stays in view.
    drag->setHotSpot(QPoint(-DragImageOffset, -DragImageOffset));
    // The drop handler moves the entries itself; the drag's result never removes anything.
    drag->exec(Qt::MoveAction, Qt::MoveAction);
    EndDrag();
}

void TFileListBox::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

void TFileListBox::dragMoveEvent(QDragMoveEvent* event) {
    const TDragKind kind = KindOf(event);
    if (kind == TDragKind::None) {
        EndDrag();
        event->ignore();
        return;
    }
    const Qt::DropAction action = kind == TDragKind::Entries ? Qt::MoveAction : Qt::CopyAction;
    if (event->possibleActions() & action) event->setDropAction(action);
    event->accept();
    TrackDrag(event->position().toPoint(), kind);
}

void TFileListBox::dragLeaveEvent(QDragLeaveEvent* event) {
    EndDrag();
    event->accept();
}

void TFileListBox::dropEvent(QDropEvent* event) {
    const TDragKind kind = KindOf(event);
    const int gap = DropGapAt(event->position().toPoint());
    EndDrag();
    if (kind == TDragKind::None) {
        event->ignore();
        return;
    }
    const Qt::DropAction action = kind == TDragKind::Entries ? Qt::MoveAction : Qt::CopyAction;
    if (event->possibleActions() & action) event->setDropAction(action);
    event->accept();
    if (kind == TDragKind::Entries) {
        if (OnEntriesDropped) OnEntriesDropped(gap);
    } else if (OnFilesDropped) {
        OnFilesDropped(DroppedEntries(*event->mimeData()), gap);
    }
}

void TFileListBox::TrackDrag(const QPoint& viewportPos, TDragKind kind) {
    FDragPos = viewportPos;
    FDragKind = kind;
    const int gap = DropGapAt(viewportPos);
    // Files dropped below the last entry join the end of the list; entries dropped there stay put.
    SetDropGap(gap == NoGap && kind == TDragKind::Files ? count() : gap);
    if (AutoScrollDirection() != 0) {
        if (!FScrollTimer->isActive()) FScrollTimer->start();
    } else {
        FScrollTimer->stop();
    }
}

void TFileListBox::EndDrag() {
    FDragKind = TDragKind::None;
    FScrollTimer->stop();
    SetDropGap(NoGap);
}

void TFileListBox::SetDropGap(int gap) {
    if (gap == FDropGap) return;
    FDropGap = gap;
    viewport()->update();
}

int TFileListBox::AutoScrollDirection() const {
    if (FDragKind == TDragKind::None) return 0;
    const int margin = autoScrollMargin();
    if (FDragPos.y() < margin) return -1;
    if (FDragPos.y() >= viewport()->height() - margin) return 1;
    return 0;
}

void TFileListBox::AutoScrollStep() {
    const int direction = AutoScrollDirection();
    QScrollBar* bar = verticalScrollBar();
    const int before = bar->value();
    if (direction != 0) bar->setValue(before + direction * bar->singleStep());
    if (bar->value() == before) {
        FScrollTimer->stop();
        return;
    }
    // Other entries are under the pointer now.
    TrackDrag(FDragPos, FDragKind);
}

void TFileListBox::paintEvent(QPaintEvent* event) {
    QListWidget::paintEvent(event);
    if (FDropGap == NoGap) return;
    int y = 0;
    if (count() > 0) {
        y = FDropGap < count() ? visualItemRect(item(FDropGap)).top()
                               : visualItemRect(item(count() - 1)).bottom() + 1;
    }
    y = std::clamp(y, IndicatorWidth / 2,
                   std::max(IndicatorWidth / 2, viewport()->height() - IndicatorWidth));
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Highlight), IndicatorWidth));
    painter.drawLine(QPoint(1, y), QPoint(viewport()->width() - 2, y));
    // Short ticks at both ends, so the line reads as "between" rather than an underline.
    painter.drawLine(QPoint(1, y - 3), QPoint(1, y + 3));
    painter.drawLine(QPoint(viewport()->width() - 2, y - 3), QPoint(viewport()->width() - 2, y + 3));
}

QRect TFileListBox::CurrentEntryRect() const {
    const int index = ItemIndex();
    return index >= 0 ? visualItemRect(item(index)) : QRect();
}

void TFileListBox::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (key == Qt::Key_Delete && mods == Qt::NoModifier) {
        if (OnDeleteKey) OnDeleteKey();
    } else if ((key == Qt::Key_Up || key == Qt::Key_Down) && mods == Qt::ControlModifier) {
        if (OnMoveKey) OnMoveKey(key == Qt::Key_Up ? -1 : 1);
    } else if ((key == Qt::Key_Menu && mods == Qt::NoModifier) ||
               (key == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
        const QRect rect = CurrentEntryRect();
        if (rect.isValid() && OnMenuKey) OnMenuKey(QPoint(rect.left() + rect.height(), rect.bottom()));
    } else if (key == Qt::Key_F1 && mods == Qt::ControlModifier) {
        if (OnInfoTipKey) OnInfoTipKey();
    } else {
        QListWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TFileListBox::contextMenuEvent(QContextMenuEvent* event) {
    // The menu opens on the right button's release and on the menu keys (keyPressEvent); the
    // platform's own context-menu event for the same gesture must not open a second one.
    event->accept();
}

void TFileListBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton) {
        QListWidget::mousePressEvent(event);
        return;
    }
    // As in a file manager: the menu is for the entry under the pointer, which becomes selected unless
    // it already is (then the whole selection stays).
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) {
        if (selectionModel()->isSelected(index))
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        else
            setCurrentIndex(index);
    }
    event->accept();
}

void TFileListBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton)
        QListWidget::mouseReleaseEvent(event);
    else
        event->accept();
    if (OnMouseUp) OnMouseUp(event->button(), event->position().toPoint());
}
