// The windows around the main window: the guide shown inside the program with its pictures, and
// the program's icon on every window.
#include "FormTestSupport.h"
#include "WhenModal.h"

#include "app/dialogs/SettingsForm.h"
#include "app/dialogs/ShowLog.h"
#include "app/shell/Help.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

using namespace form_test;

namespace {

class FormWindows : public TFormFixture {};

} // namespace

TEST_F(FormWindows, HelpShowsTheGuideWithItsPicturesInsideTheProgram) {
    // A copy for the browser in the program's folder.
    ASSERT_TRUE(QDir(FFolder.path()).mkpath(QStringLiteral("help")));
    const QString copy = FFolder.path() + QStringLiteral("/help/tracer-interface.html");
    QFile file(copy);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    StartForm();
    QTest::mouseClick(Control<QPushButton>(*FForm, "HelpButton"), Qt::LeftButton);
    auto* help = FForm->findChild<THelpWindow*>();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_TRUE(help->Browser()->toPlainText().contains(QStringLiteral("Connecting the tracer")));
    for (const char* picture : {"main-window.png", "settings-dialog.png", "log-window.png"}) {
        const QVariant data = help->Browser()->loadResource(QTextDocument::ImageResource, QUrl(picture));
        EXPECT_FALSE(QImage::fromData(data.toByteArray()).isNull()) << picture;
    }
    // The copy is offered for the browser, under a plain path.
    EXPECT_EQ(help->InstalledFile(), QFileInfo(copy).absoluteFilePath());
    EXPECT_FALSE(help->BrowserButton()->isHidden());

    // A second click brings the same window back rather than a second one.
    QTest::mouseClick(Control<QPushButton>(*FForm, "HelpButton"), Qt::LeftButton);
    EXPECT_EQ(FForm->findChildren<THelpWindow*>().size(), 1);
}

TEST_F(FormWindows, EveryWindowShowsTheProgramsIcon) {
    StartForm();
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_FALSE(FForm->windowIcon().isNull());
    EXPECT_FALSE(ShowHelpWindow(FForm.get(), QString())->windowIcon().isNull());
    EXPECT_FALSE(ShowLogWindow(FForm.get())->windowIcon().isNull());
    bool settingsIcon = false;
    WhenModal<TSettingsForm>([&](TSettingsForm* form) {
        settingsIcon = !form->windowIcon().isNull();
        form->close();
    });
    TRecordList settings;
    RunSettingsDialog(FForm.get(), settings, FFolder.path().toStdString());
    EXPECT_TRUE(settingsIcon);
}

TEST(HelpFile, FoldersAreSearchedInOrderAndTheNameIsPlain) {
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("bin")));
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("share/tracer-interface/help")));
    QFile file(root.path() + QStringLiteral("/share/tracer-interface/help/tracer-interface.html"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString bin = root.path() + QStringLiteral("/bin");
    EXPECT_EQ(FindHelpFile({bin + QStringLiteral("/help"), bin + QStringLiteral("/../share/tracer-interface/help")}),
              QDir(root.path()).canonicalPath() + QStringLiteral("/share/tracer-interface/help/tracer-interface.html"));
    EXPECT_EQ(FindHelpFile({bin}), QString());
}
