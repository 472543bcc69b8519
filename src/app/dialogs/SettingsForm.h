// TSettingsForm: the settings dialog (tracer port, baud rate, panel colours, shape editing), and
// RunSettingsDialog, the whole exchange of the main window's "&Settings" button around it.
#pragma once

#include "common/RecordList.h"
#include "link/PortList.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;
class TPortProbe;

namespace Ui {
class TSettingsForm;
}

struct TSettingsDialogResult {
    bool ViewLog = false;
};

class TSettingsForm : public QDialog {
    Q_OBJECT
public:
    explicit TSettingsForm(QWidget* owner);
    ~TSettingsForm() override;

    // The port to preselect; set before the dialog is shown.
    std::string FCurrentPort;

    QComboBox* COMPortComboBox() const;
    QComboBox* BaudRateComboBox() const;
    QComboBox* BackColorComboBox() const;
    QComboBox* TraceColorComboBox() const;
    QCheckBox* AllowModCheckBox() const;
    QPushButton* Button1() const;
    QPushButton* ViewLogButton() const;

    // None selected when `rate` is not one of the listed rates.
    void SelectBaudRate(const std::string& rate);
    // "" when none is selected.
    std::string BaudRateText() const;
    // A colour that is not listed is shown as one "Custom" item and given back unchanged.
    void SelectBackColor(uint32_t color);
    uint32_t BackColor() const;
    void SelectTraceColor(uint32_t color);
    uint32_t TraceColor() const;
    // The selected port's setting value (its device path); "" when none is selected. Until the
    // probe has filled the list, the list holds only FCurrentPort.
    std::string PortText() const;
    bool ViewLogRequested() const { return FViewLogRequested; }
    bool PortsProbed() const { return FPortsProbed; }

    // Where ports are probed (default "/dev"); takes effect when the dialog is first shown.
    void SetDeviceFolder(const std::string& folder) { FDeviceFolder = folder; }

    // "View Log": notes the request and closes; the caller opens the log window.
    void ViewLogButtonClick();

Q_SIGNALS:
    // The probe finished and the port list is filled.
    void PortsFilled();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Runs on the user-interface thread with the ports the probe could open.
    void FillPorts(const std::vector<TSerialPortEntry>& ports);

    std::unique_ptr<Ui::TSettingsForm> FUi;
    std::string FDeviceFolder = "/dev";
    std::shared_ptr<TPortProbe> FProbe;
    bool FViewLogRequested = false;
    bool FPortsProbed = false;
};

// The exchange of the main window's "&Settings" button between closing the tracer port and opening
// it again: creates the dialog, preselects from `settings`, shows it modally, and stores, in this
// order, TracerCOMPort, AllowMod, BaudRate, TraceColor and BackColor (an empty text removes its
// key). Every way of closing stores. The dialog is released also when an error interrupts.
TSettingsDialogResult RunSettingsDialog(QWidget* owner, TRecordList& settings,
                                        const std::string& deviceFolder = "/dev");
