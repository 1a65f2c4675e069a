#pragma once

#include "JSONModel.h"

#include <QString>

#include <tuple>

// An application of the silent mode; stored as JSON text in the user defaults list "SlientModeApps".
class SilentModeApp : public JSONModel<SilentModeApp> {
public:
    // The unique key of the stored list.
    QString bundleId;
    QString name;

    static constexpr auto jsonFields() {
        return std::tuple(requiredKey("bundleId", &SilentModeApp::bundleId),
                          requiredKey("name", &SilentModeApp::name));
    }

    bool operator==(const SilentModeApp&) const = default;
};
