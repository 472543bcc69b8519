// The job panel's number edit shows the values the program sets, with two decimals and the
// user's separator, and takes typed text as it comes.
#include "app/NumberEdit.h"

#include "common/Numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

TEST(TNumberEdit, ShowsTheValuesSetAndKeepsTypedText) {
    TNumberEdit edit;
    edit.setMaximum(9999.99);
    for (const auto& [value, text] : {std::pair{52.0, "52.00"}, {18.0, "18.00"}, {142.237, "142.24"}}) {
        edit.setValue(value);
        EXPECT_EQ(edit.Editor()->text().toStdString(), text);
        EXPECT_DOUBLE_EQ(edit.value(), std::round(value * 100) / 100);
    }
    const char saved = DecimalSeparator();
    SetDecimalSeparator(',');
    edit.setValue(48.5);
    EXPECT_EQ(edit.Editor()->text().toStdString(), "48,50");
    SetDecimalSeparator(saved);

    edit.Editor()->setText(QStringLiteral("4"));
    EXPECT_EQ(edit.Editor()->text().toStdString(), "4"); // typed text is kept, not refused
}
