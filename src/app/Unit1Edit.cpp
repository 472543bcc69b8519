// TForm1: the operator's changes to the job (box A, box B, circumference, DBL, frame and edge
// type), each rewriting the job trace file, and the import of a saved job trace file.
#include "app/Unit1.h"

#include "app/NativePath.h"
#include "app/NumberEdit.h"
#include "app/core/TextFile.h"

#include "ui_Unit1.h"

#include <QClipboard>
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

TNumberEdit* TForm1::EditOf(TJobField field) const {
    switch (field) {
    case TJobField::BoxA:
        return ui->BoxAEdit;
    case TJobField::BoxB:
        return ui->BoxBEdit;
    case TJobField::Circumference:
        return ui->CircEdit;
    case TJobField::DBL:
        break;
    }
    return ui->DBLEdit;
}

void TForm1::CircEditChange(TNumberEdit* sender, bool stepped) {
    if (FSession.Updating())
        return;
    const std::string text = EditText(sender);
    TJobUpdate update;
    if (sender == ui->DBLEdit) {
        update = FSession.DBLChanged(text);
    } else {
        const TShapeOp op = sender == ui->BoxAEdit   ? TShapeOp::BoxA
                            : sender == ui->BoxBEdit ? TShapeOp::BoxB
                                                     : TShapeOp::Circumference;
        update = FSession.BoxValueChanged(op, text, ui->LockBCheckBox->isChecked());
    }
    Apply(update, sender);
    // A step is no typing in progress: a value it cannot reach is put back at once.
    if (stepped && !update.Problem.empty())
        CircEditFinished(sender);
}

void TForm1::CircEditFinished(TNumberEdit* sender) {
    if (FSession.Updating() || !ui->JobGroupBox->isEnabled())
        return;
    const TJobField field = sender == ui->BoxAEdit   ? TJobField::BoxA
                            : sender == ui->BoxBEdit ? TJobField::BoxB
                            : sender == ui->CircEdit ? TJobField::Circumference
                                                     : TJobField::DBL;
    const TEditFinish finish = FSession.EditFinished(field);
    {
        const TJobSession::TUpdating updating(FSession);
        QLineEdit* editor = EditOf(field)->Editor();
        const QString text = QString::fromLatin1(finish.Text.data(), static_cast<qsizetype>(finish.Text.size()));
        if (editor->text() != text) {
            // Through the spin box, so that its value and its steps start from the text shown.
            double value = 0;
            if (finish.Text.empty() || !TJobSession::ReadTypedNumber(finish.Text, value))
                EditOf(field)->clear();
            else
                EditOf(field)->setValue(value);
        }
    }
    if (!finish.Problem.empty())
        ShowEditProblem(QString::fromLatin1(finish.Problem.data(), static_cast<qsizetype>(finish.Problem.size())));
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

    // The job shown before is the operator's last word on that job: it is written first.
    FlushTraceFile();
    QGuiApplication::clipboard()->setText(QFileInfo(fileName).absoluteFilePath());
    // A file written for the job (its type selection changed) names itself on the clipboard.
    Apply(FSession.FileOpened(std::move(lines), nativeName), nullptr, true);
}
