// The job sheet on paper and as PDF: one page, the measures, both eyes at true size with the DBL
// between them and a 50 mm calibration bar, painted from LayOutJobSheet.
#pragma once

#include "export/JobSheet.h"

#include <QLocale>
#include <QPageSize>
#include <QString>

class QPainter;
class QPrinter;

// A4, or Letter where the locale's territory uses it (the Americas' Letter countries and the
// Philippines).
QPageSize JobSheetPageSize(const QLocale& locale = QLocale::system());

// Paints the whole page of pageMm millimetres with its top-left corner at the painter's origin,
// the device having dotsPerMm pixels per millimetre. The sheet keeps its own margins, so the
// device is used full page (no margins of its own).
void PaintJobSheet(QPainter& painter, double dotsPerMm, const QSizeF& pageMm, const TJobSheet& sheet);

// Writes the sheet as a one-page PDF of the given page size. False with the reason in `error`
// when the file cannot be written.
bool WriteJobSheetPdf(const QString& fileName, const TJobSheet& sheet, QString* error = nullptr,
                      const QPageSize& pageSize = JobSheetPageSize());

// Prints the sheet on a printer the caller has set up (a print dialog's choice); the printer is
// switched to full page. False with the reason in `error` when printing could not start.
bool PrintJobSheet(QPrinter& printer, const TJobSheet& sheet, QString* error = nullptr);
