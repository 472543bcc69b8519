// The real program against the simulated tracer: tracer-sim on a pseudo-terminal sends jobs in
// all four encodings and checks every reply; the jobs land in the traces folder; a second start
// for the same folder ends at once; SIGTERM ends the program normally with its settings saved; the
// same over TCP with the simulator in either role.
#include "Loopback.h"
#include "PollUntil.h"
#include "Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using test_support::PollUntil;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class TTempFolder {
public:
    TTempFolder() {
        char pattern[] = "/tmp/tracer-program-XXXXXX";
        if (!mkdtemp(pattern))
            throw std::runtime_error("mkdtemp failed");
        Path = pattern;
    }
    ~TTempFolder() {
        std::error_code ignored;
        fs::remove_all(Path, ignored);
    }
    fs::path Path;
};

} // namespace

TEST(Program, TakesJobsInEveryEncodingAndEndsNormallyOnSigterm) {
    TTempFolder folder;
    const fs::path runtime = folder.Path / "run";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    TChildProcess sim({TRACER_SIM_PATH, "--pty", "--format", "cycle", "--jobs", "4", "--job", "100"});
    std::string ptyPath;
    ASSERT_TRUE(PollUntil(
        [&] {
            const std::string out = sim.Output();
            const auto at = out.find("PTY ");
            const auto end = out.find('\n', at);
            if (at == std::string::npos || end == std::string::npos)
                return false;
            ptyPath = out.substr(at + 4, end - at - 4);
            return true;
        },
        10000));

    // Lines the program does not know stay where they are.
    const std::string settings = "; written by the test\r\nTracerCOMPort=" + ptyPath + "\r\nBaudRate=9600\r\n";
    WriteText(folder.Path / "settings.txt", settings);
    TChildProcess program({TRACER_INTERFACE_PATH, "--folder", folder.Path.string()});

    const TProcessResult simResult = [&] {
        PollUntil([&] { return sim.Output().find("OK ") != std::string::npos; }, 60000);
        return sim.Stop(0, 60000);
    }();
    ASSERT_EQ(simResult.exitCode, 0) << simResult.out << simResult.err;
    EXPECT_NE(simResult.out.find("OK 4 jobs"), std::string::npos) << simResult.out;

    for (int job = 100; job <= 103; ++job) {
        SCOPED_TRACE(job);
        const fs::path file = folder.Path / "traces" / (std::to_string(job) + ".txt");
        ASSERT_TRUE(PollUntil([&] { return fs::exists(file); }, 10000));
        const std::string text = ReadText(file);
        EXPECT_EQ(text.rfind("REQ=FIL\r\nDBL=18.00\r\n", 0), 0u) << text.substr(0, 200);
        // Whatever encoding travelled, the file holds format 1 with four-digit radii.
        EXPECT_NE(text.find(";E;R;F\r\nR="), std::string::npos);
        EXPECT_NE(text.find(";E;L;F\r\nR="), std::string::npos);
        EXPECT_EQ(text.find("TRCFMT=2"), std::string::npos);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    }

    // A second start for the same folder tells the first one, says so, and ends without a window
    // or touching the settings (a start for another folder would run beside it).
    const TProcessResult second = RunProcess({TRACER_INTERFACE_PATH, "--folder", folder.Path.string()}, {}, 20000);
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_NE(second.err.find("already running for"), std::string::npos) << second.err;
    // A start for another folder takes a guard of its own (a second socket beside the first) and
    // runs beside it until it is ended.
    const auto sockets = [&] {
        std::size_t count = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(runtime))
            count += entry.is_socket() ? 1 : 0;
        return count;
    };
    ASSERT_EQ(sockets(), 1u);
    {
        TChildProcess beside({TRACER_INTERFACE_PATH, "--folder", (folder.Path / "beside").string()});
        EXPECT_TRUE(PollUntil([&] { return sockets() == 2; }, 20000));
        const TProcessResult besideEnd = beside.Stop(SIGTERM, 20000);
        EXPECT_EQ(besideEnd.exitCode, 0) << besideEnd.err;
        EXPECT_EQ(besideEnd.err.find("already running"), std::string::npos) << besideEnd.err;
    }

    const TProcessResult end = program.Stop(SIGTERM, 20000);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    // The settings as they were, and the vendor of the tracer for the next start.
    EXPECT_EQ(ReadText(folder.Path / "settings.txt"), settings + "TracerVendor=TAKUBO\r\n");
}

// Whatever stands at settings.txt, the program starts with its defaults, says why on stderr and
// ends on SIGTERM: a fifo would block it before any window, /dev/zero would exhaust its memory.
TEST(Program, ASettingsFileThatCannotBeReadIsSaidAndNeverHoldsTheStartUp) {
    const struct {
        const char* What;
        std::function<void(const fs::path&)> Make;
        std::string Reason;
    } cases[] = {
        {"a fifo", [](const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); },
         "not a regular file (a device, a pipe or a socket)"},
        {"a link to /dev/zero", [](const fs::path& file) { fs::create_symlink("/dev/zero", file); },
         "not a regular file (a device, a pipe or a socket)"},
        {"a file over 8 MB",
         [](const fs::path& file) {
             WriteText(file, "AllowMod=Y\r\n");
             fs::resize_file(file, (8u << 20) + 1);
         },
         "the file is larger than 8 MB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TTempFolder folder;
        const fs::path runtime = folder.Path / "run";
        fs::create_directory(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        const fs::path settings = folder.Path / "settings.txt";
        c.Make(settings);
        TChildProcess program({TRACER_INTERFACE_PATH, "--folder", folder.Path.string()});
        // Once it holds the folder (its socket for later starts is there), a second start is
        // answered only by a program whose window runs.
        ASSERT_TRUE(PollUntil(
            [&] {
                for (const fs::directory_entry& entry : fs::directory_iterator(runtime))
                    if (entry.is_socket())
                        return true;
                return false;
            },
            20000));
        EXPECT_TRUE(PollUntil(
            [&] {
                return RunProcess({TRACER_INTERFACE_PATH, "--folder", folder.Path.string()}, {}, 20000)
                           .err.find("brought it to the front") != std::string::npos;
            },
            30000));
        const TProcessResult end = program.Stop(SIGTERM, 20000);
        EXPECT_EQ(end.exitCode, 0) << end.err;
        EXPECT_NE(end.err.find("tracer-interface: Cannot read " + settings.string() + ": " + c.Reason +
                               "; the default settings are used.\n"),
                  std::string::npos)
            << end.err;
    }
}

// The real program on TCP against tracer-sim in both roles: the program connects to the simulator
// listening (a tracer behind a serial-device server), or listens for the simulator to connect.
TEST(Program, TakesJobsFromATracerOnTheNetworkInBothRoles) {
    for (const bool simListens : {true, false}) {
        SCOPED_TRACE(simListens ? "the program connects" : "the program listens");
        TTempFolder folder;
        const fs::path runtime = folder.Path / "run";
        fs::create_directory(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        const std::vector<std::string> jobs{"--jobs", "2", "--job", "200", "--settle", "0"};

        std::unique_ptr<TChildProcess> sim;
        std::unique_ptr<TChildProcess> program;
        if (simListens) {
            std::vector<std::string> argv{TRACER_SIM_PATH, "--listen", "127.0.0.1:0"};
            argv.insert(argv.end(), jobs.begin(), jobs.end());
            sim = std::make_unique<TChildProcess>(argv);
            std::string port;
            ASSERT_TRUE(PollUntil(
                [&] {
                    const std::string out = sim->Output();
                    const auto end = out.find('\n');
                    if (!out.starts_with("LISTEN ") || end == std::string::npos)
                        return false;
                    port = out.substr(7, end - 7);
                    return true;
                },
                10000));
            WriteText(folder.Path / "settings.txt",
                      "TracerPortType=TCP\r\nTracerTCPPort=" + port + "\r\nTracerTCPHost=127.0.0.1\r\n");
            program = std::make_unique<TChildProcess>(
                std::vector<std::string>{TRACER_INTERFACE_PATH, "--folder", folder.Path.string()});
        } else {
            // A port nobody listens on, for the program to listen on.
            sockaddr_in address{};
            const uint16_t free = FreeLoopbackPort(&address);
            ASSERT_NE(free, 0);
            const std::string port = std::to_string(free);
            WriteText(folder.Path / "settings.txt", "TracerPortType=TCP\r\nTracerTCPPort=" + port + "\r\n");
            program = std::make_unique<TChildProcess>(
                std::vector<std::string>{TRACER_INTERFACE_PATH, "--folder", folder.Path.string()});
            // The simulator connects once the program listens.
            ASSERT_TRUE(PollUntil(
                [&] {
                    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                    const bool listening = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
                    ::close(s);
                    return listening;
                },
                20000));
            std::vector<std::string> argv{TRACER_SIM_PATH, "--tcp", "127.0.0.1:" + port};
            argv.insert(argv.end(), jobs.begin(), jobs.end());
            sim = std::make_unique<TChildProcess>(argv);
        }
        PollUntil([&] { return sim->Output().find("OK ") != std::string::npos; }, 60000);
        const TProcessResult simResult = sim->Stop(0, 60000);
        EXPECT_EQ(simResult.exitCode, 0) << simResult.out << simResult.err;
        EXPECT_NE(simResult.out.find("OK 2 jobs"), std::string::npos) << simResult.out;
        for (const char* job : {"200.txt", "201.txt"})
            EXPECT_TRUE(PollUntil([&] { return fs::exists(folder.Path / "traces" / job); }, 10000)) << job;
        const TProcessResult end = program->Stop(SIGTERM, 20000);
        EXPECT_EQ(end.exitCode, 0) << end.err;
    }
}

// Help and version print without a display: with the X platform forced and no display, creating
// the application would abort the program.
TEST(Program, OptionsPrintWithoutADisplayAndABadFolderIsRefused) {
    TTempFolder folder;
    WriteText(folder.Path / "file", "x");
    const std::string noDisplay[] = {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"};
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out, err;
    } cases[] = {
        {{"--help"}, 0, "--folder <dir>", ""},
        {{"--version"}, 0, "tracer-interface " TRACER_VERSION "\n", ""},
        {{"--folder", (folder.Path / "file" / "sub").string()}, 1, "", "cannot create the folder"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv(std::begin(noDisplay), std::end(noDisplay));
        if (c.exitCode != 0)
            argv.back() = "QT_QPA_PLATFORM=offscreen";
        argv.push_back(TRACER_INTERFACE_PATH);
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const TProcessResult result = RunProcess(argv, {}, 20000);
        SCOPED_TRACE(c.arguments.front());
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
}

// The version the build was configured with, in every program.
TEST(Program, EveryProgramStatesTheBuildsVersion) {
    const struct {
        const char* Path;
        std::string Out;
    } cases[] = {
        {TRACER_INTERFACE_PATH, "tracer-interface " TRACER_VERSION "\n"},
        {OMATOOL_PATH, "omatool " TRACER_VERSION "\n"},
        {TRACER_SIM_PATH, "tracer-sim " TRACER_VERSION "\n"},
    };
    for (const auto& c : cases) {
        const TProcessResult result = RunProcess({c.Path, "--version"}, {}, 20000);
        EXPECT_EQ(result.exitCode, 0) << c.Path << ": " << result.err;
        EXPECT_EQ(result.out, c.Out);
    }
}
