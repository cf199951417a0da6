#include "app/window/DefaultFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {
bool IsSystemProgramFolder(const QString& canonical) {
    static const char* const folders[] = {"/usr/bin", "/usr/local/bin", "/bin",        "/usr/sbin",
                                          "/sbin",    "/usr/games",     "/usr/libexec"};
    for (const char* f : folders)
        if (canonical == QLatin1String(f)) return true;
    return canonical.startsWith(QLatin1String("/usr/lib/")) || canonical.startsWith(QLatin1String("/snap/"));
}

QString WithSlash(QString folder) {
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

// The standard folder when it exists, else the home folder.
QString UserFolder(QStandardPaths::StandardLocation location) {
    const QString folder = QStandardPaths::writableLocation(location);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    return QDir::homePath();
}
} // namespace

QString ProgramFolder() {
    return QCoreApplication::applicationDirPath();
}

bool IsPortableFolder(const QString& folder) {
    if (folder.isEmpty()) return false;
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || IsSystemProgramFolder(canonical)) return false;
    return ::access(QFile::encodeName(canonical).constData(), W_OK | X_OK) == 0;
}

QString DefaultOutputFolder() {
    const QString program = ProgramFolder();
    return WithSlash(IsPortableFolder(program) ? program : UserFolder(QStandardPaths::DocumentsLocation));
}

QString DefaultDialogFolder() {
    const QString program = ProgramFolder();
    return WithSlash(IsPortableFolder(program) ? program : UserFolder(QStandardPaths::PicturesLocation));
}
