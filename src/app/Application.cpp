// The general error handler and the application object that installs it around event delivery.
#include "app/Application.h"

#include "app/NativePath.h"

#include <QMessageBox>

#include <exception>

namespace {

QString& Title() {
    static QString title;
    return title;
}

void ShowErrorBox(const QString& message) {
    QMessageBox::critical(QApplication::activeWindow(), ApplicationTitle(), message);
}

TErrorReporter& Reporter() {
    static TErrorReporter reporter = ShowErrorBox;
    return reporter;
}

// A reporter that fails must not take the program down; its own failure is only printed.
void Report(const QString& message) {
    try {
        Reporter()(message);
    } catch (...) {
        qWarning("%s", qUtf8Printable(message));
    }
}

} // namespace

void SetApplicationTitle(const QString& title) {
    Title() = title;
}

QString ApplicationTitle() {
    return Title().isEmpty() ? QCoreApplication::applicationName() : Title();
}

TErrorReporter SetErrorReporter(TErrorReporter reporter) {
    TErrorReporter previous = std::move(Reporter());
    Reporter() = reporter ? std::move(reporter) : TErrorReporter(ShowErrorBox);
    return previous;
}

void ReportError(const QString& message) {
    Report(message);
}

void ReportCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        // Messages carry the file system's and the instrument's texts as 8-bit strings.
        Report(FromCoreText(e.what()));
    } catch (...) {
        Report(QStringLiteral("Unknown error"));
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}
