// Parsing and checking tracer-sim's options.
#include "CommandLine.h"

#include "Transport.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace sim {

const char kUsage[] = R"(usage: tracer-sim (--device PATH | --pty | --tcp HOST:PORT | --listen [HOST:]PORT) [OPTIONS]

A simulated spectacle-frame tracer: speaks the tracer's side of the OMA conversation with the
program, checks every reply and exits 1 with a one-line message on the first missing or wrong one.

Line (exactly one):
  --device PATH       a serial device, raw 8N1, no flow control
  --baud N            its baud rate (default 9600)
  --pty               create a pseudo-terminal pair, print "PTY <path>" and wait for the program
                      to open that path; when the program closes it at any step, wait for it
                      to be opened again, start the conversation again and go on with the next
                      job
  --tcp HOST:PORT     connect to the program listening on TCP; when the program closes the
                      connection, connect again and go on with the next job
  --listen [HOST:]PORT
                      listen on TCP (every IPv4 address when no HOST; PORT 0 takes a free
                      one), print "LISTEN <port>" and wait for the program to connect; when the
                      program closes the connection, take its next one and go on
  --wait-open MS      how long to wait for the program to open the line (--pty), to take or
                      make the connection again (--tcp, --listen) (default 60000)
  --settle MS         pause after it was opened, before the first packet (default 100)

The tracer:
  --vendor TEXT       VEN of the initialisation packet (default TAKUBO)
  --model TEXT        MODEL (default SIM-1)
  --mid TEXT          MID (default 0001)
  --def TEXT          DEF and ENDDEF (default SIM)
  --offer LIST        the TRCFMT formats offered, headers separated by ',' (default "1;400;E;B;F");
                      "none" offers nothing
  --max-points N      the program's largest point count, for the answers expected (default 512)
  --z                 also offer ZFMT and send Z data
  --no-init           no REQ=INI and no initialisation packet: start with the first job
  --inf               send REQ=INF first and expect a lone ACK

Jobs:
  --jobs N            number of job packets (default 1)
  --job N             job number of the first, one more for each further job (default 1)
  --delay MS          pause between jobs (default 0)
  --shape SHAPE       circle, ellipse, rect (rounded corners) or file:PATH, a job trace file
                      (default ellipse)
  --box-a MM          horizontal size; the diameter of a circle (default 52)
  --box-b MM          vertical size (default 38)
  --dbl MM            DBL (default 18)
  --ftyp N, --etyp N  FTYP and ETYP (default 1 and 1)
  --eyes R|L|B        right, left or both eyes (default B)
  --format 1..4       trace format (default: the program's choice, else 1)
  --format cycle      formats 1, 2, 3, 4 and the shapes ellipse, rect, circle in turn, job after job
  --points N          points per eye (default: the program's choice, else 400)
  --noise N           N junk bytes (never FS or GS) before every packet (default 0)
  --seed N            seed for the junk (default 1)

Checking and output:
  --timeout MS        wait for each reply (default 5000)
  --linger MS         after the last reply, watch this long for unexpected bytes (default 0)
  --latency           one write per packet, no noise; print the reply latency percentiles as JSON
  --verbose           one line per job on standard error
  --quiet             no per-job lines, even with --verbose
  --help              this text
  --version           the version

Exit status: 0 every reply right ("OK <n> jobs" on standard output), 1 a missing or wrong reply
or a failing line, 2 a usage error.
)";

namespace {

template <class T> bool ReadInteger(std::string_view text, T& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ReadNumber(std::string_view text, double& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && std::isfinite(value);
}

class TParser {
public:
    TParser(std::span<const std::string> args, TCommandLine& out) : FArgs(args), FOut(out) {}

    std::string Parse() {
        try {
            for (FIndex = 0; FIndex < FArgs.size(); ++FIndex)
                One(FArgs[FIndex]);
            Check();
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        return {};
    }

private:
    [[noreturn]] static void Fail(const std::string& message) { throw std::invalid_argument(message); }

    // The value of the current option: after '=' in the same word, or the next word.
    std::string Value() {
        if (FInlineValue)
            return *FInlineValue;
        if (FIndex + 1 >= FArgs.size())
            Fail(FName + " needs a value");
        return FArgs[++FIndex];
    }

    template <class T> T Integer(T lowest, T highest) {
        const std::string text = Value();
        T value{};
        if (!ReadInteger(text, value) || value < lowest || value > highest)
            Fail(FName + " expects a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest) +
                 ", got '" + text + "'");
        return value;
    }

    double Number(double lowest, double highest) {
        const std::string text = Value();
        double value = 0;
        if (!ReadNumber(text, value) || value < lowest || value > highest)
            Fail(FName + " expects a number from " + MillimetreText(lowest) + " to " + MillimetreText(highest) +
                 ", got '" + text + "'");
        return value;
    }

    std::string Text(bool allowEmpty = true) {
        std::string text = Value();
        if (!allowEmpty && text.empty())
            Fail(FName + " needs a non-empty value");
        return text;
    }

    void SetLink(TLinkKind kind) {
        if (FOut.Link != lkNone && FOut.Link != kind)
            Fail("give only one of --device, --pty, --tcp and --listen");
        FOut.Link = kind;
    }

    void One(const std::string& arg) {
        FInlineValue.reset();
        FName = arg;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            FName = arg.substr(0, eq);
            FInlineValue = arg.substr(eq + 1);
        }
        TSimOptions& sim = FOut.Sim;
        const std::string& n = FName;
        bool flag = true;
        if (n == "--help" || n == "-h")
            FOut.Help = true;
        else if (n == "--version")
            FOut.Version = true;
        else if (n == "--pty")
            SetLink(lkPty);
        else if (n == "--z")
            sim.Device.WithZ = true;
        else if (n == "--no-init")
            sim.Init = false;
        else if (n == "--inf")
            sim.SendInf = true;
        else if (n == "--latency")
            sim.MeasureLatency = true;
        else if (n == "--quiet")
            FOut.Quiet = true;
        else if (n == "--verbose")
            FOut.Verbose = true;
        else
            flag = false;
        if (flag) {
            if (FInlineValue)
                Fail(n + " takes no value");
            return;
        }

        if (n == "--device") {
            SetLink(lkDevice);
            FOut.DevicePath = Text(false);
        } else if (n == "--tcp") {
            SetLink(lkTcp);
            FOut.TcpAddress = Text(false);
        } else if (n == "--listen") {
            SetLink(lkListen);
            FOut.TcpAddress = Text(false);
            std::string host;
            unsigned port = 0;
            try {
                SplitListenAddress(FOut.TcpAddress, host, port);
            } catch (const std::exception& e) {
                Fail(std::string("--listen ") + e.what());
            }
        } else if (n == "--baud") {
            FOut.Baud = Integer<unsigned>(1, 4000000);
            if (!IsStandardBaud(FOut.Baud))
                Fail("--baud " + std::to_string(FOut.Baud) + " is not a standard rate");
        } else if (n == "--wait-open") {
            FOut.WaitOpenMs = Integer<int>(0, INT_MAX);
        } else if (n == "--settle") {
            FOut.SettleMs = Integer<int>(0, 600000);
        } else if (n == "--vendor") {
            sim.Device.Vendor = Text();
        } else if (n == "--model") {
            sim.Device.Model = Text();
        } else if (n == "--mid") {
            sim.Device.MachineId = Text();
        } else if (n == "--def") {
            // Without DEF the program would not take the packet as an initialisation.
            sim.Device.Def = Text(false);
        } else if (n == "--offer") {
            Offers(Text());
        } else if (n == "--max-points") {
            sim.MaxNumPoints = Integer<uint16_t>(1, 4096);
        } else if (n == "--jobs") {
            sim.Jobs = Integer<long long>(0, 1'000'000'000);
        } else if (n == "--job") {
            sim.FirstJob = Integer<long long>(0, 999'999'999'999LL);
        } else if (n == "--delay") {
            sim.DelayMs = Integer<int>(0, 3'600'000);
        } else if (n == "--shape") {
            Shape(Text(false));
        } else if (n == "--box-a") {
            sim.Shape.BoxA = Number(0.01, 199.98);
        } else if (n == "--box-b") {
            sim.Shape.BoxB = Number(0.01, 199.98);
        } else if (n == "--dbl") {
            sim.DBL = Number(0, 99.99);
        } else if (n == "--ftyp") {
            sim.FrameType = Integer<int>(-9, 99);
        } else if (n == "--etyp") {
            sim.EdgeType = Integer<int>(-9, 99);
        } else if (n == "--eyes") {
            const std::string eyes = Text();
            if (eyes == "R" || eyes == "r")
                sim.Eyes = seRight;
            else if (eyes == "L" || eyes == "l")
                sim.Eyes = seLeft;
            else if (eyes == "B" || eyes == "b")
                sim.Eyes = seBoth;
            else
                Fail("--eyes expects R, L or B, got '" + eyes + "'");
        } else if (n == "--format") {
            const std::string format = Value();
            int32_t value = 0;
            if (format == "cycle")
                sim.Cycle = true;
            else if (ReadInteger(format, value) && value >= 1 && value <= 4)
                sim.Format = value;
            else
                Fail("--format expects 1 to 4 or cycle, got '" + format + "'");
        } else if (n == "--points") {
            sim.Points = Integer<std::size_t>(1, kLargestPointCount);
        } else if (n == "--noise") {
            sim.NoiseBytes = Integer<std::size_t>(0, 1'000'000);
        } else if (n == "--seed") {
            sim.Seed = Integer<uint32_t>(0, UINT32_MAX);
        } else if (n == "--timeout") {
            sim.TimeoutMs = Integer<int>(1, 3'600'000);
        } else if (n == "--linger") {
            sim.LingerMs = Integer<int>(0, 3'600'000);
        } else {
            Fail("unknown option '" + arg + "'");
        }
    }

    void Offers(const std::string& list) {
        FOut.Sim.Device.Offers.clear();
        if (list == "none")
            return;
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = list.find(',', start);
            const std::string offer =
                list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (offer.empty())
                Fail("--offer has an empty format in '" + list + "'");
            FOut.Sim.Device.Offers.push_back(offer);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }

    void Shape(const std::string& shape) {
        TShapeParams& params = FOut.Sim.Shape;
        static const std::map<std::string, TShapeKind> kinds{
            {"circle", skCircle}, {"ellipse", skEllipse}, {"rect", skRoundRect}};
        if (shape.starts_with("file:")) {
            params.Kind = skFile;
            params.Path = shape.substr(5);
            if (params.Path.empty())
                Fail("--shape file: needs a path");
        } else if (const auto kind = kinds.find(shape); kind != kinds.end()) {
            params.Kind = kind->second;
        } else {
            Fail("--shape expects circle, ellipse, rect or file:PATH, got '" + shape + "'");
        }
    }

    void Check() {
        if (FOut.Help || FOut.Version)
            return;
        if (FOut.Link == lkNone)
            Fail("give one of --device PATH, --pty, --tcp HOST:PORT or --listen [HOST:]PORT");
        const TSimOptions& sim = FOut.Sim;
        if (sim.MeasureLatency && sim.NoiseBytes > 0)
            Fail("--latency measures clean packets; leave out --noise");
        if (sim.FirstJob > LLONG_MAX - sim.Jobs)
            Fail("--job and --jobs run past the largest job number");
        if (sim.Shape.Kind != skFile) {
            try {
                OutlineRadii(sim.Shape.Kind, sim.Shape.BoxA, sim.Shape.BoxB, sim.Points != 0 ? sim.Points : 400);
            } catch (const std::invalid_argument& e) {
                Fail(std::string("--shape: ") + e.what());
            }
        }
    }

    std::span<const std::string> FArgs;
    TCommandLine& FOut;
    std::size_t FIndex = 0;
    std::string FName;
    std::optional<std::string> FInlineValue;
};

} // namespace

std::string ParseCommandLine(std::span<const std::string> args, TCommandLine& out) {
    return TParser(args, out).Parse();
}

} // namespace sim
