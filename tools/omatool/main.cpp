// omatool: looks inside a tracer's OMA traffic from a shell, without the operator program.
#include "Commands.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <map>

namespace {
const char kHelp[] = R"(usage: omatool COMMAND [ARGS]

  parse [--ignore-bad-crc] [FILE]
        check and split one packet (raw bytes); prints its records as JSON
  build LABEL=VALUE...
        writes the exact bytes of a reply packet holding these records
  decode-block --format N [--count C] [FILE]
        decodes one radii record's value (the text after "R=", escaped as received)
  measure RADII [--box-a MM | --box-b MM | --circ MM] [--lock-b]
        measures a radii text (RADII, or - for standard input), after an optional size change
  measure FILE
        measures both eyes of a job trace file: box A, box B, circumference, effective diameter
  export FILE OUT
        writes a job trace file's eyes as OUT: .svg or .dxf (the outlines in millimetres, right
        eye on the left as seen from the front) or .pdf (the job sheet, both eyes at true size)
  replay [--chunk N] [FILE]
        feeds a recorded byte stream (N bytes at a time) to the real protocol handler; writes
        every reply's bytes to standard output and one JSON event a line to standard error
  listen (--device PATH [--baud N] | --tcp PORT)
        answers a real tracer without the operator program, printing the communication log
        and one JSON line per trace; runs until interrupted

omatool --version prints the version. Failures print {"error": "..."} and exit 1; usage errors
exit 2.
)";
} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("omatool %s\n", TRACER_VERSION);
        return 0;
    }
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::fputs(kHelp, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::map<std::string, int (*)(const TArgs&)> commands{
        {"parse", CmdParse},     {"build", CmdBuild},   {"decode-block", CmdDecodeBlock},
        {"measure", CmdMeasure}, {"replay", CmdReplay}, {"listen", CmdListen},
        {"export", CmdExport}};
    const auto command = commands.find(argv[1]);
    if (command == commands.end())
        return Usage(std::string("unknown command '") + argv[1] + "'");
    const TArgs args(argv + 2, argv + argc);
    try {
        return command->second(args);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
