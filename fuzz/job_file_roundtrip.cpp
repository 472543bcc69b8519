// Fuzz target: a job written, reopened and written again without a change gives the same file.
// The job comes either from a tracer packet (its records, its trace blocks decoded as the
// protocol handler decodes them) or from any bytes opened as a trace file.
//
// Input: byte 0 bit 0 picks the source (packet or file), bit 1 "shape modified" for the first
// write, bits 2-3 the frame selection (none, "1".."3"), bits 4-6 the edge selection (none, "-1",
// "1".."4", none); the rest is the packet or the file.
#include "app/core/JobFile.h"
#include "app/core/JobIntake.h"
#include "app/core/TextFile.h"
#include "app/core/TraceImport.h"
#include "common/Errors.h"
#include "protocol/TraceFormats.h"

#include "FuzzCheck.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {
// The job as the program holds it after a tracer sent the packet; nothing when the packet's
// trace blocks are refused.
std::optional<TRecordList> JobFromPacket(std::string_view packet) {
    TRecordList job = PacketToRecords(packet);
    TEyeRec right, left;
    try {
        DecodeTraceBlocks(job, right, left);
    } catch (const Exception&) {
        return std::nullopt;
    }
    job.SetValue("_RtTrace", right.Radii);
    job.SetValue("_LtTrace", left.Radii);
    job.SetValue("JOB", CleanJobDigits(job.Value("JOB")));
    return job;
}

// The points of a trace as the file holds them, without the record syntax.
std::string WrittenDigits(const std::string& trace) {
    TRecordList records;
    AddRadiiRecords(records, trace);
    std::string digits;
    for (const std::string& line : records.Lines())
        for (const char c : std::string_view(line).substr(2))
            if (c != ';')
                digits.push_back(c);
    return digits;
}

// The file's bytes as they would be on disk, read back as the program opens them.
TRecordList Reopen(const TRecordList& written, const std::string& fileName) {
    return JobFromTraceFile(SplitLines(JoinLinesCRLF(written)), fileName);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::optional<TRecordList> job;
    if (control & 1)
        job = JobFromTraceFile(SplitLines(text), "/traces/7.txt");
    else
        job = JobFromPacket(text);
    if (!job)
        return 0;

    TJobFileInputs inputs;
    inputs.ShapeModified = (control & 2) != 0;
    if (const int frame = (control >> 2) & 3)
        inputs.FrameKey = std::to_string(frame);
    static const char* const edges[] = {nullptr, "-1", "1", "2", "3", "4", nullptr, nullptr};
    if (const char* edge = edges[(control >> 4) & 7])
        inputs.EdgeKey = edge;

    const std::string fileName = TraceFileName("/traces", *job);
    TTraceFormats formats = CaptureTraceFormats(*job);
    inputs.RtTraceFmt = formats.Rt;
    inputs.LtTraceFmt = formats.Lt;
    TRecordList first;
    try {
        first = BuildTraceFileRecords(*job, inputs);
    } catch (const Exception&) {
        return 0;
    }

    const TRecordList reopened = Reopen(first, fileName);
    // Point for point: each eye written reads back as the writer's four digits per point.
    FUZZ_CHECK(reopened.Value("_RtTrace") == (inputs.RtTraceFmt >= "1" ? WrittenDigits(job->Value("_RtTrace")) : ""));
    FUZZ_CHECK(reopened.Value("_LtTrace") == (inputs.LtTraceFmt >= "1" ? WrittenDigits(job->Value("_LtTrace")) : ""));
    formats = CaptureTraceFormats(reopened);
    inputs.RtTraceFmt = formats.Rt;
    inputs.LtTraceFmt = formats.Lt;
    inputs.ShapeModified = false;
    TRecordList second;
    try {
        second = BuildTraceFileRecords(reopened, inputs);
    } catch (const Exception&) {
        // The first write measured the same points; the reopened job must measure too.
        FUZZ_CHECK(false);
    }
    FUZZ_CHECK(JoinLinesCRLF(second) == JoinLinesCRLF(first));
    return 0;
}
