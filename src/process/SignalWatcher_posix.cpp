// The self-pipe: the signal handler only writes the signal's number into one end of a socket
// pair (write() is async-signal-safe); the event loop reads the other end and calls OnSignal.
#include "process/SignalWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kWatched[] = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t gWriteEnd = -1;

extern "C" void OnTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = gWriteEnd;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe means a signal is already waiting to be handled; one more changes nothing.
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

struct TSignalWatcher::TSystem {
    int Pipe[2] = {-1, -1};
    QSocketNotifier* Notifier = nullptr;
};

TSignalWatcher::TSignalWatcher(QObject* parent) : QObject(parent), FSystem(std::make_unique<TSystem>()) {
    int* pipe = FSystem->Pipe;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipe) != 0)
        throw std::runtime_error("Cannot create the signal pipe");
    fcntl(pipe[0], F_SETFL, fcntl(pipe[0], F_GETFL) | O_NONBLOCK);
    fcntl(pipe[1], F_SETFL, fcntl(pipe[1], F_GETFL) | O_NONBLOCK);
    gWriteEnd = pipe[1];

    FSystem->Notifier = new QSocketNotifier(pipe[0], QSocketNotifier::Read, this);
    connect(FSystem->Notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char bytes[16];
        for (;;) {
            const ssize_t n = read(FSystem->Pipe[0], bytes, sizeof bytes);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n; ++i)
                if (OnSignal)
                    OnSignal(bytes[i]);
        }
    });

    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kWatched)
        sigaction(signalNumber, &action, nullptr);
}

TSignalWatcher::~TSignalWatcher() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kWatched)
        sigaction(signalNumber, &action, nullptr);
    gWriteEnd = -1;
    delete FSystem->Notifier;
    close(FSystem->Pipe[0]);
    close(FSystem->Pipe[1]);
}
