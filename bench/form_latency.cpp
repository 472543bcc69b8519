// Job latency of the main window, in-process: a TForm1 on the offscreen platform with its tracer
// port on a pseudo-terminal, and the tracer played by a thread on the master end. For each job the
// clock runs from the tracer's write() of the packet's last byte (read just before the call, so a
// thread switch can only lengthen the figure) until both
//   - the job trace file <folder>/traces/<job>.txt is there (it appears by a rename, so it is
//     complete when its name exists), and
//   - the trace panel has drawn the job's right eye after the job's trace came in (its OnDrawShape,
//     after the window's own handler, if any);
// whichever comes later. Both are looked at when either can have changed: at every OnDrawShape and
// at every change of the traces folder. The whole job handling (file written, rewritten for a
// changed frame type, panel filled) runs in one queued call before the paint that draws the shape,
// so the file seen then is the final one; its content is checked after the clock has stopped.
//
// The tracer sends REQ=INI and its initialisation packet (vendor TAKUBO), then the jobs, formats
// 1 to 4 in turn, each once the program has answered, drawn and gone idle again: the figures are
// those of one job meeting a quiet program, and nothing in the timed span waits on a sleep.
// Besides the total, each job is cut into stages at the program's own events:
//   receive   last byte written -> the packet cut from the receive buffer (OnRecvOMAPacket)
//   decode    -> the reply handed to the port (OnSendOMAPacket)
//   write     -> the file's name on the clipboard (the end of writing the job trace file)
//   draw      -> the shape drawn
// and the tracer notes when the first byte of the reply could be read.
//
// The floor of each job, measured right after it in the same run: the file's bytes written to the
// same folder as the program writes a file (temporary file, fsync, rename, fsync of the folder).
// The job file's time on disk is compared with it.
//
// The program folder is a new folder in DIR (default: the system's temporary folder); the file is
// written with fsync, so what DIR lives on (disk or tmpfs) shows in the write stage and the floor.
//
//   form_latency [--jobs N] [--points N] [--large-points N] [--folder DIR]
#include "app/Application.h"
#include "app/Unit1.h"
#include "app/core/CommLog.h"
#include "app/core/Settings.h"
#include "common/Numbers.h"
#include "handler/OMATracer.h"
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"
#include "trace/TracePanel.h"

#include "Conversation.h"
#include "Packets.h"
#include "Shapes.h"

#include <QClipboard>
#include <QDir>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

constexpr int kReplyTimeoutMs = 10000;
constexpr int kJobTimeoutMs = 10000;

// One measured set: the formats the tracer offers, and the point count it then sends.
struct TSetPlan {
    std::string Title;
    std::vector<std::string> Offers;
    std::size_t Points = 0; // 0: the count of the program's format answer
    long long FirstJob = 1;
};

struct TJobTimes {
    int Format = 0;
    double TotalMs = 0;     // file there and shape drawn
    double FileThereMs = 0; // the job file complete on disk under its name
    double LinkMs = 0, DecodeMs = 0, FileMs = 0, DrawMs = 0;
    double ReplyMs = 0; // last byte written -> first reply byte readable at the tracer
    double FloorMs = 0; // the same bytes written to the same folder with fsync and rename
};

// What the tracer thread and the user-interface thread share about the job in flight.
class TJobProbe {
public:
    // Tracer thread, before the packet's first byte is written.
    void Arm(std::string rightTrace, std::string filePath) {
        std::lock_guard lock(FMutex);
        FRightTrace = std::move(rightTrace);
        FFilePath = std::move(filePath);
        FArmed = true;
        FDrawn = FDone = FIdle = false;
        FPacketAt = FTraceAt = FReplyAt = FFileAt = FDrawnAt = FDoneAt = FFileThereAt = {};
    }

    // User-interface thread: the program's events.
    void PacketCut(TClock::time_point at) { Stamp(FPacketAt, at); }
    void TraceTaken(TClock::time_point at) { Stamp(FTraceAt, at); }
    void ReplySent(TClock::time_point at) { Stamp(FReplyAt, at); }
    void FileNamed(TClock::time_point at) { Stamp(FFileAt, at); }
    void Drawn(TClock::time_point at, const std::string& trace) {
        std::unique_lock lock(FMutex);
        // Only a paint after this job's trace came in draws this job (all jobs have one shape).
        if (!FArmed || FDrawn || FTraceAt == TClock::time_point{} || trace != FRightTrace)
            return;
        FDrawn = true;
        FDrawnAt = at;
        CheckDone(lock, at);
    }
    void FolderChanged(TClock::time_point at) {
        std::unique_lock lock(FMutex);
        if (!FArmed)
            return;
        if (FFileThereAt == TClock::time_point{} && Exists(FFilePath))
            FFileThereAt = at;
        CheckDone(lock, at);
    }

    // Tracer thread: waits for the job to be complete and the program idle again. False on time-out.
    bool AwaitDone(int timeoutMs, TJobTimes& times, TClock::time_point sentAt) {
        std::unique_lock lock(FMutex);
        if (!FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FDone && FIdle; }))
            return false;
        times.TotalMs = Ms(FDoneAt - sentAt);
        // Complete on disk when the program's write has returned (file and folder synced, its name
        // on the clipboard), as the floor is timed; else when the folder showed it.
        const TClock::time_point there = FFileAt != TClock::time_point{}        ? FFileAt
                                         : FFileThereAt != TClock::time_point{} ? FFileThereAt
                                                                                : FDoneAt;
        times.FileThereMs = Ms(there - sentAt);
        times.LinkMs = Ms(FPacketAt - sentAt);
        times.DecodeMs = Ms(FReplyAt - FPacketAt);
        times.FileMs = Ms(FFileAt - FReplyAt);
        times.DrawMs = Ms(FDrawnAt - FFileAt);
        return true;
    }
    std::string Why() {
        std::lock_guard lock(FMutex);
        return std::string("drawn ") + (FDrawn ? "yes" : "no") + ", file " + (Exists(FFilePath) ? "there" : "missing") +
               " (" + FFilePath + ")";
    }

private:
    static bool Exists(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    }
    void Stamp(TClock::time_point& slot, TClock::time_point at) {
        std::lock_guard lock(FMutex);
        if (FArmed && slot == TClock::time_point{})
            slot = at;
    }
    void CheckDone(std::unique_lock<std::mutex>& lock, TClock::time_point at) {
        if (!FDrawn || !Exists(FFilePath))
            return;
        FArmed = false;
        FDone = true;
        FDoneAt = at;
        lock.unlock();
        // Once the event that finished the job has been handled and the queue has been served,
        // the program is idle again and the next job may come.
        QTimer::singleShot(0, [this] {
            std::lock_guard relock(FMutex);
            FIdle = true;
            FChanged.notify_all();
        });
    }

    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FArmed = false, FDrawn = false, FDone = false, FIdle = false;
    std::string FRightTrace, FFilePath;
    TClock::time_point FPacketAt, FTraceAt, FReplyAt, FFileAt, FDrawnAt, FDoneAt, FFileThereAt;
};

// The tracer's end of the line (the pty master, non-blocking): packets out, replies in, checked.
class TTracerSide {
public:
    explicit TTracerSide(int master) : FMaster(master) {
        ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    }
    ~TTracerSide() { ::close(FMaster); }
    TTracerSide(const TTracerSide&) = delete;
    TTracerSide& operator=(const TTracerSide&) = delete;

    // Writes the packet and returns the moment just before the write() of its last byte (GS). A
    // clock read after the call could come late, when this thread loses the processor while the
    // program already handles the packet; this way a delay can only lengthen what is measured.
    TClock::time_point Send(std::string_view packet) {
        WriteAll(packet.substr(0, packet.size() - 1));
        const std::string_view last = packet.substr(packet.size() - 1);
        for (;;) {
            AwaitLine(POLLOUT);
            const auto at = TClock::now();
            const ssize_t n = ::write(FMaster, last.data(), 1);
            if (n == 1)
                return at;
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                throw std::runtime_error(std::string("write: ") + std::strerror(errno));
        }
    }

    // The next reply; `firstByteAt` gets the moment its first byte was read.
    std::string AwaitReply(TClock::time_point* firstByteAt = nullptr) {
        for (;;) {
            const std::size_t gs = FReceived.find(oma::GS);
            if (gs != std::string::npos) {
                std::string reply = FReceived.substr(0, gs + 1);
                FReceived.erase(0, gs + 1);
                return reply;
            }
            AwaitLine(POLLIN);
            char buffer[4096];
            const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
            if (n > 0) {
                if (firstByteAt && FReceived.empty())
                    *firstByteAt = TClock::now();
                FReceived.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                throw std::runtime_error("the program's end of the line went away");
            }
        }
    }

    void Exchange(const std::string& step, const std::vector<std::string>& lines,
                  const std::vector<std::string>& expected, std::string* reply = nullptr) {
        Send(FramePacket(lines));
        const std::string got = AwaitReply();
        const std::vector<std::string> acceptable{sim::ReplyBytes(expected)};
        if (const std::string problem = sim::CheckReply(got, acceptable); !problem.empty())
            throw std::runtime_error(step + ": wrong reply: " + problem);
        if (reply)
            *reply = got;
    }

private:
    void AwaitLine(short events) {
        pollfd line{FMaster, events, 0};
        const int ready = ::poll(&line, 1, kReplyTimeoutMs);
        if (ready == 0)
            throw std::runtime_error("the line stood still for " + std::to_string(kReplyTimeoutMs) + " ms");
        if (ready < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
    void WriteAll(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(FMaster, bytes.data(), bytes.size());
            if (n > 0)
                bytes.remove_prefix(static_cast<std::size_t>(n));
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                throw std::runtime_error(std::string("write: ") + std::strerror(errno));
            else
                AwaitLine(POLLOUT);
        }
    }

    int FMaster;
    std::string FReceived;
};

// The value of a reply's LABEL= record, up to the end of its line; empty when it has none.
std::string ReplyValue(const std::string& reply, const std::string& label) {
    const std::string key = std::string(1, oma::FS) + label + "=";
    std::size_t start = reply.find(key);
    if (start == std::string::npos) {
        start = reply.find("\n" + label + "=");
        if (start == std::string::npos)
            return {};
    }
    start += key.size();
    return reply.substr(start, reply.find_first_of("\r\n", start) - start);
}

// The radii of one eye in a job trace file: the R records after its TRCFMT header.
std::vector<int> FileRadii(const std::string& text, char side) {
    std::istringstream in(text);
    std::string line;
    std::vector<int> radii;
    bool inBlock = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("TRCFMT=", 0) == 0) {
            const auto fields = SplitFields(line.substr(7));
            inBlock = fields.size() >= 4 && fields[3] == std::string(1, side);
            continue;
        }
        if (!inBlock || line.rfind("R=", 0) != 0)
            continue;
        std::istringstream values(line.substr(2));
        std::string value;
        while (std::getline(values, value, ';'))
            radii.push_back(std::stoi(value));
    }
    return radii;
}

// The floor of the job file: the same bytes written as the program writes a file, to a temporary
// file in the same folder, synced, renamed over its name, and the rename synced. Returns ms.
double WriteFloorFile(const std::string& folder, const std::string& bytes) {
    const auto start = TClock::now();
    std::string temp = folder + "/.floor.txt.XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(std::string("floor file: ") + std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error(std::string("floor file: ") + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temp.c_str(), (folder + "/floor.txt").c_str()) != 0)
        throw std::runtime_error(std::string("floor file: ") + std::strerror(errno));
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return Ms(TClock::now() - start);
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct TSetResult {
    std::string Answer;
    std::size_t Points = 0;
    std::vector<TJobTimes> Jobs;
    std::string Error;
};

// The tracer's whole conversation for one set; runs on its own thread.
void RunTracer(TTracerSide& tracer, TJobProbe& probe, const TSetPlan& plan, long long jobs, uint16_t maxNumPoints,
               const std::string& tracesFolder, TSetResult& result) {
    sim::TDeviceParams device;
    device.Offers = plan.Offers;
    tracer.Exchange("REQ=INI", sim::IniRequestLines(), sim::IniRequestReplyLines());
    std::string reply;
    tracer.Exchange("initialisation packet", sim::InitPacketLines(device), sim::InitReplyLines(device, maxNumPoints),
                    &reply);
    result.Answer = ReplyValue(reply, "TRCFMT");
    const auto answer = SplitFields(result.Answer);
    result.Points = plan.Points;
    if (result.Points == 0) {
        int32_t count = 0;
        if (answer.size() < 2 || !TryStrToInt(answer[1], count) || count < 1)
            throw std::runtime_error("the program accepted none of the formats offered (" + result.Answer + ")");
        result.Points = static_cast<std::size_t>(count);
    }

    const sim::TJobShape shape = sim::MakeJobShape(sim::TShapeParams{}, result.Points);
    const std::string rightTrace = RadiiText(shape.Right);
    for (long long i = 0; i < jobs; ++i) {
        sim::TJobParams job;
        job.JobNumber = std::to_string(plan.FirstJob + i);
        job.Format = static_cast<int>(i % 4) + 1;
        const std::string packet = FramePacket(sim::JobPacketLines(job, shape));
        const std::string file = tracesFolder + "/" + job.JobNumber + ".txt";

        probe.Arm(rightTrace, file);
        const auto sentAt = tracer.Send(packet);
        TClock::time_point firstByteAt;
        const std::string got = tracer.AwaitReply(&firstByteAt);
        const std::vector<std::string> acceptable{sim::ReplyBytes(sim::JobReplyLines(job.JobNumber))};
        if (const std::string problem = sim::CheckReply(got, acceptable); !problem.empty())
            throw std::runtime_error("job " + job.JobNumber + ": wrong reply: " + problem);
        TJobTimes times;
        times.Format = job.Format;
        times.ReplyMs = Ms(firstByteAt - sentAt);
        if (!probe.AwaitDone(kJobTimeoutMs, times, sentAt))
            throw std::runtime_error("job " + job.JobNumber + " not complete after " + std::to_string(kJobTimeoutMs) +
                                     " ms: " + probe.Why());
        // The clock has stopped: now the content.
        const std::string text = ReadWhole(file);
        if (FileRadii(text, 'R') != shape.Right || FileRadii(text, 'L') != shape.Left)
            throw std::runtime_error("job " + job.JobNumber + ": the file's traces are not the job's");
        times.FloorMs = WriteFloorFile(tracesFolder, text);
        result.Jobs.push_back(times);
    }
}

// One set against a window of its own, on its own line and program folder.
TSetResult RunSet(const TSetPlan& plan, long long jobs, const QString& baseFolder) {
    TSetResult result;
    QTemporaryDir folder(baseFolder + QStringLiteral("/form-latency-XXXXXX"));
    if (!folder.isValid())
        throw std::runtime_error("cannot create a folder in " + baseFolder.toStdString());
    // There beforehand so that it can be watched; the program's own mkdir then finds it.
    QDir(folder.path()).mkpath(QStringLiteral("traces"));
    const std::string tracesFolder = QFile::encodeName(folder.path() + QStringLiteral("/traces")).toStdString();

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);

    SettingsList().Clear();
    CommLog().Clear();
    SettingsList().SetValue(setting::TracerCOMPort, name);
    SettingsList().SetValue(setting::AllowMod, "Y");
    std::vector<std::string> errors;
    const TErrorReporter previousReporter =
        SetErrorReporter([&errors](const QString& message) { errors.push_back(message.toStdString()); });

    TJobProbe probe;
    // Outlives the window, so the program never sees its line hang up.
    TTracerSide tracer(master);
    {
        TForm1 form(folder.path());
        TTracePanel* panel = form.TracePanel1();
        TOMATracer* port = form.OMATracer1();
        bool painted = false;
        // Each hook runs the window's own handler first, as if this measuring code were not there.
        panel->OnDrawShape = [previous = panel->OnDrawShape, panel, &probe, &painted](QObject* sender) {
            if (previous)
                previous(sender);
            painted = true;
            probe.Drawn(TClock::now(), panel->Trace());
        };
        port->OnRecvOMAPacket = [previous = port->OnRecvOMAPacket, &probe](QObject* sender, std::string& packet) {
            probe.PacketCut(TClock::now());
            if (previous)
                previous(sender, packet);
        };
        port->OnRecvOMATrace = [previous = port->OnRecvOMATrace, &probe](QObject* sender, const std::string& job,
                                                                         PEyeRec rt, PEyeRec lt, double dbl) {
            if (previous)
                previous(sender, job, rt, lt, dbl);
            probe.TraceTaken(TClock::now());
        };
        port->OnSendOMAPacket = [previous = port->OnSendOMAPacket, &probe](QObject* sender, std::string& packet) {
            if (previous)
                previous(sender, packet);
            probe.ReplySent(TClock::now());
        };
        const auto clipboardConnection = QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged,
                                                          [&probe] { probe.FileNamed(TClock::now()); });
        QFileSystemWatcher watcher({QString::fromStdString(tracesFolder)});
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged,
                         [&probe] { probe.FolderChanged(TClock::now()); });

        form.show();
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (painted)
                loop.quit();
        });
        poll.start(1);
        loop.exec();
        poll.stop();
        if (!painted)
            throw std::runtime_error("the window was never painted");

        const uint16_t maxNumPoints = port->MaxNumPoints();
        QEventLoop run;
        std::thread thread([&] {
            try {
                RunTracer(tracer, probe, plan, jobs, maxNumPoints, tracesFolder, result);
            } catch (const std::exception& error) {
                result.Error = error.what();
            }
            QMetaObject::invokeMethod(&run, &QEventLoop::quit, Qt::QueuedConnection);
        });
        run.exec();
        thread.join();
        QObject::disconnect(clipboardConnection);
        panel->OnDrawShape = nullptr;
    }
    SetErrorReporter(previousReporter);
    ::close(slave);
    if (result.Error.empty() && !errors.empty())
        result.Error = "the program reported: " + errors.front();
    return result;
}

double Median(std::vector<double> v) {
    return sim::SummarizeLatency(std::move(v)).MedianMs;
}

void Report(const TSetPlan& plan, const TSetResult& result) {
    std::vector<double> totals, there, floors, replies;
    std::vector<double> link, decode, file, draw;
    std::vector<double> byFormat[4];
    for (const TJobTimes& job : result.Jobs) {
        totals.push_back(job.TotalMs);
        there.push_back(job.FileThereMs);
        floors.push_back(job.FloorMs);
        replies.push_back(job.ReplyMs);
        link.push_back(job.LinkMs);
        decode.push_back(job.DecodeMs);
        file.push_back(job.FileMs);
        draw.push_back(job.DrawMs);
        byFormat[job.Format - 1].push_back(job.TotalMs);
    }
    const sim::TLatencySummary total = sim::SummarizeLatency(totals);
    std::printf("%s: %zu points per eye, format answer %s\n", plan.Title.c_str(), result.Points, result.Answer.c_str());
    std::printf("  %zu jobs  median %.2f ms  p90 %.2f ms  max %.2f ms\n", total.Count, total.MedianMs, total.P90Ms,
                total.MaxMs);
    std::printf("  median by format  1: %.2f  2: %.2f  3: %.2f  4: %.2f ms\n", Median(byFormat[0]), Median(byFormat[1]),
                Median(byFormat[2]), Median(byFormat[3]));
    std::printf("  median by stage   receive %.2f  decode %.2f  write %.2f  draw %.2f ms;  first reply byte %.2f ms\n",
                Median(link), Median(decode), Median(file), Median(draw), Median(replies));
    const sim::TLatencySummary onDisk = sim::SummarizeLatency(there);
    const sim::TLatencySummary floor = sim::SummarizeLatency(floors);
    std::printf("  job file on disk  median %.2f ms  p90 %.2f ms;  floor (same bytes, fsync, rename) median %.2f ms  "
                "p90 %.2f ms\n",
                onDisk.MedianMs, onDisk.P90Ms, floor.MedianMs, floor.P90Ms);
    std::printf("  ratio to the floor: file on disk median %.2f, p90 %.2f; file and shape median %.2f (goal <= 3)\n",
                onDisk.MedianMs / floor.MedianMs, onDisk.P90Ms / floor.P90Ms, total.MedianMs / floor.MedianMs);
    std::fflush(stdout);
}

QtMessageHandler gDefaultMessageHandler = nullptr;

// The offscreen platform says, for every window, what it cannot do (masks, raise, a tray); those
// notices are expected here and would bury the figures. Anything else still shows.
void QuietPlatformNotices(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    static const char* const kExpected[] = {"This plugin does not support", "XDG_RUNTIME_DIR not set",
                                            "systemTrayWindowChanged"};
    if (type == QtWarningMsg || type == QtDebugMsg || type == QtInfoMsg)
        for (const char* expected : kExpected)
            if (message.contains(QLatin1String(expected)))
                return;
    gDefaultMessageHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    // Paints happen on the offscreen platform as on a screen; a display is not needed.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    gDefaultMessageHandler = qInstallMessageHandler(QuietPlatformNotices);
    TApplication app(argc, argv);
    TApplication::setQuitOnLastWindowClosed(false);

    long long jobs = 200;
    std::size_t points = 400;
    std::size_t largePoints = sim::kLargestPointCount;
    QString baseFolder = QDir::tempPath();
    for (int i = 1; i < argc; i += 2) {
        const bool hasValue = i + 1 < argc;
        if (hasValue && std::strcmp(argv[i], "--jobs") == 0)
            jobs = std::stoll(argv[i + 1]);
        else if (hasValue && std::strcmp(argv[i], "--points") == 0)
            points = std::stoul(argv[i + 1]);
        else if (hasValue && std::strcmp(argv[i], "--large-points") == 0)
            largePoints = std::stoul(argv[i + 1]);
        else if (hasValue && std::strcmp(argv[i], "--folder") == 0)
            baseFolder = QString::fromLocal8Bit(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: form_latency [--jobs N] [--points N] [--large-points N] [--folder DIR]\n");
            return 2;
        }
    }

    const auto offers = [](std::size_t count) {
        std::vector<std::string> list;
        for (int format = 1; format <= 4; ++format)
            list.push_back(std::to_string(format) + ";" + std::to_string(count) + ";E;B;F");
        return list;
    };
    const std::string large = std::to_string(largePoints);
    // The main window leaves its tracer at the codec's largest point count of 512: of a tracer
    // offering 4096 points and 512 it takes 512. The last set sends the large count anyway, as a
    // tracer that ignores the answer would.
    std::vector<std::string> largeOffers = offers(largePoints);
    largeOffers.push_back("4;512;E;B;F");
    const TSetPlan plans[] = {
        {"job to file and shape, " + std::to_string(points) + " points offered", offers(points), points, 1},
        {"job to file and shape, " + large + " and 512 points offered", largeOffers, 0, 100001},
        {"job to file and shape, " + large + " points sent whatever the answer", largeOffers, largePoints, 200001},
    };
    std::printf("== form latency: tracer's last byte written -> job trace file there and shape drawn "
                "(in-process, %s platform, folder %s)\n",
                qgetenv("QT_QPA_PLATFORM").constData(), QFile::encodeName(baseFolder).constData());
    int status = 0;
    for (const TSetPlan& plan : plans) {
        try {
            const TSetResult result = RunSet(plan, jobs, baseFolder);
            if (!result.Error.empty()) {
                std::fprintf(stderr, "form_latency: %s: %s\n", plan.Title.c_str(), result.Error.c_str());
                status = 1;
                continue;
            }
            Report(plan, result);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "form_latency: %s: %s\n", plan.Title.c_str(), error.what());
            status = 1;
        }
    }
    return status;
}
