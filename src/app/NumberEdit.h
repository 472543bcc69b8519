// TNumberEdit: the job panel's number edit with up/down buttons. The change handler reads its
// text (an emptied or half-typed text included), so the inner line edit is public; values are
// shown "%.2f" with the user's decimal separator like every other number of the system.
#pragma once

#include "app/core/JobSession.h"
#include "common/Numbers.h"

#include <QDoubleSpinBox>
#include <QLineEdit>

class TNumberEdit : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit TNumberEdit(QWidget* parent = nullptr) : QDoubleSpinBox(parent) {
        // Keystrokes and other writes into the line edit are reported by it. The spin box's own
        // rewrites of the text (steps, setValue) block the line edit's signals; steps are
        // reported by stepBy below, and the program writes only while its handler ignores them.
        connect(lineEdit(), &QLineEdit::textChanged, this, &TNumberEdit::Changed);
    }

    QLineEdit* Editor() const { return lineEdit(); }

    QString textFromValue(double value) const override {
        return QString::fromStdString(FormatFixed(value, decimals()));
    }
    double valueFromText(const QString& text) const override {
        double value = 0;
        return TJobSession::ReadTypedNumber(text.toStdString(), value) ? value : this->value();
    }
    // No keystroke is refused, whatever the locale of the toolkit says about separators: text
    // that is no number yet is the window's to report, and leaving the edit puts it right.
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
        if (lineEdit()->text() != before)
            Q_EMIT Stepped();
    }

Q_SIGNALS:
    // The text changed by a keystroke or a write into the line edit.
    void Changed();
    // An up/down step (button, key or wheel) changed the value.
    void Stepped();
};
