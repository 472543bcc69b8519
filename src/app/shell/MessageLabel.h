// The confirmation box's message: word-wrapped, but sized by the box, never by its own text.
#pragma once

#include <QLabel>

class TMessageLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // A wrapped label asks its layout for the height of all its lines, which would push the
    // bottom bar out of a box that shows at most two; the box sets the height instead.
    bool hasHeightForWidth() const override { return false; }
};
