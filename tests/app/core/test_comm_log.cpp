// Tests of the communication log: trimming before each addition, line splitting, and the texts
// the main window adds.
#include "app/core/CommLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
std::vector<std::string> LinesOf(const TCommLog& log) {
    return {log.Lines().begin(), log.Lines().end()};
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
