#include "app/NativePath.h"

std::string LocalPath(const QString& path) {
    return path.toUtf8().toStdString();
}

QString FromLocalPath(const std::string& path) {
    return QString::fromUtf8(path);
}

QString FromCoreText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
