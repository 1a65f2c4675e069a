#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

// The user's persistent per-application key-value store: a JSON file named after the main bundle's
// identifier in the user's configuration folder ($XDG_CONFIG_HOME/<identifier>.json). Texts, numbers,
// booleans and lists keep their kind across restarts. Keys are flat texts taken literally ("/" is an
// ordinary character). Safe to use from any thread.
class UserDefaults {
public:
    // The stored value, or nothing when the key is absent or the store cannot be read.
    static std::optional<QVariant> read(const QString& key);
    // Stores the value; an invalid value removes the key.
    static void write(const QString& key, const QVariant& value);
    static void remove(const QString& key);

    // Path of the store's file.
    static QString filePath();

private:
    static std::unique_ptr<QSettings> open();
};
