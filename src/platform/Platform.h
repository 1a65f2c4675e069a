#pragma once

#include <memory>

namespace platform {

class Alerts;
class CommandRunner;
class EventPoster;
class HostFacts;
class Workspace;

// The one place that chooses the host's implementation of each capability. Tests put fakes in.
class Platform {
public:
    static std::shared_ptr<Alerts> alerts();
    static std::shared_ptr<CommandRunner> commandRunner();
    // The X11 poster when the display (DISPLAY) has XTest, otherwise one that posts nothing.
    static std::shared_ptr<EventPoster> eventPoster();
    static std::shared_ptr<HostFacts> hostFacts();
    static std::shared_ptr<Workspace> workspace();

    static void setAlerts(std::shared_ptr<Alerts> alerts);
    static void setCommandRunner(std::shared_ptr<CommandRunner> runner);
    static void setEventPoster(std::shared_ptr<EventPoster> poster);
    static void setHostFacts(std::shared_ptr<HostFacts> facts);
    static void setWorkspace(std::shared_ptr<Workspace> workspace);
};

} // namespace platform
