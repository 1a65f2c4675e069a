// What the executor's seen-id table costs: time per distinct id, and heap bytes per million ids.
#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "RecordingEventPoster.h"
#include "TestBundle.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

namespace {

void BM_DistinctIdsWhileUnpaired(benchmark::State& state) {
    const TestBundle bundle({{"CFBundleIdentifier", "com.brisvane.SlideWandForMac"}});
    bundle.makeMain();
    SWDMacNetworkManager network({std::make_shared<FakeDatagramTransport>(), {}, {}, std::make_shared<FakeHostFacts>()});
    SWDMacCommandManager executor({&network, {}, {}, std::make_shared<RecordingEventPoster>(), nullptr, Flavour::SlideWand});
    qint64 next = 0;
    const size_t heapBefore = mallinfo2().uordblks;
    for (auto _ : state)
        executor.executeCommand(
            QString::number(next++) + QStringLiteral("|click|long arguments are not kept"), std::nullopt);
    const double bytes = double(mallinfo2().uordblks - heapBefore);
    state.counters["ids"] = double(executor.seenCommandIdCount());
    state.counters["bytes_per_million_ids"] = bytes / double(executor.seenCommandIdCount()) * 1e6;
}
BENCHMARK(BM_DistinctIdsWhileUnpaired)->Iterations(1000000);

} // namespace
