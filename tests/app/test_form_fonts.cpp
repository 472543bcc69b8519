// The job panel's number edits in whatever face the system puts in for the window's font: a
// system without a face metric-compatible with Arial substitutes a wider one, and every digit of
// the largest value must still show.
#include "FormTestSupport.h"

#include "app/NumberEdit.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QTest>

using namespace form_test;

namespace {

class FormFonts : public TFormFixture {};

} // namespace

TEST_F(FormFonts, EveryDigitShowsInANarrowAndAWideFace) {
    StartForm();
    for (const char* family : {"Liberation Sans", "DejaVu Sans"}) {
        SCOPED_TRACE(family);
        if (!QFontDatabase::families().contains(QString::fromLatin1(family)))
            GTEST_SKIP() << family << " is not installed (fonts-liberation2, fonts-dejavu-core)";
        QFont font(QString::fromLatin1(family));
        font.setPixelSize(13);
        FForm->setFont(font);
        FForm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
        for (const char* name : {"BoxAEdit", "BoxBEdit", "CircEdit", "DBLEdit"}) {
            auto* edit = Control<TNumberEdit>(*FForm, name);
            ASSERT_EQ(QFontInfo(edit->font()).family(), QString::fromLatin1(family));
            for (const double value : {142.22, 100.0, edit->maximum()}) {
                edit->setValue(value);
                QCoreApplication::processEvents();
                const QString text = edit->Editor()->text();
                // The line edit keeps a margin of two pixels on each side of its text.
                const int room = edit->Editor()->contentsRect().width() - 4;
                EXPECT_LE(edit->Editor()->fontMetrics().horizontalAdvance(text), room)
                    << name << " " << text.toStdString() << " in " << room << " pixels";
            }
        }
        FForm->hide();
    }
}
