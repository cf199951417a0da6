// folianto: the desktop program. Files named on its command line (what "Open with Folianto" in a file
// manager passes) join the list as a drop would; it keeps no settings.
#include "app/window/MainWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Folianto"));
    QGuiApplication::setDesktopFileName(QStringLiteral("folianto"));

    TForm1 form;
    QObject::connect(&form, &TForm1::Closed, &app, &QCoreApplication::quit);
    form.show();

    // QApplication has taken its own options (-platform and the like) out of the arguments.
    QStringList paths;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) paths << QFileInfo(args[i]).absoluteFilePath();
    if (!paths.isEmpty()) QTimer::singleShot(0, &form, [&form, paths] { form.FilesDropped(paths); });
    return QApplication::exec();
}
