// folianto: the desktop program. Files named on its command line (what "Open with Folianto" in a file
// manager passes) join the list as a drop would; it keeps no settings.
#include "app/window/FileListRules.h"
#include "app/window/MainWindow.h"
#include "app/window/WindowCommandLine.h"
#include "platform/Allocator.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {
enum TExitStatus : int { exitOk = 0, exitNoDisplay = 1, exitUsage = 2 };

// Qt ends the program with an abort when no platform can start (a display that cannot be reached):
// say what is missing and leave with a plain status instead.
bool gStarting = true;
void OnQtMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    if (type == QtFatalMsg && gStarting) {
        std::fputs(NoDisplayMessage().c_str(), stderr);
        std::_Exit(exitNoDisplay);
    }
}
} // namespace

int main(int argc, char** argv) {
    KeepPixelBlocksForReuse();
    switch (WindowActionFor(std::vector<std::string>(argv + 1, argv + argc),
                            [](const char* name) -> const char* { return std::getenv(name); })) {
    case TWindowAction::Help:
        std::fputs(WindowUsage().c_str(), stdout);
        return exitOk;
    case TWindowAction::Version:
        std::fputs(WindowVersion().c_str(), stdout);
        return exitOk;
    case TWindowAction::NoDisplay:
        std::fputs(NoDisplayMessage().c_str(), stderr);
        return exitNoDisplay;
    case TWindowAction::Run:
        break;
    }

    const QtMessageHandler previous = qInstallMessageHandler(OnQtMessage);
    QApplication app(argc, argv);
    gStarting = false;
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("Folianto"));
    QGuiApplication::setDesktopFileName(QStringLiteral("folianto"));

    // QApplication has taken its own options (-platform and the like) out of the arguments.
    std::vector<std::string> rest;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) rest.push_back(args[i].toStdString());
    std::vector<std::string> files;
    std::string error;
    if (!WindowFiles(rest, files, error)) {
        std::fprintf(stderr, "folianto: %s\nTry 'folianto --help' for more information.\n", error.c_str());
        return exitUsage;
    }

    TForm1 form;
    // The window says when the program is done: closed during a run, it first lets the run write its
    // pages.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&form, &TForm1::Closed, &app, &QCoreApplication::quit);
    form.show();

    QStringList paths;
    for (const std::string& f : files) {
        const QString arg = QString::fromStdString(f);
        // A web address is no path: made absolute it would name a file under this folder.
        paths << (IsWebEntry(arg) ? arg : QFileInfo(arg).absoluteFilePath());
    }
    if (!paths.isEmpty()) QTimer::singleShot(0, &form, [&form, paths] { form.FilesDropped(paths); });
    return QApplication::exec();
}
