// File names and texts between Qt, the Qt-free core and the terminal. The core takes 8-bit names: the system's own
// bytes on POSIX, UTF-8 on Windows (its wide-character calls convert them back), so that any folder name works on both.
// Each system's conversion lives in its own file.
#pragma once

#include <QString>

#include <cstdio>
#include <string>

std::string LocalPath(const QString& path);
QString FromLocalPath(const std::string& path);

// A text of the core for the window (a message, which may name a file): the core's texts are in
// the encoding of its file names, UTF-8 on Windows, where the local 8-bit code page is another.
QString FromCoreText(const std::string& text);

// Writes text to standard output or standard error so that every letter arrives as written: a
// Windows console takes it as text, a file or a pipe there gets UTF-8, as the job files do.
void SayOnTerminal(std::FILE* stream, const QString& text);
