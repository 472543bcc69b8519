// TNumberEdit: the job panel's number edit with up/down buttons. Its text is what the change
// handler reads (an emptied or half-typed text included), so the inner line edit is public, and
// values are shown "%.2f" with the user's decimal separator like every other number of the system.
#pragma once

#include "common/Numbers.h"

#include <QDoubleSpinBox>
#include <QLineEdit>

class TNumberEdit : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit TNumberEdit(QWidget* parent = nullptr) : QDoubleSpinBox(parent) {}

    QLineEdit* Editor() const { return lineEdit(); }

    QString textFromValue(double value) const override {
        return QString::fromStdString(FormatFixed(value, decimals()));
    }
    double valueFromText(const QString& text) const override {
        double value = 0;
        return TryStrToFloat(text.toStdString(), value) ? value : this->value();
    }
};
