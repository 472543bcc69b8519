// Fuzz target: a packet as the protocol handler hands it to the program, any bytes at all. It
// becomes record lines, the vendor, the captured trace formats, the cleaned job number and the
// name of the job file, which must stay a visible file inside the traces folder.
#include "app/core/JobFile.h"
#include "app/core/JobIntake.h"

#include "FuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view packet(reinterpret_cast<const char*>(data), size);
    const TRecordList records = PacketToRecords(packet);
    for (const std::string& line : records.Lines()) {
        FUZZ_CHECK(!line.empty());
        for (const char c : line)
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) <= 127);
    }

    std::string vendor = "unchanged";
    if (FindVendor(records, vendor))
        FUZZ_CHECK(!vendor.empty() && vendor.find_first_of(" \t\r\n") == std::string::npos);
    else
        FUZZ_CHECK(vendor == "unchanged");

    const TTraceFormats formats = CaptureTraceFormats(records);
    FUZZ_CHECK(formats.Rt.size() <= 99 && formats.Lt.size() <= 99);

    const std::string number = CleanJobDigits(records.Value("JOB"));
    if (!number.empty())
        FUZZ_CHECK(number.front() >= '1' && number.front() <= '9' && number.back() >= '0' && number.back() <= '9');

    TRecordList job = records;
    job.SetValue("JOB", number);
    const std::string folder = "/nonexistent-traces-folder";
    const std::string name = TraceFileName(folder, job);
    FUZZ_CHECK(name.compare(0, folder.size() + 1, folder + "/") == 0);
    const std::string file = name.substr(folder.size() + 1);
    FUZZ_CHECK(file.find('/') == std::string::npos && !file.empty() && file.front() != '.');
    FUZZ_CHECK(file.size() > 4 && file.compare(file.size() - 4, 4, ".txt") == 0);
    return 0;
}
