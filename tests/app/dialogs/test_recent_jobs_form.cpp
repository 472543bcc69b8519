// The list of recent jobs on real widgets (offscreen) over a real folder: the rows and their
// values, a file that is no job dropped once in view, search, Enter and a double click showing
// the job, the file name on the clipboard, a written job on top.
#include "TraceText.h"
#include "app/core/JobFile.h"
#include "app/core/RecentJobs.h"
#include "app/dialogs/RecentJobsForm.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {
namespace fs = std::filesystem;

void WriteJob(const std::string& fileName, const std::string& dbl, int minutesAgo) {
    TRecordList list;
    list.Add("REQ=FIL");
    list.Add("DBL=" + dbl);
    list.Add("HBOX=50.00;50.00");
    list.Add("VBOX=40.00;40.00");
    list.Add("TRCFMT=1;36;E;R;F");
    AddRadiiRecords(list, trace_text::Ellipse(36, 25, 20)); // 50 x 40 mm
    std::ofstream out(fileName, std::ios::binary);
    for (const std::string& line : list.Lines())
        out << line << "\r\n";
    out.close();
    fs::last_write_time(fileName, fs::file_time_type::clock::now() - std::chrono::minutes(minutesAgo));
}

class RecentJobsFormTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Folder.isValid());
        WriteJob(Name("100.txt"), "16.00", 30);
        WriteJob(Name("200.txt"), "17.00", 20);
        WriteJob(Name("300.txt"), "18.00", 10);
        std::ofstream(Name("readme.txt")) << "Jobs of the lab, one file each.\n";
        fs::last_write_time(Name("readme.txt"), fs::file_time_type::clock::now() - std::chrono::minutes(15));
        Owner.show();
    }
    void TearDown() override { delete Form; }

    std::string Name(const std::string& file) const { return Folder.path().toStdString() + "/" + file; }

    TRecentJobsForm* Open() {
        Form = ShowRecentJobsWindow(&Owner, Folder.path().toStdString());
        Form->OnShowJob = [this](const std::string& fileName) { Shown.push_back(fileName); };
        // The rows in view read their files; those that are no jobs go after the paint.
        Form->JobsView()->viewport()->grab();
        QApplication::processEvents();
        return Form;
    }

    QString Cell(int row, int column) const { return Form->JobsView()->model()->index(row, column).data().toString(); }
    std::vector<std::string> JobColumn() const {
        std::vector<std::string> jobs;
        for (int row = 0; row < Form->JobsView()->model()->rowCount(); ++row)
            jobs.push_back(Cell(row, TRecentJobsForm::colJob).toStdString());
        return jobs;
    }

    QTemporaryDir Folder;
    QWidget Owner;
    QPointer<TRecentJobsForm> Form;
    std::vector<std::string> Shown;
};

TEST_F(RecentJobsFormTest, ListsTheJobsNewestFirstWithTheirValuesAndDropsOtherFiles) {
    Open();
    EXPECT_EQ(Form->windowTitle(), "Recent Jobs");
    EXPECT_FALSE(Form->isModal());
    EXPECT_EQ(JobColumn(), (std::vector<std::string>{"300", "200", "100"}));
    EXPECT_EQ(Form->Jobs().Count(), 3u);
    EXPECT_EQ(Cell(0, TRecentJobsForm::colBoxA), "50.00");
    EXPECT_EQ(Cell(0, TRecentJobsForm::colBoxB), "40.00");
    EXPECT_EQ(Cell(1, TRecentJobsForm::colDBL), "17.00");
    EXPECT_FALSE(Cell(0, TRecentJobsForm::colWritten).isEmpty());
    const QStringList headers = {"Job", "Date and Time", "Box A", "Box B", "DBL", "Shape"};
    for (int column = 0; column < headers.size(); ++column)
        EXPECT_EQ(Form->JobsView()->model()->headerData(column, Qt::Horizontal).toString(), headers[column]);

    // The drawing: the shape cell of a row is not all background.
    const QRect cell = Form->JobsView()->visualRect(Form->JobsView()->model()->index(2, TRecentJobsForm::colShape));
    const QImage image = Form->JobsView()->viewport()->grab(cell).toImage();
    const QRgb background = image.pixel(0, 0);
    bool drawn = false;
    for (int y = 0; y < image.height() && !drawn; ++y)
        for (int x = 0; x < image.width() && !drawn; ++x)
            drawn = image.pixel(x, y) != background;
    EXPECT_TRUE(drawn);
}

TEST_F(RecentJobsFormTest, EnterDoubleClickAndTheButtonShowTheJob) {
    Open();
    EXPECT_TRUE(Form->SearchEdit()->hasFocus() || !Form->isActiveWindow());
    QTableView* view = Form->JobsView();
    const struct {
        const char* Way;
        std::function<void()> Act;
        std::string Shown;
    } cases[] = {
        {"Enter in the search field: the first match",
         [&] {
             QTest::keyClicks(Form->SearchEdit(), "20");
             QTest::keyClick(Form->SearchEdit(), Qt::Key_Return);
         },
         "200.txt"},
        {"Down into the list, Enter",
         [&] {
             Form->SearchEdit()->clear();
             QTest::keyClick(Form->SearchEdit(), Qt::Key_Down);
             QTest::keyClick(view, Qt::Key_Return);
         },
         "200.txt"},
        {"double click",
         [&] {
             const QRect row = view->visualRect(view->model()->index(2, TRecentJobsForm::colJob));
             // As the window system delivers it: a click, then the second press as a double click.
             QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row.center());
             QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, row.center());
         },
         "100.txt"},
        {"Show Job", [&] { Form->ShowButton()->click(); }, "100.txt"},
    };
    for (const auto& c : cases) {
        Shown.clear();
        c.Act();
        EXPECT_EQ(Shown, std::vector<std::string>{Name(c.Shown)}) << c.Way;
    }
    EXPECT_EQ(Form->ShowButton()->text(), "&Show Job");
    EXPECT_EQ(Form->CopyButton()->text(), "&Copy File Name");
}

TEST_F(RecentJobsFormTest, CtrlCAndTheButtonPutTheFileNameOnTheClipboard) {
    Open();
    QTableView* view = Form->JobsView();
    view->setFocus();
    view->setCurrentIndex(view->model()->index(1, 0));
    QGuiApplication::clipboard()->setText("before");
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QDir::toNativeSeparators(QString::fromStdString(Name("200.txt"))));

    Form->OnClipboardName = [](const std::string& fileName) { return QString::fromStdString("pasted:" + fileName); };
    view->setCurrentIndex(view->model()->index(0, 0));
    Form->CopyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "pasted:" + Name("300.txt"));
}

TEST_F(RecentJobsFormTest, SearchNarrowsTheListAndSaysWhenNothingMatches) {
    Open();
    QTest::keyClicks(Form->SearchEdit(), "0");
    EXPECT_EQ(JobColumn(), (std::vector<std::string>{"300", "200", "100"}));
    QTest::keyClicks(Form->SearchEdit(), "0");
    EXPECT_EQ(JobColumn(), (std::vector<std::string>{"300", "200", "100"}));
    Form->SearchEdit()->setText("1");
    EXPECT_EQ(JobColumn(), std::vector<std::string>{"100"});
    EXPECT_TRUE(Form->CountLabel()->text().isEmpty());
    Form->SearchEdit()->setText("4");
    EXPECT_TRUE(JobColumn().empty());
    EXPECT_EQ(Form->CountLabel()->text(), "No job found");
    EXPECT_FALSE(Form->ShowButton()->isEnabled());
    Form->ShowJobClick();
    EXPECT_TRUE(Shown.empty());
}

TEST_F(RecentJobsFormTest, AWrittenJobIsOnTopAtOnce) {
    Open();
    Form->SearchEdit()->setText("00");
    WriteJob(Name("400.txt"), "19.00", 0);
    Form->JobFileWritten(Name("400.txt"));
    EXPECT_EQ(JobColumn(), (std::vector<std::string>{"400", "300", "200", "100"}));
    WriteJob(Name("200.txt"), "21.00", 0);
    Form->JobFileWritten(Name("200.txt"));
    EXPECT_EQ(JobColumn(), (std::vector<std::string>{"200", "400", "300", "100"}));
    EXPECT_EQ(Cell(0, TRecentJobsForm::colDBL), "21.00");
    // Not matching the search: in the index, not in the rows.
    WriteJob(Name("512.txt"), "19.00", 0);
    Form->JobFileWritten(Name("512.txt"));
    EXPECT_EQ(JobColumn().size(), 4u);
    EXPECT_EQ(Form->Jobs().Job(0).JobNumber, "512");
}

TEST_F(RecentJobsFormTest, EscapeAndCloseDestroyTheWindow) {
    for (const auto close : {+[](TRecentJobsForm* f) { QTest::keyClick(f, Qt::Key_Escape); },
                             +[](TRecentJobsForm* f) { f->CloseButton()->click(); }}) {
        Open();
        close(Form);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(Form.isNull());
    }
}

} // namespace
