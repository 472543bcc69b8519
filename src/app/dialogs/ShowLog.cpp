// The communication log window.
#include "app/dialogs/ShowLog.h"

#include "app/core/CommLog.h"
#include "app/dialogs/DialogFonts.h"
#include "app/dialogs/LineNumberedEdit.h"
#include "ui_ShowLog.h"

#include <QPushButton>

namespace {

// The log's lines as one text for the viewer, without a line end after the last line (which would
// show as an extra empty, numbered line). Log bytes are 8-bit characters shown one for one.
QString ViewerText(const TCommLog& log) {
    std::string text = log.Text();
    if (!text.empty())
        text.pop_back();
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TShowLogForm::TShowLogForm(QWidget* owner) : QDialog(owner), FUi(std::make_unique<Ui::TShowLogForm>()) {
    FUi->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(DialogFont());
    FUi->ViewLogEdit->setFont(LogViewerFont());
    // One call for the whole text: appending line by line would lay out the document 1200 times.
    FUi->ViewLogEdit->setPlainText(ViewerText(CommLog()));
    connect(FUi->Button1, &QPushButton::clicked, this, &TShowLogForm::Button1Click);
    connect(FUi->ClearLogButton, &QPushButton::clicked, this, &TShowLogForm::ClearLogButtonClick);
}

TShowLogForm::~TShowLogForm() = default;

QPlainTextEdit* TShowLogForm::ViewLogEdit() const {
    return FUi->ViewLogEdit;
}

TLineNumberedEdit* TShowLogForm::LineNumberedViewer() const {
    return FUi->ViewLogEdit;
}

void TShowLogForm::Button1Click() {
    close();
}

void TShowLogForm::ClearLogButtonClick() {
    CommLog().Clear();
    FUi->ViewLogEdit->clear();
}

TShowLogForm* ShowLogWindow(QWidget* owner) {
    auto* form = new TShowLogForm(owner);
    form->show();
    return form;
}
