// TRecentJobsForm: the list of recent jobs: the job trace files of the traces folder, newest
// first, with job number, date and time, box A, box B, DBL and a small drawing of the shape;
// searched by job number. Enter or a double click shows a job, Ctrl+C or a button puts its file
// name on the clipboard. Only the rows in view read their files.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QLineEdit;
class QLabel;
class QPushButton;
class QTableView;
class TRecentJobs;
class TRecentJobsModel;

namespace Ui {
class TRecentJobsForm;
}

class TRecentJobsForm : public QDialog {
    Q_OBJECT
public:
    enum TColumn { colJob, colWritten, colBoxA, colBoxB, colDBL, colShape, colCount };

    // Lists `tracesFolder` (named as the core names files) at once; destroyed when closed.
    TRecentJobsForm(QWidget* owner, const std::string& tracesFolder);
    ~TRecentJobsForm() override;

    // Shows the job of a file (the core's name), as Open does. Unset: nothing is shown.
    std::function<void(const std::string& fileName)> OnShowJob;
    // A file name as the operator pastes it, in the system's notation. Unset: the name read as
    // UTF-8, with the system's separators.
    std::function<QString(const std::string& fileName)> OnClipboardName;

    // A job trace file was written or received: it is on top at once, without a new listing.
    void JobFileWritten(const std::string& fileName);

    // The selected job's file (core name); empty when no row is selected.
    std::string CurrentFileName() const;
    void ShowJobClick();
    void CopyFileNameClick();

    QLineEdit* SearchEdit() const;
    QTableView* JobsView() const;
    QLabel* CountLabel() const;
    QPushButton* ShowButton() const;
    QPushButton* CopyButton() const;
    QPushButton* CloseButton() const;
    const TRecentJobs& Jobs() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SearchChanged();
    void ShowCount();
    void SelectFirst();

    std::unique_ptr<Ui::TRecentJobsForm> FUi;
    std::unique_ptr<TRecentJobs> FJobs;
    TRecentJobsModel* FModel = nullptr;
};

// A new, non-modal list of the traces folder owned by `owner`.
TRecentJobsForm* ShowRecentJobsWindow(QWidget* owner, const std::string& tracesFolder);
