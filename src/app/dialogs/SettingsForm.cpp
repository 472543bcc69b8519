// The settings dialog and the settings exchange around it.
#include "app/dialogs/SettingsForm.h"

#include "app/core/Settings.h"
#include "app/dialogs/ColorList.h"
#include "app/dialogs/DialogFonts.h"
#include "app/dialogs/PortProbe.h"
#include "ui_SettingsForm.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

namespace {

QString FromBytes(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToBytes(const QString& text) {
    return text.toLatin1().toStdString();
}

// The stored form of a colour: the decimal text that the settings' integer reader gives back as the
// same 32-bit value (values with the high byte set are negative there).
std::string ColorSettingText(uint32_t color) {
    return std::to_string(static_cast<int32_t>(color));
}

} // namespace

TSettingsForm::TSettingsForm(QWidget* owner) : QDialog(owner), FUi(std::make_unique<Ui::TSettingsForm>()) {
    FUi->setupUi(this);
    setFont(DialogFont());
    FillColorComboBox(FUi->BackColorComboBox);
    FillColorComboBox(FUi->TraceColorComboBox);
    SelectBackColor(static_cast<uint32_t>(setting::DefaultBackColor));
    SelectTraceColor(static_cast<uint32_t>(setting::DefaultTraceColor));
    connect(FUi->Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(FUi->ViewLogButton, &QPushButton::clicked, this, &TSettingsForm::ViewLogButtonClick);
}

TSettingsForm::~TSettingsForm() {
    // Waits at most for the one port the probe is opening, so that no port is held after this.
    if (FProbe)
        FProbe->Cancel();
}

QComboBox* TSettingsForm::COMPortComboBox() const {
    return FUi->COMPortComboBox;
}
QComboBox* TSettingsForm::BaudRateComboBox() const {
    return FUi->BaudRateComboBox;
}
QComboBox* TSettingsForm::BackColorComboBox() const {
    return FUi->BackColorComboBox;
}
QComboBox* TSettingsForm::TraceColorComboBox() const {
    return FUi->TraceColorComboBox;
}
QCheckBox* TSettingsForm::AllowModCheckBox() const {
    return FUi->AllowModCheckBox;
}
QPushButton* TSettingsForm::Button1() const {
    return FUi->Button1;
}
QPushButton* TSettingsForm::ViewLogButton() const {
    return FUi->ViewLogButton;
}

void TSettingsForm::SelectBaudRate(const std::string& rate) {
    FUi->BaudRateComboBox->setCurrentIndex(
        FUi->BaudRateComboBox->findText(FromBytes(rate), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

std::string TSettingsForm::BaudRateText() const {
    if (FUi->BaudRateComboBox->currentIndex() < 0)
        return {};
    return ToBytes(FUi->BaudRateComboBox->currentText());
}

void TSettingsForm::SelectBackColor(uint32_t color) {
    SelectColorValue(FUi->BackColorComboBox, color);
}

uint32_t TSettingsForm::BackColor() const {
    return SelectedColorValue(FUi->BackColorComboBox, static_cast<uint32_t>(setting::DefaultBackColor));
}

void TSettingsForm::SelectTraceColor(uint32_t color) {
    SelectColorValue(FUi->TraceColorComboBox, color);
}

uint32_t TSettingsForm::TraceColor() const {
    return SelectedColorValue(FUi->TraceColorComboBox, static_cast<uint32_t>(setting::DefaultTraceColor));
}

std::string TSettingsForm::PortText() const {
    if (FUi->COMPortComboBox->currentIndex() < 0)
        return {};
    return ToBytes(FUi->COMPortComboBox->currentData().toString());
}

void TSettingsForm::ViewLogButtonClick() {
    FViewLogRequested = true;
    close();
}

void TSettingsForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (FProbe)
        return;
    // Until the probe answers, the configured port stands alone in the list, so that closing the
    // dialog early keeps it instead of removing it.
    if (!FCurrentPort.empty()) {
        FUi->COMPortComboBox->addItem(FromBytes(FCurrentPort), FromBytes(FCurrentPort));
        FUi->COMPortComboBox->setCurrentIndex(0);
    }
    FProbe = TPortProbe::Start(this, FDeviceFolder, FCurrentPort,
                               [this](const std::vector<TSerialPortEntry>& ports) { FillPorts(ports); });
}

void TSettingsForm::FillPorts(const std::vector<TSerialPortEntry>& ports) {
    QComboBox* box = FUi->COMPortComboBox;
    box->clear();
    for (const TSerialPortEntry& entry : ports) {
        box->addItem(FromBytes(entry.Display), FromBytes(entry.Port));
        box->setItemData(box->count() - 1, FromBytes(entry.Display), Qt::ToolTipRole);
    }
    box->setCurrentIndex(box->findData(FromBytes(FCurrentPort)));
    // The stable by-id names are long; the drop-down may be wider than the fixed-size dialog.
    box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0));
    FPortsProbed = true;
    Q_EMIT PortsFilled();
}

TSettingsDialogResult RunSettingsDialog(QWidget* owner, TRecordList& settings, const std::string& deviceFolder) {
    const auto form = std::make_unique<TSettingsForm>(owner);
    form->SetDeviceFolder(deviceFolder);
    form->FCurrentPort = settings.Value(setting::TracerCOMPort);
    form->AllowModCheckBox()->setChecked(SettingYes(settings, setting::AllowMod));
    form->SelectBaudRate(settings.Value(setting::BaudRate));
    form->SelectBackColor(static_cast<uint32_t>(SettingInt(settings, setting::BackColor, setting::DefaultBackColor)));
    form->SelectTraceColor(
        static_cast<uint32_t>(SettingInt(settings, setting::TraceColor, setting::DefaultTraceColor)));

    // Every way of closing (Close, the close box, Escape, View Log) keeps the changes.
    form->exec();

    settings.SetValue(setting::TracerCOMPort, form->PortText());
    settings.SetValue(setting::AllowMod, form->AllowModCheckBox()->isChecked() ? "Y" : "N");
    settings.SetValue(setting::BaudRate, form->BaudRateText());
    settings.SetValue(setting::TraceColor, ColorSettingText(form->TraceColor()));
    settings.SetValue(setting::BackColor, ColorSettingText(form->BackColor()));

    TSettingsDialogResult result;
    result.ViewLog = form->ViewLogRequested();
    return result;
}
