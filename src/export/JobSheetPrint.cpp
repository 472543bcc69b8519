// Painting the job sheet on a printer, a PDF page or an image.
#include "export/JobSheetPrint.h"

#include "common/Numbers.h"

#include <QBuffer>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>

#include <algorithm>

namespace {
// The territories whose paper is Letter; everywhere else uses A4.
constexpr QLocale::Territory kLetterTerritories[] = {
    QLocale::UnitedStates, QLocale::Canada,     QLocale::Mexico,     QLocale::Belize,     QLocale::Chile,
    QLocale::Colombia,     QLocale::CostaRica,  QLocale::ElSalvador, QLocale::Guatemala,  QLocale::Nicaragua,
    QLocale::Panama,       QLocale::PuertoRico, QLocale::Venezuela,  QLocale::Philippines};

// Millimetres on the sheet to device pixels.
class TSheetPainter {
public:
    TSheetPainter(QPainter& painter, double dotsPerMm) : FPainter(painter), FDots(dotsPerMm) {}

    double Px(double mm) const { return mm * FDots; }
    QPointF Point(double x, double y) const { return {Px(x), Px(y)}; }
    QRectF Rect(double x, double y, double width, double height) const { return {Px(x), Px(y), Px(width), Px(height)}; }
    QPen Pen(double widthMm, const QColor& colour = Qt::black, Qt::PenStyle style = Qt::SolidLine) const {
        QPen pen(colour, Px(widthMm), style, Qt::FlatCap, Qt::MiterJoin);
        return pen;
    }
    // Text heights in millimetres rather than points: the device's idea of a point is not needed.
    void Font(double heightMm, bool bold = false) {
        QFont font(FPainter.font());
        font.setPixelSize(std::max(1, qRound(Px(heightMm))));
        font.setBold(bold);
        FPainter.setFont(font);
    }
    void Text(double x, double y, const QString& text) { FPainter.drawText(Point(x, y), text); }
    QPainter& Painter() { return FPainter; }

private:
    QPainter& FPainter;
    double FDots;
};

constexpr double kOutlinePen = 0.3;
constexpr double kThinPen = 0.15;

void PaintText(TSheetPainter& p, const TJobSheetLayout& layout, const TJobSheet& sheet) {
    const TSheetRect& r = layout.Text;
    p.Font(7, true);
    p.Text(r.X, r.Y + 7,
           sheet.JobNumber.empty() ? QStringLiteral("Job without number")
                                   : QStringLiteral("Job ") + QString::fromStdString(sheet.JobNumber));
    p.Font(4);
    p.Text(r.X, r.Y + 14, QString::fromStdString(sheet.Date));

    constexpr double kRow = 6.5;
    const double columns[] = {r.X, r.X + 55, r.X + 100};
    double y = r.Y + 26;
    bool heading = true;
    for (const std::vector<std::string>& row : JobSheetTable(sheet)) {
        p.Font(4, heading);
        for (std::size_t c = 0; c < row.size() && c < std::size(columns); ++c)
            p.Text(columns[c], y, QString::fromStdString(row[c]));
        heading = false;
        y += kRow;
    }
}

void PaintEyes(TSheetPainter& p, const TJobSheetLayout& layout, const TJobSheet& sheet) {
    const TEyePair pair = LayOutEyes(sheet);
    if (pair.Eyes.empty())
        return;
    const double s = layout.Scale;
    // The pair's y runs up, the page's down.
    const auto x = [&](double mm) { return layout.Drawing.X + (mm - pair.Left) * s; };
    const auto y = [&](double mm) { return layout.Drawing.Y + (pair.Top - mm) * s; };
    QPainter& painter = p.Painter();
    painter.setRenderHint(QPainter::Antialiasing);

    // The boxes and the datum line through their centres, light so that the outlines stand out.
    painter.setPen(p.Pen(kThinPen, QColor(170, 170, 170), Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    for (const TPlacedEye& eye : pair.Eyes)
        painter.drawRect(p.Rect(x(eye.Left), y(eye.Top), (eye.Right - eye.Left) * s, (eye.Top - eye.Bottom) * s));
    painter.drawLine(p.Point(x(pair.Left), y(0)), p.Point(x(pair.Right), y(0)));

    painter.setPen(p.Pen(kOutlinePen));
    for (const TPlacedEye& eye : pair.Eyes) {
        QPainterPath path;
        bool first = true;
        for (const TOutlinePoint& point : eye.Outline) {
            const QPointF at = p.Point(x(point.X), y(point.Y));
            if (first)
                path.moveTo(at);
            else
                path.lineTo(at);
            first = false;
        }
        path.closeSubpath();
        painter.drawPath(path);
    }

    // Eye letters above the boxes, and the DBL as a dimension between the nasal edges below them.
    p.Font(4, true);
    for (const TPlacedEye& eye : pair.Eyes)
        p.Text(x((eye.Left + eye.Right) / 2) - 1.5, y(eye.Top) - 2, eye.Eye == 'R' ? "R" : "L");
    if (pair.Eyes.size() == 2 && sheet.DBL) {
        const double below = y(pair.Bottom) + 4;
        const double from = x(pair.Eyes[0].Right);
        const double to = x(pair.Eyes[1].Left);
        painter.setPen(p.Pen(kThinPen, QColor(90, 90, 90)));
        painter.drawLine(p.Point(from, below), p.Point(to, below));
        painter.drawLine(p.Point(from, below - 1.5), p.Point(from, below + 1.5));
        painter.drawLine(p.Point(to, below - 1.5), p.Point(to, below + 1.5));
        p.Font(3.5);
        const QString text = QString::fromStdString("DBL " + FormatFixed(*sheet.DBL, 2));
        const double textWidth = painter.fontMetrics().horizontalAdvance(text) / p.Px(1);
        p.Text((from + to) / 2 - textWidth / 2, below + 5.5, text);
    }
    if (s < 1) {
        painter.setPen(Qt::black);
        p.Font(4, true);
        p.Text(layout.Drawing.X, layout.Drawing.Y - 3,
               QStringLiteral("Not at true size: drawn at %1 %").arg(s * 100, 0, 'f', 0));
    }
}

// A 50 mm bar in five 10 mm fields, alternately filled, so that a ruler on the printout shows
// whether the printer scaled the page.
void PaintBar(TSheetPainter& p, const TJobSheetLayout& layout) {
    const TSheetRect& bar = layout.Bar;
    QPainter& painter = p.Painter();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    constexpr int kFields = 5;
    const double field = bar.Width / kFields;
    for (int i = 0; i < kFields; i += 2)
        painter.drawRect(p.Rect(bar.X + i * field, bar.Y, field, bar.Height));
    // The outline inside the bar's length, so that the bar measures its length and no more.
    const double half = kThinPen / 2;
    painter.setPen(p.Pen(kThinPen));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(p.Rect(bar.X + half, bar.Y + half, bar.Width - kThinPen, bar.Height - kThinPen));
    p.Font(3.5);
    painter.setPen(Qt::black);
    p.Text(bar.X + bar.Width + 4, bar.Y + bar.Height - 0.8,
           QStringLiteral("%1 mm: check the printout's scale with a ruler").arg(kCalibrationBarMm, 0, 'f', 0));
}
} // namespace

QPageSize JobSheetPageSize(const QLocale& locale) {
    const QLocale::Territory territory = locale.territory();
    for (const QLocale::Territory letter : kLetterTerritories)
        if (territory == letter)
            return QPageSize(QPageSize::Letter);
    return QPageSize(QPageSize::A4);
}

void PaintJobSheet(QPainter& painter, double dotsPerMm, const QSizeF& pageMm, const TJobSheet& sheet) {
    const TJobSheetLayout layout = LayOutJobSheet(sheet, pageMm.width(), pageMm.height());
    painter.save();
    TSheetPainter p(painter, dotsPerMm);
    painter.setPen(Qt::black);
    PaintText(p, layout, sheet);
    PaintEyes(p, layout, sheet);
    PaintBar(p, layout);
    painter.restore();
}

bool WriteJobSheetPdf(const QString& fileName, const TJobSheet& sheet, QString* error, const QPageSize& pageSize) {
    // Written whole into memory first and then saved atomically, so that a failed write leaves
    // no half PDF in the place of an earlier one.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageSize(pageSize);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        constexpr int kDotsPerInch = 1200;
        writer.setResolution(kDotsPerInch);
        writer.setCreator(QStringLiteral("Tracer Interface"));
        writer.setTitle(QStringLiteral("Job ") + QString::fromStdString(sheet.JobNumber));
        QPainter painter;
        if (!painter.begin(&writer)) {
            if (error)
                *error = QStringLiteral("the PDF page could not be started");
            return false;
        }
        PaintJobSheet(painter, kDotsPerInch / 25.4, pageSize.size(QPageSize::Millimeter), sheet);
        painter.end();
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = fileName + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

bool PrintJobSheet(QPrinter& printer, const TJobSheet& sheet, QString* error) {
    printer.setFullPage(true);
    printer.setDocName(QStringLiteral("Job ") + QString::fromStdString(sheet.JobNumber));
    QPainter painter;
    if (!painter.begin(&printer)) {
        if (error)
            *error = QStringLiteral("the printer could not be started");
        return false;
    }
    const QSizeF pageMm = printer.pageLayout().fullRect(QPageLayout::Millimeter).size();
    PaintJobSheet(painter, printer.resolution() / 25.4, pageMm, sheet);
    painter.end();
    return true;
}
