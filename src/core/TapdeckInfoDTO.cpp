#include "TapdeckInfoDTO.h"

#include "LocalUtils.h"
#include "PListHelper.h"
#include "platform/HostFacts.h"
#include "platform/Platform.h"

#include <QUuid>

#include <chrono>
#include <utility>

namespace {

// The bundle's build number as it is written; a number written as such gives its text.
std::optional<QString> bundleVersion() {
    const QVariant value = PListHelper::GetValueForKey(QStringLiteral("CFBundleVersion"));
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return value.toString();
    default:
        return std::nullopt;
    }
}

} // namespace

TapdeckInfoDTO TapdeckInfoDTO::initWitPanelInfos(QList<TapdeckPanelInfoDTO> panelInfos) {
    TapdeckInfoDTO info;
    info.Id = LocalUtils::GetMachineIndex();
    info.InfoId = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().remove(u'-');
    info.CreateTime =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    info.Panels = std::move(panelInfos);
    info.OsVersion = platform::Platform::hostFacts()->operatingSystemVersionString();
    info.PcAppVersion = bundleVersion();
    info.InstalledSoftwares = LocalUtils::InstalledSoftwareString();
    return info;
}
