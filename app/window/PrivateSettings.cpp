#include "app/window/PrivateSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

namespace {
// The shared file of Qt's widgets; anything larger than this is not a settings file worth copying.
constexpr qint64 MaxCopiedSettingsBytes = 256 * 1024;
const QString QtSettingsFile = QStringLiteral("QtProject.conf");

QString MakePrivateFolder() {
    static std::unique_ptr<QTemporaryDir> folder; // removed when the process ends
    folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/folianto-qt-XXXXXX"));
    if (!folder->isValid()) return {};
    const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QFileInfo shared(user + QLatin1Char('/') + QtSettingsFile);
    if (shared.isFile() && shared.size() <= MaxCopiedSettingsBytes)
        QFile::copy(shared.filePath(), folder->filePath(QtSettingsFile));
    // On Linux both formats name the same files; set both so neither reaches the user's folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder->path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder->path());
    return folder->path();
}
} // namespace

QString KeepQtSettingsPrivate() {
    static const QString folder = MakePrivateFolder();
    return folder;
}
