// Font choice for the dialogs.
#include "app/dialogs/DialogFonts.h"

#include <QFontDatabase>
#include <QFontInfo>

namespace {
constexpr int kPixelSize = 13;
}

QFont DialogFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(kPixelSize);
    return font;
}

QFont LogViewerFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(kPixelSize);
    // The packet lines line up in columns only in a fixed-pitch face; fontconfig answers a missing
    // family with whatever it has, which may be proportional.
    if (QFontInfo(font).fixedPitch())
        return font;
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(kPixelSize);
    return fixed;
}
