// Named colours with swatches for the settings dialog's colour lists.
#include "app/dialogs/ColorList.h"

#include "trace/TracePanel.h"

#include <QColor>
#include <QComboBox>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace {

struct TNamedColor {
    uint32_t Value;
    const char* Name;
};

// The text of the one extra item that shows a stored colour which is not listed.
constexpr const char* kCustomColorName = "Custom";

constexpr TNamedColor kColors[] = {
    {0x000000, "Black"},       {0x000080, "Maroon"},   {0x008000, "Green"}, {0x008080, "Olive"},
    {0x800000, "Navy"},        {0x800080, "Purple"},   {0x808000, "Teal"},  {0x808080, "Gray"},
    {0xC0C0C0, "Silver"},      {0x0000FF, "Red"},      {0x00FF00, "Lime"},  {0x00FFFF, "Yellow"},
    {0xFF0000, "Blue"},        {0xFF00FF, "Fuchsia"},  {0xFFFF00, "Aqua"},  {0xFFFFFF, "White"},
    {0xC0DCC0, "Money Green"}, {0xF0CAA6, "Sky Blue"}, {0xF0FBFF, "Cream"}, {0xA4A0A0, "Medium Gray"},
};

// Item data holds the value as an unsigned 32-bit number, so that values with the high byte set
// (system colour indexes) survive the round trip unchanged.
int IndexOfValue(const QComboBox* box, uint32_t value) {
    for (int i = 0; i < box->count(); ++i)
        if (box->itemData(i).toUInt() == value)
            return i;
    return -1;
}

// The colour as the trace panel paints it (a system colour index through the palette).
QIcon ColorSwatch(uint32_t value) {
    QPixmap pixmap(16, 12);
    pixmap.fill(ColorFromValue(value));
    QPainter painter(&pixmap);
    painter.setPen(Qt::black);
    painter.drawRect(0, 0, pixmap.width() - 1, pixmap.height() - 1);
    return QIcon(pixmap);
}

} // namespace

void FillColorComboBox(QComboBox* box) {
    box->clear();
    for (const TNamedColor& color : kColors)
        box->addItem(ColorSwatch(color.Value), QString::fromLatin1(color.Name), QVariant::fromValue(color.Value));
}

void SelectColorValue(QComboBox* box, uint32_t value) {
    int index = IndexOfValue(box, value);
    if (index < 0) {
        const int custom = box->findText(QString::fromLatin1(kCustomColorName), Qt::MatchExactly);
        if (custom >= 0)
            box->removeItem(custom);
        box->addItem(ColorSwatch(value), QString::fromLatin1(kCustomColorName), QVariant::fromValue(value));
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

uint32_t SelectedColorValue(const QComboBox* box, uint32_t fallback) {
    if (box->currentIndex() < 0)
        return fallback;
    return box->currentData().toUInt();
}
