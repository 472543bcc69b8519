// The GoogleTest entry of every test program that needs a Qt application object. Which object is
// chosen when this file is built: a core application for components with queued calls and timers,
// a GUI application for widgets, or the program's own application (with its general error handler)
// for the main window. Widgets run on the offscreen platform unless another is asked for, also
// when CTest lists the tests: it gives the tests' environment to the runs only.
#if defined(TRACER_TEST_MAIN_PROGRAM)
#include "app/Application.h"
using TTestApplication = TApplication;
#elif defined(TRACER_TEST_MAIN_WIDGETS)
#include <QApplication>
using TTestApplication = QApplication;
#else
#include <QCoreApplication>
using TTestApplication = QCoreApplication;
#endif

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TTestApplication app(argc, argv);
#if defined(TRACER_TEST_MAIN_PROGRAM)
    // The tests open and close the main window many times; the event loop must outlive each.
    TApplication::setQuitOnLastWindowClosed(false);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
