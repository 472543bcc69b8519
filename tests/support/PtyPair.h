// A real pseudo-terminal pair for the tests: the slave stands in for the tracer's serial device
// (the port under test opens it by its path), the master is the tracer's end of the cable. The
// test also holds a descriptor of the slave, so the line stays up while the port is closed and
// its settings can be looked at.
#pragma once

#include <cstddef>
#include <string>
#include <termios.h>

namespace test_support {

inline constexpr int kPtyDeadlineMs = 10000;

class TPtyPair {
public:
    // Raw mode on the slave for peers that read it directly; a port under test sets its own.
    enum TMode { pmAsOpened, pmRaw };

    // The master is non-blocking, so that a test that fails cannot hang in a write or a read.
    // Raises std::runtime_error when no pair can be had.
    explicit TPtyPair(TMode mode = pmAsOpened);
    ~TPtyPair();
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    const std::string& SlavePath() const { return FSlavePath; }
    int Master() const { return FMaster; }
    int Slave() const { return FSlave; }

    // The cable is pulled: the port sees the line hang up.
    void CloseMaster();
    // Both ends go away.
    void Close();

    // The tracer sends; true when the line has taken everything before the deadline.
    bool Send(const std::string& bytes, int timeoutMs = kPtyDeadlineMs) const;
    // The tracer receives exactly `count` bytes, or what has come when the deadline passes.
    std::string Receive(std::size_t count, int timeoutMs = kPtyDeadlineMs) const;

    // Bytes the port has not read yet from the slave's driver queue.
    int SlaveDriverQueue() const;
    termios SlaveSettings() const;

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FSlavePath;
};

} // namespace test_support
