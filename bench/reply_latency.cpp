// Reply latency over a pseudo-terminal: the protocol handler on its serial port at one end, the
// simulated tracer at the other. For each job the tracer measures from the moment its write of the
// packet's final GS has returned to the moment the first byte of the reply can be read.
//
// The floor is reply_floor, a bare C program that answers GS with ACK on the same line, measured
// the same way with the same packet. The machine is shared and noisy, so the two run in turns,
// block by block, and the figures to compare are the ratios to the floor.
//
// With --program the handler is the operator program itself, as a process (offscreen, a folder of
// its own whose settings name the line), so its window's work is in the figures. Its jobs and the
// floor's then alternate job by job, each side's jobs `--gap` ms apart and the floor's halfway
// between the program's, as a tracer sends them with an operator at the frame.
//
//   reply_latency [--jobs N] [--points N] [--format 1..4] [--rounds N] [--no-floor]
//                 [--program PATH [--gap MS]]
#include "handler/OMATracer.h"
#include "protocol/OMAMach.h"

#include "Conversation.h"
#include "Packets.h"
#include "Shapes.h"
#include "Transport.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
using TClock = std::chrono::steady_clock;

// The handler's jobs of one block, through the whole conversation of the simulated tracer.
bool HandlerBlock(sim::TSimTransport& line, const sim::TSimOptions& options, std::vector<double>& samples,
                  long long& traces) {
    TOMATracer tracer;
    tracer.ComPort()->SetPort(line.Name());
    tracer.OnRecvOMATrace = [&](QObject*, const std::string&, PEyeRec, PEyeRec, double) { ++traces; };
    tracer.SetActive(true);
    sim::TSimReport report;
    int result = 1;
    QEventLoop loop;
    std::thread tracerThread([&] {
        result = sim::RunConversation(line, options, report);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    tracerThread.join();
    tracer.SetActive(false);
    if (result != 0) {
        std::fprintf(stderr, "reply_latency: %s\n", report.Error.c_str());
        return false;
    }
    samples.insert(samples.end(), report.LatencyMs.begin(), report.LatencyMs.end());
    return true;
}

// The same job packet answered by reply_floor on the same line.
bool FloorBlock(sim::TSimTransport& line, const std::string& slavePath, const std::string& packet, long long jobs,
                std::vector<double>& samples) {
    int ready[2];
    if (pipe(ready) != 0)
        return false;
    const pid_t child = fork();
    if (child == 0) {
        dup2(ready[1], STDOUT_FILENO);
        close(ready[0]);
        execl(REPLY_FLOOR_PATH, "reply_floor", slavePath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    char word[8] = {};
    const bool started = read(ready[0], word, sizeof word) > 0;
    close(ready[0]);
    bool ok = started;
    for (long long i = 0; ok && i < jobs; ++i) {
        line.Write(packet, 5000);
        const auto sentAt = TClock::now();
        std::string reply;
        ok = line.WaitReadable(5000);
        if (ok)
            samples.push_back(std::chrono::duration<double, std::milli>(TClock::now() - sentAt).count());
        while (ok && reply.empty() && line.WaitReadable(5000))
            line.Read(reply);
        ok = ok && reply == "\x06";
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    if (!ok)
        std::fprintf(stderr, "reply_latency: the floor program did not answer\n");
    return ok;
}

double Ratio(double a, double b) {
    return b > 0 ? a / b : 0;
}

// A child process, ended with SIGTERM and reaped when this goes.
struct TChild {
    pid_t Pid = -1;
    TChild() = default;
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    ~TChild() {
        if (Pid > 0) {
            ::kill(Pid, SIGTERM);
            ::waitpid(Pid, nullptr, 0);
        }
    }
};

// Starts `args` with `extraEnv` in front of our environment (overriding the same names) and its
// standard output and error on /dev/null: the platform plugin's notices would drown the figures.
pid_t Spawn(std::vector<std::string> args, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> envs = extraEnv;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        bool overridden = false;
        for (const std::string& extra : extraEnv)
            overridden = overridden || entry.starts_with(extra.substr(0, extra.find('=') + 1));
        if (!overridden)
            envs.emplace_back(entry);
    }
    std::vector<char*> envp, argv;
    for (auto& e : envs)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(failed));
    return pid;
}

// Writes one packet and reads its reply up to the GS that ends it (or the lone ACK of the floor);
// returns the time from the write's return to the first reply byte being readable.
double TimedExchange(sim::TSimTransport& line, const std::string& packet, bool loneAck, std::string& reply) {
    line.Write(packet, 5000);
    const auto sentAt = TClock::now();
    if (!line.WaitReadable(5000))
        throw std::runtime_error("no reply within 5 s on " + line.Name());
    const double ms = std::chrono::duration<double, std::milli>(TClock::now() - sentAt).count();
    reply.clear();
    const auto deadline = sentAt + std::chrono::seconds(5);
    while (loneAck ? reply.empty() : reply.find(oma::GS) == std::string::npos) {
        if (TClock::now() > deadline)
            throw std::runtime_error("the reply on " + line.Name() + " never ended: " + sim::RenderOneLine(reply));
        if (line.WaitReadable(100))
            line.Read(reply);
    }
    return ms;
}

// The operator program and the floor, each on a pseudo-terminal of its own, job by job in turn.
int ProgramRun(const std::string& program, const sim::TSimOptions& options, int gapMs) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("reply-latency-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "run");
    struct TRemove {
        std::filesystem::path Path;
        ~TRemove() {
            std::error_code ignored;
            std::filesystem::remove_all(Path, ignored);
        }
    } removeFolder{folder};

    TChild programChild, floorChild;
    auto programLine = sim::OpenPty(
        [&](const std::string& path) {
            std::ofstream(folder / "settings.txt") << "TracerCOMPort=" << path << "\r\n"
                                                   << "DontAskCloseProgram=Y\r\n";
            programChild.Pid = Spawn({program, "--folder", folder.string()},
                                     {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + (folder / "run").string()});
        },
        20000, 0);
    auto floorLine = sim::OpenPty(
        [&](const std::string& path) {
            floorChild.Pid = Spawn({REPLY_FLOOR_PATH, path}, {});
        },
        5000, 0);

    // REQ=INI and the initialisation packet, as the tracer does on connecting.
    sim::TSimOptions intro = options;
    intro.Jobs = 0;
    intro.MeasureLatency = false;
    sim::TSimReport introReport;
    if (sim::RunConversation(*programLine, intro, introReport) != 0) {
        std::fprintf(stderr, "reply_latency: %s\n", introReport.Error.c_str());
        return 1;
    }

    sim::TJobParams job;
    job.Eyes = options.Eyes;
    job.Format = options.Format;
    std::vector<std::string> lines = sim::JobPacketLines(job, sim::MakeJobShape(options.Shape, options.Points));
    const std::string floorPacket = FramePacket(lines);
    constexpr std::size_t kJobLine = 1; // REQ=TRC comes first, JOB second

    std::vector<double> programMs, floorMs;
    const auto gap = std::chrono::milliseconds(gapMs);
    auto next = TClock::now() + gap;
    std::string reply;
    for (long long i = 0; i < options.Jobs; ++i) {
        const std::string number = std::to_string(options.FirstJob + i);
        lines[kJobLine] = "JOB=" + number;
        const std::string packet = FramePacket(lines);
        const std::vector<std::string> expected{sim::ReplyBytes(sim::JobReplyLines(number))};
        std::this_thread::sleep_until(next);
        programMs.push_back(TimedExchange(*programLine, packet, false, reply));
        if (const std::string problem = sim::CheckReply(reply, expected); !problem.empty())
            throw std::runtime_error("job " + number + ": wrong reply: " + problem);
        std::this_thread::sleep_until(next + gap / 2);
        floorMs.push_back(TimedExchange(*floorLine, floorPacket, true, reply));
        if (reply != "\x06")
            throw std::runtime_error("the floor program answered " + sim::RenderOneLine(reply));
        next += gap;
    }

    const sim::TLatencySummary p = sim::SummarizeLatency(programMs);
    const sim::TLatencySummary f = sim::SummarizeLatency(floorMs);
    std::printf("program %s\n", sim::LatencyJson(p).c_str());
    std::printf("floor   %s\n", sim::LatencyJson(f).c_str());
    std::printf("ratio to the floor: median %.2f, p90 %.2f, p99 %.2f (goal: median <= 3, p99 <= 1.04 ms)\n",
                Ratio(p.MedianMs, f.MedianMs), Ratio(p.P90Ms, f.P90Ms), Ratio(p.P99Ms, f.P99Ms));
    std::fflush(stdout);
    std::fprintf(stderr, "%zu jobs of %zu points in format %d, right eye only, %d ms apart, the floor's in between\n",
                 programMs.size(), options.Points, options.Format, gapMs);
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    sim::TSimOptions options;
    options.Jobs = 2000;
    options.Points = 400;
    options.Format = 1;
    // The tracer sends the right eye only; the handler mirrors the missing one before it replies.
    options.Eyes = sim::seRight;
    options.MeasureLatency = true;
    int rounds = 10;
    bool withFloor = true;
    std::string program;
    int gapMs = 50;
    bool jobsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--no-floor") == 0)
            withFloor = false;
        else if (hasValue && std::strcmp(argv[i], "--jobs") == 0) {
            options.Jobs = std::max(1LL, std::stoll(argv[++i]));
            jobsGiven = true;
        } else if (hasValue && std::strcmp(argv[i], "--program") == 0)
            program = argv[++i];
        else if (hasValue && std::strcmp(argv[i], "--gap") == 0)
            gapMs = std::max(1, std::stoi(argv[++i]));
        else if (hasValue && std::strcmp(argv[i], "--points") == 0)
            options.Points = std::stoul(argv[++i]);
        else if (hasValue && std::strcmp(argv[i], "--format") == 0)
            options.Format = std::stoi(argv[++i]);
        else if (hasValue && std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::stoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: reply_latency [--jobs N] [--points N] [--format 1..4] [--rounds N] "
                                 "[--no-floor]\n                     [--program PATH [--gap MS]]\n");
            return 2;
        }
    }
    if (!program.empty()) {
        // A job every `gapMs` on each side: a few hundred take seconds, not minutes.
        if (!jobsGiven)
            options.Jobs = 300;
        try {
            return ProgramRun(program, options, gapMs);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "reply_latency: %s\n", error.what());
            return 1;
        }
    }

    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    auto line = sim::MakeFdTransport(master, name);

    sim::TJobParams job;
    job.Eyes = options.Eyes;
    job.Format = options.Format;
    const std::string packet = FramePacket(sim::JobPacketLines(job, sim::MakeJobShape(options.Shape, options.Points)));

    const long long perRound = std::max(1LL, options.Jobs / rounds);
    std::vector<double> handler, floor;
    long long traces = 0;
    for (int r = 0; r < rounds; ++r) {
        if (withFloor && !FloorBlock(*line, name, packet, perRound, floor))
            return 1;
        sim::TSimOptions block = options;
        block.Jobs = perRound;
        block.FirstJob = 1 + r * perRound;
        if (!HandlerBlock(*line, block, handler, traces))
            return 1;
    }
    close(slave);

    const sim::TLatencySummary h = sim::SummarizeLatency(handler);
    std::printf("handler %s\n", sim::LatencyJson(h).c_str());
    if (withFloor) {
        const sim::TLatencySummary f = sim::SummarizeLatency(floor);
        std::printf("floor   %s\n", sim::LatencyJson(f).c_str());
        std::printf("ratio to the floor: median %.2f, p90 %.2f, p99 %.2f (goal: median <= 3, p99 <= 1.04 ms)\n",
                    Ratio(h.MedianMs, f.MedianMs), Ratio(h.P90Ms, f.P90Ms), Ratio(h.P99Ms, f.P99Ms));
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%zu jobs of %zu points in format %d, right eye only, %lld trace events, %d rounds\n",
                 handler.size(), options.Points, options.Format, traces, rounds);
    return 0;
}
