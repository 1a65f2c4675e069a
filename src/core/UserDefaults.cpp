#include "UserDefaults.h"

#include "Logger.h"
#include "platform/Bundle.h"
#include "platform/FileSync.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>
#include <mutex>

namespace {

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

QString storeName() {
    const auto identifier = platform::Bundle::main()->bundleIdentifier();
    if (identifier && platform::Bundle::isPlainResourceName(*identifier))
        return *identifier;
    return QStringLiteral("PodiumCastCompanion");
}

QString storePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' + storeName() +
           QStringLiteral(".json");
}

// The inode status of a path that decides whether it can be written: its mode, owner and group, and
// the time any of these (or an ACL) last changed.
struct Status {
    QString path;
    bool exists = false;
    qint64 changed = 0; // milliseconds since the epoch
    int permissions = 0;
    uint owner = 0, group = 0;
    bool operator==(const Status&) const = default;
};

Status statusOf(const QString& path) {
    const QFileInfo info(path);
    Status status{path};
    if (!info.exists())
        return status;
    status.exists = true;
    status.changed = info.metadataChangeTime().toMSecsSinceEpoch();
    status.permissions = int(info.permissions());
    status.owner = info.ownerId();
    status.group = info.groupId();
    return status;
}

// What is at the store's path: nothing, something that cannot be read (a folder, a file without read
// permission), or a file's bytes; and the status of the path and of its folder (of the nearest folder
// above it that exists, while it does not), so that a folder or file made writable with chmod, which
// changes nothing else, counts as a change too.
struct Seen {
    enum class Kind { Absent, Unreadable, Content } kind = Kind::Absent;
    QByteArray content;
    Status file, folder;
    bool operator==(const Seen&) const = default;
};

// The status of the path and of the nearest folder above it that exists.
void takeStatus(Seen& seen, const QString& path) {
    seen.file = statusOf(path);
    QString folder = QFileInfo(path).absolutePath();
    while (!QFileInfo::exists(folder) && !QDir(folder).isRoot())
        folder = QFileInfo(folder).absolutePath();
    seen.folder = statusOf(folder);
}

Seen look(const QString& path) {
    Seen seen;
    takeStatus(seen, path);
    if (!seen.file.exists)
        return seen;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        seen.kind = Seen::Kind::Unreadable;
        return seen;
    }
    seen.kind = Seen::Kind::Content;
    seen.content = file.readAll();
    return seen;
}

// The settings of the file's bytes; nothing when they are no JSON object. An empty file holds none.
std::optional<QVariantMap> parse(const QByteArray& data) {
    QVariantMap map;
    if (data.trimmed().isEmpty())
        return map;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (!doc.isObject()) {
        LOG_WARNING("The user defaults file is unreadable ({}); its settings read as their defaults.",
                    error.error == QJsonParseError::NoError ? QStringLiteral("no JSON object")
                                                            : error.errorString());
        return std::nullopt;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        if (QVariant value = fromJson(it.value()); value.isValid())
            map.insert(it.key(), std::move(value));
    return map;
}

// The store of the process: what its file held when last read, and the values written in this run
// that the file does not hold yet because they could not be saved; those hold until the program ends
// and are saved with the next write, or as soon as the file changes.
class Store {
public:
    // Never destroyed: a thread may still read a setting while the process exits.
    static Store& instance() {
        static Store& store = *new Store;
        return store;
    }

    std::optional<QVariant> read(const QString& key) {
        std::lock_guard lock(mutex_);
        refresh();
        const auto unsaved = unsaved_.constFind(key);
        const QVariant value = unsaved != unsaved_.cend() ? *unsaved : held_.value(key);
        return value.isValid() ? std::optional(value) : std::nullopt;
    }

    bool write(const QString& key, const QVariant& value, QString* whyNot) {
        std::lock_guard lock(mutex_);
        refresh();
        // Kept as the file would give it back, so that a value reads the same before and after a restart.
        unsaved_.insert(key, value.isValid() ? fromJson(QJsonValue::fromVariant(value)) : QVariant());
        QString error;
        if (save(&error))
            return true;
        if (whyNot)
            *whyNot = QStringLiteral("%1: %2").arg(path_, error);
        else
            LOG_WARNING("The user defaults cannot be saved to {} ({}); {} holds until the program ends.",
                        path_, error, key);
        return false;
    }

private:
    // Reads the file again when it changed, or when the path did (another bundle, another folder).
    void refresh() {
        const QString path = storePath();
        if (path != path_) {
            path_ = path;
            seen_.reset();
            unsaved_.clear();
        }
        const Seen now = look(path_);
        if (seen_ == now)
            return;
        take(now);
        if (unsaved_.isEmpty())
            return;
        // What was at the path changed since the values of this run could not be saved: try again.
        QString error;
        if (save(&error))
            LOG_INFO("The user defaults of this run are saved to {} now.", path_);
    }

    void take(const Seen& now) {
        seen_ = now;
        held_.clear();
        keptInPlace_ = false;
        if (now.kind != Seen::Kind::Content)
            return;
        if (auto map = parse(now.content)) {
            held_ = std::move(*map);
            return;
        }
        // Kept aside before anything writes a new file over it.
        const QString aside = path_ + QStringLiteral(".unreadable-") +
                              QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmsszzz"));
        if (QFile::rename(path_, aside)) {
            LOG_WARNING("The unreadable user defaults file was kept as {}; a new one is started.", aside);
            seen_ = look(path_);
        } else {
            // Said once: the file is read again only when something at its path changes.
            LOG_ERROR("The unreadable user defaults file {} could not be moved aside.", path_);
            keptInPlace_ = true;
        }
    }

    // Writes what the file holds now with the values of this run; the file's data and its name reach
    // the disk before this returns true.
    bool save(QString* error) {
        const QString folder = QFileInfo(path_).absolutePath();
        if (!QDir().mkpath(folder)) {
            *error = QStringLiteral("its folder cannot be made");
            return false;
        }
        // Another process of the user's may write the file too: one at a time, each merging what the
        // other left.
        QLockFile lock(path_ + QStringLiteral(".lock"));
        if (!lock.tryLock(2000)) {
            *error = lock.error() == QLockFile::LockFailedError
                         ? QStringLiteral("it is locked")
                         : QStringLiteral("its lock file cannot be made");
            return false;
        }
        const bool saved = saveLocked(folder, error);
        lock.unlock();
        // The lock file came and went, and a saved file is a new one: their status is taken now, so that
        // neither counts as a change at the next read. The bytes stay the ones read or written: should
        // another process write the file meanwhile, its bytes differ, and the next read takes them.
        takeStatus(*seen_, path_);
        return saved;
    }

    bool saveLocked(const QString& folder, QString* error) {
        if (const Seen now = look(path_); seen_ != now)
            take(now);
        if (seen_->kind == Seen::Kind::Unreadable || keptInPlace_) {
            *error = QStringLiteral("what is there cannot be read, so it is not written over");
            return false;
        }
        QVariantMap merged = held_;
        for (auto it = unsaved_.cbegin(); it != unsaved_.cend(); ++it) {
            if (it->isValid())
                merged.insert(it.key(), *it);
            else
                merged.remove(it.key());
        }
        QJsonObject object;
        for (auto it = merged.cbegin(); it != merged.cend(); ++it)
            object.insert(it.key(), QJsonValue::fromVariant(*it));
        const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
        // The saved file syncs its data before it takes the name.
        QSaveFile file(path_);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
            *error = file.errorString();
            return false;
        }
        if (!platform::syncFolder(folder))
            LOG_WARNING("The folder of the user defaults {} could not be synced.", folder);
        seen_->kind = Seen::Kind::Content;
        seen_->content = bytes;
        held_ = std::move(merged);
        unsaved_.clear();
        return true;
    }

    std::mutex mutex_;
    QString path_;
    std::optional<Seen> seen_; // what was at the path when last looked at
    QVariantMap held_;         // the file's settings then
    // The file there holds no JSON object and could not be moved aside: it is not written over.
    bool keptInPlace_ = false;
    // Values written in this run that the file does not hold; an invalid value is a removal.
    QHash<QString, QVariant> unsaved_;
};

} // namespace

std::optional<QVariant> UserDefaults::read(const QString& key) {
    return Store::instance().read(key);
}

bool UserDefaults::write(const QString& key, const QVariant& value, QString* whyNot) {
    return Store::instance().write(key, value, whyNot);
}

bool UserDefaults::remove(const QString& key) {
    return Store::instance().write(key, QVariant(), nullptr);
}

QString UserDefaults::filePath() {
    return storePath();
}
