// The splash window: the program's picture, cut to its own shape, for three seconds at start.
#include "app/shell/Splash.h"
#include "app/shell/ShellResources.h"

#include "ui_Splash.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

TSplashForm::TSplashForm(QWidget* owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FUi(std::make_unique<Ui::SplashForm>()) {
    FUi->setupUi(this);
    const QPixmap picture = RenderSvg(QStringLiteral(":/shell/splash.svg"), size());
    FUi->Image1->setPixmap(picture);
    if (!picture.isNull())
        setMask(picture.mask());

    FTimer1 = new QTimer(this);
    FTimer1->setObjectName(QStringLiteral("Timer1"));
    FTimer1->setInterval(3000);
    FTimer1->setSingleShot(true);
    connect(FTimer1, &QTimer::timeout, this, &QWidget::hide);
}

TSplashForm::~TSplashForm() = default;

void TSplashForm::ShowSplash() {
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen)
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
    FTimer1->start();
}
