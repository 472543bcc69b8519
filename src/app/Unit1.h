// TForm1: the main window. It owns the tracer component on its link (serial or TCP), the trace panel and the
// job panel; takes in jobs from the tracer, shows and edits them and has each one written as a job
// trace file whose name goes on the clipboard. The job itself lives in TJobSession and its files in
// TJobFiles (app/core); this class wires them to the controls. Its handlers are split by concern:
// intake and showing (Unit1.cpp), shape editing and opening (Unit1Edit.cpp), tray, close, help and
// settings (Unit1Shell.cpp), the true-scale view, printing, exports and dragging
// the job out (Unit1Export.cpp).
#pragma once

#include "app/core/JobFiles.h"
#include "app/core/JobSession.h"
#include "common/RecordList.h"
#include "protocol/TraceFormats.h"

#include <QPoint>
#include <QPointer>
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
class QMimeData;
class QPrinter;
class QTimer;
class TNumberEdit;
class TOMATracer;
class TRecentJobsForm;
class TTracerPort;
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
    // Shows the job of a job trace file, as the Open button does once a file is chosen; a file
    // that gives no job is refused in a message box.
    void OpenJobFile(const QString& fileName);

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
    // Shows a saved job trace file as the current job (Open and the list of recent jobs).
    void RecentJobsButtonClick();
    void Button1Click();
    void MinimizeButtonClick() { MinimizeToTray(); }
    void BitBtn1Click();
    void CloseButtonClick();
    void PrintButtonClick();
    void ExportButtonClick();
    void TrueScaleCheckBoxClick();

    TOMATracer* OMATracer1() const { return FTracer; }
    TTracePanel* TracePanel1() const;
    const TJobSession& Session() const { return FSession; }
    const TRecordList& Job() const { return FSession.Job(); }
    bool ShapeModified() const { return FSession.ShapeModified(); }
    const std::string& Vendor() const { return FSession.Vendor(); }
    QString TracesFolder() const;
    // The list of recent jobs while it is open.
    TRecentJobsForm* RecentJobsWindow() const;
    // True while the tracer's link cannot be opened or is lost, and it is tried again every three
    // seconds.
    bool Reconnecting() const;
    // Where settings.txt is written at the end; shown in the settings dialog. A folder that cannot
    // be written is reported in the status at once.
    void SetSettingsFile(const QString& fileName);
    const QString& SettingsFile() const { return FSettingsFile; }
    // The settings file was there but not read (the reason): said in the status beside the port's
    // state and in the log, with the defaults in use and written in its place at the end.
    void SettingsNotRead(const QString& reason);
    // Jobs that could not be saved yet; each is tried again every few seconds and before each
    // later job.
    int UnsavedJobs() const { return static_cast<int>(FJobFiles.UnsavedCount()); }
    // At the end (close, termination signal, end of the desktop session): jobs still unsaved are
    // written to the first fallback folder that takes them, said on stderr, in the log and, when
    // `tellOperator`, in a message.
    void SaveUnsavedJobs(bool tellOperator = false);
    // Where unsaved jobs go at the end; by default the user's application data folder, then the
    // temporary folder.
    void SetFallbackFolders(const QStringList& folders);
    // Every job trace file written or opened goes through it; subscribe to follow them.
    TJobFiles& JobFiles() { return FJobFiles; }

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
    // The file to export to and the filter the operator chose (its format, when the name has no
    // suffix of one); an empty name means the operator cancelled. Default: the save dialog.
    std::function<QString(const QString& suggested, QString& selectedFilter)> OnChooseExportFile;
    // Sets up the printer for the job sheet; false means the operator cancelled. Default: the
    // print dialog.
    std::function<bool(QPrinter& printer)> OnSetUpPrinter;
    // The message box of a job that could not be printed or exported.
    std::function<void(const QString& title, const QString& text)> OnExportError;
    // The data of dragging the drawing out: the job trace file last written or opened for the
    // job shown, as a file URL; null when there is no such file on disk (the caller owns it).
    std::unique_ptr<QMimeData> JobDragData() const;
    // The job trace file of the job shown that went on the clipboard last; empty when none.
    const QString& JobFileShown() const { return FJobFileShown; }

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
    TReplaceAnswer AskReplace(const std::string& existing, const std::string& keepBothName);
    // What the job files said about where an opened job went.
    void ShowWriteNote(const std::string& note);
    void ShowEditProblem(const QString& problem);
    void ShowValues(const TJobValues& values);
    TJobField FieldOf(const TNumberEdit* edit) const;
    static std::optional<std::string> SelectedKey(const QComboBox* list);
    static void SelectKey(QComboBox* list, const std::optional<std::string>& key);
    void ApplyPanelColours();

    void ProtocolError(const std::string& message);
    void LinkError(const std::string& message);
    // The port's state in the status; a folder that cannot be written is said first, in red.
    void ShowPortStatus(const QString& text, bool ready);

    // Saving: what stops jobs or settings from being saved, and a job that could not be saved.
    QString SavingProblem() const;
    void JobNotSaved(const QString& reason);
    // Tries the unsaved jobs again; returns the job numbers saved now.
    std::vector<std::string> RetryUnsavedJobs();
    void SaveRetryTimeout();
    QString UnsavedProblem(const QString& reason) const;
    // At the end: the jobs answered whose turn has not come yet are handled now.
    void HandleQueuedJobs();
    // Intake: the jobs waiting are handled one per event-loop pass.
    void ScheduleJobHandling();
    void JobNotTaken(const TJobNotTaken& job);

    // Printing, exports and the drag (Unit1Export.cpp).
    void SetUpExport();
    void ShowExportState();
    void StartJobDrag();
    // Turns a press and a move on the drawing into a drag; true when the event was taken.
    bool DragFilter(QObject* watched, QEvent* event);
    void ReportExportError(const QString& title, const QString& text);

    // The shell (Unit1Shell.cpp).
    void SetUpShell();
    void AnnounceJob(const QString& job);
    void ClearAnnouncement();

    std::unique_ptr<Ui::TForm1> ui;
    TOMATracer* FTracer = nullptr;
    TTrayIcon* FTrayIcon = nullptr;
    TTracerPort* FPort = nullptr;
    QPointer<TRecentJobsForm> FRecentJobs;
    QTimer* FSaveRetryTimer = nullptr;
    QString FProgramFolder;
    QString FCaption;

    TJobSession FSession;
    // The job trace files: written (of the many rewrites a held up/down button asks for in one
    // event-loop pass, the last one), opened, and followed by whoever subscribes.
    TJobFiles FJobFiles{FSession};
    bool FJobHandlingQueued = false;
    bool FReceivingShown = true; // "Receiving data" and the cleared drawing for the last packet
    bool FWindowGoing = false;   // no more questions: the window closes or goes
    bool FEditProblemShown = false;
    bool FCloseWithoutAsking = false;
    bool FAskingToClose = false;
    QString FSettingsFile;
    QString FSettingsProblem; // the settings folder cannot be written
    QString FTracesProblem;   // the traces folder cannot be written, or the last job was not saved
    QString FPortText;        // the port's last status, shown again after a saving problem
    bool FPortReady = false;
    bool FReportingUnsaved = false; // the message about an unsaved job is open
    QString FJobFileShown;          // what JobFileShown gives
    QString FExportFolder;          // where the last export went
    QPoint FDragStart;              // where the press on the drawing was
    bool FDragArmed = false;        // a press on the drawing may become a drag
};
