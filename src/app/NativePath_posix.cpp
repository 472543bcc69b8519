#include "app/NativePath.h"

#include <QFile>

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString FromLocalPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString FromCoreText(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

void SayOnTerminal(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}
