// The core's messages reach the window as the operator knows the names in them: letters beyond
// ASCII as written, and the system's own separators.
#include "app/NativePath.h"
#include "app/core/TextFile.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <exception>

TEST(CoreText, AFailedWriteNamesTheFileAsTheOperatorKnowsIt) {
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const QString folder = base.filePath(QStringLiteral("J\u00f6rg \u00c6r\u00f8"));
    // A folder where the file belongs: the system refuses the write.
    const QString target = folder + QStringLiteral("/traces/501.txt");
    ASSERT_TRUE(QDir().mkpath(target));
    try {
        WriteFileAtomically(LocalPath(target), "R=2500\r\n");
        FAIL() << "no error writing over a folder";
    } catch (const std::exception& e) {
        const QString shown = FromCoreText(e.what());
        const QString expected =
            QStringLiteral("Cannot write ") + QDir::toNativeSeparators(target) + QStringLiteral(": ");
        EXPECT_TRUE(shown.startsWith(expected)) << shown.toStdString();
    }
}
