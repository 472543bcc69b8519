// The tracer's line goes away and comes back: the settings name a symbolic link to a
// pseudo-terminal; the old pair is closed, a new one is made and the link moved to it.
#include "FormTestSupport.h"

#include "handler/OMATracer.h"

#include <QGroupBox>

#include <cstdio>

using namespace form_test;

namespace {

class LostLine : public TFormFixture {
protected:
    std::string FLink;
    void PointLinkAt(const std::string& target) {
        const std::string fresh = FLink + ".new";
        ASSERT_EQ(::symlink(target.c_str(), fresh.c_str()), 0);
        ASSERT_EQ(std::rename(fresh.c_str(), FLink.c_str()), 0); // atomically, as udev would
    }
};

QColor StatusColour(const TForm1& form) {
    return Control<QLabel>(form, "StatusLabel")->palette().color(QPalette::WindowText);
}
bool StatusBold(const TForm1& form) {
    return Control<QLabel>(form, "StatusLabel")->font().bold();
}

} // namespace

TEST_F(LostLine, PortIsReopenedWhenTheDeviceComesBackAndTheJobStays) {
    FLink = FFolder.path().toStdString() + "/tracer";
    PointLinkAt(FPty.SlavePath());
    StartForm({{"AllowMod", "Y"}, {"TracerCOMPort", FLink}});
    const QString ready = QString::fromStdString("Ready on port " + FLink);
    ASSERT_EQ(StatusText(*FForm), ready);
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::black));
    EXPECT_FALSE(StatusBold(*FForm));
    ASSERT_FALSE(DeliverJob().empty());
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm).startsWith(QStringLiteral("The trace filename")); }));
    const QString caption = Control<QGroupBox>(*FForm, "JobGroupBox")->title();

    FPty.Close();
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm).startsWith(QStringLiteral("Connection lost on ")); }));
    // The operator is told that nothing needs doing.
    EXPECT_TRUE(StatusText(*FForm).endsWith(QStringLiteral(".  Trying again every 3 seconds.")))
        << StatusText(*FForm).toStdString();
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::red));
    EXPECT_TRUE(StatusBold(*FForm));
    EXPECT_TRUE(FForm->Reconnecting());
    ASSERT_TRUE(WaitUntil([&] { return !FForm->OMATracer1()->Active(); }));

    TPty next;
    PointLinkAt(next.SlavePath());
    ASSERT_TRUE(WaitUntil([&] { return StatusText(*FForm) == ready; }));
    EXPECT_EQ(StatusColour(*FForm), QColor(Qt::black));
    EXPECT_FALSE(StatusBold(*FForm));
    EXPECT_FALSE(FForm->Reconnecting());
    EXPECT_EQ(Control<QGroupBox>(*FForm, "JobGroupBox")->title(), caption);
    EXPECT_TRUE(Control<QGroupBox>(*FForm, "JobGroupBox")->isEnabled());

    // The new line carries the conversation.
    next.Send({"REQ=INI"});
    EXPECT_EQ(next.AwaitReply().substr(0, 2), "\x06\x1c");
    EXPECT_TRUE(FErrors.Messages.empty()) << FErrors.Messages.front();
}
