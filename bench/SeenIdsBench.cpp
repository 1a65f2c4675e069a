// What the executor's seen-id table costs: time per distinct id, and heap bytes per million ids.
#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include "platform/EventPoster.h"

#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "TestBundle.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

namespace {

// Heap in use, mapped blocks (large allocations) included.
double heapInUse() {
    const auto info = mallinfo2();
    return double(info.uordblks) + double(info.hblkhd);
}

// Posts nothing and keeps nothing, so that the heap shows the table alone.
class DiscardingPoster : public platform::EventPoster {
public:
    bool canPost() const override { return true; }
    QPointF cursorLocation() override { return {}; }
    void warpCursor(QPointF) override {}
    bool post(const platform::InputEvent&) override { return true; }
};

// Only the ids of commands that ran are recorded, so the phone is paired first.
void BM_DistinctIdsWhilePaired(benchmark::State& state) {
    const TestBundle bundle({{"CFBundleIdentifier", "com.brisvane.SlideWandForMac"}});
    bundle.makeMain();
    SWDMacNetworkManager network({std::make_shared<FakeDatagramTransport>(),
                                  {},
                                  {},
                                  std::make_shared<FakeHostFacts>(),
                                  std::make_shared<CloudHttpClient>()});
    SWDMacCommandManager executor(
        {&network, {}, {}, std::make_shared<DiscardingPoster>(), nullptr, Flavour::SlideWand});
    executor.executeCommand(QStringLiteral("|connect|bench,Bench Phone"), std::nullopt);
    qint64 next = 0;
    const double heapBefore = heapInUse();
    for (auto _ : state)
        executor.executeCommand(
            QString::number(next++) + QStringLiteral("|click|long arguments are not kept"), std::nullopt);
    const double bytes = heapInUse() - heapBefore;
    state.counters["ids"] = double(executor.seenCommandIdCount());
    state.counters["bytes_per_million_ids"] = bytes / double(executor.seenCommandIdCount()) * 1e6;
    state.counters["heap_bytes"] = bytes;
}
// A million ids, then three: the table keeps the most recent ones only, so the heap stops growing.
BENCHMARK(BM_DistinctIdsWhilePaired)->Iterations(1000000);
BENCHMARK(BM_DistinctIdsWhilePaired)->Iterations(3000000);

} // namespace
