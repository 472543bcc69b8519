// The help file beside the program and opening it in the desktop's viewer.
#pragma once

#include <QString>

class QWidget;

inline constexpr const char* kHelpFileName = "tracer-interface.html";

QString HelpFileName(const QString& programFolder); // programFolder + "/tracer-interface.html"
// Opens the file in the desktop's viewer; a missing file or a failure to open is reported by a
// warning message box and returns false.
bool OpenHelp(QWidget* owner, const QString& helpFile);
