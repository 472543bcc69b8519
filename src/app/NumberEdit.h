// TNumberEdit: the job panel's number edit with up/down buttons. A value reaches the job only when
// the operator has finished it: Enter, leaving the edit (Tab, a click elsewhere) or an up/down step
// (buttons, arrow keys, Page Up/Down, the wheel while it has the focus). While the operator types,
// the text is left alone, whatever it holds. Values are shown "%.2f" with the user's decimal
// separator like every other number the operator sees.
#pragma once

#include "app/core/JobSession.h"
#include "common/Numbers.h"

#include <QDoubleSpinBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWheelEvent>

#include <optional>

class TNumberEdit : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit TNumberEdit(QWidget* parent = nullptr) : QDoubleSpinBox(parent) {
        // The wheel over the window must never edit the job: it neither focuses nor steps an edit
        // the operator is not in.
        setFocusPolicy(Qt::StrongFocus);
        // The spin box's own rewrites of the text (steps, setValue) block the line edit's signals,
        // so this sees the operator's keystrokes and writes into the line edit only.
        connect(lineEdit(), &QLineEdit::textChanged, this, [this] { FTyped = true; });
    }

    QLineEdit* Editor() const { return lineEdit(); }

    // Shows a value of the job (none: the edit is emptied); the text is the operator's no more.
    void ShowValue(std::optional<double> value) {
        if (value)
            setValue(*value);
        else
            clear();
        FTyped = false;
    }
    // The operator has typed since the edit last showed a value of the job.
    bool Typed() const { return FTyped; }
    // Ends the typing: reports the text as finished when the operator typed.
    void FinishTyping() {
        if (!FTyped)
            return;
        FTyped = false;
        Q_EMIT Finished();
    }

    QString textFromValue(double value) const override {
        return QString::fromStdString(FormatFixed(value, decimals()));
    }
    double valueFromText(const QString& text) const override {
        double value = 0;
        return TJobSession::ReadTypedNumber(text.toStdString(), value) ? value : this->value();
    }
    // No keystroke is refused, whatever the locale of the toolkit says about separators: text
    // that is no number yet is the window's to report when the operator finishes it.
    QValidator::State validate(QString& text, int&) const override {
        double value = 0;
        if (TJobSession::ReadTypedNumber(text.toStdString(), value) && value >= minimum() && value <= maximum())
            return QValidator::Acceptable;
        return QValidator::Intermediate;
    }
    void fixup(QString&) const override {}

    void stepBy(int steps) override {
        const QString before = lineEdit()->text();
        QDoubleSpinBox::stepBy(steps);
        if (lineEdit()->text() != before) {
            FTyped = false;
            Q_EMIT Stepped();
        }
    }

Q_SIGNALS:
    // The operator finished typing a text (Enter, or the edit lost the focus).
    void Finished();
    // An up/down step changed the value.
    void Stepped();

protected:
    void focusOutEvent(QFocusEvent* event) override {
        // A context menu of the edit is no leaving it.
        if (event->reason() != Qt::PopupFocusReason)
            FinishTyping();
        QDoubleSpinBox::focusOutEvent(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            FinishTyping();
        QDoubleSpinBox::keyPressEvent(event);
    }
    void wheelEvent(QWheelEvent* event) override {
        if (!hasFocus()) {
            event->ignore();
            return;
        }
        QDoubleSpinBox::wheelEvent(event);
    }

private:
    bool FTyped = false;
};
