// TForm1: creation, the tracer port and the lost line, the intake of packets and traces, the
// deferred job handling, the filling of the job panel and the writing of the job trace file.
#include "app/Unit1.h"

#include "app/Application.h"
#include "app/FlagScope.h"
#include "app/NativePath.h"
#include "app/NumberEdit.h"
#include "app/core/CommLog.h"
#include "app/core/JobFile.h"
#include "app/core/JobIntake.h"
#include "app/core/Settings.h"
#include "app/core/TextFile.h"
#include "common/Numbers.h"
#include "handler/OMATracer.h"
#include "link/Comms.h"
#include "trace/TracePanel.h"
#include "trace/TrceCalc.h"

#include "ui_Unit1.h"

#include <cerrno>
#include <unistd.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>

#include <optional>
#include <ctime>

namespace {

// The keys of the type lists' items, in item order.
const char* const kFrameKeys[] = {"1", "2", "3"};
const char* const kEdgeKeys[] = {"-1", "1", "2", "3", "4"};

constexpr int kReconnectIntervalMs = 2000;

const QString kReadyOnPort = QStringLiteral("Ready on port ");
const QString kCannotOpenPort = QStringLiteral("Cannot open tracer COM port.  Please see Settings.");
// Serial devices belong to the group dialout; an operator outside it is told which group to join.
const QString kPortPermissionDenied = QStringLiteral(
    "Cannot open tracer COM port: permission denied.  Ask to join the group dialout, then log in again.");
const QString kReceivingData = QStringLiteral("Receiving data");
const QString kFileOnClipboard = QStringLiteral("The trace filename is on the clipboard for pasting");

// Records hold 8-bit text; the window shows it byte for byte.
QString FromRecord(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The DBL record in millimetres. The tracer writes a full stop whatever the workstation's
// separator is, the DBL edit writes the user's; both are read.
bool ReadDBLRecord(const TRecordList& job, double& dbl) {
    return TryStrToFloatFromDevice(job.Value("DBL"), dbl);
}

} // namespace

TForm1::TForm1(const QString& programFolder, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TForm1>()),
      FProgramFolder(QDir(programFolder.isEmpty() ? QStringLiteral(".") : programFolder).absolutePath()) {
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
        ui->FrameTypeCombo->setItemData(i, QString::fromLatin1(kFrameKeys[i]));
    for (int i = 0; i < ui->EdgeTypeCombo->count(); ++i)
        ui->EdgeTypeCombo->setItemData(i, QString::fromLatin1(kEdgeKeys[i]));
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
    // program's own writes (ignored while FUpdating is set), an emptied text included.
    for (TNumberEdit* edit : {ui->BoxAEdit, ui->BoxBEdit, ui->CircEdit, ui->DBLEdit})
        connect(edit, &TNumberEdit::Changed, this, [this, edit] { Guarded([this, edit] { CircEditChange(edit); }); });
    for (QComboBox* list : {ui->FrameTypeCombo, ui->EdgeTypeCombo})
        connect(list, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { FrameTypesChange(); }); });
    connect(ui->OpenButton, &QPushButton::clicked, this, [this] { Guarded([this] { OpenButtonClick(); }); });
    connect(ui->SettingsButton, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(ui->MinimizeButton, &QPushButton::clicked, this, [this] { Guarded([this] { MinimizeButtonClick(); }); });
    connect(ui->HelpButton, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
    connect(ui->CloseButton, &QPushButton::clicked, this, [this] { Guarded([this] { CloseButtonClick(); }); });

    // Rewrites a killed program left unfinished; this program's own rewrites are all newer.
    RemoveStaleTempFiles(LocalPath(TracesFolder()), std::time(nullptr));

    SetUpShell();
    ApplyPanelColours();
    SetStatus(QStringLiteral("Ready"));
    ui->JobGroupBox->setEnabled(false);
    OpenTracerPort();
}

TForm1::~TForm1() {
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

bool TForm1::ActivatePort() {
    try {
        ApplyPortSettings();
        FTracer->SetActive(true);
    } catch (...) {
        return false;
    }
    FReconnectTimer->stop();
    SetStatus(kReadyOnPort + QString::fromStdString(SettingsList().Value(setting::TracerCOMPort)), Qt::black, false);
    return true;
}

void TForm1::OpenTracerPort() {
    if (ActivatePort())
        return;
    const std::string port = SettingsList().Value(setting::TracerCOMPort);
    const bool denied = port.starts_with('/') && ::access(port.c_str(), F_OK) == 0 &&
                        ::access(port.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
    SetStatus(denied ? kPortPermissionDenied : kCannotOpenPort, Qt::red, true);
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
    SetStatus(message, Qt::red, true);
    // A loss reported while the settings dialog has closed the port is that dialog's to settle: it
    // reopens the port when it closes, and retrying meanwhile would fight its probe for the line.
    if (FInSettings)
        return;
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

    const TRecordList lines = PacketToRecords(packet);
    FindVendor(lines, FVendor);
    if (!lines.Value("JOB").empty()) {
        FJob.Assign(lines);
        CaptureTraceFormats();
    }
    if (FVendor != kJobVendor) {
        FJob.Clear();
        FRtTraceFmt.clear();
        FLtTraceFmt.clear();
        ShowJob();
    }
}

void TForm1::OMATracer1RecvOMATrace(PEyeRec rtEye, PEyeRec ltEye) {
    FJob.SetValue("_RtTrace", rtEye->Radii);
    FJob.SetValue("_RtZData", rtEye->ZData);
    FJob.SetValue("_LtTrace", ltEye->Radii);
    FJob.SetValue("_LtZData", ltEye->ZData);
    CommLog().Add(TraceReceivedEntry(rtEye->Radii.size(), ltEye->Radii.size()));
    FBaseTraces.Clear();
    FBaseTraces.SetValue("_RtTrace", rtEye->Radii);
    FBaseTraces.SetValue("_RtZData", rtEye->ZData);
    FBaseTraces.SetValue("_LtTrace", ltEye->Radii);
    FBaseTraces.SetValue("_LtZData", ltEye->ZData);
    // Handled once the protocol handler has answered the tracer.
    PostTraceReady(0);
}

void TForm1::OMATracer1SendOMAPacket(std::string& packet) {
    CommLog().Add(OutToTracerEntry(TOMATracer::RenderPacket(packet)));
}

void TForm1::PostTraceReady(int param) {
    QMetaObject::invokeMethod(
        this, [this, param] { Guarded([this, param] { WMTraceReady(param); }); }, Qt::QueuedConnection);
}

void TForm1::CaptureTraceFormats() {
    const TTraceFormats formats = ::CaptureTraceFormats(FJob);
    FRtTraceFmt = formats.Rt;
    FLtTraceFmt = formats.Lt;
}

// ---- the job ---------------------------------------------------------------------------------

void TForm1::WMTraceReady(int param) {
    if (param == 0 && FVendor != kJobVendor)
        return;
    FShapeModified = false;
    Redraw();

    FJob.SetValue("JOB", CleanJobDigits(FJob.Value("JOB")));
    std::string fileName;
    if (param == 0)
        fileName = WriteTraceFile(FJob);
    ShowJob(param != 0);
    if (param != 0)
        return;
    if (!isVisible() || isMinimized())
        AnnounceJob(FromRecord(FJob.Value("JOB")));
    if (FJob.Value("JOB").empty())
        SetStatus(QStringLiteral("The job had no job number: saved as ") +
                  FromLocalPath(fileName.substr(fileName.rfind('/') + 1)));
    else
        SetStatus(kFileOnClipboard);
}

void TForm1::Redraw() {
    ui->TracePanel1->DrawEye = deRight;
    double dbl = 0;
    if (!ReadDBLRecord(FJob, dbl))
        dbl = 0;
    ui->TracePanel1->ShowTrace(FJob.Value("_RtTrace"), dbl);
}

void TForm1::ShowJob(bool opened) {
    const std::string job = FJob.Value("JOB");
    ui->JobGroupBox->setEnabled(!job.empty());
    if (job.empty())
        return;
    const bool allowMod = SettingYes(SettingsList(), setting::AllowMod);
    for (QWidget* control :
         std::initializer_list<QWidget*>{ui->BoxAEdit, ui->BoxBEdit, ui->CircEdit, ui->LockBCheckBox})
        control->setEnabled(allowMod);
    ui->JobGroupBox->setTitle(QStringLiteral(" Tracer job ") + FromRecord(job) + QStringLiteral(" "));
    {
        TFlagScope updating(FUpdating);
        TTraceCalc calc;
        const std::string rt = FJob.Value("_RtTrace");
        calc.SetTrace(rt.empty() ? FJob.Value("_LtTrace") : rt);
        ui->BoxAEdit->setValue(calc.BoxA());
        ui->BoxBEdit->setValue(calc.BoxB());
        ui->CircEdit->setValue(calc.Circumference());
        double dbl = 0;
        if (ReadDBLRecord(FJob, dbl))
            ui->DBLEdit->setValue(dbl);
        else
            ui->DBLEdit->clear();
    }
    // Outside FUpdating: a selection that changes rewrites the job trace file.
    SelectKey(ui->FrameTypeCombo, FJob.Value("FTYP"), opened);
    SelectKey(ui->EdgeTypeCombo, FJob.Value("ETYP"), opened);
    if (isVisible() && ui->JobGroupBox->isEnabled())
        ui->DBLEdit->setFocus();
}

void TForm1::SelectKey(QComboBox* list, const std::string& record, bool quietClear) {
    int index = -1;
    if (!(record < "0"))
        index = list->findData(FromRecord(record));
    // A file without the type record has nothing to say about the type: clearing the selection
    // for it is no change of the job and writes no file.
    std::optional<TFlagScope> quiet;
    if (index < 0 && quietClear)
        quiet.emplace(FUpdating);
    list->setCurrentIndex(index);
}

QString TForm1::SelectedKey(const QComboBox* list) const {
    return list->currentIndex() < 0 ? QString() : list->currentData().toString();
}

std::string TForm1::WriteTraceFile(const TRecordList& job) {
    TJobFileInputs inputs;
    inputs.RtTraceFmt = FRtTraceFmt;
    inputs.LtTraceFmt = FLtTraceFmt;
    inputs.ShapeModified = FShapeModified;
    if (ui->FrameTypeCombo->currentIndex() >= 0)
        inputs.FrameKey = SelectedKey(ui->FrameTypeCombo).toStdString();
    if (ui->EdgeTypeCombo->currentIndex() >= 0)
        inputs.EdgeKey = SelectedKey(ui->EdgeTypeCombo).toStdString();
    const TRecordList records = BuildTraceFileRecords(job, inputs);
    const std::string fileName = TraceFileName(LocalPath(TracesFolder()), job);
    SaveTraceFile(fileName, records);
    // The operator pastes it into a web form: in the system's own notation (C:\...\123.txt).
    QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(FromLocalPath(fileName)));
    return fileName;
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
