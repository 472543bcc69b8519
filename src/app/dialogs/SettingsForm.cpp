// The settings dialog and the settings exchange around it.
#include "app/dialogs/SettingsForm.h"

#include "app/core/PortSupervisor.h"
#include "app/core/Settings.h"
#include "app/dialogs/ColorList.h"
#include "app/dialogs/DialogFonts.h"
#include "app/dialogs/PortProbe.h"
#include "ui_SettingsForm.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
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
    // A typed path is checked once the operator has finished it: a half-typed one is no fault.
    connect(FUi->COMPortComboBox->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (FPortsProbed)
            CheckPort();
    });
    connect(FUi->COMPortComboBox, &QComboBox::activated, this, [this] {
        ShowPortNameFirst();
        if (FPortsProbed)
            CheckPort();
    });
    FUi->PortNoteLabel->hide();
    FUi->TCPPortEdit->setValidator(new QIntValidator(1, 65535, FUi->TCPPortEdit));
    connect(FUi->PortTypeComboBox, &QComboBox::currentIndexChanged, this, [this] { ChooseTcp(TcpChosen()); });
    ChooseTcp(false);
}

bool TSettingsForm::TcpChosen() const {
    return FUi->PortTypeComboBox->currentIndex() == 1;
}

void TSettingsForm::ChooseTcp(bool tcp) {
    FUi->PortTypeComboBox->setCurrentIndex(tcp ? 1 : 0);
    for (QWidget* serial : std::initializer_list<QWidget*>{FUi->COMPortLabel, FUi->COMPortComboBox, FUi->BaudRateLabel,
                                                           FUi->BaudRateComboBox})
        serial->setVisible(!tcp);
    for (QWidget* network :
         std::initializer_list<QWidget*>{FUi->TCPPortLabel, FUi->TCPPortEdit, FUi->TCPHostLabel, FUi->TCPHostEdit})
        network->setVisible(tcp);
    // The note is about the serial port.
    if (tcp)
        FUi->PortNoteLabel->hide();
    else if (FPortsProbed)
        CheckPort();
}

TSettingsForm::~TSettingsForm() {
    // Waits at most for the one port the probe is opening, so that no port is held after this.
    if (FProbe)
        FProbe->Cancel();
}

QComboBox* TSettingsForm::PortTypeComboBox() const {
    return FUi->PortTypeComboBox;
}
QLineEdit* TSettingsForm::TCPPortEdit() const {
    return FUi->TCPPortEdit;
}
QLineEdit* TSettingsForm::TCPHostEdit() const {
    return FUi->TCPHostEdit;
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
    QComboBox* box = FUi->BaudRateComboBox;
    int index = box->findText(FromBytes(rate), Qt::MatchExactly | Qt::MatchCaseSensitive);
    const bool digits = !rate.empty() && rate.size() < 10 && rate.front() != '0' &&
                        rate.find_first_not_of("0123456789") == std::string::npos;
    // The rate in use stays choosable, so that closing the dialog does not change it.
    if (index < 0 && digits) {
        box->addItem(FromBytes(rate));
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
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
    const QComboBox* box = FUi->COMPortComboBox;
    const QString text = box->currentText().trimmed();
    // An item shows more than its path (the device a stable name leads to); its data is the path.
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        return ToBytes(box->itemData(index).toString());
    return ToBytes(text);
}

void TSettingsForm::ShowPortNameFirst() {
    // A port that does not open carries its reason in the list; the field is too narrow for both,
    // and the operator must see which port it is before why it does not open.
    FUi->COMPortComboBox->lineEdit()->setCursorPosition(0);
}

QString TSettingsForm::PortNote() const {
    return FUi->PortNoteLabel->isHidden() ? QString() : FUi->PortNoteLabel->text();
}

void TSettingsForm::ShowPlaces(const QString& settingsFile, const QString& tracesFolder) {
    FUi->SettingsFileLabel->setText(QStringLiteral("Settings: ") + settingsFile);
    FUi->TracesFolderLabel->setText(QStringLiteral("Traces: ") + tracesFolder);
}

QString TSettingsForm::SettingsFileText() const {
    return FUi->SettingsFileLabel->text();
}

QString TSettingsForm::TracesFolderText() const {
    return FUi->TracesFolderLabel->text();
}

void TSettingsForm::CheckPort() {
    const std::string port = PortText();
    QComboBox* box = FUi->COMPortComboBox;
    const bool listed = port.empty() || (box->findData(FromBytes(port)) >= 0 && FOpenable.contains(port));
    if (listed || (port == FCurrentPort && FCurrentPortOpen)) {
        FUi->PortNoteLabel->hide();
        return;
    }
    const TPortCheck check = CheckSerialPort(port);
    if (check.State == psOpens) {
        FUi->PortNoteLabel->hide();
        return;
    }
    FUi->PortNoteLabel->setText(QStringLiteral("Cannot open ") + FromBytes(port) + QStringLiteral(" now: ") +
                                FromBytes(check.Reason) +
                                QStringLiteral(".  It is kept and tried again every few seconds."));
    FUi->PortNoteLabel->show();
}

void TSettingsForm::ViewLogButtonClick() {
    FViewLogRequested = true;
    close();
}

void TSettingsForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (FProbe)
        return;
    // The operator starts at the field of the link in use, as before there was a choice of links.
    (TcpChosen() ? static_cast<QWidget*>(FUi->TCPPortEdit) : FUi->COMPortComboBox)->setFocus();
    // Until the probe answers, the configured port stands alone in the list, so that closing the
    // dialog early keeps it instead of removing it.
    if (!FCurrentPort.empty()) {
        FUi->COMPortComboBox->addItem(FromBytes(FCurrentPort), FromBytes(FCurrentPort));
        FUi->COMPortComboBox->setCurrentIndex(0);
    }
    FProbe = TPortProbe::Start(this, FDeviceFolder, FCurrentPort, FCurrentPortOpen,
                               [this](const std::vector<TSerialPortEntry>& ports) { FillPorts(ports); });
}

void TSettingsForm::FillPorts(const std::vector<TSerialPortEntry>& ports) {
    QComboBox* box = FUi->COMPortComboBox;
    // The configured port, or what the operator has typed meanwhile.
    const std::string keep = PortText();
    box->clear();
    FOpenable.clear();
    for (const TSerialPortEntry& entry : ports) {
        // A port that does not open says why, so that the operator knows what to do about it.
        const std::string shown = entry.Problem.empty() ? entry.Display : entry.Display + ": " + entry.Problem;
        box->addItem(FromBytes(shown), FromBytes(entry.Port));
        box->setItemData(box->count() - 1, FromBytes(shown), Qt::ToolTipRole);
        if (entry.Problem.empty())
            FOpenable.insert(entry.Port);
    }
    int index = box->findData(FromBytes(keep));
    // A port that does not open now (unplugged, the simulator not started yet) is still the
    // operator's choice: kept, and said so.
    if (index < 0 && !keep.empty()) {
        box->addItem(FromBytes(keep), FromBytes(keep));
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
    if (index < 0)
        box->setEditText(QString());
    ShowPortNameFirst();
    // The stable by-id names are long; the drop-down may be wider than the fixed-size dialog.
    box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0));
    FPortsProbed = true;
    if (!TcpChosen())
        CheckPort();
}

TSettingsDialogResult RunSettingsDialog(QWidget* owner, TRecordList& settings, const std::string& deviceFolder) {
    TSettingsDialogContext context;
    context.DeviceFolder = deviceFolder;
    return RunSettingsDialog(owner, settings, context);
}

TSettingsDialogResult RunSettingsDialog(QWidget* owner, TRecordList& settings, const TSettingsDialogContext& context) {
    const std::string portBefore = settings.Value(setting::TracerCOMPort);
    const int32_t baudBefore = SettingInt(settings, setting::BaudRate, setting::DefaultBaudRate);
    const TLinkSettings linkBefore = TLinkSettings::Read(settings);
    const auto form = std::make_unique<TSettingsForm>(owner);
    form->SetDeviceFolder(context.DeviceFolder);
    form->FCurrentPort = portBefore;
    form->FCurrentPortOpen = context.CurrentPortOpen;
    form->ShowPlaces(context.SettingsFile, context.TracesFolder);
    form->ChooseTcp(linkBefore.Type != TLinkType::Serial);
    form->TCPPortEdit()->setText(FromBytes(settings.Value(setting::TracerTCPPort)));
    form->TCPHostEdit()->setText(FromBytes(settings.Value(setting::TracerTCPHost)));
    form->AllowModCheckBox()->setChecked(SettingYes(settings, setting::AllowMod));
    // The rate the port opens at, which is 9600 when none or no number is stored.
    form->SelectBaudRate(std::to_string(baudBefore));
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
    TLinkSettings::WriteTcp(settings, form->TcpChosen(), ToBytes(form->TCPPortEdit()->text()),
                            ToBytes(form->TCPHostEdit()->text()));

    TSettingsDialogResult result;
    result.ViewLog = form->ViewLogRequested();
    result.PortChanged = TLinkSettings::Read(settings) != linkBefore;
    return result;
}
