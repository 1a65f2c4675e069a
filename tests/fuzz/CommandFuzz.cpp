// Datagrams through the LAN endpoint's handler into the command executor: discovery, pairing and every
// command type, with the input, the programs and the network all recorded instead of acted on. The
// input is split at line feeds into datagrams from one phone. Each input meets a fresh service.
#include "platform/Bundle.h"
#include "presentation/PowerPointHelper.h"
#include "remote/ComputerControlManager.h"
#include "remote/SWDMacCommandManager.h"
#include "remote/SWDMacNetworkManager.h"

#include "FakeDatagramTransport.h"
#include "Fakes.h"
#include "RecordingEventPoster.h"
#include "TestBundle.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// What every input shares: the bundle, the cache folder, the host's facts and the presentation bridge
// (its scripts answer nothing; each input starts it over, below).
struct Stage {
    Stage() {
        // With no TZ, every local time made re-reads the zone into a new string, which looks like a
        // leak to libFuzzer and costs each input a leak search.
        qputenv("TZ", "UTC");
        // Nothing here may reach the machine: no real input, no program, no bundle script.
        bundle.makeMain();
        platform::Platform::setAlerts(std::make_shared<RecordingAlerts>());
        scripts->answerText("getPdfPath", cache.path() + "/");
        presentation = PowerPointHelper::create(
            {scripts, std::make_shared<RecordingCommandRunner>(), facts, Flavour::PodiumCast, 1e9});
    }
    TestBundle bundle{{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"}}};
    std::shared_ptr<platform::Bundle> mainBundle = std::make_shared<platform::Bundle>(bundle.path());
    QTemporaryDir cache;
    std::shared_ptr<FakeHostFacts> facts = std::make_shared<FakeHostFacts>();
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<PowerPointHelper> presentation;
};

// A fresh service and fresh recorders for each input: nothing paired, no id seen, no drag going on,
// nothing recorded. Everything made here is gone when the input ends.
struct World {
    explicit World(Stage& s)
        : stage(s) {
        stage.scripts->clearRuns();
        stage.presentation->setIsAllowGeneratePDF(true); // as the flavour starts
        network = std::make_unique<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
            transport,
            [this](const std::optional<QString>& c, const std::optional<QString>& h) {
                executor->executeCommand(c, h);
            },
            [this]() -> PowerPointHelper& { return *stage.presentation; }, stage.facts});
        executor = std::make_unique<SWDMacCommandManager>(SWDMacCommandManager::Collaborators{
            network.get(), [this]() -> PowerPointHelper& { return *stage.presentation; }, [](bool) {}, poster,
            &computerControl, Flavour::PodiumCast});
    }
    Stage& stage;
    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    std::shared_ptr<RecordingCommandRunner> commands = std::make_shared<RecordingCommandRunner>();
    std::shared_ptr<FakeDatagramTransport> transport = std::make_shared<FakeDatagramTransport>();
    ComputerControlManager computerControl{{commands, stage.scripts, poster, stage.mainBundle}};
    std::unique_ptr<SWDMacNetworkManager> network;
    std::unique_ptr<SWDMacCommandManager> executor;
};

// The stage is never destroyed (the presentation's threads may outlive a static destructor), so its
// folders are removed when libFuzzer ends the process.
QStringList stageFolders;

void removeStageFolders() {
    for (const QString& folder : std::as_const(stageFolders))
        QDir(folder).removeRecursively();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Stage* stage = [] {
        auto* made = new Stage;
        stageFolders = {QFileInfo(made->bundle.path()).absolutePath(), made->cache.path()};
        std::atexit(removeStageFolders);
        return made;
    }();
    World world(*stage);
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& datagram : input.split('\n'))
        world.network->didReceiveData(datagram.left(9216), QStringLiteral("10.0.0.2"), 40000);
    return 0;
}
