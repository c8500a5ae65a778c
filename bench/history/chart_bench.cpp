// The Server tab over a month of polls every 30 seconds (~86,000 samples):
// one query, the series, and the chart drawn. Fails when a drawing takes
// 200 ms or more on average.
#include "bench/history/historyfill.h"
#include "core/timing.h"
#include "editors/formhistory.h"
#include "editors/serverchart.h"
#include "tests/support/db/tempdatabase.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QAreaSeries>
#include <QLineSeries>
#include <cstdio>
#include <ctime>

using namespace palisor;

namespace {

constexpr double TargetMs = 200.0;
double totalMs = 0;
long long drawings = 0;

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QApplication& App()
{
    static int argc = 1;
    static char name[] = "bench_history";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void BM_ServerChartMonth(benchmark::State& state)
{
    App();
    if (qEnvironmentVariableIsEmpty("PALISOR_SCHEMA"))
        qputenv("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
    test::TempDatabase db;
    auto data = db.createDataModule();
    QSqlDatabase connection = data->database();
    const int samples = bench::FillSamples(connection, now(), 30);
    TformHistory window(*data);
    window.resize(1000, 600);
    window.cbPeriod->setCurrentIndex(2);
    window.show();
    QApplication::processEvents();

    double queryMs = 0;
    double queryCpuMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        window.RefreshServer();
        benchmark::DoNotOptimize(window.ServerChart->grab());
        totalMs += double(timer.nsecsElapsed()) / 1e6;
        ++drawings;

        // The query alone, for telling the database's share from the chart's.
        state.PauseTiming();
        timer.restart();
        const double cpu0 = threadCpuMs();
        benchmark::DoNotOptimize(ReadSampleStretches(connection, now().addDays(-30), 30 * 86'400 / TServerChart::Stretches));
        queryMs += double(timer.nsecsElapsed()) / 1e6;
        queryCpuMs += threadCpuMs() - cpu0;
        state.ResumeTiming();
    }
    state.counters["query_ms"] = queryMs / double(state.iterations());
    state.counters["query_cpu_ms"] = queryCpuMs / double(state.iterations());
    state.counters["samples"] = samples;
    state.counters["stretches"] = double(window.ServerChart->Players->upperSeries()->count());
}
BENCHMARK(BM_ServerChartMonth)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (drawings == 0)
        return 0;   // filtered out
    const double mean = totalMs / double(drawings);
    std::printf("Server chart, a month of samples: %.1f ms per drawing (target < %.0f ms)\n", mean, TargetMs);
    return mean < TargetMs ? 0 : 1;
}
