// A minimal program around the single-instance guard, for the tests and the benchmark. Prints
// "first", "second" (handed over) or "no-answer" after claiming the instance name, and "knock"
// each time a later start reaches it; a first instance keeps running until its standard input
// closes. Options: --folder F (the folder in use), --name N (the instance name).
#include "app/shell/InstanceManager.h"

#include <QApplication>
#include <QMetaObject>

#include <cstdio>
#include <cstring>
#include <thread>

namespace {
void Say(const char* word) {
    std::printf("%s\n", word);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString folder;
    QString name = QString::fromLatin1(kInstanceName);
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--folder") == 0)
            folder = QString::fromLocal8Bit(argv[i + 1]);
        else if (std::strcmp(argv[i], "--name") == 0)
            name = QString::fromLocal8Bit(argv[i + 1]);
    }
    TInstanceManager guard(folder, name);
    guard.OnSecondInstance = [] { Say("knock"); };
    switch (guard.Claim()) {
    case TInstanceManager::TClaim::HandedOver:
        Say("second");
        return 0;
    case TInstanceManager::TClaim::NoAnswer:
        Say("no-answer");
        return 0;
    case TInstanceManager::TClaim::First:
        break;
    }
    if (!guard.Guarded())
        std::fprintf(stderr, "%s\n", qPrintable(guard.ErrorString()));
    Say("first");

    // A blocking read on a thread of its own: standard input is a pipe, which not every system's
    // event loop can watch.
    std::thread input([&app] {
        char buffer[256];
        while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
        }
        QMetaObject::invokeMethod(
            &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    input.detach();
    return app.exec();
}
