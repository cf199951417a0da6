#pragma once
// TFileListBox: the numbered display list. It starts drags of its own entries, accepts only those
// back (the window decides, through the two callbacks) and keeps a right click from changing the
// selection, so the shell menu it opens is always for the selected entry.
#include <QListWidget>

#include <functional>

class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* parent = nullptr);

    // The selected index, or -1 when no entry is selected.
    int ItemIndex() const;
    // Selects index (-1: none) and makes it current; emits nothing.
    void SetItemIndex(int index);
    // The entry under a point of the viewport, counting only real entries (-1 below the last).
    int ItemAtPos(const QPoint& viewportPos) const;

    std::function<bool(QObject* source)> OnDragOver;
    std::function<void(const QPoint& viewportPos)> OnDragDrop;
    std::function<void(Qt::MouseButton button, const QPoint& pos)> OnMouseUp;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
