// Why a serial line does not open, in the operator's words: the check behind the port list and
// the serial port's own open error agree, for a line in use, a user without permission and a name
// without a usable line behind it.
#include "link/Comms.h"
#include "link/PortList.h"

#include "LinkTestSupport.h"
#include "OtherUser.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using link_test::TPtyPair;
using test_support::TDeniedDevice;

namespace {

std::string OpenMessage(const std::string& path) {
    TComPort port;
    port.SetPort(path);
    try {
        port.Open();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(opened)";
}

} // namespace

TEST(PortAccess, ErrorCodesBecomeTheOperatorsWords) {
    const struct {
        int Error;
        std::string Words;
    } cases[] = {
        {EACCES, "no permission: join the group dialout, then log in again"},
        {EPERM, "no permission: join the group dialout, then log in again"},
        {EBUSY, "in use by another program"},
        {ENOENT, "No such file or directory"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortOpenRefusal("/dev/no-such-tracer-line", c.Error).Reason, c.Words) << c.Error;
}

TEST(PortAccess, ALineHeldByAnotherProgramIsInUseForTheCheckAndTheOpen) {
    TPtyPair pty;
    EXPECT_EQ(CheckSerialPort(pty.SlavePath()).State, psOpens);
    EXPECT_EQ(CheckSerialPort(pty.SlavePath()).Reason, "");

    const int holder = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const TPortCheck check = CheckSerialPort(pty.SlavePath());
    EXPECT_EQ(check.State, psInUse);
    EXPECT_EQ(check.Reason, "in use by another program");
    EXPECT_EQ(OpenMessage(pty.SlavePath()), "Unable to open " + pty.SlavePath() + ": in use by another program");
    ::close(holder);
    EXPECT_TRUE(CanOpenSerialPort(pty.SlavePath()));
}

TEST(PortAccess, AUserWithoutPermissionIsToldWhichGroupToJoin) {
    TPtyPair pty;
    struct stat before {};
    ASSERT_EQ(::stat(pty.SlavePath().c_str(), &before), 0);
    const group* tty = ::getgrnam("tty");
    const struct {
        mode_t Mode;
        gid_t Group;
        const char* Named; // the group named in the reason
    } cases[] = {
        // The device's group may not use it either: the group that serial lines usually have.
        {0600, before.st_gid, "dialout"},
        // A device its group may use, such as root:dialout 660: that group.
        {0660, tty ? tty->gr_gid : before.st_gid, "tty"},
    };
    for (const auto& c : cases) {
        // An ordinary user owns the test's line: only a mode without the owner refuses it.
        if (::geteuid() != 0 && c.Mode != 0600)
            continue;
        if (c.Group != before.st_gid && ::chown(pty.SlavePath().c_str(), static_cast<uid_t>(-1), c.Group) != 0)
            continue;
        {
            const TDeniedDevice denied(pty.SlavePath(), ::geteuid() == 0 ? c.Mode : 0);
            if (!denied.Denied())
                GTEST_SKIP() << "this system cannot refuse the line to this test";
            const std::string words = std::string("no permission: join the group ") + c.Named + ", then log in again";
            const TPortCheck check = CheckSerialPort(pty.SlavePath());
            EXPECT_EQ(check.State, psNoPermission);
            EXPECT_EQ(check.Reason, words);
            EXPECT_EQ(OpenMessage(pty.SlavePath()), "Unable to open " + pty.SlavePath() + ": " + words);
        }
        ASSERT_EQ(::chown(pty.SlavePath().c_str(), static_cast<uid_t>(-1), before.st_gid), 0);
    }
    EXPECT_TRUE(CanOpenSerialPort(pty.SlavePath()));
}

TEST(PortAccess, ANameWithoutAUsableLineIsUnusable) {
    for (const char* path : {"/dev/no-such-tracer-line", "/dev/null"}) {
        const TPortCheck check = CheckSerialPort(path);
        EXPECT_EQ(check.State, psUnusable) << path;
        EXPECT_FALSE(check.Reason.empty()) << path;
    }
}
