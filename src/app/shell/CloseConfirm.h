// The main window's close rule: ask unless the operator chose not to be asked again.
#pragma once

#include "app/core/Settings.h"
#include "app/shell/YesNoBox.h"

#include <QString>

#include <functional>

class QWidget;

using TAskYesNo = std::function<bool(QWidget* owner, const QString& title, const QString& text, bool& dontAskAgain)>;

// Allowed without asking when DontAskCloseProgram is "Y"; otherwise asks "Confirm Close?" /
// "Are you sure you want\rto close the tracer interface?". Stores DontAskCloseProgram: "Y" when it
// was "Y" or Yes with the box ticked, else "N" (also when refused). Returns whether closing is allowed.
bool ConfirmClose(QWidget* owner, TRecordList& settings, const TAskYesNo& ask = AskYesNo);
