// The settings dialog and the settings exchange: preselection, storing in order on every way of
// closing, the "Custom" colour, and the port list probed off the user-interface thread.
#include "DialogTestSupport.h"
#include "app/core/Settings.h"
#include "app/dialogs/SettingsForm.h"
#include "app/dialogs/ShowLog.h"
#include "link/PortList.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using dialog_test::TDeviceFolder;
using dialog_test::TPty;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

constexpr int kDeadlineMs = 10000;

TRecordList ListOf(const std::vector<std::string>& lines) {
    TRecordList list;
    for (const std::string& line : lines)
        list.Add(line);
    return list;
}

// Runs `interact` on the modal settings dialog once it is on screen and its port list is filled.
void WhenShown(std::function<void(TSettingsForm*)> interact) {
    QTimer::singleShot(0, [interact = std::move(interact)] {
        auto* form = qobject_cast<TSettingsForm*>(QApplication::activeModalWidget());
        if (form == nullptr) {
            ADD_FAILURE() << "no modal settings dialog";
            return;
        }
        if (!QTest::qWaitFor([form] { return form->PortsProbed(); }, kDeadlineMs)) {
            ADD_FAILURE() << "the port list was never filled";
            form->close();
            return;
        }
        interact(form);
    });
}

void Choose(QComboBox* box, const QString& text) {
    const int index = box->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    box->setCurrentIndex(index);
}

class SettingsDialogTest : public testing::Test {
protected:
    void TearDown() override { delete Owner; }

    TDeviceFolder Dev;
    TPty TracerPty;
    const std::string TracerPort = Dev.Link("ttyUSB0", TracerPty.SlavePath());
    QWidget* Owner = new QWidget;
};

TEST_F(SettingsDialogTest, FreshListGetsTheKeysInTheirOrder) {
    TRecordList settings;
    WhenShown([&](TSettingsForm* form) {
        EXPECT_EQ(form->PortText(), "");         // nothing configured, nothing preselected
        EXPECT_EQ(form->BaudRateText(), "9600"); // no stored rate: the one the port opens at
        form->COMPortComboBox()->setCurrentIndex(form->COMPortComboBox()->findData(QString::fromStdString(TracerPort)));
        form->AllowModCheckBox()->setChecked(true);
        Choose(form->BaudRateComboBox(), "19200");
        Choose(form->TraceColorComboBox(), "Red");
        QTest::mouseClick(form->Button1(), Qt::LeftButton);
    });

    const TSettingsDialogResult result = RunSettingsDialog(Owner, settings, Dev.Path());

    EXPECT_FALSE(result.ViewLog);
    EXPECT_THAT(settings.Lines(), ElementsAre("TracerCOMPort=" + TracerPort, "AllowMod=Y", "BaudRate=19200",
                                              "TraceColor=255", "BackColor=16776960"));
}

TEST_F(SettingsDialogTest, EveryWayOfClosingStoresTheSettings) {
    struct TCase {
        const char* Way;
        void (*Close)(TSettingsForm*);
        bool ViewLog;
    } cases[] = {
        {"Close", [](TSettingsForm* f) { QTest::mouseClick(f->Button1(), Qt::LeftButton); }, false},
        {"close box", [](TSettingsForm* f) { f->close(); }, false},
        {"Escape", [](TSettingsForm* f) { QTest::keyClick(f, Qt::Key_Escape); }, false},
        {"View Log", [](TSettingsForm* f) { QTest::mouseClick(f->ViewLogButton(), Qt::LeftButton); }, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Way);
        TRecordList settings = ListOf({"; kept in place", "tracercomport=" + TracerPort, "BaudRate=115200",
                                       "AllowMod=y", "BackColor=12345", "TraceColor=abc", "Other=1"});
        WhenShown([&](TSettingsForm* form) {
            EXPECT_EQ(form->PortText(), TracerPort);
            EXPECT_EQ(form->BaudRateText(), "115200");           // not offered, but the rate in use
            EXPECT_FALSE(form->AllowModCheckBox()->isChecked()); // only "Y" counts as yes
            EXPECT_EQ(form->BackColorComboBox()->currentText(), "Custom");
            EXPECT_EQ(form->TraceColorComboBox()->currentText(), "White"); // not a number: the default
            EXPECT_FALSE(form->ViewLogRequested());
            c.Close(form);
        });

        const TSettingsDialogResult result = RunSettingsDialog(Owner, settings, Dev.Path());

        EXPECT_EQ(result.ViewLog, c.ViewLog);
        EXPECT_THAT(settings.Lines(), ElementsAre("; kept in place", "TracerCOMPort=" + TracerPort, "BaudRate=115200",
                                                  "AllowMod=N", "BackColor=12345", "TraceColor=16777215", "Other=1"));
    }
}

TEST_F(SettingsDialogTest, UnlistedColoursComeBackUnchanged) {
    // Values with the high byte set are system colour indexes; they are negative as 32-bit integers.
    for (const char* stored : {"12345", "-16777201", "2147483647"}) {
        SCOPED_TRACE(stored);
        TRecordList settings = ListOf({std::string("BackColor=") + stored, std::string("TraceColor=") + stored});
        WhenShown([](TSettingsForm* form) {
            EXPECT_EQ(form->BackColorComboBox()->currentText(), "Custom");
            EXPECT_EQ(form->TraceColorComboBox()->currentText(), "Custom");
            form->close();
        });
        RunSettingsDialog(Owner, settings, Dev.Path());
        EXPECT_EQ(settings.Value(setting::BackColor), stored);
        EXPECT_EQ(settings.Value(setting::TraceColor), stored);
    }
}

TEST_F(SettingsDialogTest, ConfiguredPortIsKeptAndOneThatDoesNotOpenIsSaidSo) {
    TPty outsidePty;
    struct TCase {
        const char* What;
        std::string Configured;
        bool Opens;
    } cases[] = {
        {"a listed port", TracerPort, true},
        {"a terminal outside the usual names", outsidePty.SlavePath(), true},
        {"a port that is gone", Dev.PathOf("ttyUSB7"), false},
        {"a file that is no terminal", Dev.File("ttyS4", "x"), false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TRecordList settings = ListOf({"TracerCOMPort=" + c.Configured}); // and no BaudRate line
        WhenShown([&](TSettingsForm* form) {
            EXPECT_GE(form->COMPortComboBox()->findData(QString::fromStdString(c.Configured)), 0);
            EXPECT_EQ(form->PortText(), c.Configured);
            EXPECT_EQ(form->PortNote().isEmpty(), c.Opens) << form->PortNote().toStdString();
            EXPECT_EQ(form->BaudRateText(), "9600");
            form->close();
        });
        const TSettingsDialogResult result = RunSettingsDialog(Owner, settings, Dev.Path());
        EXPECT_EQ(settings.Value(setting::TracerCOMPort), c.Configured);
        EXPECT_EQ(settings.Value(setting::BaudRate), "9600");
        EXPECT_FALSE(result.PortChanged);
    }
}

TEST_F(SettingsDialogTest, APortHeldByAnotherProgramIsListedWithTheReason) {
    TPty heldPty;
    const std::string held = Dev.Link("ttyUSB3", heldPty.SlavePath());
    const dialog_test::TLineLock otherProgram(held);
    const QString reason = QStringLiteral("in use by another program");
    for (const std::string& configured : {TracerPort, held}) {
        SCOPED_TRACE(configured);
        TRecordList settings = ListOf({"TracerCOMPort=" + configured});
        WhenShown([&](TSettingsForm* form) {
            QComboBox* box = form->COMPortComboBox();
            const int index = box->findData(QString::fromStdString(held));
            ASSERT_GE(index, 0);
            EXPECT_EQ(box->itemText(index), QString::fromStdString(held) + QStringLiteral(": ") + reason);
            EXPECT_EQ(form->PortText(), configured);
            // The field is narrower than the port and its reason: the port's name shows.
            EXPECT_EQ(box->lineEdit()->cursorPosition(), 0);
            // The configured port that does not open says why, in the same words.
            EXPECT_EQ(form->PortNote(), configured == held
                                            ? QStringLiteral("Cannot open ") + QString::fromStdString(held) +
                                                  QStringLiteral(" now: ") + reason +
                                                  QStringLiteral(".  It is kept and tried again "
                                                                 "every few seconds.")
                                            : QString());
            form->close();
        });
        RunSettingsDialog(Owner, settings, Dev.Path());
        EXPECT_EQ(settings.Value(setting::TracerCOMPort), configured);
    }
}

TEST_F(SettingsDialogTest, TypedPathIsTakenAndOneThatDoesNotOpenIsSaidSo) {
    TPty outsidePty; // a simulator's line: no name the list looks for
    const struct {
        std::string Typed;
        bool Opens;
    } cases[] = {{outsidePty.SlavePath(), true}, {Dev.PathOf("serial/by-id/usb-later"), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Typed);
        TRecordList settings = ListOf({"TracerCOMPort=" + TracerPort, "BaudRate=19200"});
        WhenShown([&](TSettingsForm* form) {
            QComboBox* box = form->COMPortComboBox();
            box->lineEdit()->selectAll();
            QTest::keyClicks(box->lineEdit(), QString::fromStdString(c.Typed));
            QTest::keyClick(box->lineEdit(), Qt::Key_Tab);
            EXPECT_EQ(form->PortNote().isEmpty(), c.Opens) << form->PortNote().toStdString();
            form->close();
        });
        const TSettingsDialogResult result = RunSettingsDialog(Owner, settings, Dev.Path());
        EXPECT_EQ(settings.Value(setting::TracerCOMPort), c.Typed);
        EXPECT_TRUE(result.PortChanged);
    }
}

TEST_F(SettingsDialogTest, PortTheProgramHoldsIsListedWithoutAProbeAndFoldersAreShown) {
    const dialog_test::TLineLock held(TracerPort); // as the program's open line holds it
    const std::string byId = Dev.Link("serial/by-id/usb-Tracer-if00", TracerPty.SlavePath()); // the same line
    TRecordList settings = ListOf({"TracerCOMPort=" + TracerPort, "BaudRate=9600"});
    TSettingsDialogContext context;
    context.DeviceFolder = Dev.Path();
    context.CurrentPortOpen = true;
    context.SettingsFile = QStringLiteral("/home/op/.config/tracer-interface/settings.txt");
    context.TracesFolder = QStringLiteral("/home/op/.local/share/tracer-interface/traces");
    WhenShown([&](TSettingsForm* form) {
        EXPECT_EQ(form->PortText(), TracerPort);
        EXPECT_EQ(form->PortNote(), "");
        EXPECT_GE(form->COMPortComboBox()->findData(QString::fromStdString(byId)), 0);
        EXPECT_EQ(form->SettingsFileText(), "Settings: " + context.SettingsFile);
        EXPECT_EQ(form->TracesFolderText(), "Traces: " + context.TracesFolder);
        form->close();
    });
    const TSettingsDialogResult result = RunSettingsDialog(Owner, settings, context);
    EXPECT_FALSE(result.PortChanged);
    EXPECT_EQ(settings.Value(setting::TracerCOMPort), TracerPort);
}

TEST_F(SettingsDialogTest, ClosingBeforeTheProbeAnswersKeepsTheConfiguredPort) {
    TSettingsForm form(Owner);
    form.SetDeviceFolder(Dev.Path());
    form.FCurrentPort = Dev.PathOf("ttyUSB7"); // gone, but the probe has not said so yet
    form.show();
    // The probe's answer is delivered by the event loop, which has not run.
    EXPECT_FALSE(form.PortsProbed());
    EXPECT_EQ(form.PortText(), Dev.PathOf("ttyUSB7"));
    form.close();
    EXPECT_EQ(form.PortText(), Dev.PathOf("ttyUSB7"));
}

TEST_F(SettingsDialogTest, DestroyingTheDialogWhileProbingLeavesNoPortHeld) {
    for (int i = 0; i < 20; ++i) {
        auto* form = new TSettingsForm(Owner);
        form->SetDeviceFolder(Dev.Path());
        form->show();
        delete form;
        // The probe either never opened the port or has closed it again.
        EXPECT_TRUE(CanOpenSerialPort(TracerPort));
    }
    QThreadPool::globalInstance()->waitForDone();
    QApplication::processEvents(); // an answer queued for a destroyed dialog must go nowhere
}

TEST_F(SettingsDialogTest, ColourListsAndTheCustomItem) {
    TSettingsForm form(Owner);
    QComboBox* box = form.BackColorComboBox();
    ASSERT_EQ(box->count(), 20);
    const std::vector<std::pair<QString, uint32_t>> expected = {
        {"Black", 0x000000},       {"Maroon", 0x000080},   {"Green", 0x008000}, {"Olive", 0x008080},
        {"Navy", 0x800000},        {"Purple", 0x800080},   {"Teal", 0x808000},  {"Gray", 0x808080},
        {"Silver", 0xC0C0C0},      {"Red", 0x0000FF},      {"Lime", 0x00FF00},  {"Yellow", 0x00FFFF},
        {"Blue", 0xFF0000},        {"Fuchsia", 0xFF00FF},  {"Aqua", 16776960},  {"White", 16777215},
        {"Money Green", 0xC0DCC0}, {"Sky Blue", 0xF0CAA6}, {"Cream", 0xF0FBFF}, {"Medium Gray", 0xA4A0A0},
    };
    for (int i = 0; i < box->count(); ++i) {
        EXPECT_EQ(box->itemText(i), expected[i].first);
        EXPECT_EQ(box->itemData(i).toUInt(), expected[i].second);
        EXPECT_FALSE(box->itemIcon(i).isNull());
        // The swatch shows the colour itself: red in the low byte.
        const QImage swatch = box->itemIcon(i).pixmap(16, 12).toImage();
        const uint32_t v = expected[i].second;
        EXPECT_EQ(swatch.pixelColor(8, 6), QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF));
    }

    form.SelectBackColor(12345);
    EXPECT_EQ(form.BackColor(), 12345u);
    EXPECT_EQ(box->count(), 21);
    form.SelectBackColor(0x0000FF);
    EXPECT_EQ(box->currentText(), "Red");
    EXPECT_EQ(box->count(), 21); // the custom item stays to go back to
    form.SelectBackColor(54321);
    EXPECT_EQ(box->count(), 21); // one custom item at most
    EXPECT_EQ(form.BackColor(), 54321u);
    EXPECT_EQ(form.TraceColor(), 16777215u); // untouched list: the default
}

TEST_F(SettingsDialogTest, BaudRates) {
    TSettingsForm form(Owner);
    QComboBox* box = form.BaudRateComboBox();
    ASSERT_EQ(box->count(), 4);
    for (const std::string rate : {"9600", "19200", "38400", "57600"}) {
        form.SelectBaudRate(rate);
        EXPECT_EQ(form.BaudRateText(), rate);
    }
    for (const std::string rate : {"", " 9600", "9600 ", "abc", "0"}) {
        form.SelectBaudRate(rate);
        EXPECT_EQ(form.BaudRateText(), "") << '"' << rate << '"';
    }
    form.SelectBaudRate("115200"); // stored by hand: kept
    EXPECT_EQ(form.BaudRateText(), "115200");
}

TEST_F(SettingsDialogTest, TheTcpLinkIsChosenAndStoredInItsThreeKeys) {
    TRecordList settings =
        ListOf({"TracerCOMPort=" + TracerPort, "AllowMod=Y", "BaudRate=9600", "TraceColor=255", "BackColor=16776960"});
    const std::vector<std::string> serialKeys = settings.Lines();
    const auto with = [&](std::vector<std::string> tcpKeys) {
        std::vector<std::string> lines = serialKeys;
        lines.insert(lines.end(), tcpKeys.begin(), tcpKeys.end());
        return lines;
    };
    const struct {
        const char* Step;
        bool Tcp;     // shown when the dialog opens
        bool ToTcp;   // chosen
        QString Port; // typed, unless null
        QString Host;
        std::vector<std::string> Lines;
        bool Changed;
    } steps[] = {
        {"connect to a host", false, true, "4001", "lab-server",
         with({"TracerPortType=TCP", "TracerTCPPort=4001", "TracerTCPHost=lab-server"}), true},
        {"listen instead", true, true, "5000", "", with({"TracerPortType=TCP", "TracerTCPPort=5000"}), true},
        {"nothing changed", true, true, QString(), QString(), with({"TracerPortType=TCP", "TracerTCPPort=5000"}),
         false},
        {"back to the serial port", true, false, QString(), QString(), with({"TracerTCPPort=5000"}), true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Step);
        WhenShown([&](TSettingsForm* form) {
            EXPECT_EQ(form->TcpChosen(), step.Tcp);
            // Only the chosen link's fields are shown.
            EXPECT_EQ(form->TCPPortEdit()->isHidden(), !step.Tcp);
            EXPECT_EQ(form->COMPortComboBox()->isHidden(), step.Tcp);
            Choose(form->PortTypeComboBox(), step.ToTcp ? "TCP" : "Serial");
            EXPECT_EQ(form->TCPHostEdit()->isHidden(), !step.ToTcp);
            EXPECT_EQ(form->BaudRateComboBox()->isHidden(), step.ToTcp);
            if (!step.Port.isNull()) {
                form->TCPPortEdit()->clear();
                QTest::keyClicks(form->TCPPortEdit(), QStringLiteral("x") + step.Port); // digits only
                form->TCPHostEdit()->setText(step.Host);
            }
            form->close();
        });
        const TSettingsDialogResult result = RunSettingsDialog(Owner, settings, Dev.Path());
        EXPECT_THAT(settings.Lines(), ElementsAreArray(step.Lines));
        EXPECT_EQ(result.PortChanged, step.Changed);
    }
}

TEST(DialogWindows, FixedSizesCaptionsFontsAndCentredOnTheOwner) {
    QWidget owner;
    owner.setGeometry(50, 40, 700, 520); // inside the offscreen screen (800 x 600)
    owner.show();

    TSettingsForm settings(&owner);
    settings.show();
    EXPECT_EQ(settings.windowTitle(), "Settings");
    EXPECT_EQ(settings.size(), QSize(460, 370));
    EXPECT_EQ(settings.minimumSize(), settings.maximumSize());
    EXPECT_EQ(settings.font().family(), "Arial");
    EXPECT_EQ(settings.font().pixelSize(), 13);
    EXPECT_EQ(settings.AllowModCheckBox()->text(), "Allow modifying shape");
    EXPECT_EQ(settings.Button1()->text(), "Close");
    EXPECT_EQ(settings.ViewLogButton()->text(), "View Log");
    EXPECT_LE((settings.geometry().center() - owner.geometry().center()).manhattanLength(), 2);

    TShowLogForm* log = ShowLogWindow(&owner);
    EXPECT_LE((log->geometry().center() - owner.geometry().center()).manhattanLength(), 2);
}

} // namespace
