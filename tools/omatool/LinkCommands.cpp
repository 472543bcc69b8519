// omatool commands that run the real protocol handler: replay (through the in-process
// loopback) and listen (on a serial device or a TCP port, until interrupted).
#include "Commands.h"

#include "common/Json.h"
#include "common/Numbers.h"
#include "common/Text.h"
#include "handler/OMATracer.h"
#include "process/SignalWatcher.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <memory>

namespace {

std::string EyeJson(const TEyeRec& eye) {
    return json::Object().String("radii", eye.Radii).String("z", eye.ZData).Str();
}

std::string TraceEventJson(const std::string& job, PEyeRec right, PEyeRec left, double dbl) {
    return json::Object()
        .String("event", "trace")
        .String("job", job)
        .Num("dbl", dbl)
        .Raw("right", EyeJson(*right))
        .Raw("left", EyeJson(*left))
        .Str();
}

std::string ErrorEventJson(const std::string& message) {
    return json::Object().String("event", "error").String("message", message).Str();
}

// The protocol handler's objects need a Qt core application; the tools make one of their own.
std::unique_ptr<QCoreApplication> MakeApplication() {
    static int argc = 1;
    static char name[] = "omatool";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace

int CmdReplay(const TArgs& args) {
    std::size_t chunk = 0;
    std::string file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--chunk" && i + 1 < args.size()) {
            int32_t n = 0;
            if (!TryStrToInt(args[++i], n) || n <= 0)
                return Usage("replay: --chunk needs a positive number of bytes");
            chunk = static_cast<std::size_t>(n);
        } else if (!file.empty() || (args[i].size() > 1 && args[i][0] == '-')) {
            return Usage("replay: unexpected argument '" + args[i] + "'");
        } else {
            file = args[i];
        }
    }
    const std::string bytes = ReadInput(file);

    const auto app = MakeApplication();

    TOMATracer tracer;
    tracer.SetLoopbackSink([](const std::string& data) {
        std::fwrite(data.data(), 1, data.size(), stdout);
        std::fflush(stdout);
    });
    tracer.OnRecvOMATrace = [](QObject*, const std::string& job, PEyeRec right, PEyeRec left, double dbl) {
        std::cerr << TraceEventJson(job, right, left, dbl) << '\n';
    };
    tracer.OnProtocolError = [](QObject*, const std::string& message) { std::cerr << ErrorEventJson(message) << '\n'; };
    const std::size_t step = chunk == 0 ? std::max<std::size_t>(bytes.size(), 1) : chunk;
    for (std::size_t at = 0; at < bytes.size(); at += step)
        tracer.InjectReceived(std::string_view(bytes).substr(at, step));
    std::cerr.flush();
    return 0;
}

int CmdListen(const TArgs& args) {
    std::string device;
    int32_t baud = 9600;
    int32_t tcpPort = -1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--device" && i + 1 < args.size()) {
            device = args[++i];
        } else if (args[i] == "--baud" && i + 1 < args.size()) {
            if (!TryStrToInt(args[++i], baud) || baud <= 0)
                return Usage("listen: --baud needs a positive number");
        } else if (args[i] == "--tcp" && i + 1 < args.size()) {
            if (!TryStrToInt(args[++i], tcpPort) || tcpPort < 0 || tcpPort > 65535)
                return Usage("listen: --tcp needs a port number from 0 to 65535");
        } else {
            return Usage("listen: unexpected argument '" + args[i] + "'");
        }
    }
    if (device.empty() == (tcpPort < 0))
        return Usage("listen: give either --device PATH or --tcp PORT");

    const auto app = MakeApplication();

    auto print = [](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    };
    TOMATracer tracer;
    tracer.OnRecvOMAPacket = [&](QObject*, std::string& packet) {
        print("--------- In from tracer ------------");
        for (const auto& line : SplitLines(TOMATracer::RenderPacket(packet)))
            print(line);
        std::fflush(stdout);
    };
    tracer.OnSendOMAPacket = [&](QObject*, std::string& packet) {
        print("--------- Out to tracer -------------");
        for (const auto& line : SplitLines(TOMATracer::RenderPacket(packet)))
            print(line);
        std::fflush(stdout);
    };
    tracer.OnRecvOMATrace = [&](QObject*, const std::string& job, PEyeRec right, PEyeRec left, double dbl) {
        char counts[128];
        std::snprintf(counts, sizeof counts, "Received  Rt Trace: %zu data points, Lt Trace: %zu data points",
                      right->Radii.size() / 4, left->Radii.size() / 4);
        print(counts);
        print(TraceEventJson(job, right, left, dbl));
        std::fflush(stdout);
    };
    tracer.OnProtocolError = [&](QObject*, const std::string& message) {
        print(ErrorEventJson(message));
        std::fflush(stdout);
    };
    tracer.OnLinkError = [&](QObject*, const std::string& message) {
        print(ErrorEventJson(message));
        std::fflush(stdout);
    };

    try {
        if (!device.empty()) {
            tracer.ComPort()->SetPort(device);
            tracer.ComPort()->SetBaudRate(baud);
        } else {
            tracer.SetPortType(ptTCPIP);
            tracer.SetPortNumber(static_cast<uint16_t>(tcpPort));
        }
        tracer.SetActive(true);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    std::fprintf(stderr, "listening on %s\n",
                 device.empty() ? ("TCP port " + std::to_string(tcpPort)).c_str() : device.c_str());

    // Termination signals (Ctrl+C, SIGTERM, a closed console) end the event loop, so the port
    // closes cleanly.
    TSignalWatcher watcher;
    watcher.OnSignal = [](int) { QCoreApplication::quit(); };
    QCoreApplication::exec();
    tracer.SetActive(false);
    return 0;
}
