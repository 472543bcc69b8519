// The application object and its general error handler: every error raised inside an event
// handler ends here, is shown to the operator, and the program goes on. No exception crosses
// Qt's event loop.
#pragma once

#include <QApplication>
#include <QString>

#include <functional>
#include <utility>

// How an error message reaches the operator. The default shows a critical message box; tests
// put a collector in its place.
using TErrorReporter = std::function<void(const QString& message)>;

// Replaces the reporter (an empty one restores the message box) and returns the previous one.
TErrorReporter SetErrorReporter(TErrorReporter reporter);

// The program's title, the caption of the default reporter's message box (the application name
// until set). Kept apart from Qt's application display name, which the X11 and Wayland platforms
// would append to the caption of every window.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// Reports the exception being handled; call it inside a catch block only.
void ReportCurrentException();
// Reports a message as an error is reported (the message box, or the test's collector).
void ReportError(const QString& message);

// Runs `work` and reports whatever it raises: the wrapper of every handler that Qt calls.
template <class F> void Guarded(F&& work) {
    try {
        std::forward<F>(work)();
    } catch (...) {
        ReportCurrentException();
    }
}

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // The last stop for errors raised during event delivery.
    bool notify(QObject* receiver, QEvent* event) override;
};
