// What the program's start needs to know of the system it runs on: where an installed program
// lives, which of the user's folders hold its files, and how to reach the terminal it was started
// from. Each system answers in its own file.
#pragma once

#include <QString>

#include <string>

// Makes standard output and standard error reach the terminal the program was started from, where
// the system does not do so by itself (a Windows GUI program has no console of its own).
// false: standard error leads nowhere (a Windows program started from the Start menu or
// Explorer), so what the operator must learn is shown in a window instead.
bool UseStartingTerminal();

// The folder an installed program's executable lives in, or empty when there is none (then the
// program counts as not installed); programFolder: the running executable's folder.
std::string InstallBinFolder(const QString& programFolder);

// The user's folders for settings.txt and for the traces folder, when the program is installed.
QString UserSettingsFolder();
QString UserDataFolder();

// Where an installed program keeps its files, for the operator (--help).
QString UserFoldersText();
