// What the window benchmarks share: timing a window from creation to its first complete paint,
// and reporting the slowest against a budget.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>

// Each iteration times a window that `open` makes over a shown owner, from creation to its first
// complete paint; closing it is left out of the time. The slowest, in ms.
inline double SlowestToUsableWindow(benchmark::State& state,
                                    const std::function<std::unique_ptr<QWidget>(QWidget* owner)>& open) {
    QWidget owner;
    owner.resize(640, 480);
    owner.show();
    QApplication::processEvents();
    double slowest = 0.0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        std::unique_ptr<QWidget> window = open(&owner);
        QApplication::processEvents();
        benchmark::DoNotOptimize(window->grab());
        const double msecs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        state.SetIterationTime(msecs / 1000.0);
        slowest = std::max(slowest, msecs);
        window.reset();
    }
    return slowest;
}

// The slowest and the budget as counters; a run over the budget is reported as an error.
inline void SetBudgetResult(benchmark::State& state, double slowest, double budget, const char* message) {
    state.counters["slowest_ms"] = slowest;
    state.counters["budget_ms"] = budget;
    if (slowest >= budget)
        state.SkipWithError(message);
}
