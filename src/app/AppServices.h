#pragma once

#include "AppDelegate.h"

#include "core/Flavour.h"

#include <QString>

#include <memory>

class QNetworkAccessManager;

namespace platform {
class Bundle;
class CommandRunner;
class EventPoster;
class HostFacts;
class ScriptRunner;
} // namespace platform

// The application's composition root: made once at launch on the main thread, it builds the platform's
// implementations and installs the services (each made on first use, from what the root built) where
// their class accessors find them, and hands the delegate and each window what they need.
class AppServices {
public:
    explicit AppServices(std::shared_ptr<const platform::Bundle> bundle);
    ~AppServices();
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    const platform::Bundle& bundle() const { return *bundle_; }
    Flavour flavour() const { return flavour_; }
    // The HTTP client of the windows (the update check, template downloads), on the main thread.
    QNetworkAccessManager& http() { return *http_; }

    AppDelegate::Collaborators delegateCollaborators() const;
    // Opens the window the bundle names as its first; false for a name no window has.
    bool openFirstWindow(const QString& name);

private:
    void installServices();
    void startServices();

    std::shared_ptr<const platform::Bundle> bundle_;
    Flavour flavour_;
    std::shared_ptr<platform::ScriptRunner> scripts_;
    std::shared_ptr<platform::CommandRunner> commands_;
    std::shared_ptr<platform::EventPoster> events_;
    std::shared_ptr<platform::HostFacts> host_;
    std::unique_ptr<QNetworkAccessManager> http_;
};
