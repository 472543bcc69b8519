// A real pseudo-terminal pair for the application's tests: the slave stands in for the tracer's
// serial device, the master is the tracer's end of the line. Shared by the main window's and the
// dialogs' tests.
#pragma once

#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace app_test {

class TPtyPair {
public:
    TPtyPair() {
        char name[128] = {};
        if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        FSlaveName = name;
        // Non-blocking, so that a test that fails cannot hang in a write or read of the master.
        ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    }
    ~TPtyPair() { Close(); }
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    const std::string& SlaveName() const { return FSlaveName; }
    int Master() const { return FMaster; }

    // The tracer goes away: the program's end of the line sees it hang up.
    void Close() {
        if (FMaster >= 0)
            ::close(FMaster);
        if (FSlave >= 0)
            ::close(FSlave);
        FMaster = FSlave = -1;
    }

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FSlaveName;
};

} // namespace app_test
