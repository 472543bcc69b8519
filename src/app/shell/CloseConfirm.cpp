// The main window's close rule.
#include "app/shell/CloseConfirm.h"

bool ConfirmClose(QWidget* owner, TRecordList& settings, const TAskYesNo& ask) {
    bool dontAsk = SettingYes(settings, setting::DontAskCloseProgram);
    bool allowed = true;
    if (!dontAsk) {
        bool dontAskAgain = false;
        allowed = ask(owner, QStringLiteral("Confirm Close?"),
                      QStringLiteral("Are you sure you want\rto close the tracer interface?"), dontAskAgain);
        // A tick only counts together with Yes: refusing must not silence the next question.
        dontAsk = allowed && dontAskAgain;
    }
    settings.SetValue(setting::DontAskCloseProgram, dontAsk ? "Y" : "N");
    return allowed;
}
