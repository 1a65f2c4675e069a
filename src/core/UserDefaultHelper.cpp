#include "UserDefaultHelper.h"

#include "Coercion.h"
#include "Logger.h"
#include "PListHelper.h"
#include "SilentModeApp.h"
#include "UserDefaults.h"

#include <algorithm>

namespace {

const QString kMachineIndex = QStringLiteral("MachineIndex");
const QString kSelectedVersion = QStringLiteral("SelectedVersion");
const QString kIsStoppedShowingHint = QStringLiteral("IsStoppedShowingHint");
const QString kIsStoppedShowingWelcome = QStringLiteral("IsStoppedShowingWelcome");
const QString kDebugInfo = QStringLiteral("DebugInfo");
const QString kLastLaunchedVersion = QStringLiteral("LastLaunchedVersion");
const QString kSteerlynxSoloHotKey = QStringLiteral("SteerlynxSoloHotKey");
const QString kDelayTime = QStringLiteral("DelayTime");
const QString kIsNotFirstLaunch = QStringLiteral("isNotFirstLaunch");
const QString kIsAllowStayAfterHotkeyUp = QStringLiteral("IsAllowStayAfterHotkeyUp");
const QString kBannedKeys = QStringLiteral("BannedKeys");
const QString kCurrentLanguage = QStringLiteral("CurrentLanguage");
const QString kSlientModeApps = QStringLiteral("SlientModeApps");

QString quickPanelKey(const QString& panelName) {
    return QStringLiteral("TapdeckPanel:") + panelName;
}

bool writeText(const QString& key, const std::optional<QString>& text) {
    return UserDefaults::write(key, text ? QVariant(*text) : QVariant());
}

} // namespace

std::optional<QString> UserDefaultHelper::stringForKey(const QString& key) {
    const auto v = UserDefaults::read(key);
    if (!v || v->typeId() != QMetaType::QString)
        return std::nullopt;
    return v->toString();
}

qint64 UserDefaultHelper::integerForKey(const QString& key) {
    const auto v = UserDefaults::read(key);
    return v ? Coercion::integerValue(*v) : 0;
}

double UserDefaultHelper::doubleForKey(const QString& key) {
    const auto v = UserDefaults::read(key);
    return v ? Coercion::doubleValue(*v) : 0.0;
}

bool UserDefaultHelper::boolForKey(const QString& key) {
    const auto v = UserDefaults::read(key);
    return v && Coercion::boolValue(*v);
}

std::optional<QStringList> UserDefaultHelper::stringListForKey(const QString& key) {
    const auto v = UserDefaults::read(key);
    if (!v)
        return std::nullopt;
    if (v->typeId() == QMetaType::QStringList)
        return v->toStringList();
    if (v->typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList texts;
    for (const QVariant& item : v->toList()) {
        if (item.typeId() != QMetaType::QString)
            return std::nullopt;
        texts.append(item.toString());
    }
    return texts;
}

std::optional<QString> UserDefaultHelper::MachineIndex() {
    return stringForKey(kMachineIndex);
}
bool UserDefaultHelper::SaveMachineIndex(const std::optional<QString>& machineIndex) {
    return writeText(kMachineIndex, machineIndex);
}

qint64 UserDefaultHelper::SelectedVersion() {
    return integerForKey(kSelectedVersion);
}
void UserDefaultHelper::SaveSelectedVersion(qint64 version) {
    UserDefaults::write(kSelectedVersion, version);
}

bool UserDefaultHelper::IsStoppedShowingHint() {
    return boolForKey(kIsStoppedShowingHint);
}
void UserDefaultHelper::SaveIsStoppedShowingHint(bool stopped) {
    UserDefaults::write(kIsStoppedShowingHint, stopped);
}

bool UserDefaultHelper::IsStoppedShowingWelcome() {
    return boolForKey(kIsStoppedShowingWelcome);
}
void UserDefaultHelper::SaveIsStoppedShowingWelcome(bool stopped) {
    UserDefaults::write(kIsStoppedShowingWelcome, stopped);
}

std::optional<QString> UserDefaultHelper::DebugInfo() {
    return stringForKey(kDebugInfo);
}
void UserDefaultHelper::SaveDebugInfo(const std::optional<QString>& info) {
    writeText(kDebugInfo, info);
}

std::optional<TapdeckPanel> UserDefaultHelper::GetQuickPanelByName(const QString& panelName) {
    QString error;
    auto panel = TapdeckPanel::initWithString(stringForKey(quickPanelKey(panelName)), &error);
    if (!panel)
        LOG_ERROR("Failed to get Panel by name {}: {}", panelName, error);
    return panel;
}

void UserDefaultHelper::SaveQuickPanel(const TapdeckPanel& panel) {
    writeText(quickPanelKey(panel.panelName), panel.toJSONString());
}

qint64 UserDefaultHelper::LastLaunchedVersion() {
    return integerForKey(kLastLaunchedVersion);
}
void UserDefaultHelper::SaveLastLaunchedVersion() {
    UserDefaults::write(kLastLaunchedVersion, Coercion::integerValue(PListHelper::GetValueForKey(
                                                  QStringLiteral("CFBundleVersion"))));
}

qint64 UserDefaultHelper::SteerlynxSoloHotKey() {
    return integerForKey(kSteerlynxSoloHotKey);
}
void UserDefaultHelper::SaveSteerlynxSoloHotKey(qint64 hotKey) {
    UserDefaults::write(kSteerlynxSoloHotKey, hotKey);
}

double UserDefaultHelper::DelayTime() {
    return doubleForKey(kDelayTime);
}
void UserDefaultHelper::SaveDelayTime(double seconds) {
    UserDefaults::write(kDelayTime, seconds);
}

bool UserDefaultHelper::IsNotFisrtLaunch() {
    return boolForKey(kIsNotFirstLaunch);
}
void UserDefaultHelper::SaveIsNotFirstLaunch(bool notFirst) {
    UserDefaults::write(kIsNotFirstLaunch, notFirst);
}

bool UserDefaultHelper::IsAllowStayAfterHotkeyUp() {
    return boolForKey(kIsAllowStayAfterHotkeyUp);
}
void UserDefaultHelper::SaveIsAllowStayAfterHotkeyUp(bool allow) {
    UserDefaults::write(kIsAllowStayAfterHotkeyUp, allow);
}

std::optional<QStringList> UserDefaultHelper::BannedKeys() {
    return stringListForKey(kBannedKeys);
}

void UserDefaultHelper::AddBannedKey(const QString& keyName) {
    const QString upper = keyName.toUpper();
    QStringList keys = BannedKeys().value_or(QStringList());
    if (!keys.contains(upper))
        keys.append(upper);
    SaveBannedKeys(keys);
}

bool UserDefaultHelper::RemoveBannedKey(const QString& keyName) {
    const QString upper = keyName.toUpper();
    QStringList keys = BannedKeys().value_or(QStringList());
    if (!keys.contains(upper))
        return false;
    keys.removeAll(upper);
    SaveBannedKeys(keys);
    return true;
}

void UserDefaultHelper::SaveBannedKeys(const std::optional<QStringList>& keys) {
    UserDefaults::write(kBannedKeys, keys ? QVariant(*keys) : QVariant());
}

std::optional<QStringList> UserDefaultHelper::SilentModeAppJsonStrings() {
    return stringListForKey(kSlientModeApps);
}

void UserDefaultHelper::AddSlientModeAppBundleId(const QString& bundleId, const QString& name) {
    QStringList apps = SilentModeAppJsonStrings().value_or(QStringList());
    for (const QString& json : apps) {
        const auto app = SilentModeApp::initWithString(json);
        if (app && app->bundleId == bundleId)
            return;
    }
    SilentModeApp app;
    app.bundleId = bundleId;
    app.name = name;
    apps.append(app.toJSONString());
    SaveSlientModeApps(apps);
}

bool UserDefaultHelper::RemoveSlientModeAppWithBundleId(const QString& bundleId) {
    QStringList apps = SilentModeAppJsonStrings().value_or(QStringList());
    const auto match = std::find_if(apps.cbegin(), apps.cend(), [&](const QString& json) {
        const auto app = SilentModeApp::initWithString(json);
        return app && app->bundleId == bundleId;
    });
    if (match == apps.cend())
        return false;
    const QString matchingText = *match;
    apps.removeAll(matchingText);
    SaveSlientModeApps(apps);
    return true;
}

bool UserDefaultHelper::RemoveSlientModeAppWithJson(const QString& json) {
    QStringList apps = SilentModeAppJsonStrings().value_or(QStringList());
    if (apps.removeAll(json) == 0)
        return false;
    SaveSlientModeApps(apps);
    return true;
}

void UserDefaultHelper::SaveSlientModeApps(const std::optional<QStringList>& apps) {
    UserDefaults::write(kSlientModeApps, apps ? QVariant(*apps) : QVariant());
}

std::optional<QString> UserDefaultHelper::CurrentLanguage() {
    return stringForKey(kCurrentLanguage);
}
void UserDefaultHelper::SaveCurrentLanguage(const QVariant& language) {
    UserDefaults::write(kCurrentLanguage, language);
}
