// The operator's changes to a job shown in the main window, driven by keystrokes: box values
// typed and stepped, text that is no value, DBL, frame and edge type, the rewrites of one pass,
// AllowMod, the Enter key, trace file import, the close confirmation, the settings exchange and
// the user's decimal separator.
#include "FormTestSupport.h"

#include "app/NumberEdit.h"
#include "app/core/JobKeys.h"
#include "app/core/ShapeEdit.h"
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

#include <algorithm>
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
    void ActivateWindow() {
        FForm->show();
        FForm->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
    }

    QString FFile;
    std::string FWritten;
};

// The first number of a record, whichever separator it was written with.
double Number(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    return std::stod(text.substr(0, text.find(';')));
}

// The user's decimal separator, and the locale the toolkit's own widgets follow, for a scope.
class TUsersNumbers {
public:
    explicit TUsersNumbers(char separator) : FPrevious(DecimalSeparator()) {
        SetDecimalSeparator(separator);
        QLocale::setDefault(separator == ',' ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c());
    }
    ~TUsersNumbers() {
        QLocale::setDefault(QLocale::c());
        SetDecimalSeparator(FPrevious);
    }
    TUsersNumbers(const TUsersNumbers&) = delete;
    TUsersNumbers& operator=(const TUsersNumbers&) = delete;

private:
    char FPrevious;
};

} // namespace

TEST_F(FormEdit, OneStepUpOfBoxARescalesBothEyesAndRewritesTheBoxRecords) {
    ShowJob();
    QSignalSpy written(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    QTest::keyClick(Edit("BoxAEdit"), Qt::Key_Up);
    Settle();
    EXPECT_EQ(written.count(), 1); // one change, one rewrite

    EXPECT_TRUE(FForm->ShapeModified());
    EXPECT_EQ(Edit("BoxAEdit")->text(), QStringLiteral("50.10"));
    EXPECT_NE(FForm->Job().Value(jobkey::RtTrace), FForm->BaseTraces().Value(jobkey::RtTrace));
    EXPECT_NE(FForm->Job().Value(jobkey::LtTrace), FForm->BaseTraces().Value(jobkey::LtTrace));
    EXPECT_EQ(FForm->TracePanel1()->Trace(), FForm->Job().Value(jobkey::RtTrace));

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
}

// The edit typed in keeps the operator's keystrokes, in any order, at any caret position and with
// either separator; the job, the drawing, the other edits and the file follow the value typed.
TEST_F(FormEdit, TypedBoxValueStaysAsTypedAndReachesTheFile) {
    struct Case {
        char separator;
        int caret; // -1: the whole text selected
        int backspacesBefore;
        QString keys;
        int deletesAfter;
        QString typed;
    };
    const Case cases[] = {{'.', -1, 0, QStringLiteral("48.5"), 0, QStringLiteral("48.5")},
                          {'.', 0, 0, QStringLiteral("48.5"), 5, QStringLiteral("48.5")},
                          {'.', 5, 5, QStringLiteral("48.5"), 0, QStringLiteral("48.5")},
                          {'.', 0, 0, QStringLiteral("485"), 5, QStringLiteral("485")},
                          {',', -1, 0, QStringLiteral("48,5"), 0, QStringLiteral("48,5")},
                          {',', -1, 0, QStringLiteral("48.5"), 0, QStringLiteral("48.5")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.separator) + " " + c.keys.toStdString() + " at " + std::to_string(c.caret));
        const TUsersNumbers numbers(c.separator);
        ShowJob();
        ActivateWindow();
        TNumberEdit* edit = Edit("BoxAEdit");
        edit->setFocus();
        QLineEdit* editor = edit->Editor();
        if (c.caret < 0)
            editor->selectAll();
        else
            editor->setCursorPosition(c.caret);
        for (int i = 0; i < c.backspacesBefore; ++i)
            QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, c.keys);
        if (c.caret == 0) // the digit 4 first: the keys go before the old text, which then goes
            editor->setCursorPosition(static_cast<int>(c.keys.size()));
        for (int i = 0; i < c.deletesAfter; ++i)
            QTest::keyClick(edit, Qt::Key_Delete);
        EXPECT_EQ(editor->text(), c.typed);
        Settle();
        const double wanted = c.typed == QStringLiteral("485") ? 0 : 48.5;
        const std::string text = File();
        if (wanted == 0) {
            // Every text on the way was refused by the geometry: the job keeps its shape.
            EXPECT_NE(StatusText(*FForm).indexOf(QStringLiteral("cannot be made")), -1)
                << StatusText(*FForm).toStdString();
        } else {
            EXPECT_NEAR(Number(FileRecord(text, "HBOX")), 48.5, 0.011);
            EXPECT_DOUBLE_EQ(Number(FileRecord(text, "VBOX")), Number(Edit("BoxBEdit")->text().toStdString()));
            EXPECT_EQ(FForm->TracePanel1()->Trace(), FForm->Job().Value(jobkey::RtTrace));
        }
        // Leaving the edit shows the value the job holds, in the edits' format.
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(editor->text().toStdString(), FormatFixed(wanted == 0 ? 50 : 48.5, 2));
        EXPECT_NEAR(Number(FileRecord(File(), "HBOX")), wanted == 0 ? 50 : 48.5, 0.011);
        EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
        FForm.reset(); // made with this locale
    }
}

// Text that is no number (yet) or out of reach raises no message box and changes nothing; when
// the operator leaves the edit it shows the value of the shape shown again, and the status says
// why. Typing 999 takes 9 and 99 on the way: the shape, the records and the file keep 99, and so
// does the edit once left.
TEST_F(FormEdit, TextThatIsNoValueIsNoErrorAndLeavingTheEditPutsItBack) {
    struct Case {
        QString keys; // typed over the whole text; empty: the text deleted
        QString problem;
        QString back;
    };
    const QString base = QStringLiteral("50.00");
    const Case cases[] = {
        {QString(), QStringLiteral("Box A is empty: type a number"), base},
        {QStringLiteral("-"), QStringLiteral("Box A: \"-\" is not a number"), base},
        {QStringLiteral(","), QStringLiteral("Box A: \",\" is not a number"), base},
        {QStringLiteral("999"), QStringLiteral("Box A 999.00 cannot be made: "), QStringLiteral("99.00")}};
    ShowJob();
    ActivateWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys.toStdString());
        TNumberEdit* edit = Edit("BoxAEdit");
        edit->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return edit->hasFocus(); }));
        edit->Editor()->selectAll();
        if (c.keys.isEmpty())
            QTest::keyClick(edit, Qt::Key_Delete);
        else
            QTest::keyClicks(edit, c.keys);
        Settle();
        EXPECT_EQ(edit->text(), c.keys);
        EXPECT_TRUE(StatusText(*FForm).startsWith(c.problem)) << StatusText(*FForm).toStdString();

        QTest::keyClick(edit, Qt::Key_Return);
        Settle();
        EXPECT_EQ(edit->text(), c.back);
        EXPECT_TRUE(StatusText(*FForm).endsWith(QStringLiteral("; back to ") + c.back))
            << StatusText(*FForm).toStdString();
        // The edit, the drawing, the records and the file agree.
        const std::string text = File();
        EXPECT_EQ(FileRecord(text, "HBOX").substr(0, 6), c.back.toStdString() + ";");
        EXPECT_EQ(FForm->TracePanel1()->Trace(), FForm->Job().Value(jobkey::RtTrace));
        if (c.back == base) {
            EXPECT_EQ(text, FWritten);
            EXPECT_FALSE(FForm->ShapeModified());
        }
    }
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
    // A step it cannot reach is put back at once.
    const QString boxB = Edit("BoxBEdit")->text();
    Edit("BoxBEdit")->setValue(9999.9);
    QTest::keyClick(Edit("BoxBEdit"), Qt::Key_Up);
    EXPECT_EQ(Edit("BoxBEdit")->text(), boxB);
}

// A held button asks for a rewrite per step; one file per event-loop pass is written, and the
// last step reaches the file also when the window goes at once.
TEST_F(FormEdit, RewritesOfOnePassAreOneAndTheLastIsNeverLost) {
    ShowJob();
    QSignalSpy written(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(Edit("BoxAEdit"), Qt::Key_Up);
    EXPECT_EQ(written.count(), 0);
    Settle();
    EXPECT_EQ(written.count(), 1);
    EXPECT_EQ(FileRecord(File(), "HBOX").substr(0, 6), "51.00;");

    for (const bool close : {true, false}) {
        SCOPED_TRACE(close ? "closed" : "destroyed");
        QTest::keyClick(Edit("DBLEdit"), Qt::Key_Up);
        const std::string dbl = Edit("DBLEdit")->text().toStdString();
        if (close)
            FForm->CloseWithoutAsking();
        else
            FForm.reset();
        EXPECT_EQ(FileRecord(File(), "DBL"), dbl);
    }
}

TEST_F(FormEdit, LockBAtDatumReachesTheRescale) {
    ShowJob();
    const std::string rt = FForm->BaseTraces().Value(jobkey::RtTrace);
    const std::string lt = FForm->BaseTraces().Value(jobkey::LtTrace);
    for (const bool locked : {true, false}) {
        SCOPED_TRACE(locked);
        Control<QCheckBox>(*FForm, "LockBCheckBox")->setChecked(locked);
        Edit("BoxBEdit")->Editor()->clear();
        Edit("BoxBEdit")->Editor()->setText(QStringLiteral("30"));
        EXPECT_EQ(FForm->Job().Value(jobkey::RtTrace), RescaleJob(rt, lt, TShapeOp::BoxB, 30, locked).RtTrace);
    }
    EXPECT_NE(RescaleJob(rt, lt, TShapeOp::BoxB, 30, true).RtTrace,
              RescaleJob(rt, lt, TShapeOp::BoxB, 30, false).RtTrace);
}

TEST_F(FormEdit, DBLTakesNumbersOnlyAndLeavesTheShapeAlone) {
    ShowJob();
    Edit("DBLEdit")->Editor()->setText(QStringLiteral("abc"));
    Edit("DBLEdit")->Editor()->clear();
    Settle();
    EXPECT_EQ(File(), FWritten);
    EXPECT_EQ(FForm->Job().Value("DBL"), "17.50");

    Edit("DBLEdit")->Editor()->setText(QStringLiteral("18"));
    Settle();
    EXPECT_EQ(FForm->Job().Value("DBL"), "18.00");
    EXPECT_EQ(FileRecord(File(), "DBL"), "18.00");
    EXPECT_EQ(FileRecord(File(), "HBOX"), "50.00;50.00");
    EXPECT_FALSE(FForm->ShapeModified());
    EXPECT_DOUBLE_EQ(FForm->TracePanel1()->DBL(), 18.0);
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(FormEdit, FrameAndEdgeSelectionsRewriteTheTypeRecords) {
    ShowJob();
    // The tracer sent FTYP 1 and ETYP 1; a rimless edge makes the frame rimless.
    List("FrameTypeCombo")->setCurrentIndex(1);
    List("EdgeTypeCombo")->setCurrentIndex(2);
    Settle();
    const std::string text = File();
    EXPECT_EQ(FileRecord(text, "FTYP"), "3");
    EXPECT_EQ(FileRecord(text, "ETYP"), "2");
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
    ASSERT_TRUE(WaitUntil([&] { return Control<QGroupBox>(*FForm, "JobGroupBox")->title() == " Tracer job 42 "; }));
    EXPECT_EQ(FForm->Job().Value(jobkey::RtTrace), RadiiText(RightRadii()));
    EXPECT_EQ(FForm->Job().Value(jobkey::LtTrace), RadiiText(LeftRadii()));
    EXPECT_EQ(FForm->BaseTraces().Value(jobkey::RtTrace), RadiiText(RightRadii()));
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

TEST_F(FormEdit, SettingsExchangeKeepsThePortAppliesColoursAndShowsTheLog) {
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

    EXPECT_FALSE(portWasClosed); // no change of port or rate: the line stays as it is
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
    const TUsersNumbers german(',');
    ShowJob();
    // The tracer writes a full stop whatever the workstation says; it is still read.
    EXPECT_EQ(Edit("DBLEdit")->text(), QStringLiteral("17,50"));
    EXPECT_DOUBLE_EQ(FForm->TracePanel1()->DBL(), 17.5);
    Edit("DBLEdit")->Editor()->setText(QStringLiteral("18,5"));
    Settle();
    EXPECT_EQ(FileRecord(File(), "DBL"), "18.50"); // a job file means the same everywhere
    QTest::keyClick(Edit("BoxBEdit"), Qt::Key_Down);
    Settle();
    EXPECT_EQ(FileRecord(File(), "VBOX").substr(0, 6), "39.90;");
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
