// TForm1: the operator's changes to the job (box A, box B, circumference, DBL, frame and edge
// type), each rewriting the job trace file, and the import of a saved job trace file.
#include "app/Unit1.h"

#include "app/NativePath.h"
#include "app/NumberEdit.h"
#include "app/core/TextFile.h"
#include "app/core/TraceImport.h"

#include "ui_Unit1.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

namespace {

// Edits hold the user's text, which the job session reads as 8-bit text like the records.
std::string EditText(const TNumberEdit* edit) {
    const QByteArray text = edit->Editor()->text().toLatin1();
    return std::string(text.constData(), static_cast<std::size_t>(text.size()));
}

} // namespace

TJobField TForm1::FieldOf(const TNumberEdit* edit) const {
    if (edit == ui->BoxAEdit)
        return TJobField::BoxA;
    if (edit == ui->BoxBEdit)
        return TJobField::BoxB;
    if (edit == ui->CircEdit)
        return TJobField::Circumference;
    return TJobField::DBL;
}

void TForm1::CircEditChange(TNumberEdit* sender) {
    if (FSession.Updating() || !ui->JobGroupBox->isEnabled())
        return;
    Apply(FSession.ValueEntered(FieldOf(sender), EditText(sender), ui->LockBCheckBox->isChecked()), sender);
}

void TForm1::ShowValues(const TJobValues& values) {
    // The program's own writes: no change of the job.
    const TJobSession::TUpdating updating(FSession);
    ui->BoxAEdit->ShowValue(values.Measures.BoxA);
    ui->BoxBEdit->ShowValue(values.Measures.BoxB);
    ui->CircEdit->ShowValue(values.Measures.Circumference);
    ui->DBLEdit->ShowValue(values.DBL);
}

void TForm1::ShowEditProblem(const QString& problem) {
    FEditProblemShown = true;
    SetStatus(problem);
}

void TForm1::FrameTypesChange() {
    if (FSession.Updating())
        return;
    Apply(FSession.TypeChanged(SelectedKey(ui->FrameTypeCombo), SelectedKey(ui->EdgeTypeCombo)));
}

void TForm1::OpenButtonClick() {
    const QString fileName =
        OnChooseTraceFile ? OnChooseTraceFile()
                          : QFileDialog::getOpenFileName(this, QStringLiteral("Select Trace File"), TracesFolder(),
                                                         QStringLiteral("Trace Files (*.txt);;All Files (*)"));
    if (!fileName.isEmpty())
        OpenTraceFile(fileName);
}

void TForm1::OpenTraceFile(const QString& fileName) {
    const std::string nativeName = LocalPath(fileName);
    const auto refuse = [&](QString reason) {
        const QString title = QStringLiteral("Error Opening File");
        if (!reason.isEmpty())
            reason[0] = reason[0].toUpper();
        const QString text = QStringLiteral("Cannot open trace data file ") + QDir::toNativeSeparators(fileName) +
                             QStringLiteral("\n\n") + reason;
        if (OnOpenError)
            OnOpenError(title, text);
        else
            QMessageBox::critical(this, title, text);
    };
    std::vector<std::string> lines;
    try {
        lines = ReadLines(nativeName);
    } catch (const std::exception& e) {
        refuse(QString::fromLocal8Bit(e.what()));
        return;
    }
    // A file without a usable trace would replace the job shown with nothing, and a rewrite would
    // save an empty job (or binary lines) under its name.
    if (const std::string problem = UnusableTraceFile(lines); !problem.empty()) {
        refuse(QString::fromLocal8Bit(problem.c_str()) + QLatin1Char('.'));
        return;
    }

    // The job shown before is the operator's last word on that job: it is written first.
    FlushTraceFile();
    QGuiApplication::clipboard()->setText(QFileInfo(fileName).absoluteFilePath());
    // A file written for the job (its type selection changed) names itself on the clipboard.
    Apply(FSession.FileOpened(std::move(lines), nativeName), nullptr, true);
}
