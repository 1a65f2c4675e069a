#include "Bundle.h"

#include "PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <mutex>

namespace platform {

namespace {

std::mutex mainMutex;
std::shared_ptr<const Bundle> mainBundle;

// <bundle>/Contents/MacOS/<executable> -> <bundle>; the executable's folder when it is not in a bundle.
QString bundlePathOfExecutable() {
    const QFileInfo exe(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    QDir dir = exe.absoluteDir();
    if (dir.dirName() == u"MacOS" && dir.cdUp() && dir.dirName() == u"Contents" && dir.cdUp())
        return dir.absolutePath();
    return exe.absolutePath();
}

} // namespace

Bundle::Bundle(QString bundlePath)
    : path_(QDir(bundlePath).absolutePath()) {
    loadInfoDictionary();
    loadTranslations();
}

std::shared_ptr<const Bundle> Bundle::main() {
    std::lock_guard lock(mainMutex);
    if (!mainBundle)
        mainBundle = std::make_shared<const Bundle>(bundlePathOfExecutable());
    return mainBundle;
}

void Bundle::setMainBundlePath(const QString& bundlePath) {
    auto bundle = std::make_shared<const Bundle>(bundlePath);
    std::lock_guard lock(mainMutex);
    mainBundle = std::move(bundle);
}

QString Bundle::contentsPath() const {
    return path_ + QStringLiteral("/Contents");
}

QString Bundle::resourcesPath() const {
    return contentsPath() + QStringLiteral("/Resources");
}

QString Bundle::executablePath() const {
    QString name = info_.value(QStringLiteral("CFBundleExecutable")).toString();
    if (!isPlainResourceName(name))
        name = QFileInfo(path_).completeBaseName();
    return contentsPath() + QStringLiteral("/MacOS/") + name;
}

bool Bundle::isPlainResourceName(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') &&
           !name.contains(QChar(0));
}

std::optional<QString> Bundle::pathForResource(const QString& name, const QString& type) const {
    const QString file = type.isEmpty() ? name : name + u'.' + type;
    if (!isPlainResourceName(name) || !isPlainResourceName(file))
        return std::nullopt;
    const QString path = resourcesPath() + u'/' + file;
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return path;
}

std::optional<QString> Bundle::bundleIdentifier() const {
    const QVariant v = info_.value(QStringLiteral("CFBundleIdentifier"));
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString();
}

void Bundle::loadInfoDictionary() {
    const QString plistPath = contentsPath() + QStringLiteral("/Info.plist");
    QFile file(plistPath);
    if (!file.open(QIODevice::ReadOnly)) {
        infoError_ = QStringLiteral("cannot read %1: %2").arg(plistPath, file.errorString());
        return;
    }
    QString error;
    const auto root = PropertyList::parse(file.readAll(), &error);
    if (!root) {
        infoError_ = QStringLiteral("%1 is malformed: %2").arg(plistPath, error);
    } else if (root->typeId() != QMetaType::QVariantMap) {
        infoError_ = QStringLiteral("%1 holds no dictionary").arg(plistPath);
    } else {
        info_ = root->toMap();
    }
}

void Bundle::loadTranslations() {
    for (const QString& language : QLocale::system().uiLanguages()) {
        QFile file(resourcesPath() + QStringLiteral("/translations/") +
                   QString(language).replace(u'-', u'_') + QStringLiteral(".json"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject table = QJsonDocument::fromJson(file.readAll()).object();
        for (auto it = table.begin(); it != table.end(); ++it) {
            if (it.value().isString())
                translations_.insert(it.key(), it.value().toString());
        }
        return;
    }
}

QString Bundle::localizedString(const QString& key) const {
    return translations_.value(key, key);
}

} // namespace platform
