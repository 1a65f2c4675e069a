#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// The user's persistent per-application key-value store: a JSON file named after the main bundle's
// identifier in the user's configuration folder ($XDG_CONFIG_HOME/<identifier>.json). Texts, numbers,
// booleans and lists keep their kind across restarts. Keys are flat texts taken literally. The file is
// read again whenever it changed; a file that is no JSON object is kept aside (renamed with a time
// stamp) and a new one started. Every write saves the whole file atomically and syncs it to the disk.
// A value that cannot be saved (a read-only folder, say) is logged once and holds, in memory, until it
// can be saved or the program ends; the file's other values stay readable. Safe to use from any thread.
class UserDefaults {
public:
    // The value written in this run, or else the stored one; nothing when the key is absent.
    static std::optional<QVariant> read(const QString& key);
    // Stores the value; an invalid value removes the key. False when the file could not be saved: the
    // value then holds, and is saved with the next write or as soon as anything at the file's path (its
    // bytes, its mode, its folder's) changes. The failure is logged, or, when whyNot is given, told
    // there instead (the file's path and the reason).
    static bool write(const QString& key, const QVariant& value, QString* whyNot = nullptr);
    static bool remove(const QString& key);

    // Path of the store's file.
    static QString filePath();
};
