// Datagrams through the LAN endpoint's handler into the command executor: discovery, pairing and every
// command type, with the input, the programs and the network all recorded instead of acted on. The
// input is split at line feeds into datagrams from one phone.
#include "platform/Bundle.h"
#include "presentation/PowerPointHelper.h"
#include "remote/ComputerControlManager.h"
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

struct World {
    World() {
        // Nothing here may reach the machine: no real input, no program, no bundle script.
        bundle.makeMain();
        platform::Platform::setAlerts(std::make_shared<RecordingAlerts>());
        scripts->answerText("getPdfPath", cache.path() + "/");
        presentation = PowerPointHelper::create(
            {scripts, commands, std::make_shared<FakeHostFacts>(), Flavour::PodiumCast, 1e9});
        network = std::make_unique<SWDMacNetworkManager>(SWDMacNetworkManager::Collaborators{
            transport,
            [this](const std::optional<QString>& c, const std::optional<QString>& h) {
                executor->executeCommand(c, h);
            },
            [this]() -> PowerPointHelper& { return *presentation; }, std::make_shared<FakeHostFacts>()});
        executor = std::make_unique<SWDMacCommandManager>(SWDMacCommandManager::Collaborators{
            network.get(), [this]() -> PowerPointHelper& { return *presentation; }, [] {}, poster,
            &computerControl, Flavour::PodiumCast});
    }
    TestBundle bundle{{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"}}};
    QTemporaryDir cache;
    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    std::shared_ptr<RecordingCommandRunner> commands = std::make_shared<RecordingCommandRunner>();
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<FakeDatagramTransport> transport = std::make_shared<FakeDatagramTransport>();
    ComputerControlManager computerControl{
        {commands, scripts, poster, std::make_shared<platform::Bundle>(bundle.path())}};
    std::shared_ptr<PowerPointHelper> presentation;
    std::unique_ptr<SWDMacNetworkManager> network;
    std::unique_ptr<SWDMacCommandManager> executor;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& datagram : input.split('\n'))
        world->network->didReceiveData(datagram.left(9216), QStringLiteral("10.0.0.2"), 40000);
    // Recorded events and sends would otherwise pile up over millions of runs.
    world->poster->clear();
    world->transport->clearSent();
    return 0;
}
