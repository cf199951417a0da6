#pragma once
// The window's conversions between Qt's texts and the byte paths and texts of the layers below.
#include <QFile>
#include <QString>

#include <string>

// A path as the file system names it (the locale's encoding) and back.
inline std::string Encoded(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
inline QString Decoded(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
