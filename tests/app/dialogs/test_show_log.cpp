// The communication log window: a copy of the log with line numbers, "Clear Log", destroyed on close.
#include "app/core/CommLog.h"
#include "app/dialogs/LineNumberedEdit.h"
#include "app/dialogs/ShowLog.h"

#include <QApplication>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <string>

namespace {

class ShowLogTest : public testing::Test {
protected:
    void SetUp() override { CommLog().Clear(); }
    void TearDown() override {
        delete Owner;
        CommLog().Clear();
    }
    QWidget* Owner = new QWidget;
};

void DestroyClosedWindows() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(ShowLogTest, ViewerHoldsACopyOfTheLogTakenAtOpening) {
    CommLog().Add("--------- In from tracer ------------\r<fs>REQ=INI<cr><lf>\r\xB0 degrees\r");
    TShowLogForm* form = ShowLogWindow(Owner);
    CommLog().Add("added after opening\r");

    EXPECT_EQ(form->windowTitle(), "Communication Log");
    EXPECT_EQ(form->size(), QSize(579, 395));
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isModal());
    EXPECT_EQ(form->parentWidget(), Owner);
    EXPECT_TRUE(form->ViewLogEdit()->isReadOnly());
    // Log bytes are shown one character each, with no empty line after the last one.
    EXPECT_EQ(form->ViewLogEdit()->toPlainText(),
              QString::fromLatin1("--------- In from tracer ------------\n<fs>REQ=INI<cr><lf>\n\xB0 degrees"));
    EXPECT_EQ(form->ViewLogEdit()->blockCount(), 3);
}

TEST_F(ShowLogTest, EveryRequestOpensAFurtherWindow) {
    TShowLogForm* first = ShowLogWindow(Owner);
    TShowLogForm* second = ShowLogWindow(Owner);
    EXPECT_NE(first, second);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(second->isVisible());
}

TEST_F(ShowLogTest, GutterNumbersTheLinesInView) {
    for (int i = 1; i <= 1200; ++i)
        CommLog().Add("line " + std::to_string(i) + "\r");
    TShowLogForm* form = ShowLogWindow(Owner);
    TLineNumberedEdit* viewer = form->LineNumberedViewer();
    QApplication::processEvents();

    const QFontMetrics digits(viewer->font());
    EXPECT_GE(viewer->LineNumberAreaWidth(), digits.horizontalAdvance(QStringLiteral("99999")));
    EXPECT_EQ(viewer->LineNumberArea()->width(), viewer->LineNumberAreaWidth());
    EXPECT_TRUE(viewer->LineNumberArea()->isVisible());
    // The text starts to the right of the gutter.
    EXPECT_GE(viewer->viewport()->geometry().left(), viewer->LineNumberAreaWidth());

    std::vector<TLineNumberedEdit::TLineNumber> numbers = viewer->VisibleLineNumbers();
    ASSERT_GT(numbers.size(), 5u);
    EXPECT_EQ(numbers.front().Number, 1);
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        EXPECT_EQ(numbers[i].Number, numbers[i - 1].Number + 1);
        EXPECT_GT(numbers[i].Rect.top(), numbers[i - 1].Rect.top());
    }

    viewer->verticalScrollBar()->setValue(viewer->verticalScrollBar()->maximum());
    QApplication::processEvents();
    numbers = viewer->VisibleLineNumbers();
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.back().Number, 1200);
}

TEST_F(ShowLogTest, ViewerUsesAFixedPitchFontOf13Pixels) {
    TShowLogForm* form = ShowLogWindow(Owner);
    const QFont font = form->ViewLogEdit()->font();
    EXPECT_EQ(font.pixelSize(), 13);
    EXPECT_TRUE(QFontInfo(font).fixedPitch()) << QFontInfo(font).family().toStdString();
}

TEST_F(ShowLogTest, ClearLogEmptiesTheLogAndThisWindowOnly) {
    CommLog().Add("one\rtwo\r");
    TShowLogForm* cleared = ShowLogWindow(Owner);
    TShowLogForm* other = ShowLogWindow(Owner);

    QTest::mouseClick(cleared->findChild<QPushButton*>("ClearLogButton"), Qt::LeftButton);

    EXPECT_EQ(CommLog().Count(), 0u);
    EXPECT_TRUE(cleared->ViewLogEdit()->toPlainText().isEmpty());
    EXPECT_EQ(other->ViewLogEdit()->toPlainText(), "one\ntwo");
    EXPECT_TRUE(cleared->isVisible());
}

TEST_F(ShowLogTest, ClosingDestroysTheWindow) {
    struct TCase {
        const char* Way;
        void (*Close)(TShowLogForm*);
    } cases[] = {
        {"Close button",
         [](TShowLogForm* f) { QTest::mouseClick(f->findChild<QPushButton*>("Button1"), Qt::LeftButton); }},
        {"Button1Click", [](TShowLogForm* f) { f->Button1Click(); }},
        {"close box", [](TShowLogForm* f) { f->close(); }},
        {"Escape", [](TShowLogForm* f) { QTest::keyClick(f, Qt::Key_Escape); }},
    };
    for (const TCase& c : cases) {
        QPointer<TShowLogForm> form = ShowLogWindow(Owner);
        c.Close(form);
        DestroyClosedWindows();
        EXPECT_TRUE(form.isNull()) << c.Way;
    }
}

} // namespace
