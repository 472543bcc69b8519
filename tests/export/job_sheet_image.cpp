// Renders the job sheet of a job trace file as a PNG without a printer or a display, as the
// printed page would look: job_sheet_image JOBFILE OUT.png [DPI]. For the README's picture.
#include "export/JobSheetPrint.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fputs("usage: job_sheet_image JOBFILE OUT.png [DPI]\n", stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const double dpi = argc == 4 ? std::stod(argv[3]) : 72;
    try {
        const TJobSheet sheet = ReadJobSheet(argv[1]);
        const QSizeF pageMm = JobSheetPageSize(QLocale::c()).size(QPageSize::Millimeter);
        const double dots = dpi / 25.4;
        QImage image(qRound(pageMm.width() * dots), qRound(pageMm.height() * dots), QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            PaintJobSheet(painter, dots, pageMm, sheet);
        }
        if (!image.save(QString::fromLocal8Bit(argv[2]))) {
            std::fprintf(stderr, "job_sheet_image: cannot write %s\n", argv[2]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "job_sheet_image: %s\n", e.what());
        return 1;
    }
    return 0;
}
