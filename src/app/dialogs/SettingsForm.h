// TSettingsForm: the settings dialog (the tracer's link: a serial port and its baud rate, or TCP;
// panel colours, shape editing), and
// RunSettingsDialog, the whole exchange of the main window's "&Settings" button around it.
#pragma once

#include "common/RecordList.h"
#include "link/PortList.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class TPortProbe;

namespace Ui {
class TSettingsForm;
}

struct TSettingsDialogResult {
    bool ViewLog = false;
    // The link (its type, port, baud rate, TCP port or host) differs from before: it is to be
    // opened anew.
    bool PortChanged = false;
};

// What the dialog is told besides the settings.
struct TSettingsDialogContext {
    std::string DeviceFolder = "/dev"; // where serial devices are looked for
    bool CurrentPortOpen = false;      // the program holds the configured port: listed without a probe
    QString SettingsFile;              // shown, so that the operator knows where they live
    QString TracesFolder;
};

class TSettingsForm : public QDialog {
    Q_OBJECT
public:
    explicit TSettingsForm(QWidget* owner);
    ~TSettingsForm() override;

    // The port to preselect; set before the dialog is shown.
    std::string FCurrentPort;
    // The program has FCurrentPort open: it is listed as it is, since a probe would find it taken.
    bool FCurrentPortOpen = false;

    QComboBox* PortTypeComboBox() const;
    QLineEdit* TCPPortEdit() const;
    QLineEdit* TCPHostEdit() const;
    QComboBox* COMPortComboBox() const;
    QComboBox* BaudRateComboBox() const;
    QComboBox* BackColorComboBox() const;
    QComboBox* TraceColorComboBox() const;
    QCheckBox* AllowModCheckBox() const;
    QPushButton* Button1() const;
    QPushButton* ViewLogButton() const;

    // TCP rather than a serial port; shows the fields of the chosen link only.
    bool TcpChosen() const;
    void ChooseTcp(bool tcp);
    // A rate in digits that is not listed is shown as one more item and given back unchanged;
    // anything else selects none.
    void SelectBaudRate(const std::string& rate);
    // "" when none is selected.
    std::string BaudRateText() const;
    // A colour that is not listed is shown as one "Custom" item and given back unchanged.
    void SelectBackColor(uint32_t color);
    uint32_t BackColor() const;
    void SelectTraceColor(uint32_t color);
    uint32_t TraceColor() const;
    // The port's setting value: the device path of the item chosen, or the path typed in; "" when
    // the field is empty. Until the probe has filled the list, the list holds only FCurrentPort.
    std::string PortText() const;
    // Says below the port field that the port cannot be opened now, and why (empty: nothing to say).
    QString PortNote() const;
    // Shows where settings.txt and the traces folder live.
    void ShowPlaces(const QString& settingsFile, const QString& tracesFolder);
    QString SettingsFileText() const;
    QString TracesFolderText() const;
    bool ViewLogRequested() const { return FViewLogRequested; }
    bool PortsProbed() const { return FPortsProbed; }

    // Where ports are probed (default "/dev"); takes effect when the dialog is first shown.
    void SetDeviceFolder(const std::string& folder) { FDeviceFolder = folder; }

    // "View Log": notes the request and closes; the caller opens the log window.
    void ViewLogButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Runs on the user-interface thread with the ports the probe listed.
    void FillPorts(const std::vector<TSerialPortEntry>& ports);
    // A port that is not among those that open is kept, and the note says so.
    void CheckPort();
    // The port field scrolled to its start.
    void ShowPortNameFirst();

    std::unique_ptr<Ui::TSettingsForm> FUi;
    std::string FDeviceFolder = "/dev";
    std::shared_ptr<TPortProbe> FProbe;
    std::set<std::string> FOpenable; // the listed ports that the probe could open
    bool FViewLogRequested = false;
    bool FPortsProbed = false;
};

// The exchange of the main window's "&Settings" button: creates the dialog, preselects from
// `settings` (the baud rate in use, 9600 when none is stored), shows it modally, and stores, in
// this order, TracerCOMPort, AllowMod, BaudRate, TraceColor, BackColor and the TCP keys
// (TracerPortType only for TCP; an empty text removes its key). Every way of closing stores. The dialog is released
// also when an error interrupts.
TSettingsDialogResult RunSettingsDialog(QWidget* owner, TRecordList& settings,
                                        const std::string& deviceFolder = "/dev");
TSettingsDialogResult RunSettingsDialog(QWidget* owner, TRecordList& settings, const TSettingsDialogContext& context);
