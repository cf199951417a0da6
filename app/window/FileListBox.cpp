#include "app/window/FileListBox.h"

#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalBlocker>

namespace {
// What an entry drag carries: nothing another program could use, only a marker.
const QString EntryMime = QStringLiteral("application/x-folianto-list-entry");
} // namespace

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false);
    viewport()->setCursor(Qt::PointingHandCursor);
}

int TFileListBox::ItemIndex() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.front());
}

void TFileListBox::SetItemIndex(int index) {
    const QSignalBlocker block(this);
    if (index < 0 || index >= count()) {
        clearSelection();
        setCurrentRow(-1, QItemSelectionModel::Clear);
    } else {
        setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    }
}

int TFileListBox::ItemAtPos(const QPoint& viewportPos) const {
    const QModelIndex index = indexAt(viewportPos);
    return index.isValid() ? index.row() : -1;
}

void TFileListBox::startDrag(Qt::DropActions) {
    if (ItemIndex() < 0) return;
    auto* data = new QMimeData;
    data->setData(EntryMime, QByteArray::number(ItemIndex()));
    // The drop handler moves the entry itself; the drag's result never removes anything.
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction, Qt::MoveAction);
}

void TFileListBox::dragEnterEvent(QDragEnterEvent* event) {
    if (OnDragOver && OnDragOver(event->source()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TFileListBox::dragMoveEvent(QDragMoveEvent* event) {
    if (OnDragOver && OnDragOver(event->source()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TFileListBox::dropEvent(QDropEvent* event) {
    if (!OnDragOver || !OnDragOver(event->source())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    if (OnDragDrop) OnDragDrop(event->position().toPoint());
}

void TFileListBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void TFileListBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton)
        QListWidget::mouseReleaseEvent(event);
    else
        event->accept();
    if (OnMouseUp) OnMouseUp(event->button(), event->position().toPoint());
}
