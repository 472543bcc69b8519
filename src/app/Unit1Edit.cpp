// TForm1: the operator's changes to the job (box A, box B, circumference, DBL, frame and edge
// type), each rewriting the job trace file, and the opening of a saved job trace file.
#include "app/Unit1.h"

#include "app/NativePath.h"
#include "app/NumberEdit.h"

#include "ui_Unit1.h"

#include <QDir>
#include <QFileDialog>
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
        OpenJobFile(fileName);
}

void TForm1::OpenJobFile(const QString& fileName) {
    const TJobFiles::TOpened opened = FJobFiles.Open(LocalPath(fileName));
    if (!opened.Refusal.empty()) {
        const QString title = QStringLiteral("Error Opening File");
        const QString text = QStringLiteral("Cannot open trace data file ") + QDir::toNativeSeparators(fileName) +
                             QStringLiteral("\n\n") + FromCoreText(opened.Refusal);
        if (OnOpenError)
            OnOpenError(title, text);
        else
            QMessageBox::critical(this, title, text);
        return;
    }
    ShowWriteNote(opened.Note);
    // A file written for the job (its type selection changed) names itself on the clipboard.
    Apply(opened.Update, nullptr, true);
}
