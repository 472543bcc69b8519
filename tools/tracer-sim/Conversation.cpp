// The simulated tracer's conversation: send a packet, await the reply, check it, go on.
#include "Conversation.h"

#include "SimError.h"

#include "common/Json.h"
#include "common/Numbers.h"
#include "protocol/OMAMach.h"
#include "protocol/TraceFormats.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <optional>
#include <random>
#include <thread>

namespace sim {

namespace {

using TClock = std::chrono::steady_clock;

double MillisecondsSince(TClock::time_point start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

int RemainingMs(TClock::time_point deadline) {
    // Rounded up, so a wait never ends just before the deadline and then finds no time left.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

class TConversation {
public:
    TConversation(TSimTransport& line, const TSimOptions& options, TSimReport& report)
        : FLine(line), FOptions(options), FReport(report), FRandom(options.Seed) {}

    void Run() {
        std::optional<TJobShape> fileShape;
        if (FOptions.Shape.Kind == skFile)
            fileShape = ReadTraceFile(FOptions.Shape.Path);

        Introduce();
        ChooseFormat();

        TJobShape shape = MakeJobShape(FOptions.Shape, FReport.Points, fileShape ? &*fileShape : nullptr);
        TJobParams job;
        job.DBL = FOptions.DBL;
        job.FrameType = FOptions.FrameType;
        job.EdgeType = FOptions.EdgeType;
        job.Eyes = FOptions.Eyes;
        job.Format = FReport.Format;
        job.WithZ = FOptions.Device.WithZ;
        std::vector<std::string> lines = JobPacketLines(job, shape);
        constexpr std::size_t kJobLine = 1; // REQ=TRC comes first, JOB second

        for (long long i = 0; i < FOptions.Jobs; ++i) {
            const std::string jobNumber = std::to_string(FOptions.FirstJob + i);
            if (i > 0 && FOptions.DelayMs > 0) {
                FStep = "before job " + jobNumber;
                try {
                    Pause(FOptions.DelayMs);
                } catch (const ELineClosed& e) {
                    AwaitReopened(e);
                    Introduce();
                }
            }
            if (FOptions.Cycle) {
                // A demonstration: every encoding and a few outlines, one after the other.
                static constexpr TShapeKind kKinds[] = {skEllipse, skRoundRect, skCircle};
                TShapeParams params = FOptions.Shape;
                params.Kind = kKinds[i % 3];
                shape = MakeJobShape(params, FReport.Points, nullptr);
                job.Format = static_cast<int>(i % 4) + 1;
                lines = JobPacketLines(job, shape);
            }
            lines[kJobLine] = "JOB=" + jobNumber;
            std::vector<std::string> acceptable{ReplyBytes(JobReplyLines(jobNumber))};
            // A program that has not been initialised adopts the tracer with its first job and
            // then also names the formats; one that was initialised before need not. A line that
            // may be closed and opened again may have been so between two packets too quickly to
            // be seen (a restart, the program's settings): the program then adopts the tracer anew.
            if ((!FOptions.Init && i == 0) || FOptions.ReopenWaitMs > 0) {
                const std::string trc = ExpectedFormatAnswer(lines, "TRCFMT", FOptions.MaxNumPoints);
                const std::string z =
                    job.WithZ ? ExpectedFormatAnswer(lines, "ZFMT", FOptions.MaxNumPoints) : std::string();
                acceptable.push_back(ReplyBytes(JobReplyLines(jobNumber, trc, z)));
            }
            double latencyMs = 0;
            try {
                Exchange("job " + jobNumber, FramePacket(lines), acceptable,
                         FOptions.MeasureLatency ? &latencyMs : nullptr);
            } catch (const ELineClosed& e) {
                AwaitReopened(e);
                // It may be another program, or one started anew: introduce the tracer again.
                Introduce();
                continue;
            }
            ++FReport.JobsDone;
            if (FOptions.MeasureLatency)
                FReport.LatencyMs.push_back(latencyMs);
            if (FOptions.Progress)
                FOptions.Progress("job " + jobNumber + ": OK" +
                                  (FOptions.MeasureLatency ? ", " + FormatFixed(latencyMs, 3) + " ms" : ""));
        }
        WatchForStrayBytes();
    }

private:
    // The conversation's start: REQ=INF and the initialisation, as asked. A line closed meanwhile
    // (the program's settings, a restart) starts it again once the line is open again.
    void Introduce() {
        for (;;) {
            try {
                if (FOptions.SendInf)
                    Exchange("REQ=INF", FramePacket(InfRequestLines()), {LoneAck()});
                if (FOptions.Init)
                    Initialise();
                return;
            } catch (const ELineClosed& e) {
                AwaitReopened(e);
            }
        }
    }

    // A pause between jobs that watches the line: a program that closes it meanwhile is met as at
    // any other step, and bytes it sends unasked are an error.
    void Pause(int ms) {
        const auto deadline = TClock::now() + std::chrono::milliseconds(ms);
        for (int left = ms; left > 0; left = RemainingMs(deadline)) {
            if (!FLine.WaitReadable(left))
                continue;
            if (FLine.Read(FPending) == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 5)));
            if (!FPending.empty())
                throw ESimError(FStep + ": unexpected bytes " + RenderOneLine(FPending));
        }
    }

    // The program closed its port during the step FStep and may open it again: waits for that
    // (ReopenWaitMs), or raises the closing when the run may not wait or the line does not come
    // back.
    void AwaitReopened(const ELineClosed& closed) {
        if (FOptions.ReopenWaitMs <= 0)
            throw closed;
        if (FOptions.Progress)
            FOptions.Progress(FStep + ": the line was closed; waiting for it to be opened again");
        if (!FLine.AwaitReopened(FOptions.ReopenWaitMs))
            throw ESimError(std::string(closed.what()) + ", and it was not opened again within " +
                            std::to_string(FOptions.ReopenWaitMs) + " ms");
        FPending.clear();
        if (FOptions.Progress)
            FOptions.Progress(FStep + ": the line is open again");
    }

    void Initialise() {
        Exchange("REQ=INI", FramePacket(IniRequestLines()), {ReplyBytes(IniRequestReplyLines())});
        const std::vector<std::string> initReply = InitReplyLines(FOptions.Device, FOptions.MaxNumPoints);
        Exchange("initialisation packet", FramePacket(InitPacketLines(FOptions.Device)), {ReplyBytes(initReply)});
        for (const std::string& record : initReply)
            if (record.starts_with("TRCFMT="))
                FReport.TraceFormat = record.substr(7);
    }

    // The format and point count of the jobs: as asked, else as the program chose, else 1 and 400.
    void ChooseFormat() {
        const std::vector<std::string> chosen = SplitFields(FReport.TraceFormat);
        int format = 1;
        std::size_t points = 400;
        if (chosen.size() >= 2 && chosen[0].size() == 1 && chosen[0][0] >= '1' && chosen[0][0] <= '4') {
            format = chosen[0][0] - '0';
            int32_t count = 0;
            if (TryStrToInt(chosen[1], count) && count >= 1 && static_cast<std::size_t>(count) <= kLargestPointCount)
                points = static_cast<std::size_t>(count);
        }
        FReport.Format = FOptions.Format != 0 ? FOptions.Format : format;
        FReport.Points = FOptions.Points != 0 ? FOptions.Points : points;
    }

    // Sends one packet and checks its reply; every failure is reported with the step's name.
    void Exchange(const std::string& step, const std::string& packet, const std::vector<std::string>& acceptable,
                  double* latencyMs = nullptr) {
        FStep = step;
        try {
            Send(packet);
            const auto sentAt = TClock::now();
            const std::string reply = AwaitReply(acceptable.front(), sentAt, latencyMs);
            if (const std::string problem = CheckReply(reply, acceptable); !problem.empty())
                throw ESimError("wrong reply: " + problem);
        } catch (const ELineClosed& e) {
            throw ELineClosed(step + ": " + e.what());
        } catch (const ESimError& e) {
            throw ESimError(step + ": " + e.what());
        }
    }

    void Send(const std::string& packet) {
        if (FOptions.NoiseBytes == 0 || FOptions.MeasureLatency) {
            FLine.Write(packet, FOptions.TimeoutMs);
            return;
        }
        // The program must find the packet whether the junk before it arrives on its own or
        // glued to the packet's first byte.
        const std::string noise = Noise();
        if (std::bernoulli_distribution(0.5)(FRandom)) {
            FLine.Write(noise, FOptions.TimeoutMs);
            FLine.Write(packet, FOptions.TimeoutMs);
        } else {
            FLine.Write(noise + packet, FOptions.TimeoutMs);
        }
    }

    // Bytes a real line carries between packets: the tracer's own ACK and NAK and other junk,
    // but never FS or GS, which would frame a packet of their own.
    std::string Noise() {
        std::uniform_int_distribution<int> kind(0, 3), byte(0, 255);
        std::string noise;
        noise.reserve(FOptions.NoiseBytes);
        while (noise.size() < FOptions.NoiseBytes) {
            const int k = kind(FRandom);
            const char c = k == 0 ? oma::ACK : k == 1 ? oma::NAK : static_cast<char>(byte(FRandom));
            if (c != oma::FS && c != oma::GS)
                noise.push_back(c);
        }
        return noise;
    }

    // Reads one reply: bytes up to and including the first GS, or the first byte alone when it is
    // the ACK that answers REQ=INF. Bytes read beyond the reply are an error of their own.
    std::string AwaitReply(const std::string& expected, TClock::time_point sentAt, double* latencyMs) {
        const bool loneAck = expected.size() == 1;
        const auto deadline = sentAt + std::chrono::milliseconds(FOptions.TimeoutMs);
        bool first = true;
        auto completeAt = [&]() -> std::size_t {
            if (FPending.empty())
                return std::string::npos;
            if (loneAck && FPending.front() == oma::ACK)
                return 1;
            const std::size_t gs = FPending.find(oma::GS);
            return gs == std::string::npos ? std::string::npos : gs + 1;
        };
        std::size_t end = completeAt();
        while (end == std::string::npos) {
            const int left = RemainingMs(deadline);
            if (left == 0)
                throw ESimError(
                    "no reply within " + std::to_string(FOptions.TimeoutMs) + " ms" +
                    (FPending.empty() ? std::string() : " (received only " + RenderOneLine(FPending) + ")") +
                    "; expected " + RenderOneLine(expected, 120));
            if (!FLine.WaitReadable(left))
                continue;
            if (first && latencyMs != nullptr)
                *latencyMs = MillisecondsSince(sentAt);
            first = false;
            FLine.Read(FPending);
            end = completeAt();
        }
        std::string reply = FPending.substr(0, end);
        FPending.erase(0, end);
        // The program answers each packet exactly once and says nothing unasked.
        try {
            if (FPending.empty() && FLine.WaitReadable(0))
                FLine.Read(FPending);
        } catch (const ELineClosed&) {
            // The reply came whole before the line was closed; the next step finds it closed.
        }
        if (!FPending.empty())
            throw ESimError("unexpected bytes after the reply " + RenderOneLine(reply, 120) + ": " +
                            RenderOneLine(FPending));
        return reply;
    }

    void WatchForStrayBytes() {
        try {
            if (FPending.empty() && FLine.WaitReadable(FOptions.LingerMs))
                FLine.Read(FPending);
        } catch (const ELineClosed&) {
            // Every job has its answer; a line that may be closed and opened again can say
            // nothing more once closed.
            if (FOptions.ReopenWaitMs <= 0)
                throw;
        }
        if (!FPending.empty())
            throw ESimError("after the last reply: unexpected bytes " + RenderOneLine(FPending));
    }

    TSimTransport& FLine;
    const TSimOptions& FOptions;
    TSimReport& FReport;
    std::mt19937 FRandom;
    std::string FPending; // bytes read but not yet taken as a reply
    std::string FStep;    // the exchange under way, named as in messages
};

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty())
        return 0;
    const double position = p * static_cast<double>(sorted.size() - 1);
    const auto lower = static_cast<std::size_t>(std::floor(position));
    const std::size_t upper = std::min(lower + 1, sorted.size() - 1);
    const double f = position - static_cast<double>(lower);
    return sorted[lower] + (sorted[upper] - sorted[lower]) * f;
}

double Microseconds(double ms) {
    return std::round(ms * 1000.0) / 1000.0;
}

} // namespace

int RunConversation(TSimTransport& line, const TSimOptions& options, TSimReport& report) {
    try {
        TConversation(line, options, report).Run();
        return 0;
    } catch (const std::exception& e) {
        report.Error = e.what();
        return 1;
    }
}

TLatencySummary SummarizeLatency(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    TLatencySummary s;
    s.Count = samples.size();
    s.MedianMs = Percentile(samples, 0.5);
    s.P90Ms = Percentile(samples, 0.9);
    s.P99Ms = Percentile(samples, 0.99);
    s.MaxMs = samples.empty() ? 0 : samples.back();
    return s;
}

std::string LatencyJson(const TLatencySummary& summary) {
    return json::Object()
        .Num("jobs", static_cast<double>(summary.Count))
        .Num("median_ms", Microseconds(summary.MedianMs))
        .Num("p90_ms", Microseconds(summary.P90Ms))
        .Num("p99_ms", Microseconds(summary.P99Ms))
        .Num("max_ms", Microseconds(summary.MaxMs))
        .Str();
}

} // namespace sim
