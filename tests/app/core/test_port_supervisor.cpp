// Tests of the tracer port's supervisor without a line: the link read from the settings, the
// status words of every state, and the decisions (open, retry, keep the lost-line message) over a
// link that answers as each test scripts it.
#include "app/core/PortSupervisor.h"

#include "app/core/Settings.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

// A link whose answers are queued by the test; it writes down what it was asked.
class TScriptedLink : public TPortLink {
public:
    struct TAnswer {
        TOpened Result;
        TOpenFailure Failure;
    };
    std::deque<TAnswer> Answers;
    std::vector<std::string> Calls;

    TOpened Open(const TLinkSettings& link, TOpenFailure& failure) override {
        Calls.push_back("open " + link.Name());
        if (Answers.empty())
            return TOpened::Now;
        const TAnswer answer = Answers.front();
        Answers.pop_front();
        failure = answer.Failure;
        return answer.Result;
    }
    void Close() override { Calls.push_back("close"); }
};

TLinkSettings Serial(const std::string& port) {
    TLinkSettings link;
    link.SerialPort = port;
    return link;
}

TLinkSettings Tcp(int32_t port, const std::string& host = {}) {
    TLinkSettings link;
    link.Type = host.empty() ? TLinkType::TcpListen : TLinkType::TcpConnect;
    link.TcpPort = port;
    link.TcpHost = host;
    return link;
}

struct TRun {
    TScriptedLink Link;
    TPortSupervisor Supervisor{Link};
    std::vector<std::string> Shown;
    TRun() {
        Supervisor.OnState = [this](const TLinkState& state) { Shown.push_back(PortStatusText(state)); };
    }
};

const TOpenFailure kRefused{"Connection refused", TOpenProblem::Other};

} // namespace

TEST(PortSupervisor, TheLinkIsReadFromTheSettings) {
    const struct {
        std::vector<std::string> Lines;
        TLinkType Type;
        int32_t TcpPort;
        std::string Host;
        std::string Name;
        bool Usable;
    } cases[] = {
        {{"TracerCOMPort=/dev/ttyUSB0"}, TLinkType::Serial, 0, "", "/dev/ttyUSB0", true},
        {{}, TLinkType::Serial, 0, "", "", false},
        {{"TracerPortType=Serial", "TracerTCPPort=5000"}, TLinkType::Serial, 0, "", "", false},
        {{"tracerporttype=tcp", "TracerTCPPort=5000"}, TLinkType::TcpListen, 5000, "", "TCP port 5000", true},
        {{"TracerPortType=TCP", "TracerTCPPort=4001", "TracerTCPHost= lab-server "},
         TLinkType::TcpConnect,
         4001,
         "lab-server",
         "lab-server:4001",
         true},
        {{"TracerPortType=TCP", "TracerTCPPort=4001", "TracerTCPHost=::1"},
         TLinkType::TcpConnect,
         4001,
         "::1",
         "[::1]:4001",
         true},
        {{"TracerPortType=TCP", "TracerTCPPort=five"}, TLinkType::TcpListen, 0, "", "TCP port 0", false},
        {{"TracerPortType=TCP", "TracerTCPPort=65536"}, TLinkType::TcpListen, 65536, "", "TCP port 65536", false},
        {{"TracerPortType=Modem", "TracerCOMPort=COM2"}, TLinkType::Serial, 0, "", "COM2", true},
    };
    for (const auto& c : cases) {
        TRecordList settings;
        for (const std::string& line : c.Lines)
            settings.Add(line);
        const TLinkSettings link = TLinkSettings::Read(settings);
        const std::string name = c.Lines.empty() ? "(none)" : c.Lines.front();
        EXPECT_EQ(link.Type, c.Type) << name;
        EXPECT_EQ(link.TcpPort, c.TcpPort) << name;
        EXPECT_EQ(link.TcpHost, c.Host) << name;
        EXPECT_EQ(link.Name(), c.Name) << name;
        EXPECT_EQ(link.Usable(), c.Usable) << name;
    }
}

TEST(PortSupervisor, TheTcpKeysRoundTripAndSerialRemovesThePortType) {
    TRecordList settings;
    settings.Add("; note");
    TLinkSettings::WriteTcp(settings, true, " 5000 ", "");
    EXPECT_EQ(settings.Lines(), (std::vector<std::string>{"; note", "TracerPortType=TCP", "TracerTCPPort=5000"}));
    EXPECT_EQ(TLinkSettings::Read(settings), Tcp(5000));
    TLinkSettings::WriteTcp(settings, true, "4001", "10.0.0.7");
    EXPECT_EQ(TLinkSettings::Read(settings), Tcp(4001, "10.0.0.7"));
    // Back to serial: the TCP values stay for the next time, the type goes.
    TLinkSettings::WriteTcp(settings, false, "4001", "10.0.0.7");
    EXPECT_EQ(settings.Value(setting::TracerPortType), "");
    EXPECT_EQ(TLinkSettings::Read(settings).Type, TLinkType::Serial);
    EXPECT_EQ(settings.Value(setting::TracerTCPHost), "10.0.0.7");
}

TEST(PortSupervisor, StatusWordsOfEveryState) {
    const auto state = [](TPortStatus status, TLinkSettings link, std::string reason = {},
                          TOpenProblem problem = TOpenProblem::Other, bool retrying = false) {
        TLinkState s;
        s.Status = status;
        s.Link = std::move(link);
        s.Reason = std::move(reason);
        s.Problem = problem;
        s.Retrying = retrying;
        return s;
    };
    const std::string retry = "  Trying again every 3 seconds.";
    const struct {
        TLinkState State;
        std::string Text;
        bool Ready;
    } cases[] = {
        {state(TPortStatus::Open, Serial("COM3")), "Ready on port COM3", true},
        {state(TPortStatus::Open, Tcp(5000)), "Ready on TCP port 5000", true},
        {state(TPortStatus::Open, Tcp(4001, "lab")), "Connected to lab:4001", true},
        {state(TPortStatus::Connecting, Tcp(4001, "lab")), "Connecting to lab:4001", true},
        {state(TPortStatus::CannotOpen, Serial("")), "Cannot open tracer COM port.  Please see Settings.", false},
        {state(TPortStatus::CannotOpen, Serial("COM3"), "No such file or directory", TOpenProblem::Other, true),
         "Cannot open tracer COM port.  Please see Settings." + retry, false},
        {state(TPortStatus::CannotOpen, Serial("COM3"), "in use by another program", TOpenProblem::InUse, true),
         "Cannot open tracer COM port COM3: in use by another program." + retry, false},
        {state(TPortStatus::CannotOpen, Serial("COM3"), "no permission: join the group dialout, then log in again",
               TOpenProblem::Permission, true),
         "Cannot open tracer COM port COM3: no permission: join the group dialout, then log in again." + retry, false},
        {state(TPortStatus::CannotOpen, Tcp(0)), "Cannot open tracer TCP port.  Please see Settings.", false},
        {state(TPortStatus::CannotOpen, Tcp(80), "The address is protected", TOpenProblem::Permission, true),
         "Cannot listen on TCP port 80: The address is protected." + retry, false},
        {state(TPortStatus::CannotOpen, Tcp(4001, "lab"), "Connection refused", TOpenProblem::Other, true),
         "Cannot connect to lab:4001: Connection refused." + retry, false},
        {state(TPortStatus::Lost, Serial("/dev/ttyUSB0"), "Input/output error", TOpenProblem::Other, true),
         "Connection lost on /dev/ttyUSB0: Input/output error." + retry, false},
        {state(TPortStatus::Lost, Tcp(4001, "lab"), "The remote host closed the connection.", TOpenProblem::Other,
               true),
         "Connection lost on lab:4001: The remote host closed the connection." + retry, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortStatusText(c.State), c.Text);
        EXPECT_EQ(c.State.Ready(), c.Ready) << c.Text;
    }
}

TEST(PortSupervisor, ALinkThatFailsIsRetriedUntilItOpensAndNothingToOpenIsNotRetried) {
    TRun run;
    run.Link.Answers = {{TPortLink::TOpened::Failed, {"in use by another program", TOpenProblem::InUse}},
                        {TPortLink::TOpened::Failed, {"in use by another program", TOpenProblem::InUse}},
                        {TPortLink::TOpened::Failed,
                         {"no permission: join the group dialout, then log in again", TOpenProblem::Permission}}};
    run.Supervisor.Apply(Serial("COM3"));
    EXPECT_TRUE(run.Supervisor.Retrying());
    EXPECT_FALSE(run.Supervisor.State().Permission());
    run.Supervisor.RetryDue(); // the same failure: said once
    run.Supervisor.RetryDue(); // another one: said
    EXPECT_TRUE(run.Supervisor.State().Permission());
    run.Supervisor.RetryDue();
    EXPECT_FALSE(run.Supervisor.Retrying());
    EXPECT_EQ(run.Shown, (std::vector<std::string>{
                             "Cannot open tracer COM port COM3: in use by another program.  Trying again every 3 "
                             "seconds.",
                             "Cannot open tracer COM port COM3: no permission: join the group dialout, then log in "
                             "again.  Trying again every 3 seconds.",
                             "Ready on port COM3"}));
    EXPECT_EQ(run.Link.Calls, (std::vector<std::string>{"close", "open COM3", "close", "open COM3", "close",
                                                        "open COM3", "close", "open COM3"}));

    // Settings that name nothing: said, never tried.
    run.Link.Calls.clear();
    run.Supervisor.Apply(Serial(""));
    EXPECT_FALSE(run.Supervisor.Retrying());
    EXPECT_EQ(run.Link.Calls, (std::vector<std::string>{"close"}));
    EXPECT_EQ(run.Shown.back(), "Cannot open tracer COM port.  Please see Settings.");
    run.Supervisor.Apply(Serial("")); // shown anew, for a status that may have changed meanwhile
    EXPECT_EQ(run.Shown.size(), 5u);
}

TEST(PortSupervisor, ALostConnectionKeepsItsMessageWhileTheHostRefusesAndReconnects) {
    TRun run;
    run.Link.Answers = {{TPortLink::TOpened::Pending, {}}};
    run.Supervisor.Apply(Tcp(4001, "lab"));
    EXPECT_EQ(run.Supervisor.State().Status, TPortStatus::Connecting);
    run.Supervisor.RetryDue(); // not retrying: nothing happens
    run.Supervisor.Opened();
    run.Supervisor.LineLost("The remote host closed the connection");
    run.Supervisor.LineLost("The remote host closed the connection"); // one loss, one report
    EXPECT_TRUE(run.Supervisor.Retrying());

    // The retries: refused at once, then under way and refused, then under way and made.
    run.Link.Answers = {{TPortLink::TOpened::Failed, kRefused}, {TPortLink::TOpened::Pending, {}}};
    run.Supervisor.RetryDue();
    run.Supervisor.RetryDue();
    run.Supervisor.RetryDue(); // a connection under way is not cut short
    run.Supervisor.OpenFailed(kRefused);
    run.Link.Answers = {{TPortLink::TOpened::Pending, {}}};
    run.Supervisor.RetryDue();
    run.Supervisor.Opened();
    EXPECT_FALSE(run.Supervisor.Retrying());
    EXPECT_EQ(run.Shown,
              (std::vector<std::string>{
                  "Connecting to lab:4001", "Connected to lab:4001",
                  "Connection lost on lab:4001: The remote host closed the connection.  Trying again every 3 seconds.",
                  "Connected to lab:4001"}));
    EXPECT_EQ(run.Link.Calls.size(), 2u + 2 * 3);

    // A host that never took the first connection is said so, and tried again.
    run.Link.Answers = {{TPortLink::TOpened::Pending, {}}};
    run.Supervisor.Apply(Tcp(4002, "lab"));
    run.Supervisor.OpenFailed({"No answer within 10 seconds", TOpenProblem::Other});
    EXPECT_TRUE(run.Supervisor.Retrying());
    EXPECT_EQ(run.Shown.back(), "Cannot connect to lab:4002: No answer within 10 seconds.  Trying again every 3 "
                                "seconds.");
    run.Supervisor.Close();
    EXPECT_FALSE(run.Supervisor.Retrying());
    EXPECT_EQ(run.Link.Calls.back(), "close");
}
