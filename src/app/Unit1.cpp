// TForm1: creation, the tracer port and the lost line, the intake of packets and traces, the
// deferred job handling, the filling of the job panel and the writing of the job trace file.
#include "app/Unit1.h"

#include "app/Application.h"
#include "app/FlagScope.h"
#include "app/NativePath.h"
#include "app/NumberEdit.h"
#include "app/core/CommLog.h"
#include "app/core/JobKeys.h"
#include "app/core/Settings.h"
#include "app/core/TextFile.h"
#include "handler/OMATracer.h"
#include "link/Comms.h"
#include "link/PortList.h"
#include "trace/TracePanel.h"

#include "ui_Unit1.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>

#include <ctime>

namespace {

constexpr int kReconnectIntervalMs = 3000;

const QString kReadyOnPort = QStringLiteral("Ready on port ");
const QString kCannotOpenPort = QStringLiteral("Cannot open tracer COM port.  Please see Settings.");
const QString kRetrying = QStringLiteral("  Trying again every %1 seconds.").arg(kReconnectIntervalMs / 1000);
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
    FTracer->SetPortType(ptSerialPort);
    FTracer->SetPortNumber(0);
    FTracer->OnRecvOMAPacket = [this](QObject*, std::string& packet) { OMATracer1RecvOMAPacket(packet); };
    FTracer->OnRecvOMATrace = [this](QObject*, const std::string&, PEyeRec rt, PEyeRec lt, double) {
        OMATracer1RecvOMATrace(rt, lt);
    };
    FTracer->OnSendOMAPacket = [this](QObject*, std::string& packet) { OMATracer1SendOMAPacket(packet); };
    FTracer->OnProtocolError = [this](QObject*, const std::string& message) { ProtocolError(message); };
    FTracer->OnLinkError = [this](QObject*, const std::string& message) { LinkError(message); };
    FTracer->OnRxDiscarded = [this](QObject*, size_t length) {
        CommLog().Add("Discarded " + std::to_string(length) + " characters received without a complete packet (limit " +
                      std::to_string(TCustomMachine::MaxRxBuffer) + ")");
    };

    FReconnectTimer = new QTimer(this);
    FReconnectTimer->setInterval(kReconnectIntervalMs);
    connect(FReconnectTimer, &QTimer::timeout, this, [this] { Guarded([this] { TryReconnect(); }); });

    // Every change of the number edits' text is one change: keystrokes, up/down steps and the
    // program's own writes (which the job session ignores), an emptied text included.
    for (TNumberEdit* edit : {ui->BoxAEdit, ui->BoxBEdit, ui->CircEdit, ui->DBLEdit}) {
        connect(edit, &TNumberEdit::Changed, this, [this, edit] { Guarded([this, edit] { CircEditChange(edit); }); });
        connect(edit, &TNumberEdit::Stepped, this,
                [this, edit] { Guarded([this, edit] { CircEditChange(edit, true); }); });
        connect(edit, &QAbstractSpinBox::editingFinished, this,
                [this, edit] { Guarded([this, edit] { CircEditFinished(edit); }); });
    }
    for (QComboBox* list : {ui->FrameTypeCombo, ui->EdgeTypeCombo})
        connect(list, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { FrameTypesChange(); }); });
    connect(ui->OpenButton, &QPushButton::clicked, this, [this] { Guarded([this] { OpenButtonClick(); }); });
    connect(ui->SettingsButton, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(ui->MinimizeButton, &QPushButton::clicked, this, [this] { Guarded([this] { MinimizeButtonClick(); }); });
    connect(ui->HelpButton, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
    connect(ui->CloseButton, &QPushButton::clicked, this, [this] { Guarded([this] { CloseButtonClick(); }); });

    // Rewrites a killed program left unfinished; this program's own rewrites are all newer.
    RemoveStaleTempFiles(LocalPath(TracesFolder()), std::time(nullptr));
    // Said before the first job arrives rather than discovered when it is lost.
    if (const std::string problem = FolderWriteProblem(LocalPath(TracesFolder())); !problem.empty())
        FTracesProblem = QStringLiteral("Jobs cannot be saved in ") + TracesFolder() + QStringLiteral(": ") +
                         QString::fromLocal8Bit(problem.c_str()) + QLatin1Char('.');
    FSettingsFile = FProgramFolder + QLatin1Char('/') + QString::fromLatin1(kSettingsFileName);

    SetUpShell();
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
    try {
        FlushTraceFile();
    } catch (...) {
    }
    // The tracer's events point into this window; none may run while its port closes.
    FTracer->OnRecvOMAPacket = nullptr;
    FTracer->OnRecvOMATrace = nullptr;
    FTracer->OnSendOMAPacket = nullptr;
    FTracer->OnProtocolError = nullptr;
    FTracer->OnLinkError = nullptr;
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
    return FReconnectTimer->isActive();
}

// ---- status ---------------------------------------------------------------------------------

void TForm1::SetStatus(const QString& text) {
    ui->StatusLabel->setText(text);
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

void TForm1::ApplyPortSettings() {
    FTracer->ComPort()->SetPort(SettingsList().Value(setting::TracerCOMPort));
    FTracer->ComPort()->SetBaudRate(SettingInt(SettingsList(), setting::BaudRate, setting::DefaultBaudRate));
}

bool TForm1::ActivatePort(std::string* failure) {
    try {
        ApplyPortSettings();
        FTracer->SetActive(true);
    } catch (const std::exception& e) {
        if (failure)
            *failure = e.what();
        return false;
    } catch (...) {
        return false;
    }
    FReconnectTimer->stop();
    ShowPortStatus(kReadyOnPort + QString::fromStdString(SettingsList().Value(setting::TracerCOMPort)), true);
    return true;
}

void TForm1::OpenTracerPort() {
    std::string failure;
    if (ActivatePort(&failure))
        return;
    const std::string port = SettingsList().Value(setting::TracerCOMPort);
    // What the operator can act on (a group to join, another program to end) is said; anything
    // else sends the operator to Settings.
    QString text = kCannotOpenPort;
    const std::string prefix = "Unable to open " + port + ": ";
    if (!port.empty() && failure.starts_with(prefix)) {
        const std::string reason = failure.substr(prefix.size());
        if (reason == kPortInUseReason || reason.starts_with(kNoPermissionStart))
            text = QStringLiteral("Cannot open tracer COM port ") + FromRecord(port) + QStringLiteral(": ") +
                   QString::fromStdString(reason) + QLatin1Char('.');
    }
    // A named port may well appear later (an adapter plugged in, a simulator started): it is tried
    // again quietly until it opens.
    if (!port.empty()) {
        text += kRetrying;
        FReconnectTimer->start();
    }
    ShowPortStatus(text, false);
}

void TForm1::SetSettingsFile(const QString& fileName) {
    FSettingsFile = fileName;
    const QString folder = QFileInfo(fileName).absolutePath();
    const std::string problem = FolderWriteProblem(LocalPath(folder));
    FSettingsProblem = problem.empty()
                           ? QString()
                           : QStringLiteral("Settings cannot be saved in ") + folder + QStringLiteral(": ") +
                                 QString::fromLocal8Bit(problem.c_str()) + QLatin1Char('.');
    ShowPortStatus(FPortText, FPortReady);
}

QString TForm1::SavingProblem() const {
    if (FTracesProblem.isEmpty() || FSettingsProblem.isEmpty())
        return FTracesProblem + FSettingsProblem;
    return FTracesProblem + QStringLiteral("  ") + FSettingsProblem;
}

void TForm1::JobNotSaved(const QString& reason) {
    ++FUnsavedJobs;
    FTracesProblem = QStringLiteral("Jobs are not being saved: ") + QString::number(FUnsavedJobs) +
                     (FUnsavedJobs == 1 ? QStringLiteral(" job") : QStringLiteral(" jobs")) +
                     QStringLiteral(" not saved.  ") + reason;
    SetStatus(SavingProblem(), Qt::red, true);
    // Jobs keep arriving while the message is open; each would stack one more box on it.
    if (FReportingUnsaved)
        return;
    const TFlagScope reporting(FReportingUnsaved);
    ReportError(reason);
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
    const QString text = QString::fromLocal8Bit(message.c_str());
    CommLog().Add(message);
    if (IsConnectionLost(message)) {
        LineLost(text);
        return;
    }
    SetStatus(text, Qt::red, true);
}

void TForm1::LineLost(const QString& message) {
    // The operator learns that nothing needs doing: the line comes back by itself when it can.
    ShowPortStatus(message + (message.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")) + kRetrying, false);
    // The report comes from inside the port's own delivery: it is closed once that has returned.
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { FTracer->SetActive(false); }); }, Qt::QueuedConnection);
    FReconnectTimer->start();
}

void TForm1::TryReconnect() {
    // While the line is still gone the lost-line message stays and the timer tries again.
    try {
        FTracer->SetActive(false);
    } catch (...) {
        return;
    }
    ActivatePort();
}

// ---- intake ---------------------------------------------------------------------------------

void TForm1::OMATracer1RecvOMAPacket(std::string& packet) {
    CommLog().Add(InFromTracerEntry(TOMATracer::RenderPacket(packet)));
    SetStatus(kReceivingData);
    ui->TracePanel1->ShowTrace(std::string(), 0);
    Apply(FSession.PacketArrived(packet));
}

void TForm1::OMATracer1RecvOMATrace(PEyeRec rtEye, PEyeRec ltEye) {
    FSession.TracesArrived(*rtEye, *ltEye);
    CommLog().Add(TraceReceivedEntry(rtEye->Radii.size(), ltEye->Radii.size()));
    // Handled once the protocol handler has answered the tracer.
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { WMTraceReady(); }); }, Qt::QueuedConnection);
}

void TForm1::OMATracer1SendOMAPacket(std::string& packet) {
    CommLog().Add(OutToTracerEntry(TOMATracer::RenderPacket(packet)));
}

// ---- the job ---------------------------------------------------------------------------------

void TForm1::WMTraceReady() {
    const TJobUpdate update = FSession.TracerJobArrived();
    if (!update.Panel)
        return; // a tracer whose jobs are not taken in
    // The file is written first: a job that cannot be saved is neither shown nor announced.
    try {
        Apply(update, nullptr, true);
    } catch (const std::exception& e) {
        JobNotSaved(QString::fromLocal8Bit(e.what()));
        return;
    }
    if (FUnsavedJobs > 0 || !FTracesProblem.isEmpty()) {
        FUnsavedJobs = 0;
        FTracesProblem.clear();
        ShowPortStatus(FPortText, FPortReady);
    }
    const std::string job = FSession.Job().Value(jobkey::Job);
    if (!isVisible() || isMinimized())
        AnnounceJob(FromRecord(job));
    if (job.empty() && update.Write) {
        const std::string& fileName = update.Write->FileName;
        SetStatus(QStringLiteral("The job had no job number: saved as ") +
                  FromLocalPath(fileName.substr(fileName.rfind('/') + 1)));
    } else {
        SetStatus(kFileOnClipboard);
    }
}

void TForm1::Apply(const TJobUpdate& update, TNumberEdit* typedIn, bool writeNow) {
    if (update.Draw) {
        ui->TracePanel1->DrawEye = deRight;
        ui->TracePanel1->ShowTrace(update.Draw->Trace, update.Draw->DBL);
    }
    if (update.Write) {
        if (writeNow) {
            // Another job's rewrite still waiting goes first; it is a file of its own.
            FlushTraceFile();
            WriteTraceFile(*update.Write);
        } else {
            QueueTraceFile(*update.Write);
        }
    }
    if (update.Panel)
        ShowJob(*update.Panel);
    if (update.Measures) {
        // The edit typed in keeps the operator's text; the other two follow the shape.
        const TJobSession::TUpdating updating(FSession);
        const std::pair<TNumberEdit*, double> values[] = {{ui->BoxAEdit, update.Measures->BoxA},
                                                          {ui->BoxBEdit, update.Measures->BoxB},
                                                          {ui->CircEdit, update.Measures->Circumference}};
        for (const auto& [edit, value] : values)
            if (edit != typedIn)
                edit->setValue(value);
    }
    if (!update.Problem.empty())
        ShowEditProblem(FromRecord(update.Problem));
    else if (typedIn && FEditProblemShown) {
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
        ui->BoxAEdit->setValue(panel.Measures.BoxA);
        ui->BoxBEdit->setValue(panel.Measures.BoxB);
        ui->CircEdit->setValue(panel.Measures.Circumference);
        if (panel.DBL)
            ui->DBLEdit->setValue(*panel.DBL);
        else
            ui->DBLEdit->clear();
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

void TForm1::WriteTraceFile(const TJobFileWrite& file) {
    SaveTraceFile(file.FileName, file.Records);
    // The operator pastes it into a web form: in the system's own notation (C:\...\123.txt).
    QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(FromLocalPath(file.FileName)));
}

void TForm1::QueueTraceFile(TJobFileWrite file) {
    FPendingWrite = std::move(file);
    if (FFlushQueued)
        return;
    FFlushQueued = true;
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { FlushTraceFile(); }); }, Qt::QueuedConnection);
}

void TForm1::FlushTraceFile() {
    FFlushQueued = false;
    if (!FPendingWrite)
        return;
    const TJobFileWrite file = std::move(*FPendingWrite);
    FPendingWrite.reset();
    WriteTraceFile(file);
}

// ---- keys -------------------------------------------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
