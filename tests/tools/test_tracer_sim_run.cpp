// The simulated tracer's whole conversation over real lines (pty pairs, loopback TCP) against a
// scripted peer that answers as the protocol says, with faults to order; the soak run; and the
// tracer-sim program itself run as a process.
#include "CommandLine.h"
#include "Conversation.h"
#include "Process.h"
#include "PtyPair.h"
#include "SimError.h"
#include "Transport.h"

#include "Loopback.h"
#include "common/RecordList.h"
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

using namespace sim;

namespace {

// ---- the scripted peer: the program's side as the protocol states it -------------------------

// rfHangUp hangs up instead of answering a trace packet; rfHangUpAtInf, rfHangUpAtIni and
// rfHangUpAtInit instead of answering REQ=INF, REQ=INI or the initialisation packet.
enum TFault {
    rfNone,
    rfWrongStatus,
    rfSilent,
    rfTwice,
    rfBadCrc,
    rfHangUp,
    rfWrongDeviceCode,
    rfHangUpAtInf,
    rfHangUpAtIni,
    rfHangUpAtInit,
    rfHangUpAfterJob, // answers the trace packet, then hangs up for good
    rfRestartAfterJob // answers the trace packet, hangs up, and comes back knowing no tracer
};

struct TPeerResults {
    int Replies = 0;
    int TraceEvents = 0;     // trace packets with at least one eye's radii
    int ParseErrors = 0;     // packets that failed the codec (CRC checked strictly)
    int DifferentTraces = 0; // trace packets whose traces differ from the first one's
    TEyeRec FirstRight, FirstLeft;
    std::vector<std::string> Jobs; // JOB of every trace packet, in order
};

class TScriptedPeer {
public:
    // Serves `fd` (owned) on a thread of its own; `fault` hits the `faultAt`-th trace packet
    // (rfWrongDeviceCode hits the initialisation packet, the rfHangUpAt faults the `faultAt`-th
    // packet of their kind). After a hang-up, `reopen` may give the
    // line back (a new descriptor, or -1), as a program that closes its port and opens it again.
    explicit TScriptedPeer(int fd, TFault fault = rfNone, int faultAt = 1, uint16_t maxNumPoints = 512,
                           std::function<int()> reopen = {})
        : FFd(fd), FFault(fault), FFaultAt(faultAt), FReopen(std::move(reopen)) {
        FCodec.SetIgnoreBadCRC(false);
        FCodec.SetMaxNumPoints(maxNumPoints);
        if (::pipe(FWake) != 0)
            throw std::runtime_error("pipe");
        FThread = std::thread([this] { Serve(); });
    }
    ~TScriptedPeer() { Stop(); }

    TPeerResults Stop() {
        if (FThread.joinable()) {
            const char stop = 's';
            (void)!::write(FWake[1], &stop, 1);
            FThread.join();
            ::close(FWake[0]);
            ::close(FWake[1]);
            if (FFd >= 0)
                ::close(FFd);
            FFd = -1;
        }
        return FResults;
    }

private:
    void Serve() {
        std::string buffer;
        for (;;) {
            pollfd p[2] = {{FFd, POLLIN, 0}, {FWake[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (p[1].revents != 0)
                return;
            char chunk[65536];
            const ssize_t n = ::read(FFd, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return; // the simulator closed its end
            buffer.append(chunk, static_cast<std::size_t>(n));
            // Cut packets as the program does: drop what comes before FS, take up to GS.
            for (;;) {
                const std::size_t fs = buffer.find(oma::FS);
                buffer.erase(0, fs == std::string::npos ? buffer.size() : fs);
                const std::size_t gs = buffer.find(oma::GS);
                if (gs == std::string::npos)
                    break;
                const std::string packet = buffer.substr(0, gs + 1);
                buffer.erase(0, gs + 1);
                const bool answered = Answer(packet);
                if (answered && FFault == rfHangUpAfterJob && static_cast<int>(FResults.Jobs.size()) == FFaultAt) {
                    ::close(FFd);
                    FFd = -1;
                    return;
                }
                if (answered && FFault == rfRestartAfterJob && static_cast<int>(FResults.Jobs.size()) == FFaultAt &&
                    !FRestarted) {
                    FRestarted = true;
                    ::close(FFd);
                    FCodec.ClearDeviceInfo();
                    FFd = FReopen ? FReopen() : -1;
                    if (FFd < 0)
                        return;
                    buffer.clear();
                    break;
                }
                if (!answered) {
                    ::close(FFd);
                    FFd = FReopen ? FReopen() : -1;
                    if (FFd < 0)
                        return;
                    buffer.clear();
                    break;
                }
            }
        }
    }

    // The five rules; false when the peer hangs up.
    bool Answer(const std::string& packet) {
        try {
            FCodec.ParsePacket(packet);
        } catch (const EOMAParseException&) {
            ++FResults.ParseErrors;
            return true;
        }
        const std::string req = FCodec.ReceivedValue("REQ"), ans = FCodec.ReceivedValue("ANS");
        const std::string def = FCodec.ReceivedValue("DEF"), job = FCodec.ReceivedValue("JOB");
        FCodec.ClearReply();
        bool twice = false;
        bool uninitialise = false;
        if (req == "INF") {
            if (HangsUpAt(rfHangUpAtInf, FInfs))
                return false;
            return Send(std::string(1, oma::ACK));
        } else if (req == "INI" && def.empty()) {
            if (HangsUpAt(rfHangUpAtIni, FInis))
                return false;
            FCodec.SetReplyValue("ANS", "INI");
            FCodec.SetReplyValue("STATUS", "0;");
        } else if (ans == "INI" || !def.empty()) {
            if (HangsUpAt(rfHangUpAtInit, FInits))
                return false;
            FCodec.SetReplyValue("ANS", "INI");
            FCodec.SetReplyValue("STATUS", "0");
            FCodec.SetReplyValue("DEF", def + ";" + (FFault == rfWrongDeviceCode ? "0" : FCodec.DeviceCode()));
            if (!FCodec.ReceivedValue("TRCFMT").empty())
                FCodec.SetReplyValue("TRCFMT", TraceFormatAnswer(FCodec));
            if (!FCodec.ReceivedValue("ZFMT").empty())
                FCodec.SetReplyValue("ZFMT", ZFormatAnswer(FCodec));
        } else if (!job.empty() && (SameTextAscii("TRC", FCodec.DeviceValue("DEV")) || SameTextAscii("TRC", req) ||
                                    SameTextAscii("TRC", ans))) {
            std::string trc, z;
            const bool wasInitialised = FCodec.IsInitialized();
            if (!wasInitialised) {
                FCodec.AdoptDevice();
                if (!FCodec.ReceivedValue("TRCFMT").empty())
                    trc = TraceFormatAnswer(FCodec);
                if (!FCodec.ReceivedValue("ZFMT").empty())
                    z = ZFormatAnswer(FCodec);
            }
            TEyeRec right, left;
            try {
                DecodeTraceBlocks(FCodec.Received(), right, left);
            } catch (const EOMAParseException&) {
                ++FResults.ParseErrors;
                return true;
            }
            NoteTrace(job, right, left);
            FCodec.SetReplyValue("ANS", req.empty() ? ans : req);
            FCodec.SetReplyValue("JOB", job);
            FCodec.SetReplyValue("STATUS", "0;\"No Error\"");
            FCodec.SetReplyValue("TRCFMT", trc);
            FCodec.SetReplyValue("ZFMT", z);
            if (static_cast<int>(FResults.Jobs.size()) == FFaultAt) {
                switch (FFault) {
                case rfWrongStatus:
                    FCodec.SetReplyValue("STATUS", "5;Needs Initialization");
                    break;
                case rfSilent:
                    return true;
                case rfHangUp:
                    return false;
                case rfTwice:
                    twice = true;
                    break;
                default:
                    break;
                }
            }
        } else {
            FCodec.SetReplyValue("JOB", job);
            FCodec.SetReplyValue("ANS", req);
            FCodec.SetReplyValue("STATUS", "5;Needs Initialization");
            uninitialise = true;
        }
        std::string reply = oma::ACK + FCodec.BuildPacket();
        if (FFault == rfBadCrc && static_cast<int>(FResults.Jobs.size()) == FFaultAt && !FResults.Jobs.empty()) {
            const std::size_t crc = reply.find("CRC=") + 4;
            reply.replace(crc, reply.find('\r', crc) - crc,
                          std::to_string((std::stoi(reply.substr(crc, reply.find('\r', crc) - crc)) + 1) % 65536));
        }
        const bool sent = Send(twice ? reply + reply : reply);
        if (uninitialise)
            FCodec.ClearDeviceInfo();
        return sent;
    }

    // Counts a packet of one kind; true when it is the one `fault` hangs up at.
    bool HangsUpAt(TFault fault, int& count) { return ++count == FFaultAt && FFault == fault; }

    void NoteTrace(const std::string& job, const TEyeRec& right, const TEyeRec& left) {
        if (!right.Radii.empty() || !left.Radii.empty())
            ++FResults.TraceEvents;
        if (FResults.Jobs.empty()) {
            FResults.FirstRight = right;
            FResults.FirstLeft = left;
        } else if (right.Radii != FResults.FirstRight.Radii || left.Radii != FResults.FirstLeft.Radii ||
                   right.ZData != FResults.FirstRight.ZData || left.ZData != FResults.FirstLeft.ZData) {
            ++FResults.DifferentTraces;
        }
        FResults.Jobs.push_back(job);
    }

    bool Send(const std::string& bytes) {
        ++FResults.Replies;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(FFd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    int FFd;
    TFault FFault;
    int FFaultAt;
    std::function<int()> FReopen;
    int FInfs = 0, FInis = 0, FInits = 0; // packets of each kind so far
    bool FRestarted = false;
    int FWake[2]{-1, -1};
    TOMAMachine FCodec;
    TPeerResults FResults;
    std::thread FThread;
};

// A pty pair in raw mode: the simulator takes (a copy of) the master, the peer the other end.
using test_support::TPtyPair;

struct TRunResult {
    int Rc = -1;
    TSimReport Report;
    TPeerResults Peer;
};

TRunResult RunOverPty(const TSimOptions& options, TFault fault = rfNone, int faultAt = 1) {
    const TPtyPair pair(TPtyPair::pmRaw);
    TScriptedPeer peer(pair.Slave(), fault, faultAt, options.MaxNumPoints);
    TRunResult result;
    {
        const auto line = MakeFdTransport(::dup(pair.Master()), "pty");
        result.Rc = RunConversation(*line, options, result.Report);
    }
    result.Peer = peer.Stop();
    return result;
}

std::vector<std::string> JobNumbers(long long first, long long count) {
    std::vector<std::string> jobs;
    for (long long i = 0; i < count; ++i)
        jobs.push_back(std::to_string(first + i));
    return jobs;
}

// Every job answered once and right, and every trace the peer decoded is the shape that was meant.
void ExpectCleanRun(const TSimOptions& options, const TRunResult& run) {
    EXPECT_EQ(run.Rc, 0) << run.Report.Error;
    EXPECT_EQ(run.Report.JobsDone, options.Jobs);
    EXPECT_EQ(run.Peer.Replies, options.Jobs + (options.Init ? 2 : 0) + (options.SendInf ? 1 : 0));
    EXPECT_EQ(run.Peer.TraceEvents, options.Jobs);
    EXPECT_EQ(run.Peer.ParseErrors, 0);
    EXPECT_EQ(run.Peer.DifferentTraces, 0);
    EXPECT_EQ(run.Peer.Jobs, JobNumbers(options.FirstJob, options.Jobs));
    const TJobShape shape = MakeJobShape(options.Shape, run.Report.Points);
    const bool right = options.Eyes != seLeft, left = options.Eyes != seRight, z = options.Device.WithZ;
    EXPECT_EQ(run.Peer.FirstRight.Radii, right ? RadiiText(shape.Right) : "");
    EXPECT_EQ(run.Peer.FirstLeft.Radii, left ? RadiiText(shape.Left) : "");
    EXPECT_EQ(run.Peer.FirstRight.ZData, right && z ? RadiiText(shape.RightZ) : "");
    EXPECT_EQ(run.Peer.FirstLeft.ZData, left && z ? RadiiText(shape.LeftZ) : "");
}

// ---- conversations over a pty pair -------------------------------------------------------------

struct TConversationCase {
    const char* Name;
    TSimOptions Options;
    int Format;         // what the jobs were sent in
    std::size_t Points; // per eye
};

std::vector<TConversationCase> ConversationCases() {
    std::vector<TConversationCase> cases;
    TSimOptions o;
    o.Jobs = 3;
    o.NoiseBytes = 8;
    cases.push_back({"DefaultsWithNoise", o, 1, 400});

    o = TSimOptions();
    o.Device.Offers = {"1;400;E;B;F", "4;512;E;B;F"};
    o.Device.WithZ = true;
    o.Shape.Kind = skRoundRect;
    o.Jobs = 2;
    cases.push_back({"ProgramChoosesFormat4", o, 4, 512});

    o = TSimOptions();
    o.Init = false;
    o.Format = 2;
    o.Eyes = seRight;
    o.Shape.Kind = skCircle;
    o.Shape.BoxA = 50;
    o.Jobs = 3;
    cases.push_back({"NoInitRightEyeFormat2", o, 2, 400});

    o = TSimOptions();
    o.SendInf = true;
    o.Format = 3;
    o.Points = 360;
    o.Eyes = seLeft;
    o.FirstJob = 1000;
    o.Jobs = 4;
    o.NoiseBytes = 3;
    cases.push_back({"InfLeftEyeFormat3", o, 3, 360});

    o = TSimOptions();
    o.Init = false;
    o.Device.WithZ = true;
    o.Format = 4;
    o.Points = 1000;
    o.MaxNumPoints = 1000;
    o.Jobs = 2;
    cases.push_back({"NoInitWithZFormat4", o, 4, 1000});
    return cases;
}

class TracerSimConversationCases : public testing::TestWithParam<TConversationCase> {};

TEST_P(TracerSimConversationCases, EveryJobAnsweredOnceAndRight) {
    const TConversationCase& c = GetParam();
    const TRunResult run = RunOverPty(c.Options);
    ExpectCleanRun(c.Options, run);
    EXPECT_EQ(run.Report.Format, c.Format);
    EXPECT_EQ(run.Report.Points, c.Points);
}

INSTANTIATE_TEST_SUITE_P(Pty, TracerSimConversationCases, testing::ValuesIn(ConversationCases()),
                         [](const testing::TestParamInfo<TConversationCase>& info) { return info.param.Name; });

TEST(TracerSimConversation, ReportsTheProgramsFormatChoice) {
    TSimOptions options;
    options.Device.Offers = {"1;400;E;B;F", "4;512;E;B;F"};
    const TRunResult run = RunOverPty(options);
    EXPECT_EQ(run.Rc, 0) << run.Report.Error;
    EXPECT_EQ(run.Report.TraceFormat, "4;512;E;B");
}

TEST(TracerSimConversation, SoakTwoThousandJobsWithNoise) {
    TSimOptions options;
    options.Jobs = 2000;
    options.NoiseBytes = 16;
    options.Seed = 20240601;
    options.LingerMs = 200; // a duplicate reply to the last job would still be seen
    const TRunResult run = RunOverPty(options);
    ExpectCleanRun(options, run);
}

// ---- faults: the run stops at the first one, naming the step ----------------------------------

struct TFaultCase {
    const char* Name;
    TFault Fault;
    int FaultAt;
    std::vector<long long> JobsDone; // any of these
    std::string Message;
};

class TracerSimFault : public testing::TestWithParam<TFaultCase> {};

TEST_P(TracerSimFault, FailsWithAClearMessage) {
    const TFaultCase& c = GetParam();
    TSimOptions options;
    options.Jobs = 3;
    options.TimeoutMs = 300;
    options.LingerMs = 1000;
    const TRunResult run = RunOverPty(options, c.Fault, c.FaultAt);
    EXPECT_EQ(run.Rc, 1);
    EXPECT_NE(std::find(c.JobsDone.begin(), c.JobsDone.end(), run.Report.JobsDone), c.JobsDone.end())
        << run.Report.JobsDone;
    EXPECT_NE(run.Report.Error.find(c.Message), std::string::npos) << run.Report.Error;
    EXPECT_EQ(run.Report.Error.find_first_of("\r\n"), std::string::npos) << "one line: " << run.Report.Error;
}

INSTANTIATE_TEST_SUITE_P(
    Pty, TracerSimFault,
    testing::Values(
        TFaultCase{"WrongStatus",
                   rfWrongStatus,
                   2,
                   {1},
                   "job 2: wrong reply: STATUS: expected 0;\"No Error\", got 5;Needs Initialization"},
        TFaultCase{"NoReply", rfSilent, 1, {0}, "job 1: no reply within 300 ms; expected <ack><fs>ANS=TRC"},
        TFaultCase{"BadCrc", rfBadCrc, 3, {2}, "job 3: wrong reply: bad CRC in reply: is "},
        TFaultCase{"HangUp", rfHangUp, 1, {0}, "job 1: the other side closed the line"},
        TFaultCase{
            "WrongDeviceCode", rfWrongDeviceCode, 1, {0}, "initialisation packet: wrong reply: DEF: expected SIM;"},
        // The duplicate of the last reply is seen with the reply itself or while lingering after it.
        TFaultCase{"AnsweredTwice", rfTwice, 3, {2, 3}, "unexpected bytes"}),
    [](const testing::TestParamInfo<TFaultCase>& info) { return info.param.Name; });

TEST(TracerSimConversation, ReplyMissingItsAckFails) {
    // A peer that answers REQ=INI without the ACK in front.
    const TPtyPair pair(TPtyPair::pmRaw);
    std::thread peer([fd = pair.Slave()] {
        char buffer[256];
        std::string got;
        while (got.find(oma::GS) == std::string::npos) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        const std::string reply = FramePacket(std::vector<std::string>{"ANS=INI", "STATUS=0;"});
        (void)!::write(fd, reply.data(), reply.size());
    });
    TSimOptions options;
    TSimReport report;
    const auto line = MakeFdTransport(::dup(pair.Master()), "pty");
    EXPECT_EQ(RunConversation(*line, options, report), 1);
    peer.join();
    EXPECT_EQ(report.Error, "REQ=INI: wrong reply: expected <ack> first, got <fs>ANS=INI<crlf>STATUS=0;<crlf><rs>CRC="
                            "27047<crlf><gs>");
}

// ---- the transports ------------------------------------------------------------------------------

TEST(TracerSimTransport, PtyWaitsForTheOtherEndToBeOpened) {
    std::unique_ptr<TScriptedPeer> peer;
    std::string announced;
    auto line = OpenPty(
        [&](const std::string& path) {
            announced = path;
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
            ASSERT_GE(fd, 0) << path;
            peer = std::make_unique<TScriptedPeer>(fd);
        },
        10000, 0);
    EXPECT_EQ(line->Name(), announced);
    EXPECT_TRUE(announced.starts_with("/dev/"));
    TSimOptions options;
    options.Jobs = 2;
    TSimReport report;
    EXPECT_EQ(RunConversation(*line, options, report), 0) << report.Error;
    line.reset();
    const TPeerResults results = peer->Stop();
    EXPECT_EQ(results.TraceEvents, 2);
}

// A pseudo-terminal whose program end is closed by the scripted peer and opened again once the
// simulator has said that it waits for it; the simulator's progress lines are kept.
struct TReopenedPty {
    explicit TReopenedPty(TSimOptions& options) {
        Line = OpenPty(
            [&](const std::string& announced) {
                Path = announced;
                First = ::open(Path.c_str(), O_RDWR | O_NOCTTY);
            },
            10000, 0);
        options.ReopenWaitMs = 10000;
        options.Progress = [this](const std::string& text) {
            Progress.push_back(text);
            if (text.find("waiting") != std::string::npos)
                Noticed = true;
        };
    }
    std::function<int()> Reopen() {
        return [this] {
            for (int i = 0; i < 10000 && !Noticed; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return ::open(Path.c_str(), O_RDWR | O_NOCTTY);
        };
    }

    std::unique_ptr<TSimTransport> Line;
    std::string Path;
    int First = -1;
    std::atomic<bool> Noticed{false};
    std::vector<std::string> Progress;
};

// The conversation against a peer that closes the line on the way: every job reaches the peer
// once, in order and well formed, and `jobsDone` of them end with the tracer's own check passed.
void ExpectEveryJobThrough(TReopenedPty& pty, const TSimOptions& options, TScriptedPeer& peer, int jobsDone) {
    TSimReport report;
    EXPECT_EQ(RunConversation(*pty.Line, options, report), 0) << report.Error;
    const TPeerResults results = peer.Stop();
    EXPECT_EQ(report.JobsDone, jobsDone);
    EXPECT_EQ(results.Jobs, JobNumbers(1, options.Jobs));
    EXPECT_EQ(results.ParseErrors, 0);
}

TEST(TracerSimTransport, PtyOutlivesTheProgramClosingAndReopeningIt) {
    TSimOptions options;
    options.Jobs = 4;
    TReopenedPty pty(options);
    ASSERT_GE(pty.First, 0);
    // The program closes its port on job 2 and opens it again once the simulator has seen it go.
    TScriptedPeer peer(pty.First, rfHangUp, 2, options.MaxNumPoints, pty.Reopen());
    ExpectEveryJobThrough(pty, options, peer, 3);
    EXPECT_EQ(pty.Progress,
              (std::vector<std::string>{"job 1: OK", "job 2: the line was closed; waiting for it to be opened again",
                                        "job 2: the line is open again", "job 3: OK", "job 4: OK"}));
}

// The program may close its port at any step, also before it has answered the tracer's first
// packet: the simulator waits for the line to be opened again and starts the conversation anew.
TEST(TracerSimTransport, PtyOutlivesTheProgramClosingItWhileTheTracerIntroducesItself) {
    const struct {
        TFault Fault;
        std::string Step;
    } cases[] = {
        {rfHangUpAtInf, "REQ=INF"},
        {rfHangUpAtIni, "REQ=INI"},
        {rfHangUpAtInit, "initialisation packet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Step);
        TSimOptions options;
        options.SendInf = true;
        options.Jobs = 2;
        TReopenedPty pty(options);
        ASSERT_GE(pty.First, 0);
        TScriptedPeer peer(pty.First, c.Fault, 1, options.MaxNumPoints, pty.Reopen());
        ExpectEveryJobThrough(pty, options, peer, 2);
        EXPECT_EQ(pty.Progress,
                  (std::vector<std::string>{c.Step + ": the line was closed; waiting for it to be opened again",
                                            c.Step + ": the line is open again", "job 1: OK", "job 2: OK"}));
    }
}

// A program restarted (or its port closed and opened again) between two jobs, while the tracer
// pauses: seen in the pause, the tracer introduces itself again; closed and opened again too
// quickly to be seen, the program takes the tracer anew with the next job. No job is skipped.
TEST(TracerSimTransport, PtyOutlivesTheProgramRestartingBetweenJobs) {
    const struct {
        const char* What;
        bool AtOnce;
    } cases[] = {{"opened again at once", true}, {"opened again once the tracer waits", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TSimOptions options;
        options.Jobs = 3;
        options.DelayMs = 300;
        TReopenedPty pty(options);
        ASSERT_GE(pty.First, 0);
        const std::string path = pty.Path;
        TScriptedPeer peer(pty.First, rfRestartAfterJob, 1, options.MaxNumPoints,
                           c.AtOnce ? std::function<int()>([path] { return ::open(path.c_str(), O_RDWR | O_NOCTTY); })
                                    : pty.Reopen());
        ExpectEveryJobThrough(pty, options, peer, 3);
        if (!c.AtOnce) {
            EXPECT_EQ(pty.Progress,
                      (std::vector<std::string>{"job 1: OK",
                                                "before job 2: the line was closed; waiting for it to be opened again",
                                                "before job 2: the line is open again", "job 2: OK", "job 3: OK"}));
        }
    }
}

// A program that closes its port once every job has its answer leaves a run that went well.
TEST(TracerSimTransport, PtyClosedAfterTheLastReplyEndsTheRunWell) {
    int slave = -1;
    auto line = OpenPty([&](const std::string& path) { slave = ::open(path.c_str(), O_RDWR | O_NOCTTY); }, 10000, 0);
    ASSERT_GE(slave, 0);
    TSimOptions options;
    options.Jobs = 2;
    options.ReopenWaitMs = 10000;
    options.LingerMs = 10000; // ended by the closing, not by the time
    TScriptedPeer peer(slave, rfHangUpAfterJob, 2, options.MaxNumPoints);
    TSimReport report;
    EXPECT_EQ(RunConversation(*line, options, report), 0) << report.Error;
    EXPECT_EQ(report.JobsDone, 2);
}

TEST(TracerSimTransport, PtyNobodyOpensIt) {
    try {
        OpenPty([](const std::string&) {}, 50, 0);
        ADD_FAILURE() << "no error";
    } catch (const ESimError& e) {
        EXPECT_NE(std::string(e.what()).find("nobody opened /dev/"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("within 50 ms"), std::string::npos) << e.what();
    }
}

TEST(TracerSimTransport, TcpOnLoopback) {
    sockaddr_in address{};
    const int listener = ListenOnLoopback(5, address);
    ASSERT_GE(listener, 0);
    const std::string hostPort = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    auto line = ConnectTcp(hostPort, 5000);
    const int accepted = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    ::close(listener);
    TScriptedPeer peer(accepted);
    TSimOptions options;
    options.Jobs = 5;
    options.NoiseBytes = 4;
    options.Device.WithZ = true;
    TSimReport report;
    EXPECT_EQ(RunConversation(*line, options, report), 0) << report.Error;
    line.reset();
    const TPeerResults results = peer.Stop();
    EXPECT_EQ(results.TraceEvents, 5);
    EXPECT_EQ(results.ParseErrors, 0);
}

TEST(TracerSimTransport, TcpRefusedAndMalformedAddresses) {
    const uint16_t free = FreeLoopbackPort();
    ASSERT_NE(free, 0);
    const std::string closedPort = "127.0.0.1:" + std::to_string(free);
    for (const std::string& target : {closedPort, std::string("127.0.0.1"), std::string(":80")}) {
        try {
            ConnectTcp(target, 2000);
            ADD_FAILURE() << target << " connected";
        } catch (const ESimError& e) {
            const std::string message = e.what();
            EXPECT_TRUE(message.find("cannot connect") != std::string::npos ||
                        message.find("expected HOST:PORT") != std::string::npos)
                << message;
        }
    }
}

// A connection to the simulator listening on loopback, as the program makes it.
int ConnectLoopback(unsigned port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// The simulator as the TCP tracer in both roles: the program hangs up on job 2 and comes back (a
// restart, its settings), and the conversation goes on with the next job.
TEST(TracerSimTransport, TcpInBothRolesOutlivesTheProgramHangingUp) {
    for (const bool simListens : {true, false}) {
        SCOPED_TRACE(simListens ? "the simulator listens" : "the simulator connects");
        TSimOptions options;
        options.Jobs = 3;
        options.ReopenWaitMs = 10000;
        std::unique_ptr<TSimTransport> line;
        int first = -1;
        unsigned port = 0;
        std::function<int()> again;
        int listener = -1;
        if (simListens) {
            line = ListenTcp(
                "127.0.0.1:0",
                [&](unsigned listening) {
                    port = listening;
                    first = ConnectLoopback(port); // taken from the queue once the simulator accepts
                },
                10000, 0);
            again = [&port] { return ConnectLoopback(port); };
        } else {
            sockaddr_in address{};
            listener = ListenOnLoopback(5, address);
            ASSERT_GE(listener, 0);
            line = ConnectTcpAgainOnClose("127.0.0.1:" + std::to_string(ntohs(address.sin_port)), 5000);
            first = ::accept(listener, nullptr, nullptr);
            again = [listener] { return ::accept(listener, nullptr, nullptr); };
        }
        ASSERT_GE(first, 0);
        TScriptedPeer peer(first, rfHangUp, 2, options.MaxNumPoints, again);
        TSimReport report;
        EXPECT_EQ(RunConversation(*line, options, report), 0) << report.Error;
        const TPeerResults results = peer.Stop();
        line.reset();
        if (listener >= 0)
            ::close(listener);
        EXPECT_EQ(report.JobsDone, 2);
        EXPECT_EQ(results.Jobs, JobNumbers(1, 3));
        EXPECT_EQ(results.ParseErrors, 0);
    }
}

TEST(TracerSimTransport, ListenAddresses) {
    const struct {
        std::string Address;
        std::string Host;
        unsigned Port;
        bool Usable;
    } cases[] = {
        {"5000", "", 5000, true},          {"0", "", 0, true},      {"127.0.0.1:4001", "127.0.0.1", 4001, true},
        {"[::1]:4001", "::1", 4001, true}, {"65536", "", 0, false}, {"x", "", 0, false},
        {"127.0.0.1:", "", 0, false},      {"", "", 0, false},
    };
    for (const auto& c : cases) {
        std::string host;
        unsigned port = 0;
        try {
            SplitListenAddress(c.Address, host, port);
            EXPECT_TRUE(c.Usable) << c.Address;
            EXPECT_EQ(host, c.Host) << c.Address;
            EXPECT_EQ(port, c.Port) << c.Address;
        } catch (const ESimError& e) {
            EXPECT_FALSE(c.Usable) << c.Address << ": " << e.what();
        }
    }
}

// ---- latency statistics ----------------------------------------------------------------------------

TEST(TracerSimLatency, PercentilesInterpolateBetweenRanks) {
    std::vector<double> samples;
    for (int i = 100; i >= 1; --i)
        samples.push_back(i);
    const TLatencySummary s = SummarizeLatency(samples);
    EXPECT_EQ(s.Count, 100u);
    EXPECT_DOUBLE_EQ(s.MedianMs, 50.5);
    EXPECT_DOUBLE_EQ(s.P90Ms, 90.1);
    EXPECT_DOUBLE_EQ(s.P99Ms, 99.01);
    EXPECT_DOUBLE_EQ(s.MaxMs, 100);
    EXPECT_EQ(LatencyJson(s), R"({"jobs":100,"median_ms":50.5,"p90_ms":90.1,"p99_ms":99.01,"max_ms":100})");
    EXPECT_EQ(LatencyJson(SummarizeLatency({0.12345})),
              R"({"jobs":1,"median_ms":0.123,"p90_ms":0.123,"p99_ms":0.123,"max_ms":0.123})");
    EXPECT_EQ(SummarizeLatency({}).Count, 0u);
}

TEST(TracerSimLatency, OneSamplePerJob) {
    TSimOptions options;
    options.Jobs = 20;
    options.MeasureLatency = true;
    const TRunResult run = RunOverPty(options);
    EXPECT_EQ(run.Rc, 0) << run.Report.Error;
    ASSERT_EQ(run.Report.LatencyMs.size(), 20u);
    for (double ms : run.Report.LatencyMs)
        EXPECT_GE(ms, 0);
}

// ---- the command line ---------------------------------------------------------------------------------

TEST(TracerSimCommandLine, ReadsOptions) {
    const std::vector<std::string> args{"--pty",
                                        "--jobs=2000",
                                        "--noise",
                                        "16",
                                        "--shape",
                                        "file:/x.txt",
                                        "--eyes",
                                        "L",
                                        "--z",
                                        "--offer",
                                        "1;400;E;B;F,4;512;E;B;F",
                                        "--no-init",
                                        "--job",
                                        "77",
                                        "--verbose",
                                        "--format",
                                        "3",
                                        "--dbl",
                                        "19.5"};
    TCommandLine command;
    EXPECT_EQ(ParseCommandLine(args, command), "");
    EXPECT_EQ(command.Link, lkPty);
    EXPECT_EQ(command.Sim.Jobs, 2000);
    EXPECT_EQ(command.Sim.NoiseBytes, 16u);
    EXPECT_EQ(command.Sim.Shape.Kind, skFile);
    EXPECT_EQ(command.Sim.Shape.Path, "/x.txt");
    EXPECT_EQ(command.Sim.Eyes, seLeft);
    EXPECT_TRUE(command.Sim.Device.WithZ);
    EXPECT_EQ(command.Sim.Device.Offers, (std::vector<std::string>{"1;400;E;B;F", "4;512;E;B;F"}));
    EXPECT_FALSE(command.Sim.Init);
    EXPECT_EQ(command.Sim.FirstJob, 77);
    EXPECT_EQ(command.Sim.Format, 3);
    EXPECT_DOUBLE_EQ(command.Sim.DBL, 19.5);
    EXPECT_TRUE(command.Verbose);
}

TEST(TracerSimCommandLine, RefusesUnusableOptions) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{}, "give one of --device PATH, --pty, --tcp HOST:PORT or --listen [HOST:]PORT"},
        {{"--listen", "70000"}, "--listen expected [HOST:]PORT with a port from 0 to 65535, got '70000'"},
        {{"--tcp", "127.0.0.1:5", "--listen", "5"}, "give only one of"},
        {{"--pty", "--tcp", "127.0.0.1:5"}, "give only one of"},
        {{"--pty", "--format", "5"}, "--format expects 1 to 4 or cycle, got '5'"},
        {{"--pty", "--points", "0"}, "--points expects"},
        {{"--pty", "--baud", "12345"}, "not a standard rate"},
        {{"--pty", "--eyes", "X"}, "--eyes expects R, L or B"},
        {{"--pty", "--shape", "star"}, "--shape expects circle, ellipse, rect or file:PATH"},
        {{"--pty", "--shape", "circle", "--box-a", "199"}, ""},
        {{"--pty", "--shape", "rect", "--box-a", "170", "--box-b", "170"}, "--shape: the shape does not fit"},
        {{"--pty", "--latency", "--noise", "4"}, "leave out --noise"},
        {{"--pty", "--def", ""}, "--def needs a non-empty value"},
        {{"--pty", "--offer", "1;400;E;B;F,,"}, "--offer has an empty format"},
        {{"--device"}, "--device needs a value"},
        {{"--pty=1"}, "--pty takes no value"},
        {{"--pty", "--box-a", "abc"}, "--box-a expects a number"},
        {{"--pty", "--frobnicate"}, "unknown option '--frobnicate'"},
    };
    for (const auto& [args, message] : cases) {
        TCommandLine command;
        const std::string error = ParseCommandLine(args, command);
        if (message.empty())
            EXPECT_EQ(error, "");
        else
            EXPECT_NE(error.find(message), std::string::npos) << "error: " << error << "\nwanted: " << message;
    }
}

// ---- tracer-sim as a process ------------------------------------------------------------------------------

// Runs tracer-sim with --pty: waits for its "PTY <path>" line, serves that path with the scripted
// peer, and collects the exit status and output.
struct TPtyProcessRun {
    int ExitCode = -1;
    std::string Out, Err;
    TPeerResults Peer;
};

// `line`: the simulator's line options; with --listen the peer connects to the port it names.
TPtyProcessRun RunSimOnPty(std::vector<std::string> args, TFault fault = rfNone,
                           const std::vector<std::string>& line = {"--pty"}) {
    args.insert(args.begin(), line.begin(), line.end());
    args.insert(args.begin(), {TRACER_SIM_PATH, "--wait-open", "20000", "--settle", "0"});
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    char errName[] = "/tmp/tracer_sim_errXXXXXX";
    const int errFd = ::mkstemp(errName);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0)
        throw std::runtime_error("cannot start tracer-sim");

    TPtyProcessRun run;
    // The first line names the pty.
    std::string text;
    char c = 0;
    while (text.find('\n') == std::string::npos && ::read(out[0], &c, 1) == 1)
        text.push_back(c);
    std::optional<TScriptedPeer> peer;
    if (text.starts_with("PTY /dev/")) {
        const std::string path = text.substr(4, text.size() - 5);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0)
            peer.emplace(fd, fault);
    } else if (text.starts_with("LISTEN ")) {
        const int fd = ConnectLoopback(static_cast<unsigned>(std::stoul(text.substr(7))));
        if (fd >= 0)
            peer.emplace(fd, fault);
    }
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.Out = text;
    std::ifstream err(errName);
    run.Err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    ::close(errFd);
    ::unlink(errName);
    if (peer)
        run.Peer = peer->Stop();
    return run;
}

TEST(TracerSimProcess, RunsTheConversationOnItsOwnPty) {
    const TPtyProcessRun run = RunSimOnPty({"--jobs", "5", "--noise", "4", "--z", "--verbose"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(run.Out.starts_with("PTY /dev/")) << run.Out;
    EXPECT_NE(run.Out.find("\nOK 5 jobs\n"), std::string::npos) << run.Out;
    EXPECT_EQ(run.Err, "job 1: OK\njob 2: OK\njob 3: OK\njob 4: OK\njob 5: OK\n");
    EXPECT_EQ(run.Peer.TraceEvents, 5);
    EXPECT_EQ(run.Peer.Replies, 7);
}

TEST(TracerSimProcess, CyclesThroughEveryFormatAndShape) {
    const TPtyProcessRun run = RunSimOnPty({"--jobs", "8", "--format", "cycle"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Out.find("\nOK 8 jobs\n"), std::string::npos) << run.Out;
    EXPECT_EQ(run.Peer.TraceEvents, 8);
}

TEST(TracerSimProcess, QuietWinsOverVerbose) {
    const TPtyProcessRun run = RunSimOnPty({"--jobs", "2", "--verbose", "--quiet"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
}

TEST(TracerSimProcess, PrintsLatencyPercentiles) {
    const TPtyProcessRun run = RunSimOnPty({"--jobs", "50", "--format", "1", "--points", "400", "--latency"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    const std::size_t json = run.Out.find("\n{\"jobs\":50,\"median_ms\":");
    ASSERT_NE(json, std::string::npos) << run.Out;
    for (const char* key : {"\"p90_ms\":", "\"p99_ms\":", "\"max_ms\":"})
        EXPECT_NE(run.Out.find(key, json), std::string::npos) << key;
}

TEST(TracerSimProcess, WrongReplyExitsOneWithOneLine) {
    const TPtyProcessRun run = RunSimOnPty({"--jobs", "3"}, rfWrongStatus);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err, "tracer-sim: job 1: wrong reply: STATUS: expected 0;\"No Error\", got 5;Needs Initialization\n");
    EXPECT_EQ(run.Out.find("OK"), std::string::npos);
}

TEST(TracerSimProcess, SendsTheShapeOfAJobTraceFile) {
    const auto path = std::filesystem::temp_directory_path() / ("tracer_sim_" + std::to_string(::getpid()) + ".txt");
    const TRadii right = OutlineRadii(skRoundRect, 48, 30, 400);
    std::string content = "REQ=FIL\r\nTRCFMT=1;400;E;R;F\r\n";
    for (int r : right)
        content += "R=" + RadiiText(std::vector<int>{r}) + "\r\n";
    std::ofstream(path, std::ios::binary) << content;
    const TPtyProcessRun run = RunSimOnPty({"--shape", "file:" + path.string(), "--format", "3"});
    std::filesystem::remove(path);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Peer.FirstRight.Radii, RadiiText(right));
    EXPECT_EQ(run.Peer.FirstLeft.Radii, RadiiText(MirroredRadii(right)));
}

TEST(TracerSimProcess, ListensForTheProgramOnTcp) {
    const TPtyProcessRun run = RunSimOnPty({"--jobs", "2"}, rfNone, {"--listen", "127.0.0.1:0"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(run.Out.starts_with("LISTEN ")) << run.Out;
    EXPECT_NE(run.Out.find("\nOK 2 jobs\n"), std::string::npos) << run.Out;
    EXPECT_EQ(run.Peer.TraceEvents, 2);
}

TEST(TracerSimProcess, HelpAndUsageErrors) {
    TProcessResult r = RunProcess({TRACER_SIM_PATH, "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.starts_with("usage: tracer-sim")) << r.out;
    for (const char* option : {"--device", "--pty", "--tcp", "--listen", "--vendor", "--jobs", "--job", "--delay",
                               "--baud", "--noise", "--latency", "--shape", "--format", "--eyes", "--z", "--timeout"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;

    r = RunProcess({TRACER_SIM_PATH, "--pty", "--format", "9"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "tracer-sim: --format expects 1 to 4 or cycle, got '9'\nTry 'tracer-sim --help'.\n");
    r = RunProcess({TRACER_SIM_PATH});
    EXPECT_EQ(r.exitCode, 2);
}

TEST(TracerSimProcess, LineAndFileFailuresExitOne) {
    TProcessResult r = RunProcess({TRACER_SIM_PATH, "--device", "/nonexistent/ttyS99"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("tracer-sim: cannot open /nonexistent/ttyS99: "), std::string::npos) << r.err;
    r = RunProcess({TRACER_SIM_PATH, "--device", "/dev/null"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("is not a serial line"), std::string::npos) << r.err;
    r = RunProcess({TRACER_SIM_PATH, "--pty", "--shape", "file:/nonexistent/job.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot read /nonexistent/job.txt"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << "fails before it announces a pty";
    r = RunProcess({TRACER_SIM_PATH, "--pty", "--wait-open", "50"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("nobody opened /dev/"), std::string::npos) << r.err;
}

} // namespace
