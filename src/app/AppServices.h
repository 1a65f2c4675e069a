#pragma once

#include "AppDelegate.h"

#include "core/Flavour.h"

#include <QString>

#include <memory>

class QNetworkAccessManager;

namespace platform {
class Bundle;
}

// The application's composition root: made once at launch on the main thread, it builds the platform's
// implementations and the services, installs them where the rest of the program reaches them, and hands
// the delegate and each window what they need.
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
    void startServices();

    std::shared_ptr<const platform::Bundle> bundle_;
    Flavour flavour_;
    std::unique_ptr<QNetworkAccessManager> http_;
};
