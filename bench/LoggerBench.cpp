// Cost of a log call: one info line through the rolling file sink, and a verbose call that no logger takes.
#include "core/Logger.h"
#include "core/RollingFileSink.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void BM_InfoLineToFile(benchmark::State& state) {
    QTemporaryDir folder;
    Logger::addFileLogger(folder.path(), QStringLiteral("com.example.Bench"), LogLevel::Verbose);
    int slide = 0;
    for (auto _ : state)
        LOG_INFO("lan: slide {} of {} sent to {}", ++slide, 120, "192.168.1.20");
    Logger::removeAllLoggers();
}
BENCHMARK(BM_InfoLineToFile);

void BM_FilteredVerbose(benchmark::State& state) {
    QTemporaryDir folder;
    Logger::addFileLogger(folder.path(), QStringLiteral("com.example.Bench"), LogLevel::Debug);
    int slide = 0;
    for (auto _ : state) {
        LOG_VERBOSE("lan: slide {} of {} sent to {}", ++slide, 120, "192.168.1.20");
        benchmark::DoNotOptimize(slide);
    }
    Logger::removeAllLoggers();
}
BENCHMARK(BM_FilteredVerbose);

} // namespace

BENCHMARK_MAIN();
