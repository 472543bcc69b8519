// TLineNumberedEdit: a plain-text viewer with a gutter of line numbers on its left.
#pragma once

#include <QPlainTextEdit>

#include <vector>

class TLineNumberedEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    // The gutter keeps room for this many digits even when fewer lines are shown, so that it
    // does not jump while the text grows.
    static constexpr int MinDigits = 5;

    struct TLineNumber {
        int Number; // 1-based
        QRect Rect; // in gutter coordinates
    };

    explicit TLineNumberedEdit(QWidget* parent = nullptr);

    int LineNumberAreaWidth() const;
    QWidget* LineNumberArea() const { return FLineNumberArea; }
    // The numbers the gutter paints for the lines currently in view.
    std::vector<TLineNumber> VisibleLineNumbers() const;

    void PaintLineNumberArea(QPaintEvent* event);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateLineNumberAreaWidth();
    void UpdateLineNumberArea(const QRect& rect, int dy);

    QWidget* FLineNumberArea;
};
