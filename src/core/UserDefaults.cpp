#include "UserDefaults.h"

#include "Logger.h"
#include "platform/Bundle.h"

#include <QDateTime>
#include <QFile>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// QSettings reads "/" in a key as a group separator: it folds "a//b" into "a/b" and drops a trailing or
// leading "/", so two different keys could land on one entry. Keys here are flat texts that hold user
// chosen names (panel names), so "/" travels through QSettings escaped as "%2F" ("%" itself as "%25").
// The file keeps the keys literally.
QString toSettingsKey(const QString& key) {
    if (!key.contains(u'/') && !key.contains(u'%'))
        return key;
    QString escaped;
    escaped.reserve(key.size() + 8);
    for (const QChar c : key) {
        if (c == u'%')
            escaped += QStringLiteral("%25");
        else if (c == u'/')
            escaped += QStringLiteral("%2F");
        else
            escaped += c;
    }
    return escaped;
}

QString fromSettingsKey(const QString& key) {
    if (!key.contains(u'%'))
        return key;
    QString literal;
    literal.reserve(key.size());
    for (qsizetype i = 0; i < key.size(); ++i) {
        const QStringView rest = QStringView(key).mid(i);
        if (rest.startsWith(u"%25")) {
            literal += u'%';
            i += 2;
        } else if (rest.startsWith(u"%2F")) {
            literal += u'/';
            i += 2;
        } else {
            literal += key[i];
        }
    }
    return literal;
}

QVariant fromJson(const QJsonValue& v) {
    switch (v.type()) {
    case QJsonValue::Bool:
        return v.toBool();
    case QJsonValue::Double: {
        const double d = v.toDouble();
        if (std::floor(d) == d && std::abs(d) <= 9007199254740992.0)
            return qint64(d);
        return d;
    }
    case QJsonValue::String:
        return v.toString();
    case QJsonValue::Array: {
        const QJsonArray array = v.toArray();
        bool allText = true;
        QVariantList list;
        for (const QJsonValue& item : array) {
            allText = allText && item.isString();
            list.append(fromJson(item));
        }
        if (allText) {
            QStringList texts;
            for (const QVariant& item : list)
                texts.append(item.toString());
            return texts;
        }
        return list;
    }
    case QJsonValue::Object: {
        QVariantMap map;
        const QJsonObject object = v.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            map.insert(it.key(), fromJson(it.value()));
        return map;
    }
    default:
        return {};
    }
}

bool readJson(QIODevice& device, QSettings::SettingsMap& map) {
    const QByteArray data = device.readAll();
    if (data.trimmed().isEmpty())
        return true;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (!doc.isObject()) {
        LOG_WARNING("The user defaults file is unreadable ({}); its settings read as their defaults.",
                    error.error == QJsonParseError::NoError ? QStringLiteral("no JSON object")
                                                            : error.errorString());
        return false;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        map.insert(toSettingsKey(it.key()), fromJson(it.value()));
    return true;
}

bool writeJson(QIODevice& device, const QSettings::SettingsMap& map) {
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(fromSettingsKey(it.key()), QJsonValue::fromVariant(it.value()));
    return device.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) >= 0;
}

QSettings::Format jsonFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("json"), readJson, writeJson);
    return format;
}

QString storeName() {
    const auto identifier = platform::Bundle::main()->bundleIdentifier();
    if (identifier && platform::Bundle::isPlainResourceName(*identifier))
        return *identifier;
    return QStringLiteral("PodiumCastCompanion");
}

} // namespace

std::unique_ptr<QSettings> UserDefaults::open() {
    auto settings = std::make_unique<QSettings>(jsonFormat(), QSettings::UserScope, storeName());
    settings->setFallbacksEnabled(false);
    if (settings->status() == QSettings::FormatError) {
        // Kept aside before anything writes a new file over it.
        const QString path = settings->fileName();
        const QString aside = path + QStringLiteral(".unreadable-") +
                              QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz"));
        settings.reset();
        if (QFile::rename(path, aside))
            LOG_WARNING("The unreadable user defaults file was kept as {}; a new one is started.", aside);
        else
            LOG_ERROR("The unreadable user defaults file {} could not be moved aside.", path);
        settings = std::make_unique<QSettings>(jsonFormat(), QSettings::UserScope, storeName());
        settings->setFallbacksEnabled(false);
    }
    return settings;
}

std::optional<QVariant> UserDefaults::read(const QString& key) {
    const auto settings = open();
    if (settings->status() != QSettings::NoError)
        return std::nullopt;
    QVariant value = settings->value(toSettingsKey(key));
    if (!value.isValid())
        return std::nullopt;
    return value;
}

void UserDefaults::write(const QString& key, const QVariant& value) {
    const auto settings = open();
    if (value.isValid())
        settings->setValue(toSettingsKey(key), value);
    else
        settings->remove(toSettingsKey(key));
}

void UserDefaults::remove(const QString& key) {
    open()->remove(toSettingsKey(key));
}

QString UserDefaults::filePath() {
    return open()->fileName();
}
