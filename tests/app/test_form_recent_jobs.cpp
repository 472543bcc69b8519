// The list of recent jobs from the main window: "Recent &Jobs" opens one list, a job received
// meanwhile is on top at once, Enter shows a listed job as Open does, and Ctrl+C puts its file
// name on the clipboard as after a job.
#include "FormTestSupport.h"

#include "app/dialogs/RecentJobsForm.h"

#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace form_test;

namespace {

class FormRecentJobs : public TFormFixture {
protected:
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        const QAbstractItemModel* model = FForm->RecentJobsWindow()->JobsView()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            rows.push_back(model->index(row, TRecentJobsForm::colJob).data().toString().toStdString());
        return rows;
    }
};

TEST_F(FormRecentJobs, ListFollowsTheJobsAndShowsOneAsOpenDoes) {
    StartForm();
    ASSERT_FALSE(DeliverJob({.Job = "123"}).empty());
    ASSERT_FALSE(DeliverJob({.Job = "456", .DBL = "19.00"}).empty());
    QPushButton* button = Control<QPushButton>(*FForm, "RecentJobsButton");
    EXPECT_EQ(button->text(), "Recent &Jobs");

    button->click();
    TRecentJobsForm* list = FForm->RecentJobsWindow();
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(Rows(), (std::vector<std::string>{"456", "123"}));
    button->click();
    EXPECT_EQ(FForm->RecentJobsWindow(), list);

    // Received while the list is open: on top without a new listing.
    ASSERT_FALSE(DeliverJob({.Job = "789"}).empty());
    EXPECT_EQ(Rows(), (std::vector<std::string>{"789", "456", "123"}));

    QTest::keyClicks(list->SearchEdit(), "45");
    QTest::keyClick(list->SearchEdit(), Qt::Key_Return);
    Settle();
    EXPECT_EQ(FForm->Job().Value("JOB"), "456");
    EXPECT_EQ(Control<QGroupBox>(*FForm, "JobGroupBox")->title(), " Tracer job 456 ");
    EXPECT_EQ(FForm->Job().Value("DBL"), "19.00");

    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(list->JobsView(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QDir::toNativeSeparators(TracePath(QStringLiteral("456.txt"))));
    EXPECT_TRUE(FErrors.Messages.empty());
}

} // namespace
