// The program's entry: the single-instance guard, the settings, the main window and the message
// loop; termination signals end it the normal way, so the settings are saved.
#include "app/Application.h"
#include "app/NativePath.h"
#include "app/ProgramPlaces.h"
#include "app/Unit1.h"
#include "app/core/Folders.h"
#include "app/core/Settings.h"
#include "app/shell/InstanceManager.h"
#include "common/Numbers.h"
#include "process/SignalWatcher.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStringList>

#include <cstdio>
#include <string>

namespace {

// The user's decimal separator (LC_NUMERIC) for every number the system reads or writes; a
// separator outside 8-bit text leaves the full stop.
void TakeDecimalSeparator() {
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        SetDecimalSeparator(static_cast<char>(point.at(0).unicode()));
}

// Both as the file system names them: a link or a trailing slash makes no other folder.
bool SameFolder(const QString& a, const QString& b) {
    const QString left = QFileInfo(a).canonicalFilePath();
    return !left.isEmpty() && left == QFileInfo(b).canonicalFilePath();
}

} // namespace

int main(int argc, char** argv) {
    const bool terminal = UseStartingTerminal();
    // The options are read before the application exists: printing help or the version needs no
    // display.
    QCoreApplication::setApplicationName(QStringLiteral("tracer-interface"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TRACER_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tracer Interface: takes in the jobs of a spectacle-frame tracer.\n\n"
                       "Where it keeps settings.txt and the traces folder:\n"
                       "  run from its own folder (a build, a copy): beside the program;\n"
                       "  installed: %1;\n"
                       "  --folder <dir>: both in <dir>.\n"
                       "One program runs per folder: a start for a folder in use brings its window to the front.")
            .arg(UserFoldersText()));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption folderOption(
        QStringLiteral("folder"),
        QStringLiteral(
            "Use <dir> instead of the program's folder for settings.txt, the traces folder and the help file."),
        QStringLiteral("dir"));
    parser.addOption(folderOption);
    // Arguments this parser does not know (Qt's own, a mistake) are left to the full parse below,
    // once the application has taken its own.
    const bool parsed = parser.parse(arguments);
    if (parsed && parser.isSet(helpOption)) {
        SayOnTerminal(stdout, parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                        QCoreApplication::applicationName()));
        return 0;
    }
    if (parsed && parser.isSet(versionOption)) {
        std::printf("tracer-interface %s\n", TRACER_VERSION);
        return 0;
    }

    TApplication app(argc, argv);
    // The main window ends the program itself; a log window closing while it is hidden in the
    // notification area must not.
    TApplication::setQuitOnLastWindowClosed(false);
    parser.process(app);
    // A folder given that does not exist is made, traces folder and all; one that cannot be made
    // ends the program here rather than letting it start and save nothing.
    if (parser.isSet(folderOption)) {
        const QString given = parser.value(folderOption);
        if (!QDir().mkpath(given) || !QDir(given).mkpath(QStringLiteral("traces"))) {
            SayOnTerminal(
                stderr,
                QStringLiteral("tracer-interface: cannot create the folder %1\n").arg(QDir::toNativeSeparators(given)));
            return 1;
        }
    }
    TFolderPlaces places{
        LocalPath(QCoreApplication::applicationDirPath()),
        InstallBinFolder(QCoreApplication::applicationDirPath()),
        std::string(),
        LocalPath(UserSettingsFolder()),
        LocalPath(UserDataFolder()),
    };
    const TFolders defaultFolders = ChooseFolders(places);
    if (parser.isSet(folderOption))
        places.FolderOption = LocalPath(QDir(parser.value(folderOption)).absolutePath());
    const TFolders folders = ChooseFolders(places);
    // The user's folders are made on first use; a missing one would only fail later and quietly.
    QDir().mkpath(FromLocalPath(folders.SettingsFolder));
    QDir().mkpath(FromLocalPath(folders.DataFolder));
    const QString folder = FromLocalPath(folders.DataFolder);

    TSignalWatcher watcher;
    // A termination signal may come while the program is still starting (the window is made, the
    // notification area is looked for): it is kept and ends the program once the window can close.
    bool endAsked = false;
    watcher.OnSignal = [&endAsked](int) { endAsked = true; };

    // One program per folder: the folder a start was not told of keeps the plain instance name.
    const bool ownFolder = !SameFolder(folder, FromLocalPath(defaultFolders.DataFolder));
    TInstanceManager instance(ownFolder ? folder : QString());
    switch (instance.Claim()) {
    case TInstanceManager::TClaim::First:
        break;
    case TInstanceManager::TClaim::HandedOver:
        SayOnTerminal(stderr, QStringLiteral("tracer-interface: already running for %1; brought it to the front.\n")
                                  .arg(QDir::toNativeSeparators(folder)));
        return 0;
    case TInstanceManager::TClaim::NoAnswer:
        SayOnTerminal(stderr,
                      QStringLiteral("tracer-interface: already running for %1 but not answering; not started again.\n")
                          .arg(QDir::toNativeSeparators(folder)));
        // A start from the Start menu has no terminal: without a window it would look like a
        // program that never starts.
        if (!terminal)
            QMessageBox::warning(nullptr, QStringLiteral("Tracer Interface"),
                                 QStringLiteral("Tracer Interface is already running for %1 but does not answer, "
                                                "so it was not started again.")
                                     .arg(QDir::toNativeSeparators(folder)));
        return 0;
    }

    const std::string settingsFile = folders.SettingsFolder + "/" + kSettingsFileName;
    std::string settingsProblem;
    LoadSettings(SettingsList(), settingsFile, &settingsProblem);
    if (!settingsProblem.empty())
        SayOnTerminal(stderr, QStringLiteral("tracer-interface: %1; the default settings are used.\n")
                                  .arg(FromCoreText(settingsProblem)));
    TakeDecimalSeparator();

    int exitCode = 0;
    {
        TForm1 form(folder);
        form.SetSettingsFile(FromLocalPath(settingsFile));
        if (!settingsProblem.empty())
            form.SettingsNotRead(FromCoreText(settingsProblem));
        instance.OnSecondInstance = [&form] { Guarded([&form] { form.RestoreFromTray(); }); };
        watcher.OnSignal = [&form](int) { form.CloseWithoutAsking(); };
        if (endAsked)
            QMetaObject::invokeMethod(
                &form, [&form] { form.CloseWithoutAsking(); }, Qt::QueuedConnection);
        // A session that ends (log-off, shut-down) may not wait for the window to close.
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&settingsFile, &form] {
            Guarded([&form] { form.SaveUnsavedJobs(); });
            SaveSettings(SettingsList(), settingsFile);
        });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &form,
                         [&form] { Guarded([&form] { form.SaveUnsavedJobs(); }); });
        QObject::connect(&form, &TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        form.show();
        exitCode = TApplication::exec();
        instance.OnSecondInstance = nullptr;
        watcher.OnSignal = nullptr;
    }
    SaveSettings(SettingsList(), settingsFile);
    return exitCode;
}
