#include "app/NativePath.h"

#include <QByteArray>

#include <cstdio>
#include <io.h>
#include <string>

#include <windows.h>

std::string LocalPath(const QString& path) {
    return path.toUtf8().toStdString();
}

QString FromLocalPath(const std::string& path) {
    return QString::fromUtf8(path);
}

QString FromCoreText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void SayOnTerminal(std::FILE* stream, const QString& text) {
    std::fflush(stream);
    const int fd = _fileno(stream);
    const HANDLE handle = fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        // The console's code page may lack letters the text has; its wide call takes them all.
        std::wstring wide = text.toStdWString();
        size_t at = 0;
        while ((at = wide.find(L'\n', at)) != std::wstring::npos) {
            wide.insert(at, 1, L'\r');
            at += 2;
        }
        DWORD written = 0;
        ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}
