// Tests of the communication log: trimming before each addition, line splitting, and the texts
// the main window adds.
#include "app/core/CommLog.h"

#include "app/core/TextFile.h"
#include "protocol/OMAMach.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
std::vector<std::string> LinesOf(const TCommLog& log) {
    const std::deque<std::string> lines = log.Lines();
    return {lines.begin(), lines.end()};
}
} // namespace

TEST(CommLog, TrimsBeforeEachAdditionSoTheLatestAdditionStaysWhole) {
    TCommLog log;
    for (int i = 0; i < 1300; ++i)
        log.Add("line " + std::to_string(i));
    ASSERT_EQ(log.Count(), 1201u);
    EXPECT_EQ(log.Lines().front(), "line 99");
    EXPECT_EQ(log.Lines().back(), "line 1299");

    std::string big;
    for (int i = 0; i < 1500; ++i)
        big += "big " + std::to_string(i) + "\r\n";
    log.Add(big);
    EXPECT_EQ(log.Count(), 1200u + 1500u);
    EXPECT_EQ(log.Lines()[1199], "line 1299");
    EXPECT_EQ(log.Lines()[1200], "big 0");

    log.Add("next");
    EXPECT_EQ(log.Count(), 1201u);
    EXPECT_EQ(log.Lines().front(), "big 300");
}

TEST(CommLog, SplitsAdditionsAtEveryLineEnd) {
    TCommLog log;
    log.Add("a\rb\r\nc\n");
    log.Add("d\r\r");
    log.Add("");
    EXPECT_EQ(LinesOf(log), (std::vector<std::string>{"a", "b", "c", "d", ""}));
    EXPECT_EQ(log.Text(), "a\nb\nc\nd\n\n");
    log.Clear();
    EXPECT_EQ(log.Count(), 0u);
    EXPECT_EQ(log.Text(), "");
}

TEST(CommLog, EntriesOfPacketsAndTraces) {
    EXPECT_EQ(kInFromTracer.size(), 37u);
    EXPECT_EQ(kOutToTracer.size(), 37u);

    TCommLog log;
    log.Add(InFromTracerEntry("<fs>REQ=INI<cr><lf>\r\n<rs>CRC=1234<cr><lf>\r\n<gs>"));
    log.Add(OutToTracerEntry("<ack><fs>ANS=INI<cr><lf>\r\n<gs>"));
    log.Add(TraceReceivedEntry(1600, 1603));
    log.Add(TraceReceivedEntry(0, 3));
    EXPECT_EQ(LinesOf(log), (std::vector<std::string>{
                                "--------- In from tracer ------------",
                                "<fs>REQ=INI<cr><lf>",
                                "<rs>CRC=1234<cr><lf>",
                                "<gs>",
                                "--------- Out to tracer -------------",
                                "<ack><fs>ANS=INI<cr><lf>",
                                "<gs>",
                                "Received  Rt Trace: 400 data points, Lt Trace: 400 data points",
                                "Received  Rt Trace: 0 data points, Lt Trace: 0 data points",
                            }));
    EXPECT_EQ(&CommLog(), &CommLog());
}

// A packet is kept as it travelled and rendered when shown: the same lines as rendering it at
// once, counted alike for the trimming, whatever its line ends.
TEST(CommLog, PacketsRenderedWhenShownGiveTheLinesOfTheirRendering) {
    const std::string packets[] = {
        "\x1cREQ=INI\r\n\x1e"
        "CRC=1234\r\n\x1d",
        "\x06\x1c"
        "ANS=TRC\r\nJOB=1\r\n\x1d",
        "\x06",
        "",
        "\x1c"
        "a\rb\nc\r\n\r\n\x1b\xb0\x1d",
        "\x1cREQ=INI\r\n",
        "\x1cREQ=INI\r",
    };
    for (const std::string& packet : packets) {
        SCOPED_TRACE(packet);
        for (const TLogDirection direction : {TLogDirection::InFromTracer, TLogDirection::OutToTracer}) {
            TCommLog log;
            log.AddPacket(direction, packet);
            const std::string rendered = RenderControlChars(packet);
            const std::vector<std::string> expected = SplitLines(
                direction == TLogDirection::InFromTracer ? InFromTracerEntry(rendered) : OutToTracerEntry(rendered));
            EXPECT_EQ(LinesOf(log), expected);
            EXPECT_EQ(log.Count(), expected.size());
        }
    }
    // Trimming reaches into a packet's lines.
    TCommLog log;
    log.AddPacket(TLogDirection::InFromTracer, packets[0]); // four lines
    for (int i = 0; i < 1199; ++i)
        log.Add("line");
    log.Add("last");
    EXPECT_EQ(log.Count(), 1201u);
    const std::vector<std::string> lines = LinesOf(log);
    EXPECT_EQ(lines.front(), "<gs>");
    EXPECT_EQ(lines[1], "line");
    EXPECT_EQ(lines.back(), "last");
}

// However long a packet or a line, what is kept and shown is bounded and says what was left out.
TEST(CommLog, LongLinesAndPacketsAreCutAndSaySo) {
    struct TCase {
        const char* What;
        std::string Packet;
        std::vector<std::string> Lines; // after the separator
    };
    const std::string longLine(5000, 'x');
    const std::string manyLines = [] {
        std::string text;
        for (int i = 0; i < 20000; ++i)
            text += "R=1234\r\n";
        return text;
    }();
    const TCase cases[] = {
        {"one long record",
         "A=" + longLine + "\r\nB=1",
         {"A=" + std::string(998, 'x') + LeftOutNote(4002) + "<crlf>", "B=1"}},
        // Rendering makes a control or 8-bit character up to six characters long; the limit is
        // on what is shown.
        {"a record of 8-bit characters",
         "A=" + std::string(2000, '\xff') + "\r\nB=1",
         {"A=" + RenderControlChars(std::string(166, '\xff')) + LeftOutNote(1834) + "<crlf>", "B=1"}},
        {"a record of control characters",
         std::string(1000, '\x1c'),
         {RenderControlChars(std::string(250, '\x1c')) + LeftOutNote(750)}},
        {"a packet longer than an entry keeps its first characters", manyLines, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TCommLog log;
        log.AddPacket(TLogDirection::InFromTracer, c.Packet);
        const std::vector<std::string> lines = LinesOf(log);
        ASSERT_EQ(lines.size(), log.Count());
        if (!c.Lines.empty()) {
            EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), c.Lines);
            continue;
        }
        const std::size_t keptLines = TCommLog::MaxEntryLength / 8; // 8 characters a record
        ASSERT_EQ(lines.size(), 1 + keptLines + 1);
        EXPECT_EQ(lines[1], "R=1234<crlf>");
        EXPECT_EQ(lines.back(), LeftOutNote(c.Packet.size() - TCommLog::MaxEntryLength));
    }
    // A message line is cut the same way.
    TCommLog log;
    log.Add(std::string(1500, 'm'));
    EXPECT_EQ(LinesOf(log), std::vector<std::string>{std::string(1000, 'm') + LeftOutNote(500)});
}
