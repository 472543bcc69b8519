// Fuzz target: arbitrary byte chunks fed to the protocol handler through its in-process loopback.
// The first byte of each chunk gives its length. No crash, hang or sanitizer report is allowed,
// only the system's own exceptions may leave the handler, and every reply must be a lone ACK or an
// ACK followed by a well-formed packet (framing and CRC right).
#include "handler/OMATracer.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {
QCoreApplication* Application() {
    static int argc = 1;
    static char name[] = "fuzz_oma_tracer";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);
    return app;
}

void CheckReply(const std::string& reply) {
    if (reply == "\x06")
        return;
    if (reply.size() < 2 || reply[0] != oma::ACK)
        std::abort();
    TOMAMachine machine; // CRC checked
    try {
        machine.ParsePacket(std::string_view(reply).substr(1));
    } catch (const EOMAParseException&) {
        std::abort(); // raised here it would pass for a refused packet
    }
    if (machine.Received().Value("STATUS").empty())
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Application();
    TOMATracer tracer;
    tracer.SetLoopbackSink(CheckReply);
    tracer.SetMaxNumPoints(4096);
    std::size_t at = 0;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(data[at] + 1u, size - at - 1);
        const std::string_view chunk(reinterpret_cast<const char*>(data + at + 1), length);
        at += 1 + length;
        try {
            tracer.InjectReceived(chunk);
        } catch (const Exception&) {
            // A packet that failed: no reply was sent for it, and the handler goes on.
        }
    }
    return 0;
}
