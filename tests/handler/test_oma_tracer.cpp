// The OMA conversation through the in-process loopback: cutting packets out of the receive
// buffer, the five classification rules with their byte-exact replies, trace processing and
// completing a missing eye, the order of events, and failures that leave the handler ready.
#include "common/Numbers.h"
#include "handler/OMATracer.h"
#include "trace/TrceCalc.h"

#include <gtest/gtest.h>

#include <memory>

using namespace std::string_literals;

namespace {

const std::string ACK = "\x06", FS = "\x1C", GS = "\x1D", RS = "\x1E";

std::string Pkt(std::vector<std::string> lines) {
    return FramePacket(lines);
}
std::string Reply(std::vector<std::string> lines) {
    return ACK + FramePacket(lines);
}

std::string Repeat(const std::string& group, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += group;
    return s;
}

// Format-1 records of a radii text, ten values to a record.
std::vector<std::string> RRecords(const std::string& radii) {
    return EncodeAsciiRecords(RadiiValues(radii), "R", 10);
}

std::vector<std::string> JobLines(const std::string& job, const std::string& right, const std::string& left,
                                  std::vector<std::string> extra = {}) {
    std::vector<std::string> lines{"REQ=TRC", "JOB=" + job};
    lines.insert(lines.end(), extra.begin(), extra.end());
    if (!right.empty()) {
        lines.push_back("TRCFMT=1;" + std::to_string(right.size() / 4) + ";E;R;F");
        for (auto& r : RRecords(right))
            lines.push_back(r);
    }
    if (!left.empty()) {
        lines.push_back("TRCFMT=1;" + std::to_string(left.size() / 4) + ";E;L;F");
        for (auto& r : RRecords(left))
            lines.push_back(r);
    }
    return lines;
}

struct TTrace {
    std::string job, right, left, rightZ;
    double dbl = -1;
};

// A tracer handler wired to the loopback, recording what it sends and reports.
struct Harness {
    TOMATracer tracer;
    std::vector<std::string> sent;
    std::vector<std::string> events;
    std::vector<std::string> errors;
    std::vector<TTrace> traces;

    explicit Harness(bool reportErrors = true) {
        tracer.SetLoopbackSink([this](const std::string& data) { sent.push_back(data); });
        tracer.OnRecvData = [this](QObject*) { events.push_back("RecvData"); };
        tracer.OnRecvOMAPacket = [this](QObject*, std::string&) { events.push_back("RecvOMAPacket"); };
        tracer.OnSendOMAPacket = [this](QObject*, std::string&) { events.push_back("SendOMAPacket"); };
        tracer.OnSendData = [this](QObject*, const std::string&) { events.push_back("SendData"); };
        tracer.OnRecvTrace = [this](QObject*) { events.push_back("RecvTrace"); };
        tracer.OnRecvOMATrace = [this](QObject*, const std::string& job, PEyeRec rt, PEyeRec lt, double dbl) {
            events.push_back("RecvOMATrace");
            traces.push_back({job, rt->Radii, lt->Radii, rt->ZData, dbl});
        };
        if (reportErrors)
            tracer.OnProtocolError = [this](QObject*, const std::string& m) {
                events.push_back("ProtocolError");
                errors.push_back(m);
            };
    }
    void Feed(const std::string& bytes) { tracer.InjectReceived(bytes); }
    void Initialise() {
        Feed(Pkt({"REQ=INI"}));
        Feed(Pkt({"DEV=FMT", "VEN=TAKUBO", "MID=X1", "MODEL=T100", "DEF=1", "ENDDEF=1", "TRCFMT=1;400;E;B;F"}));
        sent.clear();
        events.clear();
    }
};

const std::string kCircle = Repeat("2500", 400);

} // namespace

TEST(OMATracer, TypicalConversationIsAnsweredByteForByte) {
    Harness h;
    h.Feed(Pkt({"REQ=INF"}));
    h.Feed(Pkt({"REQ=INI"}));
    h.Feed(Pkt({"DEV=FMT", "VEN=TAKUBO", "MID=X1", "MODEL=T100", "DEF=1", "D D=x", "ENDDEF=1", "TRCFMT=1;400;E;B;F",
                "TRCFMT=4;512;E;B;F", "ZFMT=1;400;E;B;F"}));
    EXPECT_TRUE(h.tracer.Machine().IsInitialized());
    h.Feed(Pkt(JobLines("\"00123\"", kCircle, kCircle, {"DBL=18.00", "CIRC=157.08;157.08"})));
    ASSERT_EQ(h.sent.size(), 4u);
    EXPECT_EQ(h.sent[0], ACK);
    EXPECT_EQ(h.sent[1], Reply({"ANS=INI", "STATUS=0;"}));
    EXPECT_EQ(h.sent[2], Reply({"ANS=INI", "STATUS=0", "DEF=1;277", "TRCFMT=4;512;E;B", "ZFMT=1;400;E;B"}));
    EXPECT_EQ(h.sent[3], Reply({"ANS=TRC", "JOB=\"00123\"", "STATUS=0;\"No Error\""}));
    ASSERT_EQ(h.traces.size(), 1u);
    EXPECT_EQ(h.traces[0].job, "123");
    EXPECT_EQ(h.traces[0].right, kCircle);
    EXPECT_EQ(h.traces[0].left, kCircle);
    EXPECT_DOUBLE_EQ(h.traces[0].dbl, 18.0);
    EXPECT_EQ(h.tracer.Points(), Repeat("2500", 400));
    EXPECT_TRUE(h.errors.empty());
}

TEST(OMATracer, EventsComeInTheirOrder) {
    Harness h;
    h.Initialise();
    h.Feed(Pkt(JobLines("7", kCircle, "")));
    EXPECT_EQ(h.events, (std::vector<std::string>{"RecvData", "RecvOMAPacket", "RecvOMATrace", "SendOMAPacket",
                                                  "SendData", "RecvTrace"}));
    h.events.clear();
    h.Feed(Pkt({"REQ=INF"}).substr(0, 5)); // half a packet: only the arrival is reported
    EXPECT_EQ(h.events, (std::vector<std::string>{"RecvData"}));
}

TEST(OMATracer, CutsPacketsOutOfTheBufferWhateverTheChunks) {
    Harness h;
    // The tracer's ACK and noise before a packet are dropped; two packets in one chunk get two
    // replies in order; a packet split over several arrivals is answered when its GS arrives.
    h.Feed(ACK + "\x15junk" + Pkt({"REQ=INF"}) + Pkt({"REQ=INI"}));
    ASSERT_EQ(h.sent.size(), 2u);
    EXPECT_EQ(h.sent[0], ACK);
    EXPECT_EQ(h.sent[1], Reply({"ANS=INI", "STATUS=0;"}));
    const std::string packet = Pkt({"REQ=INF"});
    for (char c : packet)
        h.Feed(std::string(1, c));
    EXPECT_EQ(h.sent.size(), 3u);
    EXPECT_EQ(h.tracer.RxBuffer(), "");
}

TEST(OMATracer, StrayGsGivesZeroLengthRequestOnceAndTheNextPacketIsAnswered) {
    // A GS before the next FS closes a packet whose start was lost: it is cut as an empty packet
    // and reported once, whether the packet behind it has already arrived whole or not.
    const std::string inf = Pkt({"REQ=INF"});
    struct Case {
        const char* name;
        std::string first, rest;
        std::vector<std::string> eventsOfFirst;
        std::size_t replies;
    };
    const Case cases[] = {
        {"next packet incomplete",
         "xx" + GS + "yy" + inf.substr(0, 7),
         inf.substr(7),
         {"RecvData", "RecvOMAPacket", "ProtocolError"},
         1},
        {"next packet complete",
         "xx" + GS + "yy" + inf,
         "",
         {"RecvData", "RecvOMAPacket", "ProtocolError", "RecvOMAPacket", "SendOMAPacket", "SendData"},
         1},
        {"next packet complete, a third one begun",
         GS + inf + inf.substr(0, 3),
         inf.substr(3),
         {"RecvData", "RecvOMAPacket", "ProtocolError", "RecvOMAPacket", "SendOMAPacket", "SendData"},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        std::vector<std::string> packets;
        h.tracer.OnRecvOMAPacket = [&](QObject*, std::string& packet) {
            h.events.push_back("RecvOMAPacket");
            packets.push_back(packet);
        };
        h.Feed(c.first);
        EXPECT_EQ(h.events, c.eventsOfFirst);
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(packets[0], "");
        if (!c.rest.empty()) {
            EXPECT_EQ(h.tracer.RxBuffer().substr(0, 1), FS);
            h.Feed(c.rest);
        }
        EXPECT_EQ(h.errors, (std::vector<std::string>{"Zero length request"}));
        EXPECT_EQ(h.sent, std::vector<std::string>(c.replies, ACK));
        EXPECT_EQ(h.tracer.RxBuffer(), "");
    }
}

TEST(OMATracer, ClassificationRules) {
    struct Case {
        const char* name;
        std::vector<std::string> packet;
        std::string reply;
        bool initialisedAfter;
    };
    const Case cases[] = {
        {"lower-case inf is not INF", {"REQ=inf"}, Reply({"ANS=inf", "STATUS=5;Needs Initialization"}), false},
        {"an edger's job", {"REQ=EDG", "JOB=12"}, Reply({"ANS=EDG", "JOB=12", "STATUS=5;Needs Initialization"}), false},
        {"ANS=INI makes an initialisation",
         {"ANS=INI", "DEV=FMT"},
         Reply({"ANS=INI", "STATUS=0", "DEF=;" + std::to_string(CalcCRC16("FMT") & 0xFFF)}),
         true},
        {"INI with DEF is an initialisation",
         {"REQ=INI", "DEF=A", "ENDDEF=A"},
         Reply({"ANS=INI", "STATUS=0", "DEF=A;0"}),
         true},
        {"trc in any case, from ANS", {"ANS=trc", "JOB=5"}, Reply({"ANS=trc", "JOB=5", "STATUS=0;\"No Error\""}), true},
        {"empty", {}, Reply({"STATUS=5;Needs Initialization"}), false},
    };
    for (const Case& c : cases) {
        Harness h;
        h.Feed(c.packet.empty() ? FS + RS + GS : Pkt(c.packet));
        ASSERT_EQ(h.sent.size(), 1u) << c.name;
        EXPECT_EQ(h.sent[0], c.reply) << c.name;
        EXPECT_EQ(h.tracer.Machine().IsInitialized(), c.initialisedAfter) << c.name;
    }
}

TEST(OMATracer, UninitialisedTracerIsAdoptedAndToldTheFormatsOnce) {
    Harness h;
    const auto job = JobLines("1", kCircle, "");
    h.Feed(Pkt(job));
    ASSERT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(h.sent[0], Reply({"ANS=TRC", "JOB=1", "STATUS=0;\"No Error\"", "TRCFMT=1;400;E;R"}));
    EXPECT_EQ(h.tracer.Machine().DeviceValue("DEV"), "TRC");
    h.Feed(Pkt(job));
    EXPECT_EQ(h.sent[1], Reply({"ANS=TRC", "JOB=1", "STATUS=0;\"No Error\""}));
    // A packet of no known kind forgets the device again.
    h.Feed(Pkt({"REQ=XYZ"}));
    EXPECT_FALSE(h.tracer.Machine().IsInitialized());
}

TEST(OMATracer, MissingEyeIsCompletedByMirroring) {
    // A left eye that is not symmetric, so that the mirror is visible.
    std::string left;
    for (int i = 0; i < 400; ++i)
        left += std::to_string(2000 + (i < 100 ? i : 0));
    TTraceCalc mirror;
    mirror.SetTrace(left);
    const std::string mirrored = mirror.MirroredTrace();
    TTraceCalc scaled;
    scaled.SetTrace(left);
    scaled.SetCircumference(150);
    const std::string mirroredScaled = scaled.MirroredTrace();

    struct Case {
        const char* name;
        std::string right, left;
        std::vector<std::string> extra;
        std::string wantRight, wantLeft;
    };
    const Case cases[] = {
        {"left only, CIRC R;L: right fitted to R", "", left, {"CIRC= 150.00;160.00 "}, mirroredScaled, left},
        {"left only, no CIRC: unscaled mirror", "", left, {}, mirrored, left},
        {"left only, bad CIRC: unscaled mirror", "", left, {"CIRC=abc;def"}, mirrored, left},
        {"right only, no CIRC: left stays empty", left, "", {}, left, ""},
        {"right only, CIRC R;L: left fitted to L", left, "", {"CIRC=160.00;150.00"}, left, mirroredScaled},
    };
    for (const Case& c : cases) {
        Harness h;
        h.Initialise();
        h.Feed(Pkt(JobLines("1", c.right, c.left, c.extra)));
        ASSERT_EQ(h.traces.size(), 1u) << c.name;
        EXPECT_EQ(h.traces[0].right, c.wantRight) << c.name;
        EXPECT_EQ(h.traces[0].left, c.wantLeft) << c.name;
        EXPECT_EQ(h.tracer.Points(), c.wantRight) << c.name; // four-digit groups give four-character points
    }
}

TEST(OMATracer, DblAndJobNumber) {
    struct Case {
        std::string dbl, job;
        double wantDbl;
        std::string wantJob;
    };
    const Case cases[] = {
        {"DBL=18", "JOB=\"0A12\"", 18.0, "A12"},
        {"", "JOB=\"00123\"", 0, "123"},
        {"DBL=abc", "JOB= 17", 0, "17"},
        {"DBL=17.99", "JOB=-5", 17.99, "5"}, // not 17.98
        {"DBL=18.005", "JOB=A01", 18.0, "A01"},
        {"DBL=-1", "JOB=1", 0, "1"}, // out of what the record carries: 0, not 655.36
        {"DBL=700", "JOB=1", 0, "1"},
        {"DBL=1e30", "JOB=1", 0, "1"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.Initialise();
        std::vector<std::string> extra;
        if (!c.dbl.empty())
            extra.push_back(c.dbl);
        auto lines = JobLines("x", kCircle, "", extra);
        lines[1] = c.job;
        h.Feed(Pkt(lines));
        ASSERT_EQ(h.traces.size(), 1u) << c.dbl;
        EXPECT_DOUBLE_EQ(h.traces[0].dbl, c.wantDbl) << c.dbl;
        EXPECT_EQ(h.traces[0].job, c.wantJob) << c.job;
    }
}

TEST(OMATracer, JobWithoutTraceIsAnsweredWithoutTraceEvents) {
    Harness h;
    h.Initialise();
    h.Feed(Pkt({"REQ=TRC", "JOB=9"}));
    EXPECT_EQ(h.sent, (std::vector<std::string>{Reply({"ANS=TRC", "JOB=9", "STATUS=0;\"No Error\""})}));
    EXPECT_TRUE(h.traces.empty());
    EXPECT_EQ(std::count(h.events.begin(), h.events.end(), "RecvTrace"), 0);
}

TEST(OMATracer, FailedPacketsGetNoReplyAndTheNextPacketIsAnswered) {
    const std::string negative = "\x05\x00\xEF"s; // format 3: 5, then -12
    struct Case {
        std::vector<std::string> packet;
        std::string error;
    };
    const Case cases[] = {
        {{"REQ=TRC", "JOB=1", "TRCFMT=1;400;E", "R=1"}, "Bad TRCFMT header: 1;400;E"},
        {{"REQ=TRC", "JOB=1", "TRCFMT=4;x;E;R", "R=1"}, "Bad point count in TRCFMT header: x"},
        {{"REQ=TRC", "JOB=1", "TRCFMT=1;2;E;L", "R=2500;10000"},
         "TRCFMT block refused: value 10000 has no four-character form"},
        {{"REQ=TRC", "JOB=1", "TRCFMT=3;2;E;R", "R=" + EscapeText(negative)}, "Invalid point value -0.12"},
        {{"REQ=TRC", "JOB=1", "TRCFMT=1;2;E;R", "R=2500;2500", "TRCFMT=3;2;E;L", "R=" + EscapeText(negative)},
         "Invalid point value -0.12"},
        {{"REQ=TRC", "JOB=1", "TRCFMT=1;2;E;R", "R=25x0;2500"}, "'25x0' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.Initialise();
        // The failing packet and a good one behind it arrive together.
        h.Feed(Pkt(c.packet) + Pkt({"REQ=INF"}));
        EXPECT_EQ(h.errors, (std::vector<std::string>{c.error}));
        EXPECT_EQ(h.sent, (std::vector<std::string>{ACK})) << c.error;
        EXPECT_TRUE(h.traces.empty());
    }
    // A parse error, and an exception thrown by an application handler, the same way.
    Harness h;
    h.Feed(FS + "REQ=INF" + RS + "CRC=x" + GS + Pkt({"REQ=INF"}));
    EXPECT_EQ(h.errors, (std::vector<std::string>{"Unknown charcters in CRC from device: "}));
    EXPECT_EQ(h.sent.size(), 1u);
    h.tracer.OnRecvOMATrace = [](QObject*, const std::string&, PEyeRec, PEyeRec, double) {
        throw Exception("handler failed");
    };
    h.Initialise();
    h.Feed(Pkt(JobLines("1", kCircle, "")) + Pkt({"REQ=INF"}));
    EXPECT_EQ(h.errors.back(), "handler failed");
    EXPECT_EQ(h.sent, (std::vector<std::string>{ACK}));
}

TEST(OMATracer, WithoutAnErrorHandlerTheFirstFailureIsRaisedAfterTheRest) {
    Harness h(false);
    try {
        h.Feed(FS + GS + Pkt({"REQ=TRC", "JOB=1", "TRCFMT=1"}) + Pkt({"REQ=INF"}));
        FAIL() << "no exception";
    } catch (const EOMAParseException& e) {
        EXPECT_STREQ(e.what(), "Missing RS character in packet"); // FS GS is cut as a packet of its own
    }
    EXPECT_EQ(h.sent, (std::vector<std::string>{ACK}));
}

TEST(OMATracer, HandlersMayChangePacketsInAndOut) {
    Harness h;
    h.tracer.OnRecvOMAPacket = [](QObject*, std::string& packet) {
        packet = FramePacket(std::vector<std::string>{"REQ=INI"});
    };
    h.tracer.OnSendOMAPacket = [](QObject*, std::string& packet) { packet += "!"; };
    h.Feed(Pkt({"REQ=INF"}));
    EXPECT_EQ(h.sent, (std::vector<std::string>{Reply({"ANS=INI", "STATUS=0;"}) + "!"}));
}

TEST(OMATracer, WritingActiveForgetsTheDevice) {
    Harness h;
    h.Initialise();
    ASSERT_TRUE(h.tracer.Machine().IsInitialized());
    h.tracer.SetActive(false); // already closed: nothing opens or closes, the device is forgotten
    EXPECT_FALSE(h.tracer.Machine().IsInitialized());
    EXPECT_FALSE(h.tracer.Active());
    EXPECT_EQ(h.tracer.MaxNumPoints(), 512);
    h.tracer.SetMaxNumPoints(4096);
    EXPECT_EQ(h.tracer.MaxNumPoints(), 4096);
}
