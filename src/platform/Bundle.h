#pragma once

#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace platform {

// An application bundle of the shape
//   <Name>.app/Contents/Info.plist, Contents/MacOS/<executable>, Contents/Resources/
// The information dictionary and the localisation table are read once, when the bundle is made.
class Bundle {
public:
    explicit Bundle(QString bundlePath);

    // The bundle the running executable lives in, found from the executable's own path
    // (<bundle>/Contents/MacOS/<executable>), unless setMainBundlePath chose another.
    static std::shared_ptr<const Bundle> main();
    // Replaces the main bundle: tests and fuzzers run on a bundle folder they name.
    static void setMainBundlePath(const QString& bundlePath);

    const QString& bundlePath() const { return path_; }
    QString contentsPath() const;
    QString resourcesPath() const;
    QString executablePath() const;

    // Full path of the resource "<name>" or "<name>.<type>" in Resources, when it exists as a file or
    // folder. Only plain names are looked up: a name holding "/" or a ".." component finds nothing.
    std::optional<QString> pathForResource(const QString& name, const QString& type = {}) const;
    static bool isPlainResourceName(const QString& name);

    const QVariantMap& infoDictionary() const { return info_; }
    // Why the information dictionary is empty, when Info.plist was missing or malformed.
    const std::optional<QString>& infoDictionaryError() const { return infoError_; }
    QVariant objectForInfoDictionaryKey(const QString& key) const { return info_.value(key); }
    std::optional<QString> bundleIdentifier() const;

    // The translation of an English key from Resources/translations/<language>.json; the key itself
    // when there is none.
    QString localizedString(const QString& key) const;

private:
    void loadInfoDictionary();
    void loadTranslations();

    QString path_;
    QVariantMap info_;
    std::optional<QString> infoError_;
    QHash<QString, QString> translations_;
};

} // namespace platform
