// folianto: the desktop program. It takes no arguments and keeps no settings.
#include "app/window/MainWindow.h"

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Folianto"));
    QGuiApplication::setDesktopFileName(QStringLiteral("folianto"));

    TForm1 form;
    QObject::connect(&form, &TForm1::Closed, &app, &QCoreApplication::quit);
    form.show();

    // For the screenshot script only: files listed here (one per line) arrive as one desktop drop
    // once the window is up, so a scripted session needs no drag and drop.
    const QByteArray drop = qgetenv("FOLIANTO_TEST_DROP");
    if (!drop.isEmpty()) {
        QStringList paths;
        for (const QByteArray& line : drop.split('\n'))
            if (!line.isEmpty()) paths << QFile::decodeName(line);
        QTimer::singleShot(0, &form, [&form, paths] { form.FilesDropped(paths); });
    }
    return QApplication::exec();
}
