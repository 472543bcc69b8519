// The tracer's side of the OMA conversation, run over any transport: REQ=INF, REQ=INI, the
// initialisation packet and the job packets, each reply awaited and checked against the protocol.
// The same run serves the command-line tool, the tests and in-process benchmarks.
#pragma once

#include "Packets.h"
#include "Shapes.h"
#include "Transport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct TSimOptions {
    TDeviceParams Device;
    bool SendInf = false;        // REQ=INF first, answered by a lone ACK
    bool Init = true;            // REQ=INI and the initialisation packet before the jobs
    uint16_t MaxNumPoints = 512; // the program's, for the format answers we expect
    TShapeParams Shape;          // the outline sent with every job
    double DBL = 18.0;           // mm
    int FrameType = 1;           // FTYP
    int EdgeType = 1;            // ETYP
    long long FirstJob = 1;      // JOB of the first job, one more for each further job
    long long Jobs = 1;          // number of job packets
    int DelayMs = 0;             // pause between jobs
    TSimEyes Eyes = seBoth;      // which eyes each job carries
    int Format = 0;              // 1 to 4; 0: the format the program chose, else 1
    bool Cycle = false;          // job after job: formats 1, 2, 3, 4 and the three built-in shapes in turn
    std::size_t Points = 0;      // per eye; 0: the count the program chose, else 400
    std::size_t NoiseBytes = 0;  // junk (never FS or GS) written before every packet
    uint32_t Seed = 1;           // for the noise
    int TimeoutMs = 5000;        // for each reply, and for each write
    int LingerMs = 0;            // after the last reply, how long to watch for unexpected bytes
    int ReopenWaitMs = 0;        // a line the program closes at any step: wait this long for it to be
                                 // opened again, start the conversation again (REQ=INF, REQ=INI
                                 // as asked) and go on with the next job; 0 ends the run
    bool MeasureLatency = false; // one write() per packet, no noise, a latency sample per job
    std::function<void(const std::string& line)> Progress; // one line per job when set
};

struct TSimReport {
    long long JobsDone = 0;  // jobs whose reply was right
    std::string TraceFormat; // the program's TRCFMT answer to the initialisation packet
    int Format = 0;          // the format and point count the jobs were sent in
    std::size_t Points = 0;
    std::vector<double> LatencyMs; // per job, with MeasureLatency
    std::string Error;             // one line when the run failed
};

// Runs the whole conversation. Returns 0 when every reply was right, 1 otherwise (with the reason
// in report.Error, naming the step: "REQ=INI", "initialisation packet", "job 17").
int RunConversation(TSimTransport& line, const TSimOptions& options, TSimReport& report);

struct TLatencySummary {
    std::size_t Count = 0;
    double MedianMs = 0;
    double P90Ms = 0;
    double P99Ms = 0;
    double MaxMs = 0;
};

// Percentiles by linear interpolation between the nearest ranks.
TLatencySummary SummarizeLatency(std::vector<double> samples);
// {"jobs":…,"median_ms":…,"p90_ms":…,"p99_ms":…,"max_ms":…}, times to the microsecond.
std::string LatencyJson(const TLatencySummary& summary);

} // namespace sim
