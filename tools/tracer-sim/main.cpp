// tracer-sim: a simulated spectacle-frame tracer for tests, demonstrations and checking an
// installation. Speaks the tracer's side of the OMA conversation over a serial device, a
// pseudo-terminal pair or TCP (connecting or listening), and fails loudly on the first missing or
// wrong reply.
#include "CommandLine.h"
#include "Conversation.h"
#include "SimError.h"
#include "Transport.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

int Usage(const std::string& message) {
    std::cerr << "tracer-sim: " << message << "\nTry 'tracer-sim --help'.\n";
    return 2;
}

int Failure(const std::string& message) {
    std::cerr << "tracer-sim: " << message << '\n';
    return 1;
}

std::unique_ptr<sim::TSimTransport> OpenLine(const sim::TCommandLine& command) {
    switch (command.Link) {
    case sim::lkDevice:
        return sim::OpenSerialDevice(command.DevicePath, command.Baud);
    case sim::lkTcp:
        return sim::ConnectTcpAgainOnClose(command.TcpAddress, command.Sim.TimeoutMs);
    case sim::lkListen:
        return sim::ListenTcp(
            command.TcpAddress,
            [](unsigned port) {
                // The one line a script or test waits for before it points the program at the port.
                std::cout << "LISTEN " << port << std::endl;
            },
            command.WaitOpenMs, command.SettleMs);
    case sim::lkPty:
        return sim::OpenPty(
            [](const std::string& path) {
                // The one line a script or test waits for before it starts the program on that path.
                std::cout << "PTY " << path << std::endl;
            },
            command.WaitOpenMs, command.SettleMs);
    case sim::lkNone:
        break;
    }
    throw sim::ESimError("no line given");
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    sim::TCommandLine command;
    if (const std::string error = sim::ParseCommandLine(args, command); !error.empty())
        return Usage(error);
    if (command.Help) {
        std::cout << sim::kUsage;
        return 0;
    }
    if (command.Version) {
        std::cout << "tracer-sim " << TRACER_VERSION << '\n';
        return 0;
    }
    // A program that drops the connection must give an error message, not a silent death.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif

    sim::TSimOptions& options = command.Sim;
    // Our own pty outlives the program closing it, and a TCP connection can be made again: a
    // demonstration goes on after the program's Settings or a restart.
    if (command.Link == sim::lkPty || command.Link == sim::lkTcp || command.Link == sim::lkListen)
        options.ReopenWaitMs = command.WaitOpenMs;
    if (command.Verbose && !command.Quiet)
        options.Progress = [](const std::string& line) { std::cerr << line << '\n'; };
    try {
        // A file that cannot be used should fail before anyone waits on the line.
        if (options.Shape.Kind == sim::skFile)
            sim::ReadTraceFile(options.Shape.Path);
        const std::unique_ptr<sim::TSimTransport> line = OpenLine(command);
        sim::TSimReport report;
        if (sim::RunConversation(*line, options, report) != 0)
            return Failure(report.Error);
        std::cout << "OK " << report.JobsDone << " jobs\n";
        if (options.MeasureLatency)
            std::cout << sim::LatencyJson(sim::SummarizeLatency(report.LatencyMs)) << '\n';
        std::cout.flush();
        return 0;
    } catch (const std::exception& e) {
        return Failure(e.what());
    }
}
