// The printed job sheet: the page size of the locale, the PDF's page, and the page painted at a
// known resolution measured in pixels: both eyes and the calibration bar at true size.
#include "export/JobSheetPrint.h"

#include "app/core/JobFile.h"
#include "trace_shapes.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>

namespace {
TJobSheet EllipseSheet(double dbl) {
    TRecordList records;
    records.Add("DBL=" + std::to_string(dbl));
    records.Add("FTYP=2");
    records.Add("TRCFMT=1;360;E;R;F");
    AddRadiiRecords(records, trace_shapes::Ellipse50x40());
    return JobSheetFromRecords(records, "4711", "2026-12-11 10:31");
}

// The columns of the leftmost and rightmost pixel darker than mid grey within a band of rows
// and columns, or {-1, -1}.
std::pair<int, int> DarkSpan(const QImage& image, int top, int bottom, int left, int right) {
    int first = -1;
    int last = -1;
    for (int y = std::max(top, 0); y < std::min(bottom, image.height()); ++y)
        for (int x = std::max(left, 0); x < std::min(right, image.width()); ++x)
            if (qGray(image.pixel(x, y)) < 128) {
                if (first < 0 || x < first)
                    first = x;
                last = std::max(last, x);
            }
    return {first, last};
}

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The first /MediaBox of a PDF in points.
QSizeF MediaBox(const QByteArray& pdf) {
    const QRegularExpression box(QStringLiteral(R"(/MediaBox\s*\[\s*0\s+0\s+([\d.]+)\s+([\d.]+)\s*\])"));
    const QRegularExpressionMatch match = box.match(QString::fromLatin1(pdf));
    return match.hasMatch() ? QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble()) : QSizeF();
}
} // namespace

TEST(JobSheetPrint, ThePageSizeFollowsTheLocale) {
    struct TCase {
        QLocale::Language Language;
        QLocale::Territory Territory;
        QPageSize::PageSizeId Size;
    };
    const TCase cases[] = {
        {QLocale::English, QLocale::UnitedStates, QPageSize::Letter},
        {QLocale::French, QLocale::Canada, QPageSize::Letter},
        {QLocale::Spanish, QLocale::Mexico, QPageSize::Letter},
        {QLocale::English, QLocale::UnitedKingdom, QPageSize::A4},
        {QLocale::German, QLocale::Germany, QPageSize::A4},
        {QLocale::Japanese, QLocale::Japan, QPageSize::A4},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(JobSheetPageSize(QLocale(c.Language, c.Territory)).id(), c.Size)
            << QLocale(c.Language, c.Territory).name().toStdString();
}

// At 200 dpi one pixel is 0.127 mm; the outlines' pen is 0.3 mm wide and centred on the outline.
TEST(JobSheetPrint, ThePaintedEyesAndBarAreAtTrueSize) {
    for (const QPageSize::PageSizeId id : {QPageSize::A4, QPageSize::Letter}) {
        const QSizeF pageMm = QPageSize(id).size(QPageSize::Millimeter);
        constexpr double kDpi = 200;
        constexpr double kDots = kDpi / 25.4;
        QImage image(qRound(pageMm.width() * kDots), qRound(pageMm.height() * kDots), QImage::Format_RGB32);
        image.fill(Qt::white);
        const TJobSheet sheet = EllipseSheet(18);
        {
            QPainter painter(&image);
            PaintJobSheet(painter, kDots, pageMm, sheet);
        }
        const TJobSheetLayout layout = LayOutJobSheet(sheet, pageMm.width(), pageMm.height());
        ASSERT_EQ(layout.Scale, 1);
        const auto px = [&](double mm) { return qRound(mm * kDots); };

        const TSheetRect& d = layout.Drawing;
        const auto [eyesLeft, eyesRight] =
            DarkSpan(image, px(d.Y), px(d.Y + d.Height), px(d.X - 3), px(d.X + d.Width + 3));
        ASSERT_GE(eyesLeft, 0);
        const double eyesMm = (eyesRight - eyesLeft + 1) / kDots - 0.3;
        EXPECT_NEAR(eyesMm, 50 + 18 + 50, 0.15) << QPageSize(id).name().toStdString();

        // The gap between the eyes along the datum line is the DBL.
        const int datum = px(d.Y + d.Height / 2);
        const auto [rightEyeLeft, rightEyeRight] = DarkSpan(image, datum, datum + 1, px(d.X - 3), px(d.X + 59));
        const auto [leftEyeLeft, leftEyeRight] = DarkSpan(image, datum, datum + 1, px(d.X + 59), px(d.X + d.Width + 3));
        EXPECT_NEAR((leftEyeLeft - rightEyeRight - 1) / kDots + 0.3, 18, 0.15);
        EXPECT_NEAR((rightEyeRight - rightEyeLeft + 1) / kDots - 0.3, 50, 0.15);
        EXPECT_NEAR((leftEyeRight - leftEyeLeft + 1) / kDots - 0.3, 50, 0.15);

        const TSheetRect& bar = layout.Bar;
        const int middle = px(bar.Y + bar.Height / 2);
        const auto [barLeft, barRight] = DarkSpan(image, middle, middle + 1, px(bar.X - 2), px(bar.X + bar.Width + 2));
        EXPECT_NEAR((barRight - barLeft + 1) / kDots, 50, 0.15);

        // The heading is painted above the drawing.
        EXPECT_GE(DarkSpan(image, px(layout.Text.Y), px(layout.Text.Y + 10), 0, image.width()).first, 0);
    }
}

TEST(JobSheetPrint, ThePdfAndThePrintedPageHaveTheirPaperSize) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TJobSheet sheet = EllipseSheet(17.5);
    struct TCase {
        QPageSize::PageSizeId Id;
        QSizeF Points;
    };
    for (const TCase& c : {TCase{QPageSize::A4, {595, 842}}, TCase{QPageSize::Letter, {612, 792}}}) {
        const QString pdf = dir.filePath(QStringLiteral("sheet.pdf"));
        QString error;
        ASSERT_TRUE(WriteJobSheetPdf(pdf, sheet, &error, QPageSize(c.Id))) << error.toStdString();
        const QByteArray bytes = ReadAll(pdf);
        EXPECT_TRUE(bytes.startsWith("%PDF-"));
        EXPECT_EQ(MediaBox(bytes), c.Points);

        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        const QString printed = dir.filePath(QStringLiteral("printed.pdf"));
        printer.setOutputFileName(printed);
        printer.setPageSize(QPageSize(c.Id));
        ASSERT_TRUE(PrintJobSheet(printer, sheet, &error)) << error.toStdString();
        EXPECT_EQ(MediaBox(ReadAll(printed)), c.Points);
    }

    QString error;
    EXPECT_FALSE(WriteJobSheetPdf(dir.filePath(QStringLiteral("no/such/folder/sheet.pdf")), sheet, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("sheet.pdf"))) << error.toStdString();
}
