// Measures the operator program as a whole process, the way an operator meets it: the real
// tracer-interface binary (offscreen) on one end of a pseudo-terminal pair, this tool as the tracer
// on the other.
//   start    from starting the process until it has opened its tracer port ("Ready on port")
//   job      from the last byte of a job packet written until its job trace file is complete on
//            disk (the rename that finishes the atomic write, seen through inotify), against its
//            floor in the same run: the file's bytes written again to the same folder right after
//            the job, as a temporary file, synced and renamed (timed up to the rename)
//   memory   resident memory after 10 jobs and after 1,000 jobs
//   idle     CPU time used by the program, port open, over a quiet interval
// Usage: app_figures PROGRAM [--starts N] [--jobs N] [--memory-jobs N] [--idle-seconds S]
#include "Packets.h"
#include "Shapes.h"
#include "Transport.h"
#include "protocol/OMAMach.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The floor of one job file: its bytes as a temporary file in the same folder, fsync, rename.
// Timed up to the rename, the moment the program's file is taken as complete; the folder is
// synced afterwards as the program does, outside the time.
double WriteFloorFile(const std::string& folder, const std::string& bytes);

using TClock = std::chrono::steady_clock;

double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

std::string MakeTempFolder() {
    char name[] = "/tmp/app-figures-XXXXXX";
    if (!mkdtemp(name))
        throw std::runtime_error("mkdtemp failed");
    return name;
}

// One running program with its own folder, runtime folder and tracer line.
struct TProgram {
    std::string Folder;
    pid_t Pid = -1;
    std::unique_ptr<sim::TSimTransport> Line;
    double StartMs = 0;

    TProgram(const std::string& program, const std::string& extraSettings = {}) {
        Folder = MakeTempFolder();
        const std::string runtime = Folder + "/run";
        ::mkdir(runtime.c_str(), 0700);
        TClock::time_point spawned;
        Line = sim::OpenPty(
            [&](const std::string& path) {
                std::ofstream(Folder + "/settings.txt") << "TracerCOMPort=" << path << "\r\n"
                                                        << "DontAskCloseProgram=Y\r\n"
                                                        << extraSettings;
                const std::string folderArg = Folder;
                const std::string env1 = "QT_QPA_PLATFORM=offscreen";
                const std::string env2 = "XDG_RUNTIME_DIR=" + runtime;
                std::vector<std::string> envs{env1, env2};
                for (char** e = environ; *e; ++e)
                    if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0 && std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0)
                        envs.emplace_back(*e);
                std::vector<char*> envp;
                for (auto& e : envs)
                    envp.push_back(e.data());
                envp.push_back(nullptr);
                std::string a0 = program, a1 = "--folder", a2 = folderArg;
                char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
                spawned = TClock::now();
                // The platform plugin's notices would drown the figures.
                posix_spawn_file_actions_t actions;
                posix_spawn_file_actions_init(&actions);
                posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
                const int failed = posix_spawn(&Pid, program.c_str(), &actions, nullptr, argv, envp.data());
                posix_spawn_file_actions_destroy(&actions);
                if (failed != 0)
                    throw std::runtime_error("cannot start " + program);
            },
            20000, 0);
        StartMs = Ms(TClock::now() - spawned);
    }

    ~TProgram() {
        Line.reset();
        if (Pid > 0) {
            ::kill(Pid, SIGTERM);
            int status = 0;
            ::waitpid(Pid, &status, 0);
        }
        std::string cmd = "rm -rf '" + Folder + "'";
        if (std::system(cmd.c_str()) != 0)
            std::cerr << "could not remove " << Folder << "\n";
    }

    // Sends a packet and waits for the reply, which ends with GS.
    std::string Exchange(const std::string& packet) {
        Line->Write(packet, 5000);
        return AwaitReply();
    }

    std::string AwaitReply() {
        std::string reply;
        const auto deadline = TClock::now() + std::chrono::seconds(5);
        while (reply.find('\x1d') == std::string::npos) {
            if (TClock::now() > deadline)
                throw std::runtime_error("no reply from the program");
            if (Line->WaitReadable(100))
                Line->Read(reply);
        }
        return reply;
    }

    long ProcStatusKb(const char* field) const {
        std::ifstream in("/proc/" + std::to_string(Pid) + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind(field, 0) == 0)
                return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
        return -1;
    }

    // utime + stime in clock ticks.
    long long CpuTicks() const {
        std::ifstream in("/proc/" + std::to_string(Pid) + "/stat");
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream rest(all.substr(all.rfind(')') + 2));
        std::string field;
        long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stoll(field);
            if (i == 15)
                stime = std::stoll(field);
        }
        return utime + stime;
    }

    void Initialise() {
        sim::TDeviceParams device;
        device.Offers = {"1;400;E;B;F"};
        Exchange(FramePacket(sim::IniRequestLines()));
        Exchange(FramePacket(sim::InitPacketLines(device)));
    }
};

std::string JobPacket(long long number, int format, const sim::TJobShape& shape) {
    sim::TJobParams job;
    job.JobNumber = std::to_string(number);
    job.Format = format;
    std::vector<std::string> lines = sim::JobPacketLines(job, shape);
    return FramePacket(lines);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: app_figures PROGRAM [--starts N] [--jobs N] [--memory-jobs N] [--idle-seconds S]\n";
        return 2;
    }
    const std::string program = argv[1];
    int starts = 20, jobs = 200, memoryJobs = 1000, idleSeconds = 5;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (name == "--starts")
            starts = value;
        else if (name == "--jobs")
            jobs = value;
        else if (name == "--memory-jobs")
            memoryJobs = value;
        else if (name == "--idle-seconds")
            idleSeconds = value;
    }
    try {
        std::vector<double> startMs;
        for (int i = 0; i < starts; ++i) {
            TProgram p(program);
            startMs.push_back(p.StartMs);
        }
        std::printf("start to port open: median %.1f ms, max %.1f ms over %d starts\n", Median(startMs),
                    *std::max_element(startMs.begin(), startMs.end()), starts);

        TProgram p(program);
        p.Initialise();
        const sim::TJobShape shape = sim::MakeJobShape(sim::TShapeParams{}, 400);
        const int watch = inotify_init1(IN_CLOEXEC);
        const std::string traces = p.Folder + "/traces";
        ::mkdir(traces.c_str(), 0755);
        inotify_add_watch(watch, traces.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
        std::vector<double> jobMs, floorMs;
        for (int i = 0; i < jobs; ++i) {
            const long long number = 1000 + i;
            const std::string name = std::to_string(number) + ".txt";
            p.Line->Write(JobPacket(number, i % 4 + 1, shape), 5000);
            const auto written = TClock::now();
            p.AwaitReply();
            bool seen = false;
            while (!seen) {
                pollfd pfd{watch, POLLIN, 0};
                if (::poll(&pfd, 1, 5000) <= 0)
                    throw std::runtime_error("job file " + name + " never appeared");
                alignas(inotify_event) char buffer[4096];
                const ssize_t n = ::read(watch, buffer, sizeof buffer);
                const auto at = TClock::now();
                for (ssize_t off = 0; off < n;) {
                    auto* ev = reinterpret_cast<inotify_event*>(buffer + off);
                    if (ev->len && name == ev->name && (ev->mask & (IN_MOVED_TO | IN_CLOSE_WRITE))) {
                        seen = true;
                        jobMs.push_back(Ms(at - written));
                    }
                    off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                }
            }
            // The program syncs its folder after the rename; the floor waits until that is surely
            // done, so that neither shares a journal commit with the other.
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            std::ifstream file(traces + "/" + name, std::ios::binary);
            std::ostringstream bytes;
            bytes << file.rdbuf();
            floorMs.push_back(WriteFloorFile(traces, bytes.str()));
        }
        ::close(watch);
        std::printf("job packet to job file on disk: median %.2f ms, p90 %.2f ms, max %.2f ms over %d jobs "
                    "(formats 1-4, 400 points per eye)\n",
                    Median(jobMs), Percentile(jobMs, 0.9), *std::max_element(jobMs.begin(), jobMs.end()), jobs);
        std::printf("  floor, the same bytes written to the same folder with fsync and rename: median %.2f ms, "
                    "p90 %.2f ms\n  ratio to the floor: median %.2f, p90 %.2f (goal <= 3)\n",
                    Median(floorMs), Percentile(floorMs, 0.9), Median(jobMs) / Median(floorMs),
                    Percentile(jobMs, 0.9) / Percentile(floorMs, 0.9));

        TProgram m(program);
        m.Initialise();
        long afterTen = 0;
        for (int i = 0; i < memoryJobs; ++i) {
            m.Exchange(JobPacket(5000 + i, i % 4 + 1, shape));
            if (i + 1 == 10) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                afterTen = m.ProcStatusKb("VmRSS:");
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const long afterAll = m.ProcStatusKb("VmRSS:");
        std::printf("resident memory: %ld kB after 10 jobs, %ld kB after %d jobs (%+ld kB)\n", afterTen, afterAll,
                    memoryJobs, afterAll - afterTen);

        const long long before = m.CpuTicks();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const long long used = m.CpuTicks() - before;
        std::printf("idle with the port open: %lld clock ticks (%.0f ms) of CPU over %d s\n", used,
                    used * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)), idleSeconds);
    } catch (const std::exception& error) {
        std::cerr << "app_figures: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

namespace {
double WriteFloorFile(const std::string& folder, const std::string& bytes) {
    const auto start = TClock::now();
    std::string temp = folder + "/.floor.txt.XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("floor file: " + std::string(std::strerror(errno)));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error("floor file: " + std::string(std::strerror(errno)));
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temp.c_str(), (folder + "/floor.txt").c_str()) != 0)
        throw std::runtime_error("floor file: " + std::string(std::strerror(errno)));
    const double ms = Ms(TClock::now() - start);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return ms;
}
} // namespace
