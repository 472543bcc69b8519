// The close confirmation: the rule over DontAskCloseProgram, and the real confirmation box.
#include "../WhenModal.h"
#include "app/shell/CloseConfirm.h"
#include "app/shell/YesNoBox.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

struct TCloseCase {
    const char* stored; // DontAskCloseProgram before; nullptr: no line
    bool answerYes;
    bool ticked;
    bool expectAsked;
    bool expectAllowed;
    const char* expectStored;
};

TEST(ConfirmClose, DecidesAndStoresTheAnswer) {
    const TCloseCase cases[] = {
        {"Y", false, false, false, true, "Y"},
        {nullptr, false, true, true, false, "N"}, // refused: the tick does not count
        {"N", false, false, true, false, "N"},
        {nullptr, true, true, true, true, "Y"},
        {"N", true, false, true, true, "N"},
        {"y", true, true, true, true, "Y"}, // only the upper-case Y means yes
    };
    for (const TCloseCase& c : cases) {
        SCOPED_TRACE(std::string("stored ") + (c.stored ? c.stored : "(none)") + (c.answerYes ? ", Yes" : ", No") +
                     (c.ticked ? ", ticked" : ""));
        TRecordList settings;
        settings.Add("TracerCOMPort=/dev/ttyUSB0");
        if (c.stored)
            settings.SetValue(setting::DontAskCloseProgram, c.stored);
        int asked = 0;
        const bool allowed =
            ConfirmClose(nullptr, settings, [&](QWidget*, const QString& title, const QString& text, bool& dontAsk) {
                ++asked;
                EXPECT_EQ(title, "Confirm Close?");
                EXPECT_EQ(text, "Are you sure you want\rto close the tracer interface?");
                dontAsk = c.ticked;
                return c.answerYes;
            });
        EXPECT_EQ(asked, c.expectAsked ? 1 : 0);
        EXPECT_EQ(allowed, c.expectAllowed);
        EXPECT_EQ(settings.Value(setting::DontAskCloseProgram), c.expectStored);
        EXPECT_EQ(settings.Line(0), "TracerCOMPort=/dev/ttyUSB0");
    }
}

TEST(ConfirmClose, AsksWithTheRealBox) {
    for (const bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        TRecordList settings;
        QString caption, message;
        WhenModal<TYesNoBoxForm>([&](TYesNoBoxForm* box) {
            caption = box->windowTitle();
            message = box->Message()->text();
            box->DontAskCheckbox()->setChecked(true);
            (yes ? box->YesButton() : box->NoButton())->click();
        });
        EXPECT_EQ(ConfirmClose(nullptr, settings), yes);
        EXPECT_EQ(caption, "Confirm Close?");
        EXPECT_EQ(message, "Are you sure you want\nto close the tracer interface?");
        EXPECT_EQ(settings.Value(setting::DontAskCloseProgram), yes ? "Y" : "N");
    }
}

TEST(YesNoBox, NewBoxHasItsCaptionAndButtons) {
    TYesNoBoxForm box(nullptr);
    EXPECT_EQ(box.windowTitle(), "Confirm");
    EXPECT_EQ(box.YesButton()->text(), "Yes");
    EXPECT_EQ(box.NoButton()->text(), "No");
    EXPECT_EQ(box.DontAskCheckbox()->text(), "Don't Ask Again");
    EXPECT_FALSE(box.DontAskCheckbox()->isChecked());
}

TEST(AskYesNo, SizesTheBoxToAtMostTwoLines) {
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(13);
    const int lineHeight = QFontMetrics(arial).height();

    const struct {
        const char* text;
        int lines;
    } cases[] = {
        {"", 0},
        {"One line only", 1},
        {"Ends with a break\r", 1},
        {"Two\rlines", 2},
        {"Two\r\nlines", 2},
        {"Two\nlines", 2},
        {"Three\rshort\rlines", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QSize inside, message, whole;
        int pixelSize = 0;
        WhenModal<TYesNoBoxForm>([&](TYesNoBoxForm* box) {
            inside = box->Inside()->size();
            message = box->Message()->size();
            whole = box->size();
            pixelSize = box->Message()->font().pixelSize();
            box->DontAskCheckbox()->setChecked(true);
            box->NoButton()->click();
        });
        bool dontAsk = true;
        EXPECT_FALSE(AskYesNo(nullptr, QStringLiteral("Title"), QString::fromLatin1(c.text), dontAsk));
        EXPECT_FALSE(dontAsk);
        EXPECT_EQ(pixelSize, 13);
        EXPECT_EQ(inside, QSize(341, lineHeight * c.lines + 79));
        EXPECT_EQ(message.height(), lineHeight * c.lines);
        EXPECT_EQ(whole, QSize(351, lineHeight * c.lines + 89)); // the 5-pixel border around
    }
}

TEST(AskYesNo, YesReportsTheTick) {
    for (const bool ticked : {false, true}) {
        WhenModal<TYesNoBoxForm>([&](TYesNoBoxForm* box) {
            box->DontAskCheckbox()->setChecked(ticked);
            box->YesButton()->click();
        });
        bool dontAsk = !ticked;
        EXPECT_TRUE(AskYesNo(nullptr, QStringLiteral("Title"), QStringLiteral("Text"), dontAsk));
        EXPECT_EQ(dontAsk, ticked);
    }
}

} // namespace
