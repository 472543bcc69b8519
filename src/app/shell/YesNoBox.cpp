// The confirmation box with "Yes", "No" and "Don't Ask Again", and AskYesNo that shows it.
#include "app/shell/YesNoBox.h"
#include "app/shell/ShellResources.h"

#include "ui_YesNoBox.h"

#include <QFontMetrics>
#include <QRegularExpression>

#include <algorithm>

namespace {
const QRegularExpression& LineBreak() {
    static const QRegularExpression pattern(QStringLiteral("\r\n|\r|\n"));
    return pattern;
}
} // namespace

TYesNoBoxForm::TYesNoBoxForm(QWidget* owner) : QDialog(owner), FUi(std::make_unique<Ui::YesNoBoxForm>()) {
    FUi->setupUi(this);
    FUi->Image->setPixmap(RenderSvg(QStringLiteral(":/shell/question.svg"), QSize(40, 40)));
    FitToLines(2);
}

TYesNoBoxForm::~TYesNoBoxForm() = default;

void TYesNoBoxForm::SetMessage(const QString& text) {
    // The label breaks lines only at LF.
    QString shown = text;
    shown.replace(LineBreak(), QStringLiteral("\n"));
    FUi->Message->setText(shown);
}

int TYesNoBoxForm::LineCount(const QString& text) {
    // Counted as a list of lines would be: no lines in an empty text, none after a final break.
    if (text.isEmpty())
        return 0;
    QStringList lines = text.split(LineBreak());
    if (lines.last().isEmpty())
        lines.removeLast();
    return static_cast<int>(lines.size());
}

void TYesNoBoxForm::FitToLines(int lineCount) {
    ensurePolished(); // the style sheet's font reaches the label only when polished
    FUi->Message->ensurePolished();
    const int lineHeight = QFontMetrics(FUi->Message->font()).height();
    const int inside = lineHeight * std::clamp(lineCount, 0, 2) + kBottomBarHeight;
    setFixedSize(kInsideWidth + 2 * kBorder, inside + 2 * kBorder);
}

QLabel* TYesNoBoxForm::Message() const {
    return FUi->Message;
}
QWidget* TYesNoBoxForm::Inside() const {
    return FUi->Inside;
}
QPushButton* TYesNoBoxForm::YesButton() const {
    return FUi->YesButton;
}
QPushButton* TYesNoBoxForm::NoButton() const {
    return FUi->NoButton;
}
QCheckBox* TYesNoBoxForm::DontAskCheckbox() const {
    return FUi->DontAskCheckbox;
}

bool AskYesNo(QWidget* owner, const QString& title, const QString& text, bool& dontAskAgain) {
    TYesNoBoxForm box(owner);
    box.setWindowTitle(title);
    box.SetMessage(text);
    box.FitToLines(TYesNoBoxForm::LineCount(text));
    const bool yes = box.exec() == QDialog::Accepted;
    dontAskAgain = yes && box.DontAskCheckbox()->isChecked();
    return yes;
}
