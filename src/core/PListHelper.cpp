#include "PListHelper.h"

#include "Coercion.h"
#include "Logger.h"
#include "platform/Bundle.h"

#include <atomic>

namespace {

// Says once per bundle why its information dictionary is empty.
void reportUnreadableInfoDictionary(const platform::Bundle& bundle) {
    static std::atomic<const platform::Bundle*> reported{nullptr};
    if (const auto& error = bundle.infoDictionaryError(); error && reported.exchange(&bundle) != &bundle)
        LOG_ERROR("The information dictionary could not be read, every setting of it takes its default: {}",
                  *error);
}

qint64 integerForKey(const char* key) {
    return Coercion::integerValue(PListHelper::GetValueForKey(QString::fromLatin1(key)));
}

} // namespace

QVariant PListHelper::GetValueForKey(const QString& key) {
    const auto bundle = platform::Bundle::main();
    reportUnreadableInfoDictionary(*bundle);
    return bundle->objectForInfoDictionaryKey(key);
}

std::optional<QString> PListHelper::APIRootPath() {
    const QVariant v = GetValueForKey(QStringLiteral("APIRootPath"));
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString().replace(u'\\', u'/');
}

QVariant PListHelper::BundleDisplayName() {
    return GetValueForKey(QStringLiteral("CFBundleDisplayName"));
}
QVariant PListHelper::ModelVersion() {
    return GetValueForKey(QStringLiteral("ModelVersion"));
}

qint64 PListHelper::ConnectImageCount() {
    return integerForKey("ConnectImageCount");
}
qint64 PListHelper::ConnectPort() {
    return integerForKey("ConnectPort");
}
qint64 PListHelper::DataPort() {
    return integerForKey("DataPort");
}
qint64 PListHelper::CheckPort() {
    return integerForKey("CheckPort");
}
qint64 PListHelper::CommandPort() {
    return integerForKey("CommandPort");
}
qint64 PListHelper::LanInfoPort() {
    return integerForKey("LanInfoPort");
}
qint64 PListHelper::LanTapdeckInfoPort() {
    return integerForKey("LanTapdeckInfoPort");
}
qint64 PListHelper::HttpPort() {
    return integerForKey("HttpPort");
}
