// The serial port moving bytes over a pseudo-terminal: delivery of received bytes on the right
// thread and in order, writes that finish later, waiting reads, line events, handlers that throw
// or close the port, and the line going away under the port.
#include "link/Comms.h"

#include "LinkTestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using link_test::AllByteValues;
using link_test::RandomBytes;
using link_test::TPtyPair;
using link_test::WaitFor;
using link_test::WaitWithoutEvents;

namespace {

const char* MethodName(TSyncMethod method) {
    switch (method) {
    case smSynchronize:
        return "smSynchronize";
    case smWindow:
        return "smWindow";
    case smNone:
        return "smNone";
    }
    return "?";
}

// What a test's handlers gathered; handlers may run on the event thread (smNone).
struct TGathered {
    std::mutex Lock;
    std::string Bytes;
    std::vector<std::string> Log;
    std::vector<std::string> Reports;
    std::atomic<size_t> Size{0};
    std::atomic<int> Errors{0};
    std::atomic<bool> WrongThread{false};

    void Add(const std::string& Chunk) {
        std::lock_guard lock(Lock);
        Bytes += Chunk;
        Size = Bytes.size();
    }
    void Note(const std::string& Entry) {
        std::lock_guard lock(Lock);
        Log.push_back(Entry);
    }
    void Report(const std::string& Message) {
        std::lock_guard lock(Lock);
        Reports.push_back(Message);
    }
    std::string BytesNow() {
        std::lock_guard lock(Lock);
        return Bytes;
    }
    size_t ReportCount() {
        std::lock_guard lock(Lock);
        return Reports.size();
    }
};

// Binds OnRxChar to reading what is waiting, and checks the thread it runs on.
void GatherReceived(TComPort& port, TGathered& gathered) {
    QThread* owner = QThread::currentThread();
    const bool onEventThread = port.SyncMethod() == smNone;
    port.OnRxChar = [&port, &gathered, owner, onEventThread](QObject* sender, int inQue) {
        if (sender != &port || (QThread::currentThread() == owner) == onEventThread)
            gathered.WrongThread = true;
        std::string chunk;
        const int count = port.Read(chunk, inQue, false);
        if (count != static_cast<int>(chunk.size()))
            gathered.WrongThread = true;
        gathered.Add(chunk);
    };
}

} // namespace

TEST(TComPortDelivery, BytesArriveInOrderOnTheThreadTheSyncMethodNames) {
    const std::string payload = AllByteValues() + RandomBytes(300000);
    for (const TSyncMethod method : {smSynchronize, smWindow, smNone}) {
        for (const uint32_t queueSize : {256u, 12288u}) {
            TPtyPair pty;
            TGathered gathered; // outlives the port, whose handlers use it
            TComPort port;
            port.SetPort(pty.SlavePath());
            port.SetSyncMethod(method);
            port.SetReadBufSize(queueSize); // a small queue makes the event thread pause and resume
            GatherReceived(port, gathered);
            port.Open();
            std::atomic<bool> sent{false};
            std::thread tracer([&] { sent = pty.Send(payload); });
            EXPECT_TRUE(WaitFor([&] { return gathered.Size.load() >= payload.size(); }))
                << MethodName(method) << " got " << gathered.Size.load();
            tracer.join();
            port.Close();
            EXPECT_TRUE(sent.load());
            EXPECT_TRUE(gathered.BytesNow() == payload) << MethodName(method) << " queue " << queueSize;
            EXPECT_FALSE(gathered.WrongThread.load()) << MethodName(method);
        }
    }
}

TEST(TComPortWrite, WritesReachTheLineUnchanged) {
    const std::string payloads[] = {AllByteValues(), "x", RandomBytes(4096, 3), RandomBytes(200000, 4)};
    for (const std::string& payload : payloads) {
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlavePath());
        port.Open();
        std::string received;
        std::thread tracer([&] { received = pty.Receive(payload.size()); });
        // Large writes do not fit the driver at once: with Wait the call finishes them.
        EXPECT_EQ(port.Write(payload, true), static_cast<int>(payload.size()));
        tracer.join();
        EXPECT_TRUE(received == payload) << payload.size() << " bytes sent, " << received.size() << " received";
        EXPECT_FALSE(port.HasPendingOps());
        EXPECT_EQ(port.Write("", false), 0);
    }
}

TEST(TComPortWrite, WritesTheDriverCannotTakeAtOnceFinishLaterInOrder) {
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    const std::string big = RandomBytes(1 << 20, 5);
    EXPECT_EQ(port.Write(big, false), -1);
    EXPECT_TRUE(port.HasPendingOps());
    EXPECT_EQ(port.Write("tail", false), -1); // queued behind the first
    std::string received;
    std::atomic<bool> done{false};
    std::thread tracer([&] {
        received = pty.Receive(big.size() + 4);
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }));
    tracer.join();
    EXPECT_TRUE(received == big + "tail") << received.size();
    // The records stay until they are waited for, most recent first.
    EXPECT_EQ(port.WaitForLastOp(), 4);
    EXPECT_EQ(port.WaitForLastOp(), static_cast<int>(big.size()));
    EXPECT_EQ(port.WaitForLastOp(), -2);
    EXPECT_FALSE(port.HasPendingOps());
}

TEST(TComPortWrite, AWaitedWriteEndsWhenTheWriteTimeoutsRunOut) {
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(200);
    port.Open();
    const std::string big = RandomBytes(1 << 20, 6);
    const int written = port.Write(big, true); // nobody reads the other end
    EXPECT_GE(written, 0);
    EXPECT_LT(written, static_cast<int>(big.size()));
    EXPECT_FALSE(port.HasPendingOps());
    // What went out is a prefix; the line goes on working.
    const std::string prefix = pty.Receive(static_cast<size_t>(written));
    EXPECT_TRUE(prefix == big.substr(0, static_cast<size_t>(written)));
    EXPECT_EQ(port.Write("after", true), 5);
    EXPECT_EQ(pty.Receive(5), "after");
}

TEST(TComPortWrite, AbortAndCloseReleasePendingWrites) {
    TPtyPair pty;
    int closes = 0;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    const std::string big = RandomBytes(1 << 20, 8);
    EXPECT_EQ(port.Write(big, false), -1);
    port.AbortAllAsync();
    EXPECT_FALSE(port.HasPendingOps());
    EXPECT_TRUE(port.Active());
    EXPECT_EQ(port.Write(big, false), -1);
    EXPECT_EQ(port.Write(big, false), -1);
    port.OnClose = [&](QObject*) { ++closes; };
    port.Close();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(port.HasPendingOps());
    EXPECT_FALSE(port.Active());
}

TEST(TComPortRead, WaitingReadsFollowTheReadTimeouts) {
    struct TCase {
        const char* Name;
        int32_t Interval, Multiplier, Constant;
        std::string Before; // sent before the read starts
        std::string During; // sent by another thread while it waits
        int Count;
        std::string Expected;
    };
    const TCase cases[] = {
        {"default timeouts return at once", -1, 0, 0, "", "", 5, ""},
        {"total timeout, all bytes come", 0, 0, 5000, "abc", "de", 5, "abcde"},
        {"total timeout runs out", 0, 0, 150, "xyz", "", 5, "xyz"},
        {"per-byte multiplier", 0, 30, 0, "mn", "", 4, "mn"},
        {"the first byte ends the wait", -1, -1, 5000, "", "q", 10, "q"},
    };
    for (const TCase& c : cases) {
        for (const bool withEvents : {false, true}) {
            TPtyPair pty;
            TComPort port;
            port.SetPort(pty.SlavePath());
            if (!withEvents)
                port.SetEvents({});
            port.Timeouts().SetReadInterval(c.Interval);
            port.Timeouts().SetReadTotalMultiplier(c.Multiplier);
            port.Timeouts().SetReadTotalConstant(c.Constant);
            port.Open();
            ASSERT_TRUE(pty.Send(c.Before));
            if (!c.Before.empty()) { // let the bytes reach the line (and, with events, the port's queue)
                ASSERT_TRUE(WaitFor([&] {
                    return pty.SlaveDriverQueue() == int(c.Before.size()) ||
                           (withEvents && port.InQueCount() == int(c.Before.size()));
                }));
            }
            std::thread tracer([&] { (void)pty.Send(c.During); });
            std::string bytes = "old content";
            const int count = port.Read(bytes, c.Count, true);
            tracer.join();
            const std::string name = std::string(c.Name) + (withEvents ? " (event thread)" : " (no event thread)");
            EXPECT_EQ(bytes, c.Expected) << name;
            EXPECT_EQ(count, static_cast<int>(bytes.size())) << name;
            EXPECT_FALSE(port.HasPendingOps()) << name;
        }
    }
}

TEST(TComPortRead, WithoutEventsTheCallerReadsTheDriverItself) {
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({});
    static bool fired; // static: never outlived by the port
    fired = false;
    port.OnRxChar = [&](QObject*, int) { fired = true; };
    port.Open();
    ASSERT_TRUE(pty.Send("hello"));
    EXPECT_TRUE(WaitFor([&] { return port.InQueCount() == 5; }));
    std::string bytes;
    EXPECT_EQ(port.Read(bytes, 3, false), 3);
    EXPECT_EQ(bytes, "hel");
    EXPECT_EQ(port.Read(bytes, 10, false), 2);
    EXPECT_EQ(bytes, "lo");
    EXPECT_EQ(port.Read(bytes, 10, false), 0);
    EXPECT_EQ(port.Write("ok", false), 2);
    EXPECT_EQ(pty.Receive(2), "ok");
    QTest::qWait(20);
    EXPECT_FALSE(fired);
    EXPECT_EQ(port.EventThreadWakeups(), 0u);
}

TEST(TComPortEvents, TxEmptyFollowsAWrite) {
    TPtyPair pty;
    int empties = 0;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OnTxEmpty = [&](QObject* sender) {
        EXPECT_EQ(sender, &port);
        ++empties;
    };
    port.Open();
    EXPECT_EQ(port.Write("abc", false), 3);
    EXPECT_TRUE(WaitFor([&] { return empties >= 1; }));
    EXPECT_EQ(pty.Receive(3), "abc");
}

TEST(TComPortEvents, RxFlagFollowsRxCharWhenTheEventCharacterArrives) {
    TPtyPair pty;
    TGathered gathered; // outlives the port, whose handlers use it
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEventChar('\n');
    port.OnRxChar = [&](QObject*, int count) {
        std::string chunk;
        port.Read(chunk, count, false);
        gathered.Add(chunk);
        gathered.Note("char");
    };
    port.OnRxFlag = [&](QObject*) { gathered.Note("flag"); };
    port.Open();
    ASSERT_TRUE(pty.Send("ab\ncd"));
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard lock(gathered.Lock);
        return std::find(gathered.Log.begin(), gathered.Log.end(), "flag") != gathered.Log.end() &&
               gathered.Bytes == "ab\ncd";
    }));
    const auto flag = std::find(gathered.Log.begin(), gathered.Log.end(), "flag");
    ASSERT_NE(flag, gathered.Log.begin());
    EXPECT_EQ(*(flag - 1), "char"); // RXCHAR before RXFLAG within one batch
}

TEST(TComPortEvents, Rx80FullWhenTheInputQueueReachesEightyPercent) {
    TPtyPair pty;
    int full = 0;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetReadBufSize(1000);
    port.OnRx80Full = [&](QObject*) { ++full; };
    port.Open();
    const std::string bytes = RandomBytes(900, 9);
    ASSERT_TRUE(pty.Send(bytes));
    EXPECT_TRUE(WaitFor([&] { return full == 1 && port.InQueCount() == 900; }));
    std::string read;
    EXPECT_EQ(port.Read(read, 1000, false), 900);
    EXPECT_TRUE(read == bytes);
    EXPECT_EQ(full, 1);
}

TEST(TComPortEvents, DiscardNullDropsReceivedNulBytes) {
    TPtyPair pty;
    TGathered gathered; // outlives the port, whose handlers use it
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetDiscardNull(true);
    GatherReceived(port, gathered);
    port.Open();
    ASSERT_TRUE(pty.Send(std::string("a\0b\0\0c", 6)));
    EXPECT_TRUE(WaitFor([&] { return gathered.BytesNow() == "abc"; })) << gathered.BytesNow();
}

TEST(TComPortHandlers, AnExceptionFromAHandlerIsReportedAndThePortGoesOn) {
    struct TCase {
        const char* Name;
        std::function<void()> Throw;
        std::string Message;
    };
    const TCase cases[] = {
        {"std::exception", [] { throw std::runtime_error("malformed tracer data"); }, "malformed tracer data"},
        {"general error", [] { throw Exception("Invalid point value -0.01"); }, "Invalid point value -0.01"},
        {"anything else", [] { throw 42; }, "Unknown exception in a line event handler"},
    };
    for (const TCase& c : cases) {
        for (const TSyncMethod method : {smSynchronize, smWindow, smNone}) {
            TPtyPair pty;
            TGathered gathered; // outlives the port, whose handlers use it
            std::atomic<bool> first{true};
            std::atomic<int> flags{0};
            QThread* owner = QThread::currentThread();
            TComPort port;
            port.SetPort(pty.SlavePath());
            port.SetSyncMethod(method);
            port.SetEventChar('Z');
            port.OnRxChar = [&](QObject*, int count) {
                std::string chunk;
                port.Read(chunk, count, false);
                gathered.Add(chunk);
                if (first.exchange(false))
                    c.Throw();
            };
            port.OnRxFlag = [&](QObject*) { ++flags; };
            port.OnEventError = [&](QObject* sender, const std::string& message) {
                if (sender != &port || (QThread::currentThread() == owner) == (method == smNone))
                    gathered.WrongThread = true;
                gathered.Report(message);
            };
            port.Open();
            ASSERT_TRUE(pty.Send("Z1"));
            const std::string name = std::string(c.Name) + " / " + MethodName(method);
            EXPECT_TRUE(WaitFor([&] { return gathered.ReportCount() == 1 && flags.load() >= 1; })) << name;
            EXPECT_TRUE(port.Active()) << name;
            ASSERT_TRUE(pty.Send("Z2"));
            EXPECT_TRUE(WaitFor([&] { return gathered.BytesNow() == "Z1Z2"; })) << name;
            EXPECT_TRUE(WaitFor([&] { return flags.load() >= 2; })) << name;
            {
                std::lock_guard lock(gathered.Lock);
                ASSERT_EQ(gathered.Reports.size(), 1u) << name;
                EXPECT_EQ(gathered.Reports[0], c.Message) << name;
            }
            EXPECT_FALSE(gathered.WrongThread.load()) << name;
            // And the port still sends.
            EXPECT_EQ(port.Write("ack", false), 3) << name;
            EXPECT_EQ(pty.Receive(3), "ack") << name;
        }
    }
}

TEST(TComPortHandlers, AHandlerMayCloseThePort) {
    for (const TSyncMethod method : {smSynchronize, smWindow, smNone}) {
        TPtyPair pty;
        TGathered gathered; // outlives the port, whose handlers use it
        std::atomic<int> flags{0};
        std::atomic<int> closes{0};
        TComPort port;
        port.SetPort(pty.SlavePath());
        port.SetSyncMethod(method);
        port.SetEventChar('!');
        port.OnRxChar = [&](QObject*, int count) {
            std::string chunk;
            port.Read(chunk, count, false);
            gathered.Add(chunk);
            port.Close(); // the rest of this batch belongs to a closed line
        };
        port.OnRxFlag = [&](QObject*) { ++flags; };
        port.OnClose = [&](QObject*) { ++closes; };
        port.Open();
        ASSERT_TRUE(pty.Send("bye!"));
        EXPECT_TRUE(WaitFor([&] { return closes.load() == 1; })) << MethodName(method);
        QTest::qWait(20);
        EXPECT_FALSE(port.Active()) << MethodName(method);
        EXPECT_EQ(flags.load(), 0) << MethodName(method);
        EXPECT_EQ(closes.load(), 1) << MethodName(method);
        // Open again (on the event thread's own close the line is let go as its loop ends).
        port.OnRxChar = [&](QObject*, int count) {
            std::string chunk;
            port.Read(chunk, count, false);
            gathered.Add(chunk);
        };
        EXPECT_TRUE(WaitFor([&] {
            try {
                port.Open();
                return true;
            } catch (const EComPort&) {
                return false;
            }
        })) << MethodName(method);
        ASSERT_TRUE(pty.Send("again"));
        EXPECT_TRUE(WaitFor([&] { return gathered.BytesNow().find("again") != std::string::npos; }))
            << MethodName(method) << ": " << gathered.BytesNow();
    }
}

TEST(TComPortHandlers, AHandlerMayMoveThePortToAnotherLine) {
    for (const TSyncMethod method : {smSynchronize, smNone}) {
        TPtyPair first;
        TPtyPair second;
        TGathered gathered; // outlives the port, whose handlers use it
        std::atomic<bool> moved{false};
        TComPort port;
        port.SetPort(first.SlavePath());
        port.SetSyncMethod(method);
        port.OnRxChar = [&](QObject*, int count) {
            std::string chunk;
            port.Read(chunk, count, false);
            gathered.Add(chunk);
            if (!moved.exchange(true))
                port.SetPort(second.SlavePath());
        };
        port.Open();
        ASSERT_TRUE(first.Send("one"));
        EXPECT_TRUE(WaitFor([&] { return moved.load(); })) << MethodName(method);
        ASSERT_TRUE(second.Send("two"));
        EXPECT_TRUE(WaitFor([&] { return gathered.BytesNow() == "onetwo"; }))
            << MethodName(method) << ": " << gathered.BytesNow();
        EXPECT_TRUE(port.Active());
        EXPECT_EQ(port.Port(), second.SlavePath());
    }
}

TEST(TComPortHandlers, CloseRunsADeliveryTheEventThreadHasAlreadyAskedFor) {
    for (const bool destroy : {false, true}) {
        TPtyPair pty;
        auto port = std::make_unique<TComPort>();
        port->SetPort(pty.SlavePath());
        std::vector<std::string> log;
        TComPort* raw = port.get();
        port->OnRxChar = [&log, raw](QObject*, int count) {
            std::string chunk;
            raw->Read(chunk, count, false);
            log.push_back("rx " + chunk);
        };
        port->OnClose = [&log](QObject*) { log.push_back("close"); };
        port->Open();
        const uint64_t before = port->EventThreadWakeups();
        ASSERT_TRUE(pty.Send("late"));
        // The event thread has woken for the bytes (and so will ask for their delivery), while
        // this thread runs no event loop.
        ASSERT_TRUE(WaitWithoutEvents([&] { return port->EventThreadWakeups() > before; }));
        if (destroy)
            port.reset();
        else
            port->Close();
        const std::vector<std::string> expected = {"rx late", "close"};
        EXPECT_EQ(log, expected) << (destroy ? "destroyed" : "closed");
    }
}

TEST(TComPortLineLoss, APulledCableIsReportedOnceAndThePortCanBeReopened) {
    for (const TSyncMethod method : {smSynchronize, smNone}) {
        for (const bool writePending : {false, true}) {
            const std::string name = std::string(MethodName(method)) + (writePending ? " with a write pending" : "");
            TPtyPair pty;
            TGathered gathered; // outlives the port, whose handlers use it
            TComPort port;
            port.SetPort(pty.SlavePath());
            port.SetSyncMethod(method);
            GatherReceived(port, gathered);
            port.OnError = [&](QObject*) { ++gathered.Errors; };
            port.OnEventError = [&](QObject*, const std::string& message) { gathered.Report(message); };
            port.Open();
            const std::string half = "\x1cREQ=TRC\r\nJOB=12";
            ASSERT_TRUE(pty.Send(half));
            EXPECT_TRUE(WaitFor([&] { return gathered.BytesNow() == half; })) << name;
            if (writePending) {
                EXPECT_EQ(port.Write(RandomBytes(1 << 20, 10), false), -1) << name;
            }

            pty.CloseMaster();
            EXPECT_TRUE(WaitFor([&] { return gathered.Errors.load() == 1 && gathered.ReportCount() == 1; })) << name;
            {
                std::lock_guard lock(gathered.Lock);
                ASSERT_EQ(gathered.Reports.size(), 1u) << name;
                EXPECT_EQ(gathered.Reports[0], "Connection lost on " + pty.SlavePath() + ": Input/output error")
                    << name;
            }
            // Parked: no spinning, no flood.
            const uint64_t parked = port.EventThreadWakeups();
            QTest::qWait(300);
            EXPECT_EQ(gathered.Errors.load(), 1) << name;
            EXPECT_EQ(gathered.ReportCount(), 1u) << name;
            EXPECT_LE(port.EventThreadWakeups() - parked, 1u) << name;
            EXPECT_TRUE(port.Active()) << name; // the operator decides what happens next
            try {
                port.Write("x", false);
                ADD_FAILURE() << name << ": a write to a lost line succeeded";
            } catch (const EComPort& e) {
                EXPECT_EQ(std::string(e.what()), "Operation failed: " + std::to_string(EIO)) << name;
            }
            EXPECT_NO_THROW(port.Close()) << name;
            EXPECT_FALSE(port.Active()) << name;
            EXPECT_FALSE(port.HasPendingOps()) << name;

            TPtyPair replugged;
            port.SetPort(replugged.SlavePath());
            EXPECT_NO_THROW(port.Open()) << name;
            ASSERT_TRUE(replugged.Send("again"));
            EXPECT_TRUE(WaitFor([&] { return gathered.BytesNow() == half + "again"; })) << name;
            EXPECT_EQ(port.Write("reply", false), 5) << name;
            EXPECT_EQ(replugged.Receive(5), "reply") << name;
            EXPECT_FALSE(gathered.WrongThread.load()) << name;
            port.Close();
        }
    }
}
