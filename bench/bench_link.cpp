// What the serial link costs at rest and how fast it answers.
//
// Idle: a port sits open on a pseudo-terminal with no traffic while the Qt event loop runs; the
// process's CPU time (getrusage, all threads) over that window is compared with the same window
// with no port open. The event thread must be asleep in poll() the whole time.
//
// Round trip: a "tracer" thread writes a request to the master side and waits for the reply; the
// machine's receive handler on the main thread answers each complete request through SendData.
// The figure is the time from the request's write to the reply's last byte.
//
// Usage: bench_link [--idle-seconds N] [--round-trips N]
#include "link/Machine.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the event loop for Seconds and gives the CPU time the process used meanwhile.
double CpuOverIdleWindow(QCoreApplication& app, double Seconds) {
    const double before = ProcessCpuSeconds();
    QTimer::singleShot(static_cast<int>(Seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    return ProcessCpuSeconds() - before;
}

struct TPty {
    int Master = -1;
    int Slave = -1;
    std::string SlavePath;
    TPty() {
        char name[128] = {};
        if (::openpty(&Master, &Slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        SlavePath = name;
    }
    ~TPty() {
        ::close(Master);
        ::close(Slave);
    }
};

// A machine that answers every packet (up to its GS) with a fixed reply, as a protocol handler
// would.
class TEchoMachine : public TCustomMachine {
public:
    explicit TEchoMachine(std::string Reply) : FReply(std::move(Reply)) {
        OnRecvData = [this](QObject*) {
            size_t end;
            while ((end = FRxBuffer.find('\x1d')) != std::string::npos) {
                FRxBuffer.erase(0, end + 1);
                SendData(FReply);
            }
        };
    }

private:
    std::string FReply;
};

bool WriteAll(int Fd, const std::string& Bytes) {
    size_t done = 0;
    while (done < Bytes.size()) {
        const ssize_t n = ::write(Fd, Bytes.data() + done, Bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            return false;
    }
    return true;
}

bool ReadExactly(int Fd, size_t Count) {
    char buffer[4096];
    size_t got = 0;
    while (got < Count) {
        pollfd fd{Fd, POLLIN, 0};
        if (::poll(&fd, 1, 5000) <= 0)
            return false;
        const ssize_t n = ::read(Fd, buffer, std::min(sizeof buffer, Count - got));
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
    }
    return true;
}

double Percentile(std::vector<double> Values, double P) {
    std::sort(Values.begin(), Values.end());
    const size_t index = std::min(Values.size() - 1, static_cast<size_t>(P * static_cast<double>(Values.size())));
    return Values[index];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    double idleSeconds = 3;
    int roundTrips = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--idle-seconds") == 0)
            idleSeconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--round-trips") == 0)
            roundTrips = std::atoi(argv[i + 1]);
    }

    // Idle cost.
    const double baseline = CpuOverIdleWindow(app, idleSeconds);
    uint64_t wakeups = 0;
    double idle = 0;
    {
        TPty pty;
        TComPort port;
        port.SetPort(pty.SlavePath);
        port.Open();
        const uint64_t before = port.EventThreadWakeups();
        idle = CpuOverIdleWindow(app, idleSeconds);
        wakeups = port.EventThreadWakeups() - before;
        port.Close();
    }
    std::printf("idle open port: %.3f ms CPU over %.1f s (%.4f %% of one core); event loop alone: %.3f ms; "
                "event thread wake-ups while idle: %llu\n",
                idle * 1000, idleSeconds, idle / idleSeconds * 100, baseline * 1000,
                static_cast<unsigned long long>(wakeups));

    // Round trips.
    if (roundTrips <= 0)
        return 0;
    TPty pty;
    const std::string request = "\x1cREQ=TRC\r\nJOB=\"00123\"\r\nDBL=18.0\r\nCIRC=150.2;150.4\r\n\x1e"
                                "CRC=1234\r\n\x1d";
    const std::string reply = "\x06\x1c"
                              "ANS=TRC\r\nJOB=123\r\nSTATUS=0;\"No Error\"\r\n\x1e"
                              "CRC=4321\r\n\x1d";
    TEchoMachine machine(reply);
    machine.ComPort()->SetPort(pty.SlavePath);
    machine.ComPort()->SetReadBufSize(12288);
    machine.ComPort()->SetWriteBufSize(2048);
    machine.SetActive(true);
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(roundTrips));
    std::atomic<bool> failed{false};
    std::thread tracer([&] {
        for (int i = 0; i < roundTrips + 50; ++i) {
            const auto start = std::chrono::steady_clock::now();
            if (!WriteAll(pty.Master, request) || !ReadExactly(pty.Master, reply.size())) {
                failed = true;
                break;
            }
            const auto end = std::chrono::steady_clock::now();
            if (i >= 50) // the first ones warm up caches and the allocator
                micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    tracer.join();
    machine.SetActive(false);
    if (failed || micros.empty()) {
        std::printf("round trip: failed\n");
        return 1;
    }
    std::printf("round trip over a pty (%zu requests of %zu bytes, replies of %zu bytes): median %.1f us, "
                "p99 %.1f us, max %.1f us\n",
                micros.size(), request.size(), reply.size(), Percentile(micros, 0.5), Percentile(micros, 0.99),
                Percentile(micros, 1.0));
    return 0;
}
