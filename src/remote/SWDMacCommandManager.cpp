#include "SWDMacCommandManager.h"

#include "SWDMacNetworkManager.h"

#include "core/Logger.h"
#include "core/NotificationCenter.h"
#include "core/StringHelper.h"
#include "platform/Bundle.h"
#include "presentation/PowerPointHelper.h"

namespace {

bool pushesSlideInformation() {
    const auto identifier = platform::Bundle::main()->bundleIdentifier();
    return identifier == QStringLiteral("com.brisvane.PodiumCastForMac") ||
           identifier == QStringLiteral("com.brisvane.SteerlynxForMac");
}

// The two ","-separated items of "connect" and "disconnect"; nothing when there are fewer.
std::optional<std::pair<QString, QString>> twoItems(const std::optional<QString>& arguments) {
    if (StringHelper::isNullOrEmpty(arguments))
        return std::nullopt;
    const QStringList items = arguments->split(u',');
    if (items.size() < 2)
        return std::nullopt;
    return std::pair{items[0], items[1]};
}

} // namespace

SWDMacCommandManager& SWDMacCommandManager::SharedManager() {
    static SWDMacCommandManager* shared = new SWDMacCommandManager(
        {&SWDMacNetworkManager::SharedManager(), []() -> PowerPointHelper& { return PowerPointHelper::SharedHelper(); },
         [] { SWDMacNetworkManager::SharedManager().sendSlideInfoToClient(); }});
    return *shared;
}

SWDMacCommandManager::SWDMacCommandManager(Collaborators collaborators) : collaborators_(std::move(collaborators)) {}

QHash<QString, QString> SWDMacCommandManager::executedCommandDic() const {
    std::lock_guard lock(executedMutex_);
    return executedCommandDic_;
}

bool SWDMacCommandManager::recordCommandId(const QString& id, const QString& command) {
    std::lock_guard lock(executedMutex_);
    if (id != u"0" && executedCommandDic_.contains(id))
        return false;
    executedCommandDic_.insert(id, command);
    return true;
}

void SWDMacCommandManager::executeCommand(const std::optional<QString>& command,
                                          const std::optional<QString>& fromIpAddr) {
    if (StringHelper::isNullOrEmpty(command))
        return;
    const qsizetype first = command->indexOf(u'|');
    if (first < 0) {
        Logger::plain(QStringLiteral("Invalid command."));
        return;
    }
    const qsizetype second = command->indexOf(u'|', first + 1);
    const QString id = command->left(first).toLower();
    const QString type = (second < 0 ? command->mid(first + 1) : command->mid(first + 1, second - first - 1)).toLower();
    const std::optional<QString> arguments = second < 0 ? std::nullopt : std::optional<QString>(command->mid(second + 1));

    const bool paired = !collaborators_.network->isAcceptingNewConnection();
    if (!id.isEmpty() && !recordCommandId(id, *command))
        return;
    if (dispatch(type, arguments, fromIpAddr, paired) && pushesSlideInformation() && collaborators_.sendSlideInfoToClient)
        collaborators_.sendSlideInfoToClient();
}

bool SWDMacCommandManager::dispatch(const QString& type, const std::optional<QString>& arguments,
                                    const std::optional<QString>& fromIpAddr, bool paired) {
    SWDMacNetworkManager& network = *collaborators_.network;
    if (type == u"connect") {
        if (const auto items = twoItems(arguments))
            network.acceptConnectFromDeviceId(items->first, items->second, fromIpAddr);
        return true;
    }
    if (type == u"disconnect") {
        if (const auto items = twoItems(arguments))
            network.disconnectWithDevice(items->first);
        return false;
    }
    if (!paired)
        return false;
    if (type == u"heartbeat") {
        if (fromIpAddr && !StringHelper::isNullOrEmpty(arguments)) {
            network.sendLanHeartBeatToHost(*fromIpAddr, QStringLiteral("heartBeat|OK:") + *arguments);
            NotificationCenter::defaultCenter().post(QStringLiteral("kLanConnectionStatusChanged"), true);
        }
        return false;
    }
    if (type == u"start") {
        if (!collaborators_.presentation().startPlaying())
            LOG_ERROR("Error: Fail to start playing slide!");
        return true;
    }
    if (type == u"mode") {
        collaborators_.presentation().setIsAllowGeneratePDF(arguments == QStringLiteral("presentation"));
        return false;
    }
    return false;
}
