// TForm1: the main window. It owns the tracer component on a serial port, the trace panel and the
// job panel; takes in jobs from the tracer, shows and edits them and has each one written as a job
// trace file whose name goes on the clipboard. The job itself lives in TJobSession (app/core); this
// class wires it to the controls and does the writing. Its handlers are split by concern: intake and showing
// (Unit1.cpp), shape editing and import (Unit1Edit.cpp), tray, close, help and settings (Unit1Shell.cpp).
#pragma once

#include "app/core/JobSession.h"
#include "app/core/UnsavedJobs.h"
#include "common/RecordList.h"
#include "protocol/TraceFormats.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class TForm1;
}
class QCloseEvent;
class QColor;
class QComboBox;
class QTimer;
class TNumberEdit;
class TOMATracer;
class TTracePanel;
class TTrayIcon;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // `programFolder` holds settings.txt, the traces folder and the help file.
    explicit TForm1(const QString& programFolder, QWidget* parent = nullptr);
    ~TForm1() override;

    // Operations the other parts of the program use.
    void OpenTracerPort();
    void MinimizeToTray();
    void RestoreFromTray();
    // Closes the window without the close confirmation (a termination signal).
    void CloseWithoutAsking();
    // Writes a job trace file still waiting for the end of the event-loop pass.
    void FlushTraceFile();

    // Handlers, named after the component and the event or the control and the action.
    void OMATracer1RecvOMAPacket(std::string& packet);
    void OMATracer1RecvOMATrace(PEyeRec rtEye, PEyeRec ltEye);
    void OMATracer1SendOMAPacket(std::string& packet);
    // What the window shows of the packets taken in and the oldest job waiting, once the
    // protocol handler has answered the tracer.
    void WMTraceReady();
    void WMShowLog();
    // The operator finished a value in a number edit (Enter, Tab, leaving it, an up/down step):
    // it is applied to the job, or the edit shows the job's value again and the status says why.
    void CircEditChange(TNumberEdit* sender);
    void FrameTypesChange();
    void OpenButtonClick();
    void Button1Click();
    void MinimizeButtonClick() { MinimizeToTray(); }
    void BitBtn1Click();
    void CloseButtonClick();

    TOMATracer* OMATracer1() const { return FTracer; }
    TTracePanel* TracePanel1() const;
    const TJobSession& Session() const { return FSession; }
    const TRecordList& Job() const { return FSession.Job(); }
    bool ShapeModified() const { return FSession.ShapeModified(); }
    const std::string& Vendor() const { return FSession.Vendor(); }
    QString TracesFolder() const;
    // True while the port cannot be opened or the line is lost, and the port is tried again every
    // three seconds.
    bool Reconnecting() const;
    // Where settings.txt is written at the end; shown in the settings dialog. A folder that cannot
    // be written is reported in the status at once.
    void SetSettingsFile(const QString& fileName);
    const QString& SettingsFile() const { return FSettingsFile; }
    // Jobs that could not be saved yet; each is tried again every few seconds and before each
    // later job.
    int UnsavedJobs() const { return FUnsavedJobs; }
    // At the end (close, termination signal, end of the desktop session): jobs still unsaved are
    // written to the first fallback folder that takes them, said on stderr, in the log and, when
    // `tellOperator`, in a message.
    void SaveUnsavedJobs(bool tellOperator = false);
    // Where unsaved jobs go at the end; by default the user's application data folder, then the
    // temporary folder.
    void SetFallbackFolders(const QStringList& folders) { FFallbackFolders = folders; }
    const QStringList& FallbackFolders() const { return FFallbackFolders; }

    // Where the deferred handling and the shell can be replaced (tests; other platforms).
    // The file to import; an empty name means the operator cancelled. Default: the open dialog.
    std::function<QString()> OnChooseTraceFile;
    // The message box of a trace file that cannot be read or holds no trace.
    std::function<void(const QString& title, const QString& text)> OnOpenError;
    // The question when writing an opened job would replace another job in the traces folder
    // (both names in the system's notation); default: a box whose default button keeps both.
    std::function<TReplaceAnswer(const QString& existing, const QString& keepBothName)> OnAskReplace;
    // The close confirmation's question; default: the Yes/No box with "Don't Ask Again".
    std::function<bool(QWidget* owner, const QString& title, const QString& text, bool& dontAskAgain)> OnAskYesNo;
    // The folder whose serial devices the settings dialog probes.
    std::string DeviceFolder = "/dev";

Q_SIGNALS:
    // The program is to end: the window has closed for good, or a termination signal came.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Status texts and their look.
    void SetStatus(const QString& text);
    void SetStatus(const QString& text, const QColor& colour, bool bold);
    QString StatusText() const;
    // Carries an answer of the job session to the controls: drawing, panel, edits, status and
    // the job trace file (at once, or once the event-loop pass is over).
    void Apply(const TJobUpdate& update, TNumberEdit* typedIn = nullptr, bool writeNow = false);
    void ShowJob(const TJobPanel& panel);
    void WriteTraceFile(const TJobFileWrite& file);
    TReplaceAnswer AskReplace(const std::string& existing, const std::string& keepBothName);
    void QueueTraceFile(TJobFileWrite file);
    void ShowEditProblem(const QString& problem);
    void ShowValues(const TJobValues& values);
    TJobField FieldOf(const TNumberEdit* edit) const;
    static std::optional<std::string> SelectedKey(const QComboBox* list);
    static void SelectKey(QComboBox* list, const std::optional<std::string>& key);
    void ApplyPanelColours();

    // The port and the lost line.
    void ApplyPortSettings();
    // Opens the port from the settings; on success "Ready on port" and no more retries. A failure's
    // message goes to `failure` when given.
    bool ActivatePort(std::string* failure = nullptr);
    void ProtocolError(const std::string& message);
    void LinkError(const std::string& message);
    void LineLost(const QString& message);
    void TryReconnect();
    // The port's state in the status; a folder that cannot be written is said first, in red.
    void ShowPortStatus(const QString& text, bool ready);

    // Saving: what stops jobs or settings from being saved, and a job that could not be saved.
    QString SavingProblem() const;
    void JobNotSaved(const QString& reason);
    // Tries the unsaved jobs again; returns the job numbers saved now.
    std::vector<std::string> RetryUnsavedJobs();
    void SaveRetryTimeout();
    QString UnsavedProblem(const QString& reason) const;
    // Intake: the jobs waiting are handled one per event-loop pass.
    void ScheduleJobHandling();
    void JobNotTaken(const TJobNotTaken& job);

    // The shell (Unit1Shell.cpp).
    void SetUpShell();
    void AnnounceJob(const QString& job);
    void ClearAnnouncement();

    std::unique_ptr<Ui::TForm1> ui;
    TOMATracer* FTracer = nullptr;
    TTrayIcon* FTrayIcon = nullptr;
    QTimer* FReconnectTimer = nullptr;
    QTimer* FSaveRetryTimer = nullptr;
    QString FProgramFolder;
    QString FCaption;

    TJobSession FSession;
    // The last rewrite asked for in this event-loop pass: a held up/down button or fast typing
    // asks for many, and only the last one is worth a file.
    std::optional<TJobFileWrite> FPendingWrite;
    bool FFlushQueued = false;
    bool FJobHandlingQueued = false;
    bool FReceivingShown = true; // "Receiving data" and the cleared drawing for the last packet
    bool FAskingReplace = false; // the question about an opened job's file is open
    bool FWindowGoing = false;   // no more questions: the window closes or goes
    bool FEditProblemShown = false;
    bool FCloseWithoutAsking = false;
    bool FAskingToClose = false;
    QString FSettingsFile;
    QString FSettingsProblem; // the settings folder cannot be written
    QString FTracesProblem;   // the traces folder cannot be written, or the last job was not saved
    QString FPortText;        // the port's last status, shown again after a saving problem
    bool FPortReady = false;
    int FUnsavedJobs = 0;
    TUnsavedJobs FUnsaved;
    QStringList FFallbackFolders;
    bool FReportingUnsaved = false; // the message about an unsaved job is open
};
