// The line-number gutter follows the viewer's scrolling and paints only the lines in view, so a
// long text costs nothing extra to show.
#include "app/dialogs/LineNumberedEdit.h"

#include <QPainter>
#include <QTextBlock>

#include <algorithm>

namespace {

class TLineNumberArea : public QWidget {
public:
    explicit TLineNumberArea(TLineNumberedEdit* edit) : QWidget(edit), FEdit(edit) {}
    QSize sizeHint() const override { return QSize(FEdit->LineNumberAreaWidth(), 0); }

protected:
    void paintEvent(QPaintEvent* event) override { FEdit->PaintLineNumberArea(event); }

private:
    TLineNumberedEdit* FEdit;
};

constexpr int kGutterPadding = 3;

} // namespace

TLineNumberedEdit::TLineNumberedEdit(QWidget* parent) : QPlainTextEdit(parent) {
    FLineNumberArea = new TLineNumberArea(this);
    connect(this, &QPlainTextEdit::blockCountChanged, this, &TLineNumberedEdit::UpdateLineNumberAreaWidth);
    connect(this, &QPlainTextEdit::updateRequest, this, &TLineNumberedEdit::UpdateLineNumberArea);
    UpdateLineNumberAreaWidth();
}

int TLineNumberedEdit::LineNumberAreaWidth() const {
    int digits = 1;
    for (int lines = std::max(1, blockCount()); lines >= 10; lines /= 10)
        ++digits;
    digits = std::max(digits, MinDigits);
    return 2 * kGutterPadding + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

std::vector<TLineNumberedEdit::TLineNumber> TLineNumberedEdit::VisibleLineNumbers() const {
    std::vector<TLineNumber> numbers;
    const int bottomOfView = viewport()->height();
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= bottomOfView) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible())
            numbers.push_back(
                {block.blockNumber() + 1, QRect(0, top, FLineNumberArea->width() - kGutterPadding, height)});
        top += height;
        block = block.next();
    }
    return numbers;
}

void TLineNumberedEdit::PaintLineNumberArea(QPaintEvent* event) {
    QPainter painter(FLineNumberArea);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    for (const TLineNumber& line : VisibleLineNumbers()) {
        if (line.Rect.bottom() < event->rect().top() || line.Rect.top() > event->rect().bottom())
            continue;
        painter.drawText(line.Rect, Qt::AlignRight | Qt::AlignVCenter, QString::number(line.Number));
    }
}

void TLineNumberedEdit::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect content = contentsRect();
    FLineNumberArea->setGeometry(QRect(content.left(), content.top(), LineNumberAreaWidth(), content.height()));
}

void TLineNumberedEdit::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateLineNumberAreaWidth();
}

void TLineNumberedEdit::UpdateLineNumberAreaWidth() {
    setViewportMargins(LineNumberAreaWidth(), 0, 0, 0);
    const QRect content = contentsRect();
    FLineNumberArea->setGeometry(QRect(content.left(), content.top(), LineNumberAreaWidth(), content.height()));
}

void TLineNumberedEdit::UpdateLineNumberArea(const QRect& rect, int dy) {
    if (dy != 0)
        FLineNumberArea->scroll(0, dy);
    else
        FLineNumberArea->update(0, rect.y(), FLineNumberArea->width(), rect.height());
    if (rect.contains(viewport()->rect()))
        UpdateLineNumberAreaWidth();
}
