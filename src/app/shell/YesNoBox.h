// The confirmation box with "Yes", "No" and "Don't Ask Again", and AskYesNo that shows it.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;

namespace Ui {
class YesNoBoxForm;
}

class TYesNoBoxForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kInsideWidth = 341;
    static constexpr int kBorder = 5;
    static constexpr int kBottomBarHeight = 79;

    explicit TYesNoBoxForm(QWidget* owner);
    ~TYesNoBoxForm() override;

    // The message; CR, LF and CR LF each break the line.
    void SetMessage(const QString& text);
    // Lines of the message as written (word wrapping not counted).
    static int LineCount(const QString& text);
    // Inside height for a message of `lineCount` lines: at most two lines of the message font and
    // the bottom bar; the 5-pixel border lies around it.
    void FitToLines(int lineCount);

    QLabel* Message() const;
    QWidget* Inside() const;
    QPushButton* YesButton() const;
    QPushButton* NoButton() const;
    QCheckBox* DontAskCheckbox() const;

private:
    std::unique_ptr<Ui::YesNoBoxForm> FUi;
};

// true when the answer is Yes; dontAskAgain := Yes and "Don't Ask Again" ticked.
bool AskYesNo(QWidget* owner, const QString& title, const QString& text, bool& dontAskAgain);
