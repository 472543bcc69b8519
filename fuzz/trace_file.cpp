// Fuzz target: a job trace file as the operator may open it, any bytes at all. The file's lines
// become the job, its trace blocks the traces; the job is then written as a trace file would be.
// Only the system's own exceptions (a trace that cannot be measured) may come out.
#include "app/core/JobFile.h"
#include "app/core/JobIntake.h"
#include "app/core/TextFile.h"
#include "app/core/TraceImport.h"
#include "common/Errors.h"

#include "FuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {
bool OnlyDigits(const std::string& text) {
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = SplitLines(text);
    for (const std::string& line : lines)
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);

    const TImportedTraces traces = ParseTraceFileLines(lines);
    FUZZ_CHECK(OnlyDigits(traces.Rt) && OnlyDigits(traces.Lt));

    // The same bytes as a file name: the job number is its last component without extension.
    const std::string number = JobNumberFromFileName(std::string(text));
    FUZZ_CHECK(number.find('/') == std::string::npos);

    const TRecordList job = JobFromTraceFile(lines, "/traces/42.txt");
    FUZZ_CHECK(job.Value("JOB") == "42");
    FUZZ_CHECK(job.Value("_RtTrace") == traces.Rt);
    FUZZ_CHECK(job.Value("_LtTrace") == traces.Lt);

    const TTraceFormats formats = CaptureTraceFormats(job);
    FUZZ_CHECK(formats.Rt.size() <= 99 && formats.Lt.size() <= 99);
    const TJobFileInputs inputs{formats.Rt, formats.Lt, size % 2 == 1, {}, {}};
    try {
        const TRecordList written = BuildTraceFileRecords(job, inputs);
        // What is written reads back as lines of its own: no record may carry a line end.
        FUZZ_CHECK(SplitLines(JoinLinesCRLF(written)) == written.Lines());
    } catch (const Exception&) {
    }
    return 0;
}
