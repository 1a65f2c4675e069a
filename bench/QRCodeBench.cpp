#include "core/Utils.h"

#include <QString>
#include <benchmark/benchmark.h>

// One pairing image as the main window makes it: a machine-information document of about 200 characters
// in a 200 by 200 image.
static void BM_GenerateQRCodeMachineInfo(benchmark::State& state) {
    const QString text = QString::fromUtf8(
        R"js({"MachineName":"Conference Room Mac","MachineId":"3F2A9C1B7D4E4A6F8B0C1D2E3F4A5B6C",)js"
        R"js("PcAppVersion":"1.0.0","OsVersion":"macOS Version 14.4.1 (Build 23E224)","OfficeVersion":"",)js"
        R"js("IpAddressList":["192.168.1.20","10.0.0.5"]})js");
    for (auto _ : state) {
        QImage image = Utils::GenerateQRCode(text, 200, 200);
        if (image.isNull()) {
            state.SkipWithError("no image");
            break;
        }
        benchmark::DoNotOptimize(image);
    }
    state.counters["chars"] = double(text.size());
}
BENCHMARK(BM_GenerateQRCodeMachineInfo)->Unit(benchmark::kMicrosecond);
