// omatool commands over the Qt-free core: parse, build, decode-block, measure.
#include "Commands.h"

#include "common/Json.h"
#include "common/Numbers.h"
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"
#include "trace/TrceCalc.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <stdexcept>

std::string ReadInput(const std::string& file) {
    if (file.empty() || file == "-") {
        std::string bytes{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
        return bytes;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file);
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Fail(const std::string& message) {
    std::cout << json::Object().String("error", message).Str() << '\n';
    return 1;
}

int Usage(const std::string& message) {
    std::cerr << "omatool: " << message << " (omatool --help)\n";
    return 2;
}

int CmdParse(const TArgs& args) {
    bool ignoreBadCrc = false;
    std::string file;
    for (const std::string& arg : args) {
        if (arg == "--ignore-bad-crc")
            ignoreBadCrc = true;
        else if (!file.empty() || (arg.size() > 1 && arg[0] == '-'))
            return Usage("parse: unexpected argument '" + arg + "'");
        else
            file = arg;
    }
    const std::string packet = ReadInput(file);
    TOMAMachine machine;
    machine.SetIgnoreBadCRC(ignoreBadCrc);
    try {
        machine.ParsePacket(packet);
    } catch (const EOMAParseException& e) {
        return Fail(e.what());
    }
    std::string lines = "[";
    for (const std::string& line : machine.Received().Lines()) {
        if (lines.size() > 1)
            lines += ',';
        lines += json::Quote(line);
    }
    lines += ']';
    std::cout << json::Object()
                     .Raw("lines", lines)
                     .String("deviceCode", machine.DeviceCode())
                     .Raw("initialized", json::Bool(machine.IsInitialized()))
                     .Str()
              << '\n';
    return 0;
}

int CmdBuild(const TArgs& args) {
    TOMAMachine machine;
    for (const std::string& arg : args) {
        const auto eq = arg.find('=');
        if (eq == std::string::npos)
            return Usage("build: expected LABEL=VALUE, got '" + arg + "'");
        machine.SetReplyValue(std::string_view(arg).substr(0, eq), std::string_view(arg).substr(eq + 1));
    }
    const std::string packet = machine.BuildPacket();
    std::fwrite(packet.data(), 1, packet.size(), stdout);
    return 0;
}

int CmdDecodeBlock(const TArgs& args) {
    std::string format, file;
    std::optional<std::string> countText;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--format" && i + 1 < args.size())
            format = args[++i];
        else if (args[i] == "--count" && i + 1 < args.size())
            countText = args[++i];
        else if (!file.empty() || (args[i].size() > 1 && args[i][0] == '-'))
            return Usage("decode-block: unexpected argument '" + args[i] + "'");
        else
            file = args[i];
    }
    if (format != "1" && format != "2" && format != "3" && format != "4")
        return Usage("decode-block: --format must be 1, 2, 3 or 4");
    int32_t count = 0;
    if (format == "4") {
        if (!countText)
            return Usage("decode-block: format 4 needs --count");
        if (!TryStrToInt(*countText, count) || count < 0 || static_cast<std::size_t>(count) > kMaxPackedPoints)
            return Fail("point count must be a number from 0 to " + std::to_string(kMaxPackedPoints) + ": " +
                        *countText);
    }
    std::string value = ReadInput(file);
    // CR and LF never travel raw inside a record, so trailing ones are a line end added by a shell.
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();

    TWidthCheck check;
    std::string radii;
    if (format == "1")
        radii = DecodeAsciiValues(value, &check);
    else if (format == "2")
        radii = DecodeBinaryAbsolute(value, &check);
    else if (format == "3")
        radii = DecodeBinaryDifferential(value, &check);
    else
        radii = DecodePackedBinary(value, static_cast<std::size_t>(count), &check);
    if (check.Overflow)
        return Fail("value " + check.FirstValue + " has no four-character form");
    std::cout << radii << '\n';
    return 0;
}

int CmdMeasure(const TArgs& args) {
    std::optional<std::string> radii;
    std::optional<std::pair<std::string, double>> change;
    bool lockB = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--lock-b") {
            lockB = true;
        } else if (arg == "--box-a" || arg == "--box-b" || arg == "--circ") {
            if (change)
                return Usage("measure: give at most one of --box-a, --box-b, --circ");
            if (i + 1 >= args.size())
                return Usage("measure: " + arg + " needs a value in millimetres");
            double mm = 0;
            if (!TryStrToFloat(args[i + 1], mm))
                return Fail("not a number: " + args[i + 1]);
            change.emplace(arg, mm);
            ++i;
        } else if (!radii && (arg == "-" || arg.empty() || arg[0] != '-')) {
            radii = arg;
        } else {
            return Usage("measure: unexpected argument '" + arg + "'");
        }
    }
    if (!radii)
        return Usage("measure: give a radii text or a job trace file");
    if (*radii != "-" && NamesJobFile(*radii)) {
        if (change || lockB)
            return Usage("measure: --box-a, --box-b, --circ and --lock-b change a radii text, not a file");
        return CmdMeasureJob(*radii);
    }
    std::string text = *radii == "-" ? ReadInput("-") : *radii;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();

    TTraceCalc calc;
    calc.LockBAtDatum = lockB;
    calc.SetTrace(text);
    try {
        if (change) {
            if (change->first == "--box-a")
                calc.SetBoxA(change->second);
            else if (change->first == "--box-b")
                calc.SetBoxB(change->second);
            else
                calc.SetCircumference(change->second);
        }
        const std::string trace = calc.Trace();
        std::cout << json::Object()
                         .Num("boxA", calc.BoxA())
                         .Num("boxB", calc.BoxB())
                         .Num("circumference", calc.Circumference())
                         .Num("effectiveDiameter", calc.EffectiveDiameter())
                         .Num("effectiveDiameterAngle", calc.EffectiveDiameterAngle())
                         .String("trace", trace)
                         .String("mirrored", calc.MirroredTrace())
                         .Str()
                  << '\n';
    } catch (const Exception& e) {
        return Fail(e.what());
    }
    return 0;
}
