#include "AppVersions.h"

AppVersions AppVersions::ParseFromDictionary(const QVariantMap& dictionary) {
    const auto entry = [&dictionary](const char* key) {
        return AppInfo::ParseFromDictionary(dictionary.value(QString::fromLatin1(key)).toMap());
    };
    AppVersions versions;
    versions.IosApp = entry("IosApp");
    versions.WindowsApp = entry("WindowsApp");
    versions.MacApp = entry("MacApp");
    versions.AndroidApp = entry("AndroidApp");
    return versions;
}
