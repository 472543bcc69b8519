// The operator's changes to a job shown in the main window, driven by keystrokes and the wheel:
// values typed and applied when finished, stepped, refused and put back, DBL, frame and edge
// type, the rewrites of one pass, AllowMod, the Enter key, trace file import, the close
// confirmation, the settings exchange and the user's decimal separator.
#include "FormTestSupport.h"

#include "app/NumberEdit.h"
#include "app/core/ShapeEdit.h"
#include "app/dialogs/SettingsForm.h"
#include "app/dialogs/ShowLog.h"
#include "common/Numbers.h"
#include "handler/OMATracer.h"
#include "trace/TracePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <clocale>
#include <cmath>
#include <string>

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

    // Types one character at a time into the edit with the focus; nothing reaches the job meanwhile.
    void TypeSlowly(TNumberEdit* edit, const QString& keys) {
        for (const QChar key : keys) {
            QTest::keyClick(edit, key.toLatin1());
            Settle();
            EXPECT_EQ(File(), FWritten) << "after " << key.toLatin1();
        }
    }
    // Focuses the edit and selects its text.
    void EnterEdit(TNumberEdit* edit) {
        edit->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return edit->hasFocus(); }));
        edit->Editor()->selectAll();
    }
    // Types a value over the edit's text and finishes it with Tab.
    void EnterValue(TNumberEdit* edit, const QString& text) {
        EnterEdit(edit);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Tab);
        Settle();
    }
    // Every measurement edit shows the value the file holds for it (the right eye's).
    void ExpectEditsShowTheFile() {
        const std::string text = File();
        for (const auto& [name, label] : {std::pair{"BoxAEdit", "HBOX"}, {"BoxBEdit", "VBOX"}, {"CircEdit", "CIRC"}}) {
            const std::string record = FileRecord(text, label);
            double value = 0;
            ASSERT_TRUE(TryStrToFloatPointOrComma(record.substr(0, record.find(';')), value)) << record;
            EXPECT_EQ(Edit(name)->text().toStdString(), FormatFixed(value, 2)) << label;
        }
    }

    QString FFile;
    std::string FWritten;
};

// The first number of a record, whichever separator it was written with.
double Number(const std::string& text) {
    double value = 0;
    EXPECT_TRUE(TryStrToFloatPointOrComma(text.substr(0, text.find(';')), value)) << text;
    return value;
}

// The user's decimal separator, and the locale the toolkit's own widgets follow, for a scope. The
// C library takes the German numbers too where that locale is installed, so that a number written
// through it would show its comma in the job file.
class TUsersNumbers {
public:
    explicit TUsersNumbers(char separator)
        : FPrevious(DecimalSeparator()), FPreviousC(std::setlocale(LC_NUMERIC, nullptr)) {
        SetDecimalSeparator(separator);
        QLocale::setDefault(separator == ',' ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c());
        if (separator == ',')
            std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    }
    ~TUsersNumbers() {
        std::setlocale(LC_NUMERIC, FPreviousC.c_str());
        QLocale::setDefault(QLocale::c());
        SetDecimalSeparator(FPrevious);
    }
    TUsersNumbers(const TUsersNumbers&) = delete;
    TUsersNumbers& operator=(const TUsersNumbers&) = delete;

private:
    char FPrevious;
    std::string FPreviousC;
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
    EXPECT_NE(Radii(FForm->Session().Rt()), Radii(FForm->Session().BaseRt()));
    EXPECT_NE(Radii(FForm->Session().Lt()), Radii(FForm->Session().BaseLt()));
    EXPECT_EQ(FForm->TracePanel1()->Shape(), FForm->Session().Rt());

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

// A value reaches the job only when the operator finishes it with Tab or Enter: typing 48.5 one
// key at a time changes nothing on the way (no 4 mm lens), in the C and a German locale. Then the
// edits show what the file holds.
TEST_F(FormEdit, TypedValueReachesTheFileOnlyWhenFinished) {
    struct Case {
        char separator;
        const char* edit;
        QString keys;
        Qt::Key finish;
        const char* label;
        double wanted;
    };
    const Case cases[] = {{'.', "BoxAEdit", QStringLiteral("48.5"), Qt::Key_Tab, "HBOX", 48.5},
                          {',', "BoxAEdit", QStringLiteral("48,5"), Qt::Key_Return, "HBOX", 48.5},
                          {',', "CircEdit", QStringLiteral("150"), Qt::Key_Tab, "CIRC", 150},
                          {'.', "DBLEdit", QStringLiteral("19.5"), Qt::Key_Return, "DBL", 19.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.separator) + " " + c.edit + " " + c.keys.toStdString());
        const TUsersNumbers numbers(c.separator);
        ShowJob();
        ActivateWindow();
        TNumberEdit* edit = Edit(c.edit);
        EnterEdit(edit);
        TypeSlowly(edit, c.keys);
        EXPECT_EQ(edit->Editor()->text(), c.keys);
        EXPECT_FALSE(FForm->ShapeModified());

        QTest::keyClick(edit, c.finish);
        Settle();
        // The points give what they give (a circumference of 150 may measure 150.02); the edits
        // then show that.
        EXPECT_NEAR(Number(FileRecord(File(), c.label)), c.wanted, 0.05);
        EXPECT_EQ(FForm->TracePanel1()->Shape(), FForm->Session().Rt());
        ExpectEditsShowTheFile();
        EXPECT_EQ(Edit("DBLEdit")->text().toStdString(),
                  FormatFixed(c.label == std::string("DBL") ? c.wanted : 17.5, 2));
        EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
        FForm.reset(); // made with this locale
    }
}

// Text that is no value, or a value out of the plausible range, raises no message box and changes
// nothing: leaving the edit shows the value from before the editing began and the status says
// why. Backspace down to nothing never writes the shorter prefixes on the way.
TEST_F(FormEdit, ValueNotToTakeIsPutBackWhenTheEditIsLeft) {
    struct Case {
        const char* edit;
        int backspaces; // from the end of the text; 0: the keys are typed over the whole text
        QString keys;
        QString status;
        QString back;
    };
    const Case cases[] = {
        {"BoxAEdit", 5, QString(), QStringLiteral("Box A is empty: type a number; back to 50.00"),
         QStringLiteral("50.00")},
        {"BoxAEdit", 0, QStringLiteral("-"), QStringLiteral("Box A: \"-\" is not a number; back to 50.00"),
         QStringLiteral("50.00")},
        {"BoxBEdit", 0, QStringLiteral("5"), QStringLiteral("Box B must be from 10.00 to 100.00 mm; back to 40.00"),
         QStringLiteral("40.00")},
        {"CircEdit", 0, QStringLiteral("999.99"),
         QStringLiteral("Circumference must be from 30.00 to 320.00 mm; back to 142.00"), QStringLiteral("142.00")},
        {"DBLEdit", 0, QStringLiteral("41"), QStringLiteral("DBL must be from 0.00 to 40.00 mm; back to 17.50"),
         QStringLiteral("17.50")},
        {"DBLEdit", 5, QString(), QStringLiteral("DBL is empty: type a number; back to 17.50"),
         QStringLiteral("17.50")}};
    ShowJob();
    ActivateWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.edit) + " " + c.keys.toStdString());
        TNumberEdit* edit = Edit(c.edit);
        EnterEdit(edit);
        edit->Editor()->end(false);
        for (int i = 0; i < c.backspaces; ++i) {
            QTest::keyClick(edit, Qt::Key_Backspace);
            Settle();
            EXPECT_EQ(File(), FWritten);
        }
        edit->Editor()->selectAll();
        TypeSlowly(edit, c.keys);
        EXPECT_EQ(edit->text(), c.keys);

        QTest::keyClick(edit, Qt::Key_Tab);
        Settle();
        EXPECT_EQ(edit->text(), c.back);
        EXPECT_EQ(StatusText(*FForm), c.status);
        EXPECT_EQ(File(), FWritten);
        EXPECT_FALSE(FForm->ShapeModified());
    }
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();

    // A step beyond the range is put back at once.
    EnterValue(Edit("BoxBEdit"), QStringLiteral("100"));
    const std::string written = File();
    EXPECT_EQ(FileRecord(written, "VBOX").substr(0, 7), "100.00;");
    EnterEdit(Edit("BoxBEdit"));
    QTest::keyClick(Edit("BoxBEdit"), Qt::Key_Up);
    Settle();
    EXPECT_EQ(Edit("BoxBEdit")->text(), QStringLiteral("100.00"));
    EXPECT_EQ(StatusText(*FForm), QStringLiteral("Box B must be from 10.00 to 100.00 mm; back to 100.00"));
    EXPECT_EQ(File(), written);
}

// Scrolling over the window never edits the job: the wheel steps an edit or a list only while it
// has the keyboard focus.
TEST_F(FormEdit, WheelChangesOnlyTheControlWithTheFocus) {
    ShowJob();
    ActivateWindow();
    Control<QPushButton>(*FForm, "OpenButton")->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return Control<QPushButton>(*FForm, "OpenButton")->hasFocus(); }));
    // A turn towards the operator, sent as the toolkit delivers it to the control under the
    // pointer: it would step an edit down and move a list to its next item.
    const auto wheel = [](QWidget* under) {
        const QPointF at(under->width() / 2.0, under->height() / 2.0);
        QWheelEvent event(at, under->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(under, &event);
        Settle();
    };
    wheel(Edit("BoxAEdit"));
    wheel(List("FrameTypeCombo"));
    EXPECT_EQ(Edit("BoxAEdit")->text(), QStringLiteral("50.00"));
    EXPECT_EQ(List("FrameTypeCombo")->currentText(), QStringLiteral("Plastic"));
    EXPECT_TRUE(Control<QPushButton>(*FForm, "OpenButton")->hasFocus());
    EXPECT_EQ(File(), FWritten);

    EnterEdit(Edit("BoxAEdit"));
    wheel(Edit("BoxAEdit"));
    EXPECT_EQ(Edit("BoxAEdit")->text(), QStringLiteral("49.90"));
    EXPECT_EQ(FileRecord(File(), "HBOX").substr(0, 6), "49.90;");
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
    ActivateWindow();
    const TEyeShapePtr rt = FForm->Session().BaseRt();
    const TEyeShapePtr lt = FForm->Session().BaseLt();
    for (const bool locked : {true, false}) {
        SCOPED_TRACE(locked);
        Control<QCheckBox>(*FForm, "LockBCheckBox")->setChecked(locked);
        EnterValue(Edit("BoxBEdit"), locked ? QStringLiteral("30") : QStringLiteral("30.00"));
        EXPECT_EQ(Radii(FForm->Session().Rt()), Radii(RescaleJob(rt, lt, TShapeOp::BoxB, 30, locked).Rt));
        EnterValue(Edit("BoxBEdit"), QStringLiteral("40"));
    }
    EXPECT_NE(Radii(RescaleJob(rt, lt, TShapeOp::BoxB, 30, true).Rt),
              Radii(RescaleJob(rt, lt, TShapeOp::BoxB, 30, false).Rt));
}

TEST_F(FormEdit, DBLTakesNumbersOnlyAndLeavesTheShapeAlone) {
    ShowJob();
    ActivateWindow();
    EnterValue(Edit("DBLEdit"), QStringLiteral("abc"));
    EXPECT_EQ(File(), FWritten);
    EXPECT_EQ(FForm->Job().Value("DBL"), "17.50");

    EnterValue(Edit("DBLEdit"), QStringLiteral("18"));
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
    // The list shows what the file holds.
    EXPECT_EQ(List("FrameTypeCombo")->currentText(), QStringLiteral("Rimless"));
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
    EXPECT_EQ(Radii(FForm->Session().Rt()), RadiiText(RightRadii()));
    EXPECT_EQ(Radii(FForm->Session().Lt()), RadiiText(LeftRadii()));
    EXPECT_EQ(FForm->Session().BaseRt(), FForm->Session().Rt());
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
    EXPECT_TRUE(text.startsWith(QStringLiteral("Cannot open trace data file ") + FFolder.path() +
                                QStringLiteral("/missing.txt\n\n")))
        << text.toStdString();
    EXPECT_GT(text.size(), 50);
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
    ActivateWindow();
    EnterValue(Edit("DBLEdit"), QStringLiteral("18,5"));
    EXPECT_EQ(FileRecord(File(), "DBL"), "18.50"); // a job file means the same everywhere
    QTest::keyClick(Edit("BoxBEdit"), Qt::Key_Down);
    Settle();
    EXPECT_EQ(FileRecord(File(), "VBOX").substr(0, 6), "39.90;");
    FForm.reset(); // made with the German locale
}

// Opening writes a job file only when the filling selects another type; a file with the same
// selection or with no type record at all writes nothing.
TEST_F(FormEdit, OpenWritesOnlyWhenTheFillingChangesATypeSelection) {
    ShowJob();
    const QString same = FFolder.path() + QStringLiteral("/55.txt");
    ASSERT_TRUE(QFile::copy(FFile, same));
    const QString untyped = FFolder.path() + QStringLiteral("/56.txt");
    {
        QFile file(untyped);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("TRCFMT=1;4;E;R;F\r\nR=2500;2000;2500;2000\r\n");
    }
    for (const QString& opened : {same, untyped}) {
        FForm->OnChooseTraceFile = [&] { return opened; };
        FForm->OpenButtonClick();
        Settle();
        EXPECT_FALSE(QFile::exists(TracePath(QFileInfo(opened).fileName()))) << opened.toStdString();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), opened);
    }
    // The untyped file cleared both selections; the trace file selects them again: written, and
    // the clipboard names the written file.
    FForm->OnChooseTraceFile = [&] { return same; };
    FForm->OpenButtonClick();
    Settle();
    EXPECT_TRUE(QFile::exists(TracePath(QStringLiteral("55.txt"))));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), TracePath(QStringLiteral("55.txt")));
}

// Opening never replaces a saved job without a word, and a file that gives no job is refused with
// its name and the reason while the job shown stays and nothing is written.
TEST_F(FormEdit, OpenAsksBeforeReplacingAnotherJobAndRefusesFilesWithoutATrace) {
    struct Case {
        const char* name;
        std::string bytes; // empty: the tracer's job 123 with frame type 2 instead of 1
        std::optional<TReplaceAnswer> answer;
        QString written; // the file the opened job went to; empty: none
        QString refusal; // the reason of a refused file
    };
    const Case cases[] = {
        {"123.txt", "", TReplaceAnswer::KeepBoth, QStringLiteral("123-2.txt"), QString()},
        {"123.txt", "", TReplaceAnswer::Replace, QStringLiteral("123.txt"), QString()},
        {"123.txt", "", TReplaceAnswer::DoNotWrite, QString(), QString()},
        {"88.txt", "shopping list\r\nmilk\r\n", std::nullopt, QString(), QStringLiteral("It holds no trace.")},
        {"89.txt", "\r\n", std::nullopt, QString(), QStringLiteral("The file is empty.")},
        {"90.txt", std::string("R=25\0\x01\x02\r\n", 10), std::nullopt, QString(),
         QStringLiteral("It is not a text file.")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + (" " + c.written.toStdString()));
        ShowJob();
        const QString opened = FFolder.path() + QStringLiteral("/elsewhere/") + QString::fromLatin1(c.name);
        QDir().mkpath(QFileInfo(opened).path());
        {
            std::string bytes = c.bytes;
            if (bytes.empty()) {
                bytes = FWritten;
                bytes.replace(bytes.find("FTYP=1"), 6, "FTYP=2");
            }
            QFile file(opened);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        }
        int asked = 0;
        FForm->OnAskReplace = [&](const QString& existing, const QString& keepBoth) {
            ++asked;
            EXPECT_EQ(existing, FFile);
            EXPECT_EQ(keepBoth, TracePath(QStringLiteral("123-2.txt")));
            return *c.answer;
        };
        QString error;
        FForm->OnOpenError = [&](const QString&, const QString& text) { error = text; };
        FForm->OnChooseTraceFile = [&] { return opened; };
        FForm->OpenButtonClick();
        Settle();

        EXPECT_EQ(asked, c.answer ? 1 : 0);
        const bool replaced = c.written == QStringLiteral("123.txt");
        EXPECT_EQ(File() == FWritten, !replaced);
        if (!c.written.isEmpty()) {
            EXPECT_EQ(FileRecord(ReadFileText(TracePath(c.written)), "FTYP"), "2");
            EXPECT_EQ(QGuiApplication::clipboard()->text(), TracePath(c.written));
        }
        if (c.refusal.isEmpty()) {
            EXPECT_EQ(error, QString());
            EXPECT_EQ(FForm->Job().Value("FTYP"), "2");
        } else {
            EXPECT_EQ(error,
                      QStringLiteral("Cannot open trace data file ") + opened + QStringLiteral("\n\n") + c.refusal);
            EXPECT_EQ(FForm->Job().Value("FTYP"), "1"); // the job shown stays
            EXPECT_EQ(QGuiApplication::clipboard()->text(), FFile);
        }
        EXPECT_EQ(QDir(FFolder.path() + QStringLiteral("/traces")).entryList(QDir::Files).size(),
                  c.written.isEmpty() || replaced ? 1 : 2);
        EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
        FForm.reset();
        QDir(FFolder.path() + QStringLiteral("/traces")).removeRecursively();
    }
}

// The question as the operator meets it: Enter keeps both (the safe choice is the default), and
// Escape, like closing the question, replaces nothing and writes nothing.
TEST_F(FormEdit, ReplaceQuestionKeepsBothOnEnterAndWritesNothingOnEscape) {
    for (const auto& [key, keptBeside] : {std::pair{Qt::Key_Return, true}, {Qt::Key_Escape, false}}) {
        SCOPED_TRACE(keptBeside ? "Enter" : "Escape");
        ShowJob();
        const QString opened = FFolder.path() + QStringLiteral("/elsewhere/123.txt");
        QDir().mkpath(QFileInfo(opened).path());
        {
            std::string bytes = FWritten;
            bytes.replace(bytes.find("FTYP=1"), 6, "FTYP=2");
            QFile file(opened);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        }
        QString title;
        QString frameAsked; // what the panel shows while the operator decides
        WhenModal<QMessageBox>([&, key = key](QMessageBox* box) {
            title = box->windowTitle();
            frameAsked = List("FrameTypeCombo")->currentText();
            QTest::keyClick(box, key);
        });
        FForm->OnChooseTraceFile = [&] { return opened; };
        FForm->OpenButtonClick();
        ASSERT_TRUE(WaitUntil([&] { return !title.isEmpty(); }));
        Settle();

        EXPECT_EQ(title, QStringLiteral("Replace Saved Job?"));
        EXPECT_EQ(frameAsked, QStringLiteral("Metal")); // the opened job, not the one it replaces
        EXPECT_EQ(File(), FWritten);
        const QString beside = TracePath(QStringLiteral("123-2.txt"));
        EXPECT_EQ(QFile::exists(beside), keptBeside);
        if (keptBeside) {
            EXPECT_EQ(FileRecord(ReadFileText(beside), "FTYP"), "2");
        }
        EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
        FForm.reset();
        QDir(FFolder.path() + QStringLiteral("/traces")).removeRecursively();
    }
}
