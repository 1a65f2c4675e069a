#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <optional>

class PowerPointHelper;
class SWDMacNetworkManager;

// Runs the phone's command strings ("<id>|<type>|<arguments>") from the LAN and the cloud: drops
// repeated ids, refuses everything but pairing while no phone is paired, and dispatches each type.
class SWDMacCommandManager {
public:
    struct Collaborators {
        SWDMacNetworkManager* network = nullptr;
        std::function<PowerPointHelper&()> presentation;
        // Pushes fresh slide information to the phone after a command (two of the three flavours).
        std::function<void()> sendSlideInfoToClient;
    };

    static SWDMacCommandManager& SharedManager();
    explicit SWDMacCommandManager(Collaborators collaborators);

    void executeCommand(const std::optional<QString>& command, const std::optional<QString>& fromIpAddr);
    bool isCommandType(const QString& type) const { return availableCommandType.contains(type); }

    // The seen-id table: lower-cased id to the command string as received.
    QHash<QString, QString> executedCommandDic() const;

    const QStringList availableCommandType{
        QStringLiteral("cmd"),     QStringLiteral("move"),       QStringLiteral("click"),
        QStringLiteral("rightclick"), QStringLiteral("connect"), QStringLiteral("disconnect"),
        QStringLiteral("heartbeat"), QStringLiteral("start"),    QStringLiteral("qcmd"),
        QStringLiteral("ccmd")};

private:
    // Records the id unless it was seen before (an id other than "0"); false for a repeat.
    bool recordCommandId(const QString& id, const QString& command);
    // Dispatches one type; says whether the slide information is pushed afterwards.
    bool dispatch(const QString& type, const std::optional<QString>& arguments,
                  const std::optional<QString>& fromIpAddr, bool paired);

    Collaborators collaborators_;
    mutable std::mutex executedMutex_;
    QHash<QString, QString> executedCommandDic_;
};
