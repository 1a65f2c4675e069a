#include "Platform.h"

#include "Alerts.h"
#include "Bundle.h"
#include "CommandRunner.h"
#include "EventPoster.h"
#include "HostFacts.h"
#include "Workspace.h"
#include "X11EventPoster.h"

#include <mutex>

namespace platform {

namespace {

struct Registry {
    std::mutex mutex;
    std::shared_ptr<Alerts> alerts;
    std::shared_ptr<CommandRunner> commandRunner;
    std::shared_ptr<EventPoster> eventPoster;
    std::shared_ptr<HostFacts> hostFacts;
    std::shared_ptr<Workspace> workspace;
};

Registry& registry() {
    static Registry* r = new Registry; // lives to the end of the process, past static destruction
    return *r;
}

template <typename T, typename Make> std::shared_ptr<T> get(std::shared_ptr<T>& slot, Make make) {
    if (!slot)
        slot = make();
    return slot;
}

} // namespace

std::shared_ptr<Alerts> Platform::alerts() {
    std::lock_guard lock(registry().mutex);
    return get(registry().alerts, [] { return std::make_shared<LoggedAlerts>(); });
}

std::shared_ptr<CommandRunner> Platform::commandRunner() {
    std::lock_guard lock(registry().mutex);
    return get(registry().commandRunner, [] { return std::make_shared<ProcessCommandRunner>(); });
}

std::shared_ptr<EventPoster> Platform::eventPoster() {
    std::lock_guard lock(registry().mutex);
    return get(registry().eventPoster, []() -> std::shared_ptr<EventPoster> {
        if (auto x11 = X11EventPoster::open())
            return x11;
        return std::make_shared<NullEventPoster>();
    });
}

std::shared_ptr<HostFacts> Platform::hostFacts() {
    std::lock_guard lock(registry().mutex);
    return get(registry().hostFacts, [] { return std::make_shared<LinuxHostFacts>(); });
}

std::shared_ptr<Workspace> Platform::workspace() {
    auto runner = commandRunner();
    std::lock_guard lock(registry().mutex);
    return get(registry().workspace,
               [&] { return std::make_shared<LinuxWorkspace>(runner, Bundle::main()->executablePath()); });
}

void Platform::setAlerts(std::shared_ptr<Alerts> alerts) {
    std::lock_guard lock(registry().mutex);
    registry().alerts = std::move(alerts);
}

void Platform::setCommandRunner(std::shared_ptr<CommandRunner> runner) {
    std::lock_guard lock(registry().mutex);
    registry().commandRunner = std::move(runner);
}

void Platform::setEventPoster(std::shared_ptr<EventPoster> poster) {
    std::lock_guard lock(registry().mutex);
    registry().eventPoster = std::move(poster);
}

void Platform::setHostFacts(std::shared_ptr<HostFacts> facts) {
    std::lock_guard lock(registry().mutex);
    registry().hostFacts = std::move(facts);
}

void Platform::setWorkspace(std::shared_ptr<Workspace> workspace) {
    std::lock_guard lock(registry().mutex);
    registry().workspace = std::move(workspace);
}

} // namespace platform
