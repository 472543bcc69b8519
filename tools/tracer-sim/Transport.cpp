// The parts of the simulator's line that every platform shares.
#include "Transport.h"
#include "SimError.h"

namespace sim {

void SplitHostPort(const std::string& hostPort, std::string& host, std::string& port) {
    if (hostPort.starts_with('[')) {
        const auto close = hostPort.find("]:");
        if (close != std::string::npos) {
            host = hostPort.substr(1, close - 1);
            port = hostPort.substr(close + 2);
        }
    } else if (const auto colon = hostPort.rfind(':'); colon != std::string::npos) {
        host = hostPort.substr(0, colon);
        port = hostPort.substr(colon + 1);
    }
    if (host.empty() || port.empty())
        throw ESimError("expected HOST:PORT, got '" + hostPort + "'");
}

} // namespace sim
