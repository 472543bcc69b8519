// The parts of the simulator's line that every platform shares: addresses, and a TCP line that is
// made again after the program closed it.
#include "Transport.h"
#include "SimError.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <thread>

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

void SplitListenAddress(const std::string& address, std::string& host, unsigned& port) {
    std::string portText = address;
    host.clear();
    if (address.find(':') != std::string::npos)
        SplitHostPort(address, host, portText);
    unsigned value = 0;
    const auto result = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (portText.empty() || result.ec != std::errc() || result.ptr != portText.data() + portText.size() ||
        value > 65535)
        throw ESimError("expected [HOST:]PORT with a port from 0 to 65535, got '" + address + "'");
    port = value;
}

namespace {

class TRelinkingTransport final : public TSimTransport {
public:
    TRelinkingTransport(std::unique_ptr<TSimTransport> first, TLineFactory again, std::string name)
        : FLine(std::move(first)), FAgain(std::move(again)), FName(std::move(name)) {}

    void Write(std::string_view bytes, int timeoutMs) override { Line().Write(bytes, timeoutMs); }
    bool WaitReadable(int timeoutMs) override { return Line().WaitReadable(timeoutMs); }
    std::size_t Read(std::string& into) override { return Line().Read(into); }
    const std::string& Name() const override { return FName; }

    bool AwaitReopened(int timeoutMs) override {
        FLine.reset(); // the program sees the old connection end at once
        FLine = FAgain(timeoutMs);
        return FLine != nullptr;
    }

private:
    TSimTransport& Line() {
        if (!FLine)
            throw ELineClosed("the other side closed the line (" + FName + ")");
        return *FLine;
    }

    std::unique_ptr<TSimTransport> FLine;
    TLineFactory FAgain;
    std::string FName;
};

} // namespace

std::unique_ptr<TSimTransport> MakeRelinkingTransport(std::unique_ptr<TSimTransport> first, TLineFactory again,
                                                      std::string name) {
    return std::make_unique<TRelinkingTransport>(std::move(first), std::move(again), std::move(name));
}

std::unique_ptr<TSimTransport> ConnectTcpAgainOnClose(const std::string& hostPort, int timeoutMs) {
    auto first = ConnectTcp(hostPort, timeoutMs);
    TLineFactory again = [hostPort](int waitMs) -> std::unique_ptr<TSimTransport> {
        // The program's listener may take a while to come back (a restart, its settings).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            try {
                return ConnectTcp(hostPort, static_cast<int>(std::max<long long>(left, 1)));
            } catch (const ESimError&) {
                if (left <= 0)
                    return nullptr;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    };
    return MakeRelinkingTransport(std::move(first), std::move(again), hostPort);
}

} // namespace sim
