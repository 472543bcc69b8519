// Widget tests (the shell's, and those that need Qt Widgets alone) need a GUI application object:
// on the offscreen platform, also when CTest lists the tests (it gives the tests' environment to
// the runs only).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
