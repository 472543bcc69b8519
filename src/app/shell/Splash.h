// The splash window: the program's picture, cut to its own shape, for three seconds at start.
#pragma once

#include <QWidget>

#include <memory>

class QTimer;

namespace Ui {
class SplashForm;
}

class TSplashForm : public QWidget { // borderless, always on top, centred, 268x94, picture with mask cut out
    Q_OBJECT
public:
    explicit TSplashForm(QWidget* owner);
    ~TSplashForm() override;

    void ShowSplash(); // shows without blocking and starts Timer1 (3000 ms), then hides itself
    QTimer* Timer1() const { return FTimer1; }

private:
    std::unique_ptr<Ui::SplashForm> FUi;
    QTimer* FTimer1 = nullptr;
};
