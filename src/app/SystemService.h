#pragma once

#include "AppVersions.h"

#include "remote/CloudHttpClient.h"

#include <QString>

// The update check: asks the cloud service once which application versions are current and, when it
// knows a newer build of this one, tells the user and opens the download page.
class SystemService {
public:
    // The largest answer read; a longer one is cut off and the check fails silently.
    static constexpr qint64 kMaxAnswerBytes = 1024 * 1024;

    // GET "<ApiRoot>/api/AppVersions" on the cloud's HTTP client; returns at once. The outcome comes later
    // on the main thread: a JSON answer ("application/json", "text/json" or "text/javascript") goes to
    // handleAppVersions, any failure is dropped without a word.
    static std::shared_ptr<CloudHttpClient::Exchange> CheckNewVersion(CloudHttpClient& http);
    // Compares the offered build of this platform with the running one and shows the forced or the
    // optional update alert.
    static void handleAppVersions(const AppVersions& versions);
    // Whether the program may automate the application with this identifier. Nothing on this host asks
    // for such consent, so the answer is yes.
    static bool CheckSIPforAppIdentifier(const QString& identifier);
};
