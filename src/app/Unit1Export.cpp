// TForm1: the true-scale view, the job sheet printed, the job exported as SVG, DXF or PDF, and the
// drawing dragged out of the window as the job trace file.
#include "app/Unit1.h"

#include "app/Application.h"
#include "app/NativePath.h"
#include "app/core/JobKeys.h"
#include "app/core/TextFile.h"
#include "export/JobSheet.h"
#include "export/JobSheetPrint.h"
#include "trace/TracePanel.h"

#include "ui_Unit1.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDrag>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <ctime>
#include <exception>

namespace {

struct TExportFormat {
    const char* Suffix;
    const char* Filter;
};

// The order of the save dialog's list; the first is its default.
constexpr TExportFormat kExportFormats[] = {
    {"svg", "SVG Drawing (*.svg)"},
    {"dxf", "DXF Drawing (*.dxf)"},
    {"pdf", "PDF Job Sheet (*.pdf)"},
};

// The format of an export: the name's own suffix when it is one of the formats, else the
// filter's, which is then added to the name (a save dialog need not add it).
const TExportFormat* ExportFormatOf(QString& fileName, const QString& selectedFilter) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (const TExportFormat& format : kExportFormats)
        if (suffix == QLatin1String(format.Suffix))
            return &format;
    for (const TExportFormat& format : kExportFormats)
        if (selectedFilter == QLatin1String(format.Filter)) {
            fileName += QLatin1Char('.') + QLatin1String(format.Suffix);
            return &format;
        }
    return nullptr;
}

QString FromRecord(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

void TForm1::SetUpExport() {
    connect(ui->PrintButton, &QPushButton::clicked, this, [this] { Guarded([this] { PrintButtonClick(); }); });
    connect(ui->ExportButton, &QPushButton::clicked, this, [this] { Guarded([this] { ExportButtonClick(); }); });
    connect(ui->TrueScaleCheckBox, &QCheckBox::toggled, this,
            [this] { Guarded([this] { TrueScaleCheckBoxClick(); }); });
    ShowExportState();
}

void TForm1::ShowExportState() {
    // Only a job shown has anything to print or export.
    const bool jobShown = ui->JobGroupBox->isEnabled();
    ui->PrintButton->setEnabled(jobShown);
    ui->ExportButton->setEnabled(jobShown);
    if (!jobShown)
        FJobFileShown.clear();
}

void TForm1::TrueScaleCheckBoxClick() {
    TTracePanel* panel = ui->TracePanel1;
    panel->TrueScale = ui->TrueScaleCheckBox->isChecked();
    panel->update();
}

void TForm1::ReportExportError(const QString& title, const QString& text) {
    if (OnExportError)
        OnExportError(title, text);
    else
        QMessageBox::critical(this, title, text);
}

namespace {
// The job as its file stands, the operator's last change included, dated now.
TJobSheet SheetOf(TJobSession& session) {
    return JobSheetFromRecords(session.File().Records, session.Job().Value(jobkey::Job), SheetDate(std::time(nullptr)));
}
} // namespace

void TForm1::PrintButtonClick() {
    if (!ui->JobGroupBox->isEnabled())
        return;
    const QString job = FromRecord(FSession.Job().Value(jobkey::Job));
    const QString title = QStringLiteral("Error Printing Job");
    TJobSheet sheet;
    try {
        sheet = SheetOf(FSession);
    } catch (const std::exception& e) {
        ReportExportError(title,
                          QStringLiteral("Cannot print job ") + job + QStringLiteral("\n\n") + FromCoreText(e.what()));
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(JobSheetPageSize());
    printer.setDocName(QStringLiteral("Job ") + job);
    if (OnSetUpPrinter) {
        if (!OnSetUpPrinter(printer))
            return;
    } else {
        QPrintDialog dialog(&printer, this);
        dialog.setWindowTitle(QStringLiteral("Print Job Sheet"));
        if (dialog.exec() != QDialog::Accepted)
            return;
    }
    QString error;
    if (!PrintJobSheet(printer, sheet, &error))
        ReportExportError(title, QStringLiteral("Cannot print job ") + job + QStringLiteral("\n\n") + error);
}

void TForm1::ExportButtonClick() {
    if (!ui->JobGroupBox->isEnabled())
        return;
    const QString job = FromRecord(FSession.Job().Value(jobkey::Job));
    if (FExportFolder.isEmpty())
        FExportFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QStringList filters;
    for (const TExportFormat& format : kExportFormats)
        filters << QLatin1String(format.Filter);
    QString filter = filters.first();
    const QString suggested =
        QDir(FExportFolder).filePath((job.isEmpty() ? QStringLiteral("job") : job) + QStringLiteral(".svg"));
    QString fileName = OnChooseExportFile ? OnChooseExportFile(suggested, filter)
                                          : QFileDialog::getSaveFileName(this, QStringLiteral("Export Job"), suggested,
                                                                         filters.join(QStringLiteral(";;")), &filter);
    if (fileName.isEmpty())
        return;
    const QString title = QStringLiteral("Error Exporting Job");
    const auto refuse = [&](const QString& reason) {
        ReportExportError(title, QStringLiteral("Cannot export job ") + job + QStringLiteral(" to ") +
                                     QDir::toNativeSeparators(fileName) + QStringLiteral("\n\n") + reason);
    };
    const TExportFormat* format = ExportFormatOf(fileName, filter);
    if (!format) {
        refuse(QStringLiteral("Choose a name ending in .svg, .dxf or .pdf."));
        return;
    }
    FExportFolder = QFileInfo(fileName).absolutePath();
    try {
        const TJobSheet sheet = SheetOf(FSession);
        const QString suffix = QLatin1String(format->Suffix);
        if (suffix == QLatin1String("pdf")) {
            QString error;
            if (!WriteJobSheetPdf(fileName, sheet, &error))
                refuse(error);
        } else {
            WriteFileAtomically(LocalPath(fileName),
                                suffix == QLatin1String("svg") ? SvgOfJob(sheet) : DxfOfJob(sheet));
        }
    } catch (const std::exception& e) {
        refuse(FromCoreText(e.what()));
    }
}

// ---- dragging the job out -------------------------------------------------------------------

std::unique_ptr<QMimeData> TForm1::JobDragData() const {
    // A file named once and gone since (removed, moved away) is no job to hand on.
    if (!ui->JobGroupBox->isEnabled() || FJobFileShown.isEmpty() || !QFileInfo(FJobFileShown).isFile())
        return nullptr;
    auto data = std::make_unique<QMimeData>();
    data->setUrls({QUrl::fromLocalFile(FJobFileShown)});
    return data;
}

void TForm1::StartJobDrag() {
    // The file is to hold the operator's last change, not the one before it.
    FlushTraceFile();
    std::unique_ptr<QMimeData> data = JobDragData();
    if (!data)
        return;
    TTracePanel* panel = ui->TracePanel1;
    auto* drag = new QDrag(panel);
    drag->setMimeData(data.release());
    const QPixmap drawing = panel->grab();
    drag->setPixmap(drawing.scaledToWidth(std::min(160, drawing.width()), Qt::SmoothTransformation));
    drag->exec(Qt::CopyAction);
}

bool TForm1::DragFilter(QObject* watched, QEvent* event) {
    if (watched != ui->TracePanel1)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        FDragArmed = mouse->button() == Qt::LeftButton;
        FDragStart = mouse->position().toPoint();
        return false;
    }
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!FDragArmed || !(mouse->buttons() & Qt::LeftButton) ||
            (mouse->position().toPoint() - FDragStart).manhattanLength() < QApplication::startDragDistance())
            return false;
        FDragArmed = false;
        Guarded([this] { StartJobDrag(); });
        return true;
    }
    case QEvent::MouseButtonRelease:
        FDragArmed = false;
        return false;
    default:
        return false;
    }
}
