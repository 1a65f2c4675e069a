// Datagrams through the LAN endpoint's handler into the command executor: discovery, pairing and every
// command type, with the input, the programs and the network all recorded instead of acted on. The
// input is split at line feeds into datagrams from one phone.
#include "presentation/PowerPointHelper.h"
#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "RecordingEventPoster.h"
#include "TestBundle.h"

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

// Runs nothing and keeps nothing, so that no input leaves anything behind for the next.
class InertCommandRunner : public platform::CommandRunner {
public:
    platform::CommandResult run(const QString&, const QStringList&, std::chrono::milliseconds) override {
        return {};
    }
    bool startDetached(const QString&, const QStringList&) override { return false; }
};

// What every input shares: the bundle, the cache folder, the host's facts, the presentation bridge
// (its scripts answer nothing) and the stand-ins for input and programs, which the computer-control
// singleton takes once. Each input starts them over (below).
struct Stage {
    Stage() {
        // With no TZ, every local time made re-reads the zone into a new string, which looks like a
        // leak to libFuzzer and costs each input a leak search.
        qputenv("TZ", "UTC");
        bundle.makeMain();
        platform::Platform::setAlerts(std::make_shared<RecordingAlerts>());
        auto facts = std::make_shared<FakeHostFacts>();
        facts->interfaces = std::vector<platform::InterfaceAddress>{};
        platform::Platform::setHostFacts(facts);
        platform::Platform::setEventPoster(poster);
        platform::Platform::setCommandRunner(std::make_shared<InertCommandRunner>());
        scripts->answerText("getPdfPath", cache.path() + "/");
        presentation = PowerPointHelper::create({scripts, std::make_shared<InertCommandRunner>(),
                                                 QStringLiteral("com.brisvane.PodiumCastForMac"), 1e9});
    }
    TestBundle bundle{{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"}}};
    QTemporaryDir cache;
    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<PowerPointHelper> presentation;
};

// A fresh service for each input: nothing paired, no id seen, no drag going on, nothing recorded.
// Nothing here may reach the machine: no real input, no program, no bundle script.
struct World {
    explicit World(Stage& s)
        : stage(s) {
        stage.poster->clear();
        stage.scripts->clearRuns();
        stage.presentation->setIsAllowGeneratePDF(true); // as the flavour starts
        network = std::make_unique<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
            transport,
            [this](const std::optional<QString>& c, const std::optional<QString>& h) {
                executor->executeCommand(c, h);
            },
            [this]() -> PowerPointHelper& {
                return *stage.presentation;
            }});
        executor = std::make_unique<SWDMacCommandManager>(SWDMacCommandManager::Collaborators{
            network.get(), [this]() -> PowerPointHelper& { return *stage.presentation; },
            [] {
            }});
    }
    ~World() { stage.poster->clear(); }
    Stage& stage;
    std::shared_ptr<FakeDatagramTransport> transport = std::make_shared<FakeDatagramTransport>();
    std::unique_ptr<SWDMacNetworkManager> network;
    std::unique_ptr<SWDMacCommandManager> executor;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Stage* stage = new Stage;
    {
        World world(*stage);
        const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
        for (const QByteArray& datagram : input.split('\n'))
            world.network->didReceiveData(datagram.left(9216), QStringLiteral("10.0.0.2"), 40000);
    }
    return 0;
}
