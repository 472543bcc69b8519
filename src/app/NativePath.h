// File names between Qt and the Qt-free core. The core takes 8-bit names: the system's own bytes
// on POSIX, UTF-8 on Windows (its wide-character calls convert them back), so that any folder
// name works on both.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>

inline std::string LocalPath(const QString& path) {
#ifdef _WIN32
    return path.toUtf8().toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

inline QString FromLocalPath(const std::string& path) {
#ifdef _WIN32
    return QString::fromUtf8(path);
#else
    return QFile::decodeName(QByteArray::fromStdString(path));
#endif
}
