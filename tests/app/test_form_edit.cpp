// The operator's changes to a job shown in the main window: box and circumference rescales of
// both eyes, DBL, frame and edge type, their errors, AllowMod, the Enter key, trace file import,
// the close confirmation, the settings exchange and the user's decimal separator.
#include "FormTestSupport.h"

#include "app/NumberEdit.h"
#include "app/dialogs/SettingsForm.h"
#include "app/dialogs/ShowLog.h"
#include "common/Numbers.h"
#include "handler/OMATracer.h"
#include "trace/TracePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

using namespace form_test;

namespace {

const QString kFileOnClipboard = QStringLiteral("The trace filename is on the clipboard for pasting");

class FormEdit : public TFormFixture {
protected:
    // A TAKUBO job 123 is shown and written.
    void ShowJob(const std::vector<std::pair<std::string, std::string>>& settings = {{"AllowMod", "Y"}}) {
        StartForm(settings);
        ASSERT_FALSE(DeliverJob().empty());
        ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == kFileOnClipboard; }));
        FFile = TracePath(QStringLiteral("123.txt"));
        FWritten = ReadFileText(FFile);
        ASSERT_FALSE(FWritten.empty());
    }
    TNumberEdit* Edit(const char* name) { return Control<TNumberEdit>(*FForm, name); }
    QComboBox* List(const char* name) { return Control<QComboBox>(*FForm, name); }
    std::string File() { return ReadFileText(FFile); }

    QString FFile;
    std::string FWritten;
};

double Number(const std::string& text) {
    return std::stod(text);
}

} // namespace

TEST_F(FormEdit, OneStepUpOfBoxARescalesBothEyesAndRewritesTheBoxRecords) {
    ShowJob();
    QSignalSpy written(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    QTest::keyClick(Edit("BoxAEdit"), Qt::Key_Up);
    EXPECT_EQ(written.count(), 1); // one change, one rewrite

    EXPECT_TRUE(FForm->ShapeModified());
    EXPECT_EQ(Edit("BoxAEdit")->text(), QStringLiteral("50.10"));
    EXPECT_NE(FForm->Job().Value("_RtTrace"), FForm->BaseTraces().Value("_RtTrace"));
    EXPECT_NE(FForm->Job().Value("_LtTrace"), FForm->BaseTraces().Value("_LtTrace"));
    EXPECT_EQ(FForm->TracePanel1()->Trace(), FForm->Job().Value("_RtTrace"));

    // Recomputed from the rescaled traces: the right value is what the edits show, the left eye
    // (the mirror image) was rescaled to the same box A.
    const std::string text = File();
    const std::string hbox = FileRecord(text, "HBOX");
    EXPECT_EQ(hbox.substr(0, hbox.find(';')), "50.10");
    EXPECT_NEAR(Number(hbox.substr(hbox.find(';') + 1)), 50.10, 0.011);
    const std::string vbox = FileRecord(text, "VBOX");
    EXPECT_EQ(vbox.substr(0, vbox.find(';')), Edit("BoxBEdit")->text().toStdString());
    const std::string circ = FileRecord(text, "CIRC");
    EXPECT_EQ(circ.substr(0, circ.find(';')), Edit("CircEdit")->text().toStdString());
    EXPECT_NE(circ, "142.00;142.00");
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();

    // A keystroke is one change too: the whole text replaced by the digit 5 rescales at once (as
    // near to 5 mm as the shape allows).
    written.clear();
    QLineEdit* editor = Edit("BoxAEdit")->Editor();
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_5);
    EXPECT_EQ(written.count(), 1);
    const std::string shown = Edit("BoxAEdit")->text().toStdString();
    EXPECT_NE(shown, "50.10");
    EXPECT_EQ(FileRecord(File(), "HBOX").substr(0, shown.size() + 1), shown + ";");

    // Every rescale starts from the traces as received.
    editor->setText(QStringLiteral("50"));
    EXPECT_EQ(FForm->Job().Value("_RtTrace"), FForm->BaseTraces().Value("_RtTrace"));
    EXPECT_EQ(FileRecord(File(), "HBOX"), "50.00;50.00");
}

TEST_F(FormEdit, DBLTakesNumbersOnlyAndLeavesTheShapeAlone) {
    ShowJob();
    Edit("DBLEdit")->Editor()->setText(QStringLiteral("abc"));
    Edit("DBLEdit")->Editor()->clear();
    EXPECT_EQ(File(), FWritten);
    EXPECT_EQ(FForm->Job().Value("DBL"), "17.50");

    Edit("DBLEdit")->Editor()->setText(QStringLiteral("18"));
    EXPECT_EQ(FForm->Job().Value("DBL"), "18.00");
    EXPECT_EQ(FileRecord(File(), "DBL"), "18.00");
    EXPECT_EQ(FileRecord(File(), "HBOX"), "50.00;50.00");
    EXPECT_FALSE(FForm->ShapeModified());
    EXPECT_DOUBLE_EQ(FForm->TracePanel1()->DBL(), 18.0);
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(FormEdit, BoxValueThatIsNoNumberOrCannotBeReachedIsReportedAndChangesNothing) {
    ShowJob();
    const std::string rt = FForm->Job().Value("_RtTrace");
    struct Case {
        QString text;
        std::string message;
    };
    // A radius beyond 99.99 mm is refused by the geometry.
    const Case cases[] = {{QString(), "'' is not a valid floating point value"}, {QStringLiteral("900"), ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        FErrors.Messages.clear();
        Edit("BoxAEdit")->Editor()->setText(c.text);
        ASSERT_EQ(FErrors.Messages.size(), 1u);
        if (!c.message.empty()) {
            EXPECT_EQ(FErrors.Messages[0], c.message);
        }
        EXPECT_EQ(FForm->Job().Value("_RtTrace"), rt);
        EXPECT_EQ(File(), FWritten);
    }
    // The edits still answer afterwards.
    FErrors.Messages.clear();
    Edit("BoxBEdit")->Editor()->setText(QStringLiteral("41"));
    EXPECT_TRUE(FErrors.Messages.empty());
    EXPECT_EQ(FileRecord(File(), "VBOX").substr(0, 5), "41.00");
}

TEST_F(FormEdit, RefusedRescaleLeavesTheTracersBoxRecordsInLaterWrites) {
    ShowJob();
    Edit("BoxAEdit")->Editor()->setText(QStringLiteral("900"));
    ASSERT_EQ(FErrors.Messages.size(), 1u);
    EXPECT_FALSE(FForm->ShapeModified());
    // The next write (a DBL change) keeps what the tracer measured, as before the refusal.
    Edit("DBLEdit")->Editor()->setText(QStringLiteral("18"));
    EXPECT_EQ(FileRecord(File(), "DBL"), "18.00");
    EXPECT_EQ(FileRecord(File(), "CIRC"), "142.00;142.00");
    EXPECT_EQ(FileRecord(File(), "HBOX"), "50.00;50.00");
}

TEST_F(FormEdit, FrameAndEdgeSelectionsRewriteTheTypeRecords) {
    ShowJob();
    struct Case {
        int frame, edge;
        std::string ftyp, etyp;
    };
    // The tracer sent FTYP 1 and ETYP 1; "Uncut" and no selection leave the tracer's record;
    // a rimless edge makes the frame rimless.
    const Case cases[] = {{0, 2, "3", "2"}, {1, 1, "2", "1"}, {1, 0, "2", "1"}, {-1, 3, "1", "3"}, {2, 4, "3", "4"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.frame) + "/" + std::to_string(c.edge));
        List("FrameTypeCombo")->setCurrentIndex(c.frame);
        List("EdgeTypeCombo")->setCurrentIndex(c.edge);
        const std::string text = File();
        EXPECT_EQ(FileRecord(text, "FTYP"), c.ftyp);
        EXPECT_EQ(FileRecord(text, "ETYP"), c.etyp);
    }
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(FormEdit, AllowModOtherThanYDisablesTheShapeControls) {
    for (const char* allow : {"N", "y", ""}) {
        SCOPED_TRACE(allow);
        ShowJob({{"AllowMod", allow}});
        for (const char* name : {"BoxAEdit", "BoxBEdit", "CircEdit"})
            EXPECT_FALSE(Edit(name)->isEnabled()) << name;
        EXPECT_FALSE(Control<QCheckBox>(*FForm, "LockBCheckBox")->isEnabled());
        EXPECT_TRUE(Edit("DBLEdit")->isEnabled());
        EXPECT_TRUE(List("FrameTypeCombo")->isEnabled());
        EXPECT_TRUE(List("EdgeTypeCombo")->isEnabled());
        FForm.reset();
    }
}

TEST_F(FormEdit, EnterMovesTheFocusToTheNextControl) {
    ShowJob();
    FForm->show();
    FForm->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
    Edit("BoxAEdit")->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return Edit("BoxAEdit")->hasFocus(); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return Edit("BoxBEdit")->hasFocus(); }));
}

TEST_F(FormEdit, OpenedTraceFileBecomesTheJobAgain) {
    ShowJob();
    // The program's own file under another name: job number from the name, traces point for point.
    const QString opened = FFolder.path() + QStringLiteral("/order-0042.txt");
    ASSERT_TRUE(QFile::copy(FFile, opened));
    List("EdgeTypeCombo")->setCurrentIndex(-1); // so the filling changes a selection
    FForm->OnChooseTraceFile = [&] { return opened; };
    FForm->OpenButtonClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), opened);
    ASSERT_TRUE(WaitUntil([&] { return Control<QGroupBox>(*FForm, "JobGroupBox")->title() == " Tracer job 42 "; }));
    EXPECT_EQ(FForm->Job().Value("_RtTrace"), RadiiText(RightRadii()));
    EXPECT_EQ(FForm->Job().Value("_LtTrace"), RadiiText(LeftRadii()));
    EXPECT_EQ(FForm->BaseTraces().Value("_RtTrace"), RadiiText(RightRadii()));
    EXPECT_EQ(Edit("DBLEdit")->text(), QStringLiteral("17.50"));
    EXPECT_EQ(List("EdgeTypeCombo")->currentText(), QStringLiteral("Bevel"));
    // The edge selection changed, so the job was written under its cleaned number.
    EXPECT_EQ(QGuiApplication::clipboard()->text(), TracePath(QStringLiteral("42.txt")));
    EXPECT_EQ(StatusText(*FForm), kFileOnClipboard); // left as the tracer's job set it

    // A file that cannot be read: the box, nothing else.
    QString title, text;
    FForm->OnOpenError = [&](const QString& t, const QString& m) {
        title = t;
        text = m;
    };
    FForm->OnChooseTraceFile = [&] { return FFolder.path() + QStringLiteral("/missing.txt"); };
    FForm->OpenButtonClick();
    Settle();
    EXPECT_EQ(title, QStringLiteral("Error Opening File"));
    EXPECT_TRUE(text.startsWith(QStringLiteral("Cannot open trace data file\n\n"))) << text.toStdString();
    EXPECT_GT(text.size(), 30);
    EXPECT_EQ(FForm->Job().Value("JOB"), "42");
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(FormEdit, CloseAsksUnlessTheOperatorChoseNotToBeAsked) {
    StartForm();
    QSignalSpy closed(FForm.get(), &TForm1::Closed);
    int asked = 0;
    FForm->OnAskYesNo = [&](QWidget*, const QString& title, const QString&, bool& dontAsk) {
        ++asked;
        EXPECT_EQ(title, QStringLiteral("Confirm Close?"));
        dontAsk = true;
        return asked > 1; // No the first time, Yes with "Don't Ask Again" the second
    };
    FForm->show();
    FForm->CloseButtonClick();
    EXPECT_EQ(closed.count(), 0);
    EXPECT_EQ(SettingsList().Value(setting::DontAskCloseProgram), "N");
    FForm->CloseButtonClick();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(SettingsList().Value(setting::DontAskCloseProgram), "Y");
    EXPECT_EQ(asked, 2);

    // A termination signal closes without asking.
    FForm = std::make_unique<TForm1>(FFolder.path());
    SettingsList().SetValue(setting::DontAskCloseProgram, "N");
    QSignalSpy closedAgain(FForm.get(), &TForm1::Closed);
    FForm->OnAskYesNo = [&](QWidget*, const QString&, const QString&, bool&) {
        ADD_FAILURE() << "asked";
        return false;
    };
    FForm->CloseWithoutAsking();
    EXPECT_EQ(closedAgain.count(), 1);

    // Also while the confirmation box of a close is open.
    FForm = std::make_unique<TForm1>(FFolder.path());
    QSignalSpy closedWhileAsking(FForm.get(), &TForm1::Closed);
    FForm->OnAskYesNo = [&](QWidget*, const QString&, const QString&, bool&) {
        FForm->CloseWithoutAsking(); // the signal arrives while the box is up
        return false;
    };
    FForm->CloseButtonClick();
    EXPECT_EQ(closedWhileAsking.count(), 1);
}

TEST_F(FormEdit, SettingsExchangeClosesThePortAppliesColoursReopensAndShowsTheLog) {
    StartForm({{"AllowMod", "Y"}, {"BackColor", "255"}});
    EXPECT_EQ(FForm->TracePanel1()->BGColor, 255u);
    const QTemporaryDir devices; // no other ports to probe
    FForm->DeviceFolder = devices.path().toStdString();
    bool portWasClosed = false;
    WhenModal<TSettingsForm>([&](TSettingsForm* dialog) {
        portWasClosed = !FForm->OMATracer1()->Active();
        WaitUntil([&] { return dialog->PortsProbed(); });
        dialog->SelectBackColor(0x00FF00);
        dialog->SelectTraceColor(0x0000FF);
        dialog->ViewLogButtonClick();
    });
    FForm->Button1Click();

    EXPECT_TRUE(portWasClosed);
    EXPECT_EQ(SettingsList().Value(setting::TracerCOMPort), FPty.SlavePath());
    EXPECT_EQ(SettingsList().Value(setting::BackColor), "65280");
    EXPECT_EQ(FForm->TracePanel1()->BGColor, 0x00FF00u);
    EXPECT_EQ(FForm->TracePanel1()->FillColor, 0x0000FFu);
    EXPECT_TRUE(FForm->OMATracer1()->Active());
    EXPECT_EQ(StatusText(*FForm), QString::fromStdString("Ready on port " + FPty.SlavePath()));
    // The log window opens once the exchange is over.
    EXPECT_TRUE(WaitUntil([&] { return FForm->findChild<TShowLogForm*>() != nullptr; }));
    FPty.Send({"REQ=INI"});
    EXPECT_FALSE(FPty.AwaitReply().empty());
}

TEST_F(FormEdit, DecimalCommaOfTheUsersSettings) {
    struct TGermanNumbers {
        const char Previous = DecimalSeparator();
        TGermanNumbers() {
            SetDecimalSeparator(',');
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        }
        ~TGermanNumbers() {
            QLocale::setDefault(QLocale::c());
            SetDecimalSeparator(Previous);
        }
    } german;
    ShowJob();
    // The tracer writes a full stop whatever the workstation says; it is still read.
    EXPECT_EQ(Edit("DBLEdit")->text(), QStringLiteral("17,50"));
    EXPECT_DOUBLE_EQ(FForm->TracePanel1()->DBL(), 17.5);
    Edit("DBLEdit")->Editor()->setText(QStringLiteral("18,5"));
    EXPECT_EQ(FileRecord(File(), "DBL"), "18,50");
    QTest::keyClick(Edit("BoxBEdit"), Qt::Key_Down);
    EXPECT_EQ(FileRecord(File(), "VBOX").substr(0, 6), "39,90;");
    FForm.reset(); // made with the German locale
}

// Opening writes a job file only when the filling selects another type; a file with the same
// selection or with no type record at all (a text file that is no trace file) writes nothing.
TEST_F(FormEdit, OpenWritesOnlyWhenTheFillingChangesATypeSelection) {
    ShowJob();
    const QString same = FFolder.path() + QStringLiteral("/55.txt");
    ASSERT_TRUE(QFile::copy(FFile, same));
    const QString notes = FFolder.path() + QStringLiteral("/56.txt");
    {
        QFile file(notes);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("shopping list\r\nmilk\r\n");
    }
    for (const QString& opened : {same, notes}) {
        FForm->OnChooseTraceFile = [&] { return opened; };
        FForm->OpenButtonClick();
        Settle();
        EXPECT_FALSE(QFile::exists(TracePath(QFileInfo(opened).fileName()))) << opened.toStdString();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), opened);
    }
    // The text file cleared both selections; the trace file selects them again: written, and the
    // clipboard names the written file.
    FForm->OnChooseTraceFile = [&] { return same; };
    FForm->OpenButtonClick();
    Settle();
    EXPECT_TRUE(QFile::exists(TracePath(QStringLiteral("55.txt"))));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), TracePath(QStringLiteral("55.txt")));
}
