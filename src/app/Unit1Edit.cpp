// TForm1: the operator's changes to the job (box A, box B, circumference, DBL, frame and edge
// type), each rewriting the job trace file, and the import of a saved job trace file.
#include "app/Unit1.h"

#include "app/FlagScope.h"
#include "app/NativePath.h"
#include "app/NumberEdit.h"
#include "app/core/JobIntake.h"
#include "app/core/ShapeEdit.h"
#include "app/core/TextFile.h"
#include "app/core/TraceImport.h"
#include "common/Errors.h"
#include "common/Numbers.h"
#include "trace/TracePanel.h"

#include "ui_Unit1.h"

#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

namespace {

// The edit's text as a number; the conversion error when it is none (an emptied edit included).
double EditValue(const TNumberEdit* edit) {
    const std::string text = edit->Editor()->text().toStdString();
    double value = 0;
    if (!TryStrToFloat(text, value))
        throw EConvertError("'" + text + "' is not a valid floating point value");
    return value;
}

} // namespace

void TForm1::CircEditChange(TNumberEdit* sender) {
    if (FUpdating)
        return;
    {
        const TFlagScope updating(FUpdating);

        if (sender == ui->DBLEdit) {
            double dbl = 0;
            if (!TryStrToFloat(sender->Editor()->text().toStdString(), dbl))
                return; // not a number (yet): nothing is redrawn or written
            FJob.SetValue("DBL", FormatFixed(dbl, 2));
        } else {
            const bool wasModified = FShapeModified;
            FShapeModified = true; // an edit that is no number leaves it set
            const TShapeOp op = sender == ui->BoxAEdit   ? TShapeOp::BoxA
                                : sender == ui->BoxBEdit ? TShapeOp::BoxB
                                                         : TShapeOp::Circumference;
            const double wanted = EditValue(sender);
            TShapeEditResult result;
            try {
                result = RescaleJob(FBaseTraces.Value("_RtTrace"), FBaseTraces.Value("_LtTrace"), op, wanted,
                                    ui->LockBCheckBox->isChecked());
            } catch (...) {
                // A refused rescale changed no trace: later writes keep the tracer's box records.
                FShapeModified = wasModified;
                throw;
            }
            FJob.SetValue("_RtTrace", result.RtTrace);
            FJob.SetValue("_LtTrace", result.LtTrace);
            ui->BoxAEdit->setValue(result.BoxA);
            ui->BoxBEdit->setValue(result.BoxB);
            ui->CircEdit->setValue(result.Circumference);
        }
    }
    Redraw();
    WriteTraceFile(FJob);
}

void TForm1::FrameTypesChange() {
    if (FUpdating)
        return;
    WriteTraceFile(FJob);
}

void TForm1::OpenButtonClick() {
    const QString fileName =
        OnChooseTraceFile ? OnChooseTraceFile()
                          : QFileDialog::getOpenFileName(this, QStringLiteral("Select Trace File"), TracesFolder(),
                                                         QStringLiteral("Trace Files (*.txt);;All Files (*)"));
    if (fileName.isEmpty())
        return;
    const std::string nativeName = LocalPath(fileName);
    std::vector<std::string> lines;
    try {
        lines = ReadLines(nativeName);
    } catch (const std::exception& e) {
        const QString title = QStringLiteral("Error Opening File");
        const QString text = QStringLiteral("Cannot open trace data file\n\n") + QString::fromLocal8Bit(e.what());
        if (OnOpenError)
            OnOpenError(title, text);
        else
            QMessageBox::critical(this, title, text);
        return;
    }

    FJob = JobFromTraceFile(std::move(lines), nativeName);
    FBaseTraces.Assign(FJob);
    QGuiApplication::clipboard()->setText(QFileInfo(fileName).absoluteFilePath());
    CaptureTraceFormats();
    PostTraceReady(1);
}
