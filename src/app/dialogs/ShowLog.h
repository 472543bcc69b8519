// TShowLogForm: the communication log window, a read-only copy of the log taken when it opened.
#pragma once

#include <QDialog>

#include <memory>

class QPlainTextEdit;
class TLineNumberedEdit;

namespace Ui {
class TShowLogForm;
}

class TShowLogForm : public QDialog {
    Q_OBJECT
public:
    // Destroyed when closed; the viewer gets a copy of CommLog().
    explicit TShowLogForm(QWidget* owner);
    ~TShowLogForm() override;

    QPlainTextEdit* ViewLogEdit() const;
    TLineNumberedEdit* LineNumberedViewer() const;

    // "Close": closes, and so destroys, the window.
    void Button1Click();
    // "Clear Log": empties the process-wide log and this viewer; other log windows keep their copy.
    void ClearLogButtonClick();

private:
    std::unique_ptr<Ui::TShowLogForm> FUi;
};

// A new log window owned by `owner`, shown without blocking; every call opens a further window.
TShowLogForm* ShowLogWindow(QWidget* owner);
