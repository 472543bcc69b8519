// The program's entry: the single-instance guard, the settings, the main window and the message
// loop; termination signals end it the normal way, so the settings are saved.
#include "app/Application.h"
#include "app/SignalWatcher.h"
#include "app/Unit1.h"
#include "app/core/Folders.h"
#include "app/core/Settings.h"
#include "app/shell/InstanceManager.h"
#include "common/Numbers.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

namespace {

// The user's decimal separator (LC_NUMERIC) for every number the system reads or writes; a
// separator outside 8-bit text leaves the full stop.
void TakeDecimalSeparator() {
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        SetDecimalSeparator(static_cast<char>(point.at(0).unicode()));
}

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TApplication::setApplicationName(QStringLiteral("tracer-interface"));
    // The main window ends the program itself; a log window closing while it is hidden in the
    // notification area must not.
    TApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tracer Interface: takes in the jobs of a spectacle-frame tracer."));
    parser.addHelpOption();
    const QCommandLineOption folderOption(
        QStringLiteral("folder"),
        QStringLiteral(
            "Use <dir> instead of the program's folder for settings.txt, the traces folder and the help file."),
        QStringLiteral("dir"));
    parser.addOption(folderOption);
    parser.process(app);
    const auto local = [](const QString& path) { return QFile::encodeName(path).toStdString(); };
    const TFolders folders = ChooseFolders({
        local(QCoreApplication::applicationDirPath()),
        TRACER_INSTALL_BINDIR,
        parser.isSet(folderOption) ? local(QDir(parser.value(folderOption)).absolutePath()) : std::string(),
        local(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)),
        local(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)),
    });
    // The user's folders are made on first use; a missing one would only fail later and quietly.
    QDir().mkpath(QFile::decodeName(QByteArray::fromStdString(folders.SettingsFolder)));
    QDir().mkpath(QFile::decodeName(QByteArray::fromStdString(folders.DataFolder)));
    const QString folder = QFile::decodeName(QByteArray::fromStdString(folders.DataFolder));

    TSignalWatcher watcher;

    TInstanceManager instance;
    if (!instance.Claim())
        return 0;

    const std::string settingsFile = folders.SettingsFolder + "/" + kSettingsFileName;
    LoadSettings(SettingsList(), settingsFile);
    TakeDecimalSeparator();

    int exitCode = 0;
    {
        TForm1 form(folder);
        instance.OnSecondInstance = [&form] { Guarded([&form] { form.RestoreFromTray(); }); };
        watcher.OnSignal = [&form](int) { form.CloseWithoutAsking(); };
        QObject::connect(&form, &TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        form.show();
        exitCode = TApplication::exec();
        instance.OnSecondInstance = nullptr;
        watcher.OnSignal = nullptr;
    }
    SaveSettings(SettingsList(), settingsFile);
    return exitCode;
}
