// TForm1: creation, the tracer port's status, the intake of packets and traces, the
// deferred job handling, the filling of the job panel and the writing of the job trace file.
#include "app/Unit1.h"

#include "app/Application.h"
#include "app/NativePath.h"
#include "app/NumberEdit.h"
#include "app/core/CommLog.h"
#include "app/core/JobIntake.h"
#include "app/core/JobKeys.h"
#include "app/core/Settings.h"
#include "app/core/TextFile.h"
#include "app/dialogs/RecentJobsForm.h"
#include "app/port/TracerPort.h"
#include "common/FlagScope.h"
#include "handler/OMATracer.h"
#include "trace/TracePanel.h"

#include "ui_Unit1.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

constexpr int kSaveRetryIntervalMs = 5000;

const QString kReceivingData = QStringLiteral("Receiving data");
const QString kFileOnClipboard = QStringLiteral("The trace filename is on the clipboard for pasting");

// Records hold 8-bit text; the window shows it byte for byte.
QString FromRecord(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TForm1::TForm1(const QString& programFolder, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TForm1>()),
      FProgramFolder(QDir(programFolder.isEmpty() ? QStringLiteral(".") : programFolder).absolutePath()),
      FSession(LocalPath(FProgramFolder + QStringLiteral("/traces"))) {
    ui->setupUi(this);
    FCaption = windowTitle();
    SetApplicationTitle(FCaption);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // Designer stores fonts in points; the window's font is specified in pixels.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    setFont(font);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    for (int i = 0; i < ui->FrameTypeCombo->count(); ++i)
        ui->FrameTypeCombo->setItemData(i, FromRecord(std::string(kFrameTypeKeys.at(i))));
    for (int i = 0; i < ui->EdgeTypeCombo->count(); ++i)
        ui->EdgeTypeCombo->setItemData(i, FromRecord(std::string(kEdgeTypeKeys.at(i))));
    ui->FrameTypeCombo->setCurrentIndex(-1);
    ui->EdgeTypeCombo->setCurrentIndex(-1);

    // Enter moves to the next control like Tab: the window sees every key press first.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);

    FTracer = new TOMATracer(this);
    FTracer->OnRecvOMAPacket = [this](QObject*, std::string& packet) { OMATracer1RecvOMAPacket(packet); };
    FTracer->OnRecvOMATrace = [this](QObject*, const std::string&, PEyeRec rt, PEyeRec lt, double) {
        OMATracer1RecvOMATrace(rt, lt);
    };
    FTracer->OnSendOMAPacket = [this](QObject*, std::string& packet) { OMATracer1SendOMAPacket(packet); };
    FTracer->OnProtocolError = [this](QObject*, const std::string& message) { ProtocolError(message); };
    FTracer->OnLinkError = [this](QObject*, const std::string& message) { LinkError(message); };
    FPort = new TTracerPort(*FTracer, this);
    FPort->OnState = [this](const TLinkState& state) {
        if (state.Status != TPortStatus::Closed)
            ShowPortStatus(FromCoreText(PortStatusText(state)), state.Ready());
    };
    FTracer->OnRxDiscarded = [](QObject*, size_t length, TRxDiscard reason) {
        CommLog().Add(TCustomMachine::RxDiscardedText(length, reason));
    };

    FSaveRetryTimer = new QTimer(this);
    FSaveRetryTimer->setInterval(kSaveRetryIntervalMs);
    connect(FSaveRetryTimer, &QTimer::timeout, this, [this] { Guarded([this] { SaveRetryTimeout(); }); });
    // The tracer was told its jobs were fine: at the end, a job the traces folder would not take
    // is kept in a folder of the user's rather than lost.
    SetFallbackFolders(
        {QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/unsaved-jobs"),
         QDir::tempPath() + QStringLiteral("/tracer-interface-unsaved-jobs")});
    FJobFiles.OnAskReplace = [this](const std::string& existing, const std::string& keepBoth) {
        return AskReplace(existing, keepBoth);
    };
    FJobFiles.OnFlushWanted = [this] {
        QMetaObject::invokeMethod(
            this, [this] { Guarded([this] { FlushTraceFile(); }); }, Qt::QueuedConnection);
    };
    FJobFiles.Subscribe([this](const TJobFileEvent& event) {
        // The operator pastes it into a web form or drags it there; a job saved late or elsewhere
        // is not the one shown.
        if (event.Kind == TJobFileEvent::TKind::Written || event.Kind == TJobFileEvent::TKind::Opened) {
            QGuiApplication::clipboard()->setText(FromLocalPath(TJobFiles::ClipboardText(event.FileName)));
            FJobFileShown = QFileInfo(FromLocalPath(event.FileName)).absoluteFilePath();
        }
        // The list of recent jobs follows every file: a job saved late goes on top, a file
        // opened keeps its place, one saved elsewhere is outside the folder and ignored.
        if (FRecentJobs)
            FRecentJobs->JobFileWritten(event.FileName);
    });
    // A tracer that stayed on while the program restarted sends its jobs without naming itself.
    FSession.SetVendor(SettingsList().Value(setting::TracerVendor));

    // A value reaches the job when the operator has finished it, never keystroke by keystroke:
    // a half-typed 48.5 would first make a 4 mm lens.
    for (TNumberEdit* edit : {ui->BoxAEdit, ui->BoxBEdit, ui->CircEdit, ui->DBLEdit}) {
        connect(edit, &TNumberEdit::Finished, this, [this, edit] { Guarded([this, edit] { CircEditChange(edit); }); });
        connect(edit, &TNumberEdit::Stepped, this, [this, edit] { Guarded([this, edit] { CircEditChange(edit); }); });
    }
    for (QComboBox* list : {ui->FrameTypeCombo, ui->EdgeTypeCombo}) {
        // The wheel over the window must never change a type: only a list with the focus takes it.
        list->setFocusPolicy(Qt::StrongFocus);
        connect(list, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { FrameTypesChange(); }); });
    }
    connect(ui->OpenButton, &QPushButton::clicked, this, [this] { Guarded([this] { OpenButtonClick(); }); });
    connect(ui->SettingsButton, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(ui->MinimizeButton, &QPushButton::clicked, this, [this] { Guarded([this] { MinimizeButtonClick(); }); });
    connect(ui->HelpButton, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
    connect(ui->CloseButton, &QPushButton::clicked, this, [this] { Guarded([this] { CloseButtonClick(); }); });

    // Rewrites a killed program left unfinished; this program's own rewrites are all newer.
    RemoveStaleTempFiles(LocalPath(TracesFolder()), std::time(nullptr));
    // Said before the first job arrives rather than discovered when it is lost.
    if (const std::string problem = FolderWriteProblem(LocalPath(TracesFolder())); !problem.empty())
        FTracesProblem = QStringLiteral("Jobs cannot be saved in ") + QDir::toNativeSeparators(TracesFolder()) +
                         QStringLiteral(": ") + FromCoreText(problem) + QLatin1Char('.');
    FSettingsFile = FProgramFolder + QLatin1Char('/') + QString::fromLatin1(kSettingsFileName);

    SetUpShell();
    SetUpExport();
    ApplyPanelColours();
    SetStatus(QStringLiteral("Ready"));
    ui->JobGroupBox->setEnabled(false);
    OpenTracerPort();
}

TForm1::~TForm1() {
    // The controls outlive the job session while QWidget takes them down, and hiding them moves
    // the focus, which would report an edit finished to a session that is gone.
    for (QObject* control : std::initializer_list<QObject*>{ui->BoxAEdit, ui->BoxBEdit, ui->CircEdit, ui->DBLEdit,
                                                            ui->FrameTypeCombo, ui->EdgeTypeCombo})
        control->disconnect(this);
    // The operator's last change is written even when the window goes without being closed.
    FWindowGoing = true;
    try {
        FlushTraceFile();
    } catch (...) {
    }
    try {
        SaveUnsavedJobs();
    } catch (...) {
    }
    // The tracer's events point into this window; none may run while its port closes.
    FTracer->OnRecvOMAPacket = nullptr;
    FTracer->OnRecvOMATrace = nullptr;
    FTracer->OnSendOMAPacket = nullptr;
    FTracer->OnProtocolError = nullptr;
    FTracer->OnLinkError = nullptr;
    delete FPort;
    FTracer->OnRxDiscarded = nullptr;
    delete FTracer;
}

TTracePanel* TForm1::TracePanel1() const {
    return ui->TracePanel1;
}

QString TForm1::TracesFolder() const {
    return FProgramFolder + QStringLiteral("/traces");
}

bool TForm1::Reconnecting() const {
    return FPort->Retrying();
}

// ---- status ---------------------------------------------------------------------------------

void TForm1::SetStatus(const QString& text) {
    ui->StatusLabel->setText(text);
}

QString TForm1::StatusText() const {
    return ui->StatusLabel->text();
}

void TForm1::SetStatus(const QString& text, const QColor& colour, bool bold) {
    QPalette palette = ui->StatusLabel->palette();
    palette.setColor(QPalette::WindowText, colour);
    ui->StatusLabel->setPalette(palette);
    QFont font = ui->StatusLabel->font();
    font.setBold(bold);
    ui->StatusLabel->setFont(font);
    SetStatus(text);
}

void TForm1::ApplyPanelColours() {
    TTracePanel* panel = ui->TracePanel1;
    panel->BGColor = static_cast<uint32_t>(SettingInt(SettingsList(), setting::BackColor, setting::DefaultBackColor));
    panel->FillColor =
        static_cast<uint32_t>(SettingInt(SettingsList(), setting::TraceColor, setting::DefaultTraceColor));
    panel->update();
}

// ---- the tracer port ------------------------------------------------------------------------

void TForm1::OpenTracerPort() {
    FPort->Apply(TLinkSettings::Read(SettingsList()));
}

void TForm1::SetSettingsFile(const QString& fileName) {
    FSettingsFile = fileName;
    const QString folder = QFileInfo(fileName).absolutePath();
    const std::string problem = FolderWriteProblem(LocalPath(folder));
    FSettingsProblem = problem.empty()
                           ? QString()
                           : QStringLiteral("Settings cannot be saved in ") + QDir::toNativeSeparators(folder) +
                                 QStringLiteral(": ") + FromCoreText(problem) + QLatin1Char('.');
    ShowPortStatus(FPortText, FPortReady);
}

void TForm1::SettingsNotRead(const QString& reason) {
    const QString text =
        reason + QStringLiteral(". The default settings are used and saved in its place when the program ends.");
    CommLog().Add(text.toLocal8Bit().toStdString());
    SetStatus(text + QStringLiteral("  ") + StatusText(), Qt::red, true);
}

QString TForm1::SavingProblem() const {
    if (FTracesProblem.isEmpty() || FSettingsProblem.isEmpty())
        return FTracesProblem + FSettingsProblem;
    return FTracesProblem + QStringLiteral("  ") + FSettingsProblem;
}

QString TForm1::UnsavedProblem(const QString& reason) const {
    const std::size_t count = FJobFiles.UnsavedCount();
    return QStringLiteral("Jobs are not being saved: ") + QString::number(count) +
           (count == 1 ? QStringLiteral(" job") : QStringLiteral(" jobs")) + QStringLiteral(" not saved.  ") + reason +
           QStringLiteral("  Trying again every %1 seconds.").arg(kSaveRetryIntervalMs / 1000);
}

void TForm1::JobNotSaved(const QString& reason) {
    FTracesProblem = UnsavedProblem(reason);
    SetStatus(SavingProblem(), Qt::red, true);
    FSaveRetryTimer->start();
    // Jobs keep arriving while the message is open; each would stack one more box on it.
    if (FReportingUnsaved)
        return;
    const TFlagScope reporting(FReportingUnsaved);
    ReportError(reason);
}

std::vector<std::string> TForm1::RetryUnsavedJobs() {
    if (FJobFiles.UnsavedCount() == 0)
        return {};
    TUnsavedJobs::TRetry retry = FJobFiles.RetryUnsaved();
    if (FJobFiles.UnsavedCount() == 0) {
        FSaveRetryTimer->stop();
        FTracesProblem.clear();
    } else if (!retry.SavedLate.empty()) {
        FTracesProblem = UnsavedProblem(FromCoreText(retry.Problem));
    }
    return std::move(retry.SavedLate);
}

namespace {
QString SavedLateText(const std::vector<std::string>& numbers) {
    if (numbers.empty())
        return {};
    return (numbers.size() == 1 ? QStringLiteral("Saved late: job ") : QStringLiteral("Saved late: jobs ")) +
           FromRecord(JobNumberList(numbers)) + QLatin1Char('.');
}
} // namespace

void TForm1::SaveRetryTimeout() {
    const std::vector<std::string> savedLate = RetryUnsavedJobs();
    if (savedLate.empty())
        return;
    if (FJobFiles.UnsavedCount() == 0)
        SetStatus(SavedLateText(savedLate), Qt::black, false);
    else
        SetStatus(SavingProblem() + QStringLiteral("  ") + SavedLateText(savedLate), Qt::red, true);
}

void TForm1::HandleQueuedJobs() {
    // The tracer has its answer for these; their turn would come after the program has gone. The
    // message about jobs not saved is said once, below, not once for each.
    const TFlagScope quiet(FReportingUnsaved);
    while (FSession.QueuedJobs() > 0)
        WMTraceReady();
}

void TForm1::SaveUnsavedJobs(bool tellOperator) {
    HandleQueuedJobs();
    RetryUnsavedJobs();
    const std::size_t count = FJobFiles.UnsavedCount();
    if (count == 0)
        return;
    const TUnsavedJobs::TFallback fallback = FJobFiles.WriteUnsavedElsewhere();
    FSaveRetryTimer->stop();
    QStringList lines;
    if (!fallback.Files.empty()) {
        QStringList names;
        for (const std::string& file : fallback.Files)
            names << QDir::toNativeSeparators(FromLocalPath(file));
        lines << QString::number(fallback.Files.size()) +
                     (fallback.Files.size() == 1 ? QStringLiteral(" job that could not be saved in ")
                                                 : QStringLiteral(" jobs that could not be saved in ")) +
                     QDir::toNativeSeparators(TracesFolder()) + QStringLiteral(" were written to ") +
                     QDir::toNativeSeparators(FromLocalPath(fallback.Folder)) + QStringLiteral(": ") +
                     names.join(QStringLiteral(", "));
    }
    if (!fallback.Lost.empty())
        lines << QStringLiteral("Jobs lost, no folder would take them: ") + FromRecord(JobNumberList(fallback.Lost));
    for (const QString& line : lines) {
        SayOnTerminal(stderr, QStringLiteral("tracer-interface: ") + line + QLatin1Char('\n'));
        CommLog().Add(line.toStdString());
    }
    std::fflush(stderr);
    FTracesProblem.clear();
    SetStatus(lines.join(QStringLiteral("  ")), Qt::red, true);
    if (tellOperator)
        ReportError(lines.join(QLatin1Char('\n')));
}

void TForm1::ShowPortStatus(const QString& text, bool ready) {
    FPortText = text;
    FPortReady = ready;
    // A job that cannot be saved must never look saved: the folder's problem outlives "Ready".
    const QString problem = SavingProblem();
    if (!problem.isEmpty())
        SetStatus(problem + QStringLiteral("  ") + text, Qt::red, true);
    else
        SetStatus(text, ready ? QColor(Qt::black) : QColor(Qt::red), !ready);
}

void TForm1::ProtocolError(const std::string& message) {
    // One line however the message is made; the conversation goes on with the next packet.
    std::string line = message;
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    CommLog().Add(line);
}

void TForm1::LinkError(const std::string& message) {
    const QString text = FromCoreText(message);
    CommLog().Add(message);
    SetStatus(text, Qt::red, true);
}

// ---- intake ---------------------------------------------------------------------------------

void TForm1::OMATracer1RecvOMAPacket(std::string& packet) {
    // Only what the reply depends on, or what must be taken before the next packet, happens
    // before the tracer is answered: the log keeps the packet as it came (rendered when shown),
    // the job session takes in the vendor and the job. The window follows once it is answered.
    CommLog().AddPacket(TLogDirection::InFromTracer, packet);
    const TPacketIntake intake = FSession.PacketArrived(packet);
    if (intake.VendorChanged)
        SettingsList().SetValue(setting::TracerVendor, FSession.Vendor());
    FReceivingShown = false;
    ScheduleJobHandling();
}

void TForm1::OMATracer1RecvOMATrace(PEyeRec rtEye, PEyeRec ltEye) {
    FSession.TracesArrived(*rtEye, *ltEye);
    CommLog().Add(TraceReceivedEntry(rtEye->Radii.size(), ltEye->Radii.size()));
    ScheduleJobHandling();
}

void TForm1::OMATracer1SendOMAPacket(std::string& packet) {
    CommLog().AddPacket(TLogDirection::OutToTracer, packet);
}

void TForm1::ScheduleJobHandling() {
    // Handled once the protocol handler has answered the tracer: the status, the drawing and the
    // jobs. One pass handles one job, so the tracer's later packets are answered between the jobs
    // of a flood.
    if (FJobHandlingQueued)
        return;
    FJobHandlingQueued = true;
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { WMTraceReady(); }); }, Qt::QueuedConnection);
}

// ---- the job ---------------------------------------------------------------------------------

void TForm1::WMTraceReady() {
    FJobHandlingQueued = false;
    // What every packet shows, once the tracer has its answer.
    if (!FReceivingShown) {
        FReceivingShown = true;
        if (const QString problem = SavingProblem(); !problem.isEmpty())
            SetStatus(problem + QStringLiteral("  ") + kReceivingData, Qt::red, true);
        else
            SetStatus(kReceivingData);
        ui->TracePanel1->ShowShape(nullptr, 0);
    }
    // The next job's turn is taken before this one is handled: an error (or a message box that
    // runs its own event loop) must not strand the jobs behind it.
    if (FSession.QueuedJobs() > 1)
        ScheduleJobHandling();
    TJobUpdate update = FSession.TracerJobArrived();
    if (!update.Panel)
        return;
    if (!update.Write) {
        // Another vendor's tracer: the job shown is dropped and the panel disabled.
        Apply(update);
        if (update.NotTaken)
            JobNotTaken(*update.NotTaken);
        return;
    }
    const std::string job = FSession.Job().Value(jobkey::Job);
    // Jobs still waiting for the folder go first: this one may be a newer version of one of them.
    const std::vector<std::string> savedLate = RetryUnsavedJobs();
    // The file is written first: a job that cannot be saved is neither drawn, shown nor
    // announced, but kept until the folder takes it.
    const std::string fileName = update.Write->FileName;
    const bool shortened = update.Write->NameShortened;
    if (const std::string problem = FJobFiles.WriteTracerJob(std::move(*update.Write)); !problem.empty()) {
        JobNotSaved(FromCoreText(problem));
        return;
    }
    update.Write.reset();
    Apply(update);
    if (FJobFiles.UnsavedCount() == 0 && !FTracesProblem.isEmpty()) {
        FTracesProblem.clear();
        ShowPortStatus(FPortText, FPortReady);
    }
    if (!isVisible() || isMinimized())
        AnnounceJob(FromRecord(job));
    if (job.empty() || shortened) {
        SetStatus((job.empty() ? QStringLiteral("The job had no job number: saved as ")
                               : QStringLiteral("The job number is too long for a file name: saved as ")) +
                  FromLocalPath(fileName.substr(fileName.rfind('/') + 1)));
    } else {
        SetStatus(kFileOnClipboard);
    }
    if (FJobFiles.UnsavedCount() != 0)
        SetStatus(SavingProblem() + QStringLiteral("  ") + StatusText(), Qt::red, true);
    if (!savedLate.empty())
        SetStatus(StatusText() + QStringLiteral("  ") + SavedLateText(savedLate));
}

void TForm1::JobNotTaken(const TJobNotTaken& job) {
    // Answered "No Error" by the protocol, so never dropped without a word.
    const std::string vendor = job.Vendor.empty() ? std::string("no vendor named") : "vendor " + job.Vendor;
    CommLog().Add("Job " + job.JobNumber + " not taken in: " + vendor + " (jobs are taken in from " +
                  std::string(kJobVendor) + " only)");
    const QString why = job.Vendor.empty() ? QStringLiteral("the tracer has not named its vendor")
                                           : QStringLiteral("the tracer's vendor is ") + FromRecord(job.Vendor);
    const QString text = QStringLiteral("Job ") + FromRecord(job.JobNumber) + QStringLiteral(" was not taken in: ") +
                         why + QStringLiteral("; jobs are taken in from ") + FromRecord(std::string(kJobVendor)) +
                         QStringLiteral(" only.");
    // Jobs still waiting for the folder are not forgotten for it.
    const QString problem = SavingProblem();
    SetStatus(problem.isEmpty() ? text : problem + QStringLiteral("  ") + text, Qt::red, true);
}

void TForm1::Apply(const TJobUpdate& update, TNumberEdit* typedIn, bool writeNow) {
    if (update.Draw) {
        ui->TracePanel1->DrawEye = deRight;
        ui->TracePanel1->ShowShape(update.Draw->Shape, update.Draw->DBL, update.Draw->Left);
    }
    if (update.Panel) {
        ShowJob(*update.Panel);
        ShowExportState();
    }
    if (update.Values)
        ShowValues(*update.Values);
    if (update.FrameKey) {
        const TJobSession::TUpdating updating(FSession);
        SelectKey(ui->FrameTypeCombo, update.FrameKey);
    }
    // Written once the window shows the job: writing an opened job may ask the operator whether
    // it replaces a saved one, and the answer is given looking at the job it is about.
    if (update.Write) {
        if (writeNow)
            ShowWriteNote(FJobFiles.WriteNow(*update.Write));
        else
            FJobFiles.Write(*update.Write);
    }
    if (!update.Problem.empty())
        ShowEditProblem(FromRecord(update.Problem));
    else if (typedIn && update.Write && FEditProblemShown) {
        FEditProblemShown = false;
        SetStatus(kFileOnClipboard);
    }
}

void TForm1::ShowJob(const TJobPanel& panel) {
    ui->JobGroupBox->setEnabled(!panel.JobNumber.empty());
    if (panel.JobNumber.empty())
        return;
    const bool allowMod = SettingYes(SettingsList(), setting::AllowMod);
    for (QWidget* control :
         std::initializer_list<QWidget*>{ui->BoxAEdit, ui->BoxBEdit, ui->CircEdit, ui->LockBCheckBox})
        control->setEnabled(allowMod);
    ui->JobGroupBox->setTitle(QStringLiteral(" Tracer job ") + FromRecord(panel.JobNumber) + QStringLiteral(" "));
    {
        // The job session has written the job with these selections already.
        const TJobSession::TUpdating updating(FSession);
        ShowValues({panel.Measures, panel.DBL});
        SelectKey(ui->FrameTypeCombo, panel.FrameKey);
        SelectKey(ui->EdgeTypeCombo, panel.EdgeKey);
    }
    FEditProblemShown = false;
    if (isVisible() && ui->JobGroupBox->isEnabled())
        ui->DBLEdit->setFocus();
}

void TForm1::SelectKey(QComboBox* list, const std::optional<std::string>& key) {
    list->setCurrentIndex(key ? list->findData(FromRecord(*key)) : -1);
}

std::optional<std::string> TForm1::SelectedKey(const QComboBox* list) {
    if (list->currentIndex() < 0)
        return std::nullopt;
    return list->currentData().toString().toStdString();
}

TReplaceAnswer TForm1::AskReplace(const std::string& existing, const std::string& keepBothName) {
    // A window that is going can ask no more; keeping both replaces nothing and loses nothing.
    if (FWindowGoing)
        return TReplaceAnswer::KeepBoth;
    const QString held = QDir::toNativeSeparators(FromLocalPath(existing));
    const QString beside = QDir::toNativeSeparators(FromLocalPath(keepBothName));
    if (OnAskReplace)
        return OnAskReplace(held, beside);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Replace Saved Job?"),
                    QStringLiteral("%1 holds another job than the one opened.\n\nReplace it with the opened job, "
                                   "keep both (the opened job is saved as %2), or do not save the opened job?")
                        .arg(held, QFileInfo(beside).fileName()),
                    QMessageBox::NoButton, this);
    QPushButton* replace = box.addButton(QStringLiteral("&Replace"), QMessageBox::DestructiveRole);
    QPushButton* keepBoth = box.addButton(QStringLiteral("&Keep Both"), QMessageBox::AcceptRole);
    QPushButton* dontWrite = box.addButton(QStringLiteral("&Do Not Save"), QMessageBox::RejectRole);
    // The safe choice is the one Enter takes; closing the box replaces nothing.
    box.setDefaultButton(keepBoth);
    box.setEscapeButton(dontWrite);
    box.exec();
    if (box.clickedButton() == replace)
        return TReplaceAnswer::Replace;
    if (box.clickedButton() == keepBoth)
        return TReplaceAnswer::KeepBoth;
    return TReplaceAnswer::DoNotWrite;
}

void TForm1::FlushTraceFile() {
    ShowWriteNote(FJobFiles.Flush());
}

void TForm1::ShowWriteNote(const std::string& note) {
    if (!note.empty())
        SetStatus(FromCoreText(note));
}

void TForm1::SetFallbackFolders(const QStringList& folders) {
    std::vector<std::string> local;
    for (const QString& folder : folders)
        local.push_back(LocalPath(folder));
    FJobFiles.SetFallbackFolders(std::move(local));
}

// ---- keys -------------------------------------------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (DragFilter(watched, event))
        return true;
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // The value is finished also where the focus has nowhere to move.
            for (QObject* at = watched; at; at = at->parent())
                if (auto* edit = qobject_cast<TNumberEdit*>(at))
                    edit->FinishTyping();
            focusNextChild();
            return true;
        }
    }
    if (event->type() == QEvent::Wheel) {
        // A list changes by the wheel only while it has the keyboard focus.
        for (QObject* at = watched; at; at = at->parent())
            if (auto* list = qobject_cast<QComboBox*>(at); list && !list->hasFocus())
                return true;
    }
    return QWidget::eventFilter(watched, event);
}
