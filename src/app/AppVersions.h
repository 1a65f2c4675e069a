#pragma once

#include "AppInfo.h"

// The cloud's answer to the update check: the current version of each platform's application.
struct AppVersions : DictionaryRecord<AppVersions> {
    AppInfo IosApp;
    AppInfo WindowsApp;
    AppInfo MacApp;
    AppInfo AndroidApp;

    // An absent platform key gives an entry with every field at its default.
    static AppVersions ParseFromDictionary(const QVariantMap& dictionary);
};
