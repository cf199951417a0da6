// Shows the image open dialog on a folder, previews one file and saves a picture of the dialog.
//   open_dialog_demo [--narrow] [--frames] [--details] [--magnifier] <folder> <file to preview> <output.png>
// --narrow: the main window's setting (image and its two buttons only); --frames: thumbnails of
// multi-frame files; --details: the list with its detail columns; --magnifier: the picture is of the
// preview window the magnifier button opens. Exits 0 once the picture is written, 1 on a usage error
// or a timeout.
#include "shell/opendialog/OpenPictoraDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    bool narrow = false, frames = false, details = false, magnifier = false;
    QStringList rest;
    for (const QString& a : app.arguments().mid(1)) {
        if (a == "--narrow")
            narrow = true;
        else if (a == "--frames")
            frames = true;
        else if (a == "--details")
            details = true;
        else if (a == "--magnifier")
            magnifier = true;
        else
            rest << a;
    }
    if (rest.size() != 3) {
        std::fprintf(stderr,
                     "usage: open_dialog_demo [--narrow] [--frames] [--details] [--magnifier] <folder> "
                     "<file> <output.png>\n");
        return 1;
    }
    const QString folder = QDir(rest[0]).absolutePath();
    const QString file = QFileInfo(rest[1]).fileName();
    const QString output = rest[2];

    TOpenPictoraDialog dialog;
    dialog.Filter = AutomaticFilter(false, msEnglish);
    dialog.AutoSetFilter = false;
    dialog.Options = {ofHideReadOnly, ofAllowMultiSelect};
    dialog.SetPreviewBorderStyle(iepsCropShadow);
    dialog.ExtendedDialog = !narrow;
    dialog.ShowAllFrames = frames;
    dialog.MsgLanguage = msEnglish;
    dialog.Title = "Open image files";
    dialog.SetInitialDir(folder.toStdString());
    dialog.Open([](bool) {});
    auto* window = qobject_cast<QFileDialog*>(dialog.DialogWindow());
    if (!window) return 1;
    if (details) window->setViewMode(QFileDialog::Detail);

    int status = 1;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    bool selected = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (clock.elapsed() > 15000) {
            std::fprintf(stderr, "open_dialog_demo: timed out\n");
            app.exit(1);
            return;
        }
        auto* list = window->findChild<QListView*>("listView");
        if (!list || !list->model()) return;
        if (!selected) {
            // The folder is read in the background: select the file once it is listed.
            for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
                const QModelIndex i = list->model()->index(row, 0, list->rootIndex());
                if (i.data().toString() != file) continue;
                list->setCurrentIndex(i); // what a click does: the preview follows
                if (auto* edit = window->findChild<QLineEdit*>("fileNameEdit")) edit->setText(file);
                selected = true;
            }
            return;
        }
        if (dialog.PreviewFrameCount() == 0 && clock.elapsed() < 5000) return;
        if (magnifier) {
            poll.stop();
            // The preview window runs modally: it is pictured from inside its own event loop.
            QTimer::singleShot(800, [&] {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    if (w->objectName() != "PreviewForm" || !w->isVisible()) continue;
                    w->grab().save(output, "PNG");
                    std::printf("open_dialog_demo: preview window of %s is %d x %d, picture in %s\n",
                                qPrintable(file), w->width(), w->height(), qPrintable(output));
                    status = 0;
                    static_cast<QDialog*>(w)->reject();
                }
            });
            dialog.PreviewButton()->click();
            window->reject();
            app.exit(status);
            return;
        }
        window->grab().save(output, "PNG");
        std::printf("open_dialog_demo: %s previewed (%s), picture in %s\n", qPrintable(file),
                    qPrintable(dialog.PicLabel1()->text()), qPrintable(output));
        status = 0;
        window->reject();
        app.exit(0);
    });
    poll.start(100);
    app.exec();
    return status;
}
