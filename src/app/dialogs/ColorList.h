// The colour lists of the settings dialog: the named colours, their swatches, and picking a colour
// value (0x00BBGGRR, red in the low byte) in a combo box whose items carry their value.
#pragma once

#include <cstdint>

class QComboBox;

// Replaces the box's items by the 16 standard colours, then the 4 extended ones, each with its
// swatch (the colour as the trace panel paints it) and its value as item data.
void FillColorComboBox(QComboBox* box);
// Selects the item carrying `value`; a value that is not listed becomes the "Custom" item (one at
// most, replaced by the next unlisted value).
void SelectColorValue(QComboBox* box, uint32_t value);
// The value of the selected item; `fallback` when nothing is selected.
uint32_t SelectedColorValue(const QComboBox* box, uint32_t fallback);
