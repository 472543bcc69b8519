// The main window's true-scale view, its job sheet printed and its exports written through the
// hooks that stand in for the dialogs, and the data of dragging the drawing out as the job file.
#include "FormTestSupport.h"

#include "app/core/JobKeys.h"
#include "trace/TracePanel.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QPrinter>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <memory>

using namespace form_test;

namespace {

const QString kFileOnClipboard = QStringLiteral("The trace filename is on the clipboard for pasting");

class FormExport : public TFormFixture {
protected:
    // Job 123 shown and written, its DBL 17.50.
    void ShowJob() {
        StartForm();
        ASSERT_FALSE(DeliverJob().empty());
        ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == kFileOnClipboard; }));
    }
    QPushButton* Button(const char* name) { return Control<QPushButton>(*FForm, name); }
    QString ExportPath(const QString& name) const { return FFolder.path() + QStringLiteral("/exports/") + name; }

    // The errors of print and export, collected instead of shown.
    void CollectExportErrors() {
        FForm->OnExportError = [this](const QString& title, const QString& text) {
            ExportErrors.push_back(title + QStringLiteral(": ") + text);
        };
    }
    std::vector<QString> ExportErrors;
};

// The columns the drawing reaches on the panel, bevel excluded: the pixels not of the background.
int DrawnWidth(const QImage& image, uint32_t background) {
    int left = image.width();
    int right = -1;
    for (int y = 1; y < image.height() - 1; ++y)
        for (int x = 1; x < image.width() - 1; ++x)
            if (ValueFromColor(image.pixelColor(x, y)) != background) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return right - left;
}

TEST_F(FormExport, PrintAndExportOnlyForAJobShownAllReachableByKeys) {
    StartForm();
    QCheckBox* trueScale = Control<QCheckBox>(*FForm, "TrueScaleCheckBox");
    EXPECT_EQ(Button("PrintButton")->text(), QStringLiteral("&Print…"));
    EXPECT_EQ(Button("ExportButton")->text(), QStringLiteral("E&xport…"));
    EXPECT_EQ(trueScale->text(), QStringLiteral("&True Scale"));
    for (QWidget* control : std::initializer_list<QWidget*>{Button("PrintButton"), Button("ExportButton"), trueScale})
        EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << control->objectName().toStdString();
    EXPECT_FALSE(Button("PrintButton")->isEnabled());
    EXPECT_FALSE(Button("ExportButton")->isEnabled());
    EXPECT_TRUE(trueScale->isEnabled());

    ASSERT_FALSE(DeliverJob().empty());
    ASSERT_TRUE(WaitUntil([&] { return Button("ExportButton")->isEnabled(); }));
    EXPECT_TRUE(Button("PrintButton")->isEnabled());

    // Another vendor's job drops the job shown: nothing left to print.
    TJobPacket other;
    other.Vendor = "OTHERCO";
    ASSERT_FALSE(DeliverJob(other).empty());
    ASSERT_TRUE(WaitUntil([&] { return !Button("ExportButton")->isEnabled(); }));
    EXPECT_FALSE(Button("PrintButton")->isEnabled());
    EXPECT_EQ(FForm->JobDragData(), nullptr);
}

// The toggle switches the panel between the fitted view and 1:1 on the screen: 50 + 17.5 + 50 mm
// across at the screen's physical resolution.
TEST_F(FormExport, TrueScaleToggleDrawsTheJobOneToOne) {
    ShowJob();
    FForm->resize(1100, 500);
    FForm->show();
    TTracePanel* panel = FForm->TracePanel1();
    ASSERT_TRUE(WaitUntil([&] { return panel->width() > 117.5 * panel->PixelsPerMm().width() + 10; }))
        << panel->width();
    const int fitted = DrawnWidth(panel->grab().toImage(), panel->BGColor);
    EXPECT_FALSE(panel->TrueScale);

    QCheckBox* trueScale = Control<QCheckBox>(*FForm, "TrueScaleCheckBox");
    trueScale->click();
    EXPECT_TRUE(panel->TrueScale);
    const double expected = 117.5 * panel->PixelsPerMm().width();
    EXPECT_NEAR(DrawnWidth(panel->grab().toImage(), panel->BGColor), expected, 1.5);
    EXPECT_GT(std::abs(fitted - expected), 20) << fitted;

    trueScale->click();
    EXPECT_FALSE(panel->TrueScale);
    EXPECT_EQ(DrawnWidth(panel->grab().toImage(), panel->BGColor), fitted);
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

struct TExportCase {
    QString Chosen;   // the name the operator gives
    QString Filter;   // the filter selected in the dialog
    QString Written;  // the file that is to be written
    QByteArray Start; // what it begins with
    QByteArray Holds; // and something it holds
};

TEST_F(FormExport, ExportWritesTheFormatOfTheNameOrOfTheFilter) {
    ShowJob();
    CollectExportErrors();
    ASSERT_TRUE(QDir().mkpath(ExportPath(QString())));
    const TExportCase cases[] = {
        {ExportPath("a.svg"), "SVG Drawing (*.svg)", ExportPath("a.svg"), "<", "viewBox"},
        {ExportPath("b.dxf"), "SVG Drawing (*.svg)", ExportPath("b.dxf"), "0", "POLYLINE"},
        {ExportPath("c.PDF"), "SVG Drawing (*.svg)", ExportPath("c.PDF"), "%PDF", "%%EOF"},
        // No suffix of a format: the filter's is added.
        {ExportPath("d"), "DXF Drawing (*.dxf)", ExportPath("d.dxf"), "0", "POLYLINE"},
        {ExportPath("e.job"), "PDF Job Sheet (*.pdf)", ExportPath("e.job.pdf"), "%PDF", "%%EOF"},
    };
    for (const TExportCase& c : cases) {
        SCOPED_TRACE(c.Chosen.toStdString());
        QString suggested;
        FForm->OnChooseExportFile = [&](const QString& name, QString& filter) {
            suggested = name;
            filter = c.Filter;
            return c.Chosen;
        };
        Button("ExportButton")->click();
        EXPECT_TRUE(suggested.endsWith(QStringLiteral("/123.svg"))) << suggested.toStdString();
        QFile file(c.Written);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        EXPECT_TRUE(content.trimmed().startsWith(c.Start)) << content.left(40).toStdString();
        EXPECT_TRUE(content.contains(c.Holds));
    }
    // The next export starts in the folder of the last.
    QString suggested;
    FForm->OnChooseExportFile = [&](const QString& name, QString&) {
        suggested = name;
        return QString(); // cancelled: nothing written, nothing said
    };
    Button("ExportButton")->click();
    EXPECT_EQ(suggested, ExportPath("123.svg"));
    EXPECT_EQ(QDir(ExportPath(QString())).entryList(QDir::Files).size(), 5);
    EXPECT_TRUE(ExportErrors.empty()) << ExportErrors.front().toStdString();
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

TEST_F(FormExport, ExportThatCannotBeWrittenSaysWhyAndWhere) {
    ShowJob();
    CollectExportErrors();
    for (const QString& name :
         {FFolder.path() + QStringLiteral("/missing/x.svg"), FFolder.path() + QStringLiteral("/missing/x.pdf")}) {
        FForm->OnChooseExportFile = [&](const QString&, QString&) { return name; };
        Button("ExportButton")->click();
        ASSERT_EQ(ExportErrors.size(), 1u);
        EXPECT_TRUE(ExportErrors[0].startsWith(QStringLiteral("Error Exporting Job: Cannot export job 123 to ") +
                                               QDir::toNativeSeparators(name) + QStringLiteral("\n\n")))
            << ExportErrors[0].toStdString();
        EXPECT_GT(ExportErrors[0].size(), 60 + name.size());
        EXPECT_FALSE(QFile::exists(name));
        ExportErrors.clear();
    }
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}

// The printer as the print dialog leaves it; here it prints to a PDF file.
TEST_F(FormExport, PrintPaintsTheJobSheetOnThePrinterSetUp) {
    ShowJob();
    CollectExportErrors();
    const QString output = FFolder.path() + QStringLiteral("/printed.pdf");
    int asked = 0;
    FForm->OnSetUpPrinter = [&](QPrinter& printer) {
        ++asked;
        EXPECT_EQ(printer.docName(), QStringLiteral("Job 123"));
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(output);
        return asked == 1; // printed once, then cancelled
    };
    Button("PrintButton")->click();
    QFile file(output);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("%PDF"));
    file.close();
    ASSERT_TRUE(QFile::remove(output));

    Button("PrintButton")->click();
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(QFile::exists(output));
    EXPECT_TRUE(ExportErrors.empty()) << ExportErrors.front().toStdString();
}

// The drawing is dragged out as the job's file: the one written for it, or the one opened when it
// was not written again; nothing when that file is gone.
TEST_F(FormExport, DragDataIsTheJobFileShownAsAFileUrl) {
    ShowJob();
    const QString written = TracePath(QStringLiteral("123.txt"));
    std::unique_ptr<QMimeData> data = FForm->JobDragData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(written)});
    EXPECT_TRUE(data->urls().front().isLocalFile());

    // A copy of the job opened, its selections as they are: not written again.
    const QString opened = FFolder.path() + QStringLiteral("/124.txt");
    ASSERT_TRUE(QFile::copy(written, opened));
    FForm->OnChooseTraceFile = [&] { return opened; };
    FForm->OpenButtonClick();
    Settle();
    ASSERT_EQ(QGuiApplication::clipboard()->text(), opened);
    EXPECT_EQ(FForm->JobFileShown(), opened);
    data = FForm->JobDragData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(opened)});

    ASSERT_TRUE(QFile::remove(opened));
    EXPECT_EQ(FForm->JobDragData(), nullptr);
}

} // namespace
