// The list of recent jobs over a traces folder of 10,000 job trace files: listing the folder
// (names and times), and the window from creation to its first complete paint, which reads the
// files of the rows in view (budget 1000 ms). Runs on the offscreen platform unless another is
// asked for.
#include "TraceText.h"
#include "WidgetBench.h"
#include "app/core/JobFile.h"
#include "app/core/RecentJobs.h"
#include "app/dialogs/RecentJobsForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr int kJobs = 10000;
constexpr double kBudgetMsecs = 1000.0;

// A folder of job trace files as the program writes them: 400 points of the right eye and 400
// of the left, the tracer's records, one file a minute back from now.
class TTracesFolder {
public:
    TTracesFolder() {
        const std::string radii = trace_text::Ellipse(400, 25, 20); // 50 x 40 mm
        TRecordList records;
        for (const char* line : {"REQ=FIL", "VEN=TAKUBO", "MODEL=T1", "DBL=18.00", "HBOX=50.00;50.00",
                                 "VBOX=40.00;40.00", "CIRC=142.00;142.00", "FTYP=1", "ETYP=1"})
            records.Add(line);
        for (const char* header : {"TRCFMT=1;400;E;R;F", "TRCFMT=1;400;E;L;F"}) {
            records.Add(header);
            AddRadiiRecords(records, radii);
        }
        std::string bytes;
        for (const std::string& line : records.Lines())
            bytes += line + "\r\n";
        const auto now = std::filesystem::file_time_type::clock::now();
        for (int i = 0; i < kJobs; ++i) {
            const std::string name = Path() + "/" + std::to_string(100000 + i) + ".txt";
            std::ofstream(name, std::ios::binary) << bytes;
            std::filesystem::last_write_time(name, now - std::chrono::minutes(kJobs - i));
        }
    }
    std::string Path() const { return FDir.path().toStdString(); }

private:
    QTemporaryDir FDir;
};

const TTracesFolder& Folder() {
    static const TTracesFolder folder;
    return folder;
}

void ListingTheFolder(benchmark::State& state) {
    TRecentJobs jobs(Folder().Path());
    for (auto _ : state) {
        jobs.Scan();
        benchmark::DoNotOptimize(jobs.Count());
    }
    state.counters["files"] = static_cast<double>(jobs.Count());
}

// Typing a job number into the search field over the whole folder.
void SearchingTheList(benchmark::State& state) {
    TRecentJobs jobs(Folder().Path());
    jobs.Scan();
    for (auto _ : state)
        benchmark::DoNotOptimize(jobs.Search("1234"));
}

// From creation (which lists the folder) to the first complete paint of its rows.
void WindowToFirstPaint(benchmark::State& state) {
    Folder();
    int rows = 0;
    const double slowest = SlowestToUsableWindow(state, [&rows](QWidget* owner) {
        std::unique_ptr<TRecentJobsForm> form(ShowRecentJobsWindow(owner, Folder().Path()));
        rows = form->JobsView()->model()->rowCount();
        return std::unique_ptr<QWidget>(std::move(form));
    });
    state.counters["rows"] = rows;
    SetBudgetResult(state, slowest, kBudgetMsecs, "the list of 10,000 jobs took a second or more to show");
}

BENCHMARK(ListingTheFolder)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(SearchingTheList)->Unit(benchmark::kMicrosecond);
BENCHMARK(WindowToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
