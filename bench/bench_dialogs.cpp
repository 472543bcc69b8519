// Time to a usable window: the settings dialog from creation to painted on screen (budget 100 ms,
// whatever the port probe still does), and the log window holding a full log of 1200 lines (budget
// 1000 ms). Runs on the offscreen platform unless another is asked for.
#include "WidgetBench.h"
#include "app/core/CommLog.h"
#include "app/dialogs/SettingsForm.h"
#include "app/dialogs/ShowLog.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThreadPool>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <pty.h>
#include <unistd.h>

namespace {

constexpr double kSettingsBudgetMsecs = 100.0;
constexpr double kLogBudgetMsecs = 1000.0;

// A device folder of many real pseudo-terminals, so the probe has work while the dialog opens.
class TPtyFolder {
public:
    explicit TPtyFolder(int count) {
        for (int i = 0; i < count; ++i) {
            int master = -1, slave = -1;
            char name[128] = {};
            if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
                break;
            FDescriptors.push_back(master);
            FDescriptors.push_back(slave);
            const std::string link = FDir.path().toStdString() + "/ttyUSB" + std::to_string(i);
            if (::symlink(name, link.c_str()) != 0)
                break;
        }
    }
    ~TPtyFolder() {
        for (int fd : FDescriptors)
            ::close(fd);
    }
    std::string Path() const { return FDir.path().toStdString(); }

private:
    QTemporaryDir FDir;
    std::vector<int> FDescriptors;
};

// From creation to the first complete paint; the probe runs meanwhile on a pool thread.
void SettingsDialogToUsableWindow(benchmark::State& state, const std::string& deviceFolder) {
    const double slowest = SlowestToUsableWindow(state, [&](QWidget* owner) {
        auto form = std::make_unique<TSettingsForm>(owner);
        form->SetDeviceFolder(deviceFolder);
        form->FCurrentPort = deviceFolder + "/ttyUSB3";
        form->SelectBaudRate("9600");
        form->SelectBackColor(16776960);
        form->SelectTraceColor(16777215);
        form->show();
        return form; // destroying it cancels the probe; waits at most for the one port being opened
    });
    QThreadPool::globalInstance()->waitForDone();
    SetBudgetResult(state, slowest, kSettingsBudgetMsecs, "the settings dialog took 100 ms or more to open");
}

void SettingsDialogProbingDev(benchmark::State& state) {
    SettingsDialogToUsableWindow(state, "/dev");
}

void SettingsDialogProbing64Ptys(benchmark::State& state) {
    static TPtyFolder folder(64);
    SettingsDialogToUsableWindow(state, folder.Path());
}

// The probe itself, start to filled list, for comparison: it may take longer than the window.
void SettingsDialogPortsFilled64Ptys(benchmark::State& state) {
    static TPtyFolder folder(64);
    QWidget owner;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        TSettingsForm form(&owner);
        form.SetDeviceFolder(folder.Path());
        form.show();
        while (!form.PortsProbed())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        state.counters["ports"] = form.COMPortComboBox()->count();
    }
}

// A busy day's log: packets of one record a line, up to the cap.
void FillBusyLog() {
    CommLog().Clear();
    while (CommLog().Count() < TCommLog::MaxLines) {
        CommLog().Add(InFromTracerEntry("<fs>REQ=TRC<cr><lf>\rJOB=000123<cr><lf>\rDBL=18.00<cr><lf>\r"
                                        "R=2512;2498;2475;2450;2431;2410;2398;2387;2379<cr><lf>\r<rs>CRC=12345<gs>"));
        CommLog().Add(OutToTracerEntry("<ack><fs>ANS=TRC<cr><lf>\rJOB=000123<cr><lf>\rSTATUS=0<cr><lf>\r<gs>"));
    }
}

void LogWindowWithFullLog(benchmark::State& state) {
    FillBusyLog();
    const double slowest =
        SlowestToUsableWindow(state, [](QWidget* owner) { return std::unique_ptr<QWidget>(ShowLogWindow(owner)); });
    state.counters["lines"] = static_cast<double>(CommLog().Count());
    SetBudgetResult(state, slowest, kLogBudgetMsecs, "the log window took a second or more to open");
}

BENCHMARK(SettingsDialogProbingDev)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(SettingsDialogProbing64Ptys)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(SettingsDialogPortsFilled64Ptys)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(LogWindowWithFullLog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace
