// The general error handler around event delivery and the termination signals turned into a
// call on the event loop.
#include "app/Application.h"
#include "process/SignalWatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class TThrowingObject : public QObject {
protected:
    void customEvent(QEvent*) override { throw std::runtime_error("refused by the handler"); }
};

} // namespace

TEST(GeneralErrorHandler, ErrorsOfEventHandlersAreReportedAndTheProgramGoesOn) {
    std::vector<std::string> reported;
    const TErrorReporter previous =
        SetErrorReporter([&](const QString& message) { reported.push_back(message.toStdString()); });
    TThrowingObject target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    EXPECT_TRUE(QTest::qWaitFor([&] { return reported.size() == 2; }, 10000));
    EXPECT_EQ(reported[0], "refused by the handler");

    Guarded([] { throw 42; });
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_EQ(reported[2], "Unknown error");
    SetErrorReporter(previous);
}

TEST(SignalWatcher, TerminationSignalsReachTheEventLoop) {
    std::vector<int> received;
    {
        TSignalWatcher watcher;
        watcher.OnSignal = [&](int signalNumber) { received.push_back(signalNumber); };
        std::raise(SIGTERM);
        std::raise(SIGHUP);
        EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 10000));
    }
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGHUP}));
}
