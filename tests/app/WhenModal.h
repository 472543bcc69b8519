// Acting on a modal window from inside its own event loop, as an operator would; shared by the
// tests of the main window, the dialogs and the shell.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Runs `action` on the next modal window of type T once it is on screen; gives up after 10 s.
template <class T> void WhenModal(std::function<void(T*)> action) {
    auto* timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action] {
        T* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!window && clock->elapsed() < 10000)
            return;
        timer->stop();
        timer->deleteLater();
        if (window)
            action(window);
    });
    timer->start();
}
