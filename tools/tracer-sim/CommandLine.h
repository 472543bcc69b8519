// tracer-sim's command line: the options, their defaults and checks, and the help text.
#pragma once

#include "Conversation.h"

#include <cstdint>
#include <span>
#include <string>

namespace sim {

enum TLinkKind : uint8_t { lkNone, lkDevice, lkPty, lkTcp, lkListen };

struct TCommandLine {
    TSimOptions Sim;
    TLinkKind Link = lkNone;
    std::string DevicePath;
    unsigned Baud = 9600;
    int WaitOpenMs = 60000;
    int SettleMs = 100;
    std::string TcpAddress; // HOST:PORT to connect to, or [HOST:]PORT to listen on
    bool Help = false;
    bool Version = false;
    bool Quiet = false;
    bool Verbose = false;
};

extern const char kUsage[];

// Reads the arguments (without the program's name) into `out`. Returns an empty text, or the
// one-line reason why the command line is not usable.
std::string ParseCommandLine(std::span<const std::string> args, TCommandLine& out);

} // namespace sim
