#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// Typed reads of the main bundle's information dictionary. Read-only; an absent key gives no value,
// or 0 for the integer readers.
class PListHelper {
public:
    // The value of the key, of whatever kind it is stored; an invalid QVariant when absent.
    static QVariant GetValueForKey(const QString& key);

    // "APIRootPath" with every backslash turned into "/".
    static std::optional<QString> APIRootPath();
    static QVariant BundleDisplayName();
    static QVariant ModelVersion();

    static qint64 ConnectImageCount();
    static qint64 ConnectPort();
    static qint64 DataPort();
    static qint64 CheckPort();
    static qint64 CommandPort();
    static qint64 LanInfoPort();
    static qint64 LanTapdeckInfoPort();
    static qint64 HttpPort();
};
