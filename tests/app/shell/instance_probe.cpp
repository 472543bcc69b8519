// A minimal program around the single-instance guard, for the tests and the benchmark. Prints
// "first" or "second" after claiming the instance name, and "knock" each time a later start
// reaches it; a first instance keeps running until its standard input closes. An argument, when
// given, becomes the application's name (the program names itself unlike its file).
#include "app/shell/InstanceManager.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

namespace {
void Say(const char* word) {
    std::printf("%s\n", word);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1)
        QCoreApplication::setApplicationName(QString::fromLocal8Bit(argv[1]));
    TInstanceManager guard;
    guard.OnSecondInstance = [] { Say("knock"); };
    if (!guard.Claim()) {
        Say("second");
        return 0;
    }
    if (!guard.Guarded())
        std::fprintf(stderr, "%s\n", qPrintable(guard.ErrorString()));
    Say("first");

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app, &input] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            app.quit();
        }
    });
    return app.exec();
}
