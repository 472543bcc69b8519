// The fonts of the dialogs, given in pixels so that they look the same at any screen resolution.
#pragma once

#include <QFont>

// Arial at 13 pixels (fontconfig substitutes a metric-compatible face where Arial is missing).
QFont DialogFont();
// "Courier New" at 13 pixels when it or a fixed-pitch stand-in is installed, else the system's
// fixed font at 13 pixels.
QFont LogViewerFont();
