// The list of recent jobs: a table model over the index of the traces folder that reads a file
// only when its row is shown, a delegate that draws the shape, and the window around them.
#include "app/dialogs/RecentJobsForm.h"

#include "app/core/RecentJobs.h"
#include "app/dialogs/DialogFonts.h"
#include "common/Numbers.h"
#include "trace/EyeShape.h"

#include "ui_RecentJobsForm.h"

#include <QAbstractTableModel>
#include <QCache>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>

#include <algorithm>
#include <exception>

namespace {
// Enough for a window full of rows many times over; a shape is measured again only after it has
// been out of view for long.
constexpr int kShapesKept = 512;
constexpr int kRowHeight = 30;

QString FromBytes(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

class TRecentJobsModel : public QAbstractTableModel {
public:
    TRecentJobsModel(TRecentJobs& jobs, QObject* parent) : QAbstractTableModel(parent), FJobs(jobs) {}

    // The rows of the jobs whose number holds `part`, newest first.
    void SetSearch(std::string part) {
        beginResetModel();
        FSearch = std::move(part);
        FRows = FJobs.Search(FSearch);
        endResetModel();
    }

    TRecentJob* JobAt(int row) const {
        return row >= 0 && row < static_cast<int>(FRows.size()) ? FRows[static_cast<std::size_t>(row)] : nullptr;
    }

    // The job's shape for the drawing; null while the file is not a job or has no shape to draw.
    TEyeShapePtr Shape(int row) const {
        TRecentJob* job = ReadRow(row);
        if (!job)
            return nullptr;
        if (const TEyeShapePtr* kept = FShapes.object(job))
            return *kept;
        TEyeShapePtr shape;
        try {
            shape = MakeEyeShape(job->Radii);
        } catch (const std::exception&) {
        }
        FShapes.insert(job, new TEyeShapePtr(shape));
        return shape;
    }

    void Written(const std::string& fileName) {
        TRecentJob* job = FJobs.Update(fileName);
        if (!job)
            return;
        FShapes.remove(job);
        if (job->State == TRecentJobState::NotAJob) {
            Sweep();
            return;
        }
        const auto at = std::find(FRows.begin(), FRows.end(), job);
        if (at != FRows.end()) {
            int row = static_cast<int>(at - FRows.begin());
            // On top in the index means written now; else the file was only opened.
            if (row > 0 && &FJobs.Job(0) == job) {
                beginMoveRows(QModelIndex(), row, row, QModelIndex(), 0);
                std::rotate(FRows.begin(), at, at + 1);
                endMoveRows();
                row = 0;
            }
            Q_EMIT dataChanged(index(row, 0), index(row, TRecentJobsForm::colCount - 1));
        } else if (TRecentJobs::Matches(*job, FSearch)) {
            beginInsertRows(QModelIndex(), 0, 0);
            FRows.insert(FRows.begin(), job);
            endInsertRows();
        }
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(FRows.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : TRecentJobsForm::colCount;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* const kTitles[] = {"Job", "Date and Time", "Box A", "Box B", "DBL", "Shape"};
        if (orientation != Qt::Horizontal || section < 0 || section >= TRecentJobsForm::colCount)
            return {};
        if (role == Qt::DisplayRole)
            return QString::fromLatin1(kTitles[section]);
        if (role == Qt::TextAlignmentRole)
            return Alignment(section);
        return {};
    }

    QVariant data(const QModelIndex& index, int role) const override {
        const TRecentJob* listed = JobAt(index.row());
        if (!listed)
            return {};
        const int column = index.column();
        if (role == Qt::TextAlignmentRole)
            return Alignment(column);
        if (role == Qt::ToolTipRole && column == TRecentJobsForm::colJob)
            return QDir::toNativeSeparators(FromBytes(listed->FileName));
        if (role != Qt::DisplayRole)
            return {};
        if (column == TRecentJobsForm::colJob)
            return FromBytes(listed->JobNumber);
        if (column == TRecentJobsForm::colWritten) {
            const auto msecs =
                std::chrono::duration_cast<std::chrono::milliseconds>(listed->Written.time_since_epoch());
            return QLocale().toString(QDateTime::fromMSecsSinceEpoch(msecs.count()), QLocale::ShortFormat);
        }
        const TRecentJob* job = ReadRow(index.row());
        if (!job)
            return {};
        const std::optional<double> value = column == TRecentJobsForm::colBoxA   ? job->BoxA
                                            : column == TRecentJobsForm::colBoxB ? job->BoxB
                                            : column == TRecentJobsForm::colDBL  ? job->DBL
                                                                                 : std::nullopt;
        return value ? FromBytes(FormatFixed(*value, 2)) : QVariant();
    }

private:
    // As the views read the role: the flags as an integer.
    static int Alignment(int column) {
        const bool number = column == TRecentJobsForm::colBoxA || column == TRecentJobsForm::colBoxB ||
                            column == TRecentJobsForm::colDBL;
        const Qt::Alignment across = number                                ? Qt::AlignRight
                                     : column == TRecentJobsForm::colShape ? Qt::AlignHCenter
                                                                           : Qt::AlignLeft;
        return static_cast<int>(Qt::AlignVCenter | across);
    }

    // The row's job with its file read; null when the file is no job (its row goes once the
    // view has finished painting).
    TRecentJob* ReadRow(int row) const {
        TRecentJob* job = JobAt(row);
        if (!job || FJobs.Read(*job) == TRecentJobState::Job)
            return job;
        if (!FSweepQueued) {
            FSweepQueued = true;
            auto* self = const_cast<TRecentJobsModel*>(this);
            QMetaObject::invokeMethod(
                self, [self] { self->Sweep(); }, Qt::QueuedConnection);
        }
        return nullptr;
    }

    // Drops the rows of the files found to be no jobs.
    void Sweep() {
        FSweepQueued = false;
        for (int row = rowCount() - 1; row >= 0; --row) {
            TRecentJob* job = FRows[static_cast<std::size_t>(row)];
            if (job->State != TRecentJobState::NotAJob)
                continue;
            beginRemoveRows(QModelIndex(), row, row);
            FRows.erase(FRows.begin() + row);
            endRemoveRows();
            FShapes.remove(job);
            FJobs.Remove(job);
        }
    }

    TRecentJobs& FJobs;
    std::string FSearch;
    std::vector<TRecentJob*> FRows;
    mutable QCache<const TRecentJob*, TEyeShapePtr> FShapes{kShapesKept};
    mutable bool FSweepQueued = false;
};

namespace {
// The outline, scaled to fill the cell around its box centre, as a line in the text's colour.
class TShapeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        const TEyeShapePtr shape = static_cast<const TRecentJobsModel*>(index.model())->Shape(index.row());
        if (!shape || shape->Empty())
            return;
        const QRectF area = QRectF(option.rect).adjusted(4, 3, -4, -3);
        const double width = shape->Right() - shape->Left();
        const double height = shape->Top() - shape->Bottom();
        if (width <= 0 || height <= 0 || area.isEmpty())
            return;
        const double scale = std::min(area.width() / width, area.height() / height);
        QPolygonF outline;
        outline.reserve(static_cast<qsizetype>(shape->Outline().size()));
        for (const TOutlinePoint& point : shape->Outline())
            outline << QPointF(area.center().x() + (point.X - shape->BoxCentreX()) * scale,
                               area.center().y() - (point.Y - shape->BoxCentreY()) * scale);
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(selected ? option.palette.highlightedText().color() : option.palette.text().color(), 1.2));
        painter->setBrush(Qt::NoBrush);
        painter->drawPolygon(outline);
        painter->restore();
    }
};
} // namespace

TRecentJobsForm::TRecentJobsForm(QWidget* owner, const std::string& tracesFolder)
    : QDialog(owner), FUi(std::make_unique<Ui::TRecentJobsForm>()), FJobs(std::make_unique<TRecentJobs>(tracesFolder)) {
    FUi->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(DialogFont());
    FJobs->Scan();
    FModel = new TRecentJobsModel(*FJobs, this);
    FModel->SetSearch({});

    QTableView* view = FUi->JobsView;
    view->setModel(FModel);
    view->setItemDelegateForColumn(colShape, new TShapeDelegate(view));
    // Fixed sizes: a size taken from the contents would read every file of the folder.
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(kRowHeight);
    QHeaderView* header = view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setHighlightSections(false);
    header->setStretchLastSection(true);
    const int widths[] = {120, 150, 64, 64, 64};
    for (int column = 0; column < colShape; ++column)
        header->resizeSection(column, widths[column]);

    connect(FUi->SearchEdit, &QLineEdit::textChanged, this, [this] { SearchChanged(); });
    connect(FUi->SearchEdit, &QLineEdit::returnPressed, this, [this] { ShowJobClick(); });
    connect(view, &QAbstractItemView::activated, this, [this] { ShowJobClick(); });
    connect(FUi->ShowButton, &QPushButton::clicked, this, [this] { ShowJobClick(); });
    connect(FUi->CopyButton, &QPushButton::clicked, this, [this] { CopyFileNameClick(); });
    connect(FUi->CloseButton, &QPushButton::clicked, this, &QWidget::close);
    connect(FModel, &QAbstractItemModel::modelReset, this, [this] { ShowCount(); });
    connect(FModel, &QAbstractItemModel::rowsInserted, this, [this] { ShowCount(); });
    connect(FModel, &QAbstractItemModel::rowsRemoved, this, [this] { ShowCount(); });
    FUi->SearchEdit->installEventFilter(this);
    view->installEventFilter(this);
    SelectFirst();
    ShowCount();
    FUi->SearchEdit->setFocus();
}

TRecentJobsForm::~TRecentJobsForm() = default;

void TRecentJobsForm::JobFileWritten(const std::string& fileName) {
    FModel->Written(fileName);
    if (!FUi->JobsView->currentIndex().isValid())
        SelectFirst();
}

std::string TRecentJobsForm::CurrentFileName() const {
    const TRecentJob* job = FModel->JobAt(FUi->JobsView->currentIndex().row());
    return job ? job->FileName : std::string();
}

void TRecentJobsForm::ShowJobClick() {
    const std::string fileName = CurrentFileName();
    if (!fileName.empty() && OnShowJob)
        OnShowJob(fileName);
}

void TRecentJobsForm::CopyFileNameClick() {
    const std::string fileName = CurrentFileName();
    if (fileName.empty())
        return;
    QGuiApplication::clipboard()->setText(OnClipboardName ? OnClipboardName(fileName)
                                                          : QDir::toNativeSeparators(FromBytes(fileName)));
}

void TRecentJobsForm::SearchChanged() {
    const QByteArray part = FUi->SearchEdit->text().trimmed().toUtf8();
    FModel->SetSearch(part.toStdString());
    SelectFirst();
}

void TRecentJobsForm::SelectFirst() {
    if (FModel->rowCount() > 0)
        FUi->JobsView->setCurrentIndex(FModel->index(0, colJob));
}

void TRecentJobsForm::ShowCount() {
    // Only the empty list is told: rows of files that turn out to be no jobs go as they come into
    // view, so a count of the rest would not hold.
    FUi->CountLabel->setText(FModel->rowCount() == 0 ? QStringLiteral("No job found") : QString());
    FUi->ShowButton->setEnabled(FModel->rowCount() > 0);
    FUi->CopyButton->setEnabled(FModel->rowCount() > 0);
}

bool TRecentJobsForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == FUi->JobsView && key->matches(QKeySequence::Copy)) {
        CopyFileNameClick();
        return true;
    }
    // From the search field the arrows go on into the list, as in a list with a filter box.
    if (watched == FUi->SearchEdit && (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up ||
                                       key->key() == Qt::Key_PageDown || key->key() == Qt::Key_PageUp)) {
        FUi->JobsView->setFocus();
        QCoreApplication::sendEvent(FUi->JobsView, event);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TRecentJobsForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        CopyFileNameClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

QLineEdit* TRecentJobsForm::SearchEdit() const {
    return FUi->SearchEdit;
}
QTableView* TRecentJobsForm::JobsView() const {
    return FUi->JobsView;
}
QLabel* TRecentJobsForm::CountLabel() const {
    return FUi->CountLabel;
}
QPushButton* TRecentJobsForm::ShowButton() const {
    return FUi->ShowButton;
}
QPushButton* TRecentJobsForm::CopyButton() const {
    return FUi->CopyButton;
}
QPushButton* TRecentJobsForm::CloseButton() const {
    return FUi->CloseButton;
}
const TRecentJobs& TRecentJobsForm::Jobs() const {
    return *FJobs;
}

TRecentJobsForm* ShowRecentJobsWindow(QWidget* owner, const std::string& tracesFolder) {
    auto* form = new TRecentJobsForm(owner, tracesFolder);
    form->show();
    return form;
}
