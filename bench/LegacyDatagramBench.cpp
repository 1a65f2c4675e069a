// What one datagram costs the legacy window, from its bytes to the posted events and the log line, on a
// socket that goes nowhere and a poster that posts nothing. Run with standard error sent to /dev/null:
// every datagram writes its log line there.
#include "legacy/ViewController/ViewController.h"

#include "Fakes.h"
#include "platform/EventPoster.h"

#include <benchmark/benchmark.h>

namespace {

struct NowhereSocket : UdpSocket {
    std::optional<QString> bindToPort(quint16) override { return std::nullopt; }
    void receiveOne() override {}
    void sendData(const QByteArray&, const QString&, quint16) override {}
    void close() override {}
};

void BM_Datagram(benchmark::State& state, const QByteArray& datagram) {
    ViewController window({std::make_shared<platform::NullEventPoster>(), std::make_shared<FakeHostFacts>(),
                           std::make_shared<RecordingAlerts>(), [](UdpSocket::Delegate) {
                               return std::make_unique<NowhereSocket>();
                           }});
    NowhereSocket socket;
    const QString host = QStringLiteral("10.0.0.9");
    for (auto _ : state)
        window.onUdpSocket(socket, datagram, host, 4690);
    state.SetBytesProcessed(state.iterations() * datagram.size());
}
BENCHMARK_CAPTURE(BM_Datagram, check, QByteArray("check"));
BENCHMARK_CAPTURE(BM_Datagram, key, QByteArray("cmd|{DOWN}"));
BENCHMARK_CAPTURE(BM_Datagram, move8, QByteArray("move|{-99999999999,601}"));
BENCHMARK_CAPTURE(BM_Datagram, notUtf8, QByteArray(9216, '\xff'));
BENCHMARK_CAPTURE(BM_Datagram, text9216, QByteArray(9216, 'a'));

} // namespace
