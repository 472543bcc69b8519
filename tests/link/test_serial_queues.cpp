// The serial layer's portable parts, shared by the POSIX and the Win32 device: the input queue,
// the transmit queue and the line-event bookkeeping.
#include "link/CommSettings.h"
#include "link/LineEvents.h"
#include "link/ReadWait.h"
#include "link/RxQueue.h"
#include "link/TxQueue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(TRxQueue, RaisesRxCharRxFlagAndTheEightyPercentMarkOnce) {
    TRxQueue queue;
    queue.SetSize(100);
    queue.SetFilter(false, '\r');
    EXPECT_EQ(queue.Capacity(), TRxQueue::kMinCapacity); // a tiny setting still holds a burst
    EXPECT_EQ(queue.Receive("", 0), 0u);
    EXPECT_EQ(queue.Receive("abc", 3), uint32_t(EV_RXCHAR));
    EXPECT_EQ(queue.Receive("d\re", 3), uint32_t(EV_RXCHAR | EV_RXFLAG));
    // 80 % of the configured 100 bytes is crossed once, not on every byte above it.
    const std::string block(74, 'x');
    EXPECT_EQ(queue.Receive(block.data(), block.size()), uint32_t(EV_RXCHAR | EV_RX80FULL));
    EXPECT_EQ(queue.Receive("y", 1), uint32_t(EV_RXCHAR));
    EXPECT_EQ(queue.Queued(), 81u);
}

TEST(TRxQueue, DropsNulsOnlyWhenAskedAndGivesBytesOldestFirst) {
    TRxQueue queue;
    queue.SetSize(1024);
    queue.SetFilter(true, 0);
    EXPECT_EQ(queue.Receive("\0\0", 2), 0u); // nothing queued: no event
    EXPECT_EQ(queue.Receive("a\0b", 3), uint32_t(EV_RXCHAR));
    queue.SetFilter(false, 0);
    queue.Receive("\0c", 2);
    std::string taken = "pre";
    queue.Take(taken, 5); // fills up to 5 bytes in all
    EXPECT_EQ(taken, "preab");
    queue.Take(taken, 100);
    EXPECT_EQ(taken, std::string("preab\0c", 7));
    EXPECT_EQ(queue.Queued(), 0u);
}

TEST(TRxQueue, KeepsOrderAcrossManyPartialTakesAndReportsRoom) {
    TRxQueue queue;
    queue.SetSize(1 << 20);
    std::string sent;
    std::string taken;
    for (int round = 0; round < 200; ++round) {
        std::string chunk(1000 + round, static_cast<char>('a' + round % 26));
        queue.Receive(chunk.data(), chunk.size());
        sent += chunk;
        queue.Take(taken, taken.size() + 700); // takes less than arrives: the front is dropped in steps
    }
    queue.Take(taken, sent.size());
    EXPECT_EQ(taken, sent);
    EXPECT_EQ(queue.Room(), queue.Capacity());
    queue.Receive("x", 1);
    queue.Clear();
    EXPECT_EQ(queue.Queued(), 0u);
}

TEST(TRxQueue, DatesBytesWhenTheyArriveAndABacklogWhenWatchingStopped) {
    TRxQueue queue;
    queue.SetSize(1024);
    queue.SetFilter(true, 0);
    uint32_t now = 10;
    queue.SetClock([&now] { return now; });
    queue.Receive("ab", 2);
    queue.Receive("\0c", 2); // the same millisecond: one arrival; a dropped NUL counts for nothing
    now = 25;
    queue.Receive("de", 2);
    now = 30;
    queue.StopWatching(); // the reader goes to deliver
    now = 90;
    queue.StopWatching(); // still away: the first moment counts
    queue.ResumeWatching(2);
    now = 100;
    queue.Receive("fgh", 3); // two bytes waited in the driver, one came now
    std::string first;
    TRxArrivals arrivals;
    queue.Take(first, 4, &arrivals);
    EXPECT_EQ(first, "abcd");
    EXPECT_EQ(arrivals, (TRxArrivals{{0, 10}, {3, 25}}));
    std::string rest = "x";
    arrivals.clear();
    queue.Take(rest, 10, &arrivals);
    EXPECT_EQ(rest, "xefgh");
    EXPECT_EQ(arrivals, (TRxArrivals{{1, 25}, {2, 30}, {4, 100}}));

    // A direct read dates its bytes itself; a backlog is never dated before them.
    now = 150;
    queue.StopWatching();
    now = 200;
    std::string direct;
    arrivals.clear();
    queue.Filter(direct, "\0yz", 3, &arrivals);
    EXPECT_EQ(direct, "yz");
    EXPECT_EQ(arrivals, (TRxArrivals{{0, 200}}));
    queue.ResumeWatching(1);
    now = 300;
    queue.Receive("z", 1);
    std::string late;
    arrivals.clear();
    queue.Take(late, 1, &arrivals);
    EXPECT_EQ(arrivals, (TRxArrivals{{0, 200}}));
    queue.Receive("w", 1);
    queue.Clear(); // dates go with the bytes
    queue.Receive("v", 1);
    arrivals.clear();
    queue.Take(late, 2, &arrivals);
    EXPECT_EQ(late, "zv");
    EXPECT_EQ(arrivals, (TRxArrivals{{1, 300}}));
}

namespace {
// A driver that takes a fixed number of bytes per call, then blocks; or fails.
struct TFakeDriver {
    std::string Line;
    size_t PerCall = 3;
    size_t CallsBeforeBlock = 2;
    int FailWith = 0;
    size_t Calls = 0;

    TWriteStep operator()(const char* Data, size_t Size) {
        if (FailWith != 0)
            return {0, false, FailWith};
        if (Calls++ >= CallsBeforeBlock)
            return {0, true, 0};
        const size_t n = std::min(Size, PerCall);
        Line.append(Data, n);
        return {n, false, 0};
    }
};
} // namespace

TEST(TTxQueue, HandsWritesOverInOrderAsTheDriverMakesRoom) {
    TTxQueue queue;
    TTxRecord first, second;
    queue.Push(&first, "..abcd", 2); // two bytes went out before the driver filled
    queue.Push(&second, "efgh", 0);
    TFakeDriver driver;
    EXPECT_FALSE(queue.Flush(driver));
    EXPECT_EQ(driver.Line, "abcd");
    EXPECT_TRUE(first.Finished);
    EXPECT_EQ(first.Count, 6u);
    EXPECT_FALSE(second.Finished);

    driver.Calls = 0;
    EXPECT_TRUE(queue.Flush(driver));
    EXPECT_EQ(driver.Line, "abcdefgh");
    EXPECT_TRUE(second.Finished);
    EXPECT_EQ(second.Error, 0);
    EXPECT_TRUE(queue.Empty());
}

TEST(TTxQueue, AFailingDriverEndsEveryWriteAndAnExpiredWriteKeepsItsCount) {
    TTxQueue queue;
    TTxRecord early, late, failed;
    queue.Push(&early, "abcdef", 0);
    queue.Push(&late, "xyz", 0);
    TFakeDriver driver;
    driver.CallsBeforeBlock = 1;
    EXPECT_FALSE(queue.Flush(driver));
    queue.Expire(&early); // its time ran out with three bytes written
    EXPECT_TRUE(early.Finished);
    EXPECT_EQ(early.Count, 3u);
    EXPECT_EQ(queue.Size(), 1u);

    queue.Push(&failed, "123", 0);
    driver.FailWith = 5;
    EXPECT_TRUE(queue.Flush(driver));
    for (const TTxRecord* record : {&late, &failed}) {
        EXPECT_TRUE(record->Finished);
        EXPECT_EQ(record->Error, 5);
        EXPECT_TRUE(record->Data.empty()); // a finished record holds no bytes while it waits
    }
    EXPECT_TRUE(queue.Empty());
}

TEST(TLineEventState, KeepsOnlyEnabledFlagsUntilCollectedAndReportsALostLineOnce) {
    TLineEventState state;
    EXPECT_FALSE(state.Raise(EV_TXEMPTY)); // nothing enabled yet
    state.SetMask(EV_RXCHAR | EV_TXEMPTY | EV_ERR);
    EXPECT_FALSE(state.HasPending());
    EXPECT_TRUE(state.Raise(EV_TXEMPTY | EV_CTS));
    EXPECT_TRUE(state.Raise(EV_RXCHAR));
    EXPECT_TRUE(state.HasPending());
    EXPECT_EQ(state.Collect(), uint32_t(EV_TXEMPTY | EV_RXCHAR));
    EXPECT_EQ(state.Collect(), 0u);

    EXPECT_FALSE(state.Lost());
    EXPECT_FALSE(state.MarkLost(0));
    EXPECT_TRUE(state.MarkLost(5));
    EXPECT_FALSE(state.MarkLost(6)); // the first cause is the one reported
    EXPECT_TRUE(state.Lost());
    EXPECT_EQ(state.LostError(), 5);
}

TEST(ReadWaitFor, TheTimeoutsRecordAsAWaitingReadAppliesIt) {
    constexpr uint32_t kMax = 0xFFFFFFFFu;
    const struct {
        const char* Case;
        TCommTimeouts Timeouts;
        bool AtOnce, FirstByteEnds;
        uint64_t TotalMs;
        uint32_t IntervalMs;
    } cases[] = {
        {"interval infinite, no totals", {kMax, 0, 0, 0, 0}, true, false, 0, 0},
        {"first byte ends, 500 ms at most", {kMax, kMax, 500, 0, 0}, false, true, 500, 0},
        {"10 ms per byte and 100 ms", {0, 10, 100, 0, 0}, false, false, 10 * 8 + 100, 0},
        {"interval only", {50, 0, 0, 0, 0}, false, false, 0, 50},
        {"no timeouts: wait for all", {0, 0, 0, 0, 0}, false, false, 0, 0},
        {"infinite constant is no first-byte read",
         {kMax, kMax, kMax, 0, 0},
         false,
         false,
         uint64_t(kMax) * 8 + kMax,
         0},
    };
    for (const auto& c : cases) {
        const TReadWait wait = ReadWaitFor(c.Timeouts, 8);
        EXPECT_EQ(wait.AtOnce, c.AtOnce) << c.Case;
        EXPECT_EQ(wait.FirstByteEnds, c.FirstByteEnds) << c.Case;
        EXPECT_EQ(wait.TotalMs, c.TotalMs) << c.Case;
        EXPECT_EQ(wait.IntervalMs, c.IntervalMs) << c.Case;
    }
}
