#include "SWDMacNetworkManager.h"

#include "KeyPressBatch.h"
#include "LanInfoServer.h"

#include "core/ErrorHelper.h"
#include "core/Installed.h"
#include "core/LocalUtils.h"
#include "core/Logger.h"
#include "core/Notifications.h"
#include "core/PListHelper.h"
#include "core/StringHelper.h"
#include "platform/HostFacts.h"
#include "presentation/PowerPointHelper.h"

#include <QTimer>

SWDMacNetworkManager& SWDMacNetworkManager::SharedManager() {
    return Installed<SWDMacNetworkManager>::get("SWDMacNetworkManager::SharedManager");
}

void SWDMacNetworkManager::install(std::function<std::shared_ptr<SWDMacNetworkManager>()> factory) {
    Installed<SWDMacNetworkManager>::install(std::move(factory));
}

SWDMacNetworkManager::SWDMacNetworkManager(Collaborators collaborators)
    : kConnectPort(PListHelper::ConnectPort())
    , kCommandPort(PListHelper::CommandPort())
    , kDataPort(PListHelper::DataPort())
    , kCheckPort(PListHelper::CheckPort())
    , kHttpPort(PListHelper::HttpPort())
    , kLanInfoPort(PListHelper::LanInfoPort())
    , collaborators_(std::move(collaborators)) {
    initialNetwork();
}

SWDMacNetworkManager::~SWDMacNetworkManager() {
    {
        // A push running ends with its build; none follows it.
        std::unique_lock lock(pushMutex_);
        pushPending_ = false;
        pushEnded_.wait(lock, [this] { return !pushRunning_; });
    }
    stopListening();
}

std::optional<quint16> SWDMacNetworkManager::portOf(qint64 value) {
    if (value < 1 || value > 65535)
        return std::nullopt;
    return quint16(value);
}

std::optional<quint16> SWDMacNetworkManager::checkedPort(const char* key, qint64 value, const char* refused) {
    if (const auto port = portOf(value))
        return port;
    const QString name = QString::fromLatin1(key);
    const QVariant written = PListHelper::GetValueForKey(name);
    ErrorHelper::ShowErrorMessage(
        written.isValid()
            ? QStringLiteral(
                  "Invalid port %1 for %2 in Info.plist: a port is a number from 1 to 65535, so %3.")
                  .arg(written.toString(), name, QString::fromLatin1(refused))
            : QStringLiteral("No port for %1 in Info.plist, so %2.").arg(name, QString::fromLatin1(refused)));
    return std::nullopt;
}

void SWDMacNetworkManager::initialNetwork() {
    {
        std::lock_guard lock(devicesMutex_);
        connectingDeviceDic_.clear();
        isAcceptingNewConnection_ = true;
    }
    // The cloud API does not redirect: the client follows no 3xx answer (a 307 would post the slide
    // information wherever its Location names).
    afNetworkManager_ = std::move(collaborators_.cloud);
    makeUploadHandOver();
    // Rebuilt every 3 s on this (the main) thread, and once now so the document exists at once.
    machineInfoTimer_ = std::make_unique<QTimer>();
    machineInfoTimer_->setInterval(3000);
    QObject::connect(machineInfoTimer_.get(), &QTimer::timeout, [this] { getSystemInfo(); });
    machineInfoTimer_->start();
    getSystemInfo();
}

// ---- LAN endpoint ----------------------------------------------------------------------------------

void SWDMacNetworkManager::startUdp() {
    std::call_once(udpStarted_, [this] {
        LOG_DEBUG("startUdp");
        auto& transport = *collaborators_.transport;
        const auto receiver = [this](UdpSocketRole, const std::vector<Datagram>& batch) {
            // The key presses of the whole batch go to the main thread together, before this returns.
            const KeyPressBatch presses;
            for (const Datagram& datagram : batch)
                didReceiveData(datagram.data, datagram.host, datagram.port);
        };
        const struct {
            UdpSocketRole role;
            const char* key;
            qint64 port;
            const char* name;
        } listening[] = {{UdpSocketRole::Command, "CommandPort", kCommandPort, "_commandSocket"},
                         {UdpSocketRole::Data, "DataPort", kDataPort, "_dataSocket"},
                         {UdpSocketRole::Check, "CheckPort", kCheckPort, "_checkSocket"}};
        for (const auto& socket : listening) {
            const auto port = checkedPort(socket.key, socket.port, "nothing listens on it");
            if (const auto error = port ? transport.listen(socket.role, *port, receiver) : std::nullopt)
                ErrorHelper::ShowErrorMessage(
                    QStringLiteral("Error binding port %1: %2").arg(*port).arg(*error));
            LOG_DEBUG("{} = {}", socket.name, transport.describe(socket.role));
        }
        // The phone's port for the Confirm of a pairing.
        checkedPort("ConnectPort", kConnectPort, "no pairing is confirmed to it");
        transport.openUnbound(UdpSocketRole::Confirm);
        LOG_DEBUG("_confirmSocket = {}", transport.describe(UdpSocketRole::Confirm));
    });
}

void SWDMacNetworkManager::didReceiveData(const QByteArray& data, const QString& host, quint16 port) {
    const std::optional<QString> text = StringHelper::decodeUtf8(data);
    LOG_INFO("receive data from [{}:{}]: {}", host, port, text.value_or(QStringLiteral("(null)")));
    if (text && text->toLower() == u"check") {
        bool known = false;
        {
            std::lock_guard lock(devicesMutex_);
            for (const ClientInfo& client : std::as_const(connectingDeviceDic_))
                known = known || client.ipAddress == host;
            known = known || isAcceptingNewConnection_;
        }
        if (known) {
            KeyPressBatch::flush(); // after the key presses of earlier datagrams
            replyMachineInfo(host);
        }
    } else if (text && text->startsWith(QStringLiteral("check:"))) {
        const QString deviceId = text->section(u':', 1, 1);
        if (isAcceptingNewConnection() || isConnectedWithDevice(deviceId)) {
            KeyPressBatch::flush();
            replyMachineInfo(host);
        }
    } else if (collaborators_.executor) {
        collaborators_.executor(text, host);
    }
}

void SWDMacNetworkManager::replyMachineInfo(const QString& host) {
    const auto message = machineInfoUdpMessage();
    if (!message)
        return;
    const auto port = portOf(kDataPort);
    if (!port)
        return;
    collaborators_.transport->send(UdpSocketRole::Data, host, *port, message->toUtf8());
    LOG_VERBOSE("send machine info message via port {}: {}", *port, *message);
}

bool SWDMacNetworkManager::isConnectedWithDevice(const QString& deviceId) const {
    std::lock_guard lock(devicesMutex_);
    return connectingDeviceDic_.contains(deviceId);
}

bool SWDMacNetworkManager::acceptsLanCommandFrom(const QString& host) const {
    std::lock_guard lock(devicesMutex_);
    bool pairedOverLan = false;
    for (const ClientInfo& client : std::as_const(connectingDeviceDic_)) {
        if (client.ipAddress == host)
            return true;
        pairedOverLan = pairedOverLan || client.ipAddress.has_value();
    }
    return !pairedOverLan;
}

bool SWDMacNetworkManager::isAcceptingNewConnection() const {
    std::lock_guard lock(devicesMutex_);
    return isAcceptingNewConnection_;
}

void SWDMacNetworkManager::setConnectionAccepted(bool accepted) {
    std::lock_guard lock(devicesMutex_);
    isAcceptingNewConnection_ = accepted;
}

QHash<QString, ClientInfo> SWDMacNetworkManager::connectingDeviceDic() const {
    std::lock_guard lock(devicesMutex_);
    return connectingDeviceDic_;
}

bool SWDMacNetworkManager::acceptConnectFromDeviceId(const QString& deviceId, const QString& deviceName,
                                                     const std::optional<QString>& fromIpAddr) {
    {
        std::lock_guard lock(devicesMutex_);
        const auto existing = connectingDeviceDic_.constFind(deviceId);
        const bool paired = existing != connectingDeviceDic_.cend();
        if (!paired && !isAcceptingNewConnection_) {
            LOG_INFO("Connection refuse: not accepting a machine that is not connected");
            return false;
        }
        const std::optional<QString> address =
            fromIpAddr ? fromIpAddr : (paired ? existing->ipAddress : std::nullopt);
        connectingDeviceDic_.insert(deviceId,
                                    ClientInfo{deviceId, deviceName, address, QDateTime::currentDateTime()});
        isAcceptingNewConnection_ = false;
    }
    if (const auto port = portOf(kConnectPort); fromIpAddr && port) {
        collaborators_.transport->send(UdpSocketRole::Confirm, *fromIpAddr, *port, "Confirm");
        Logger::plain(QStringLiteral("Send confirm to %1:%2").arg(*fromIpAddr).arg(*port));
    }
    post(Notifications::kUpdateConnectionStatus, std::optional<QString>(deviceName));
    return true;
}

bool SWDMacNetworkManager::disconnectWithDevice(const QString& deviceId) {
    {
        std::lock_guard lock(devicesMutex_);
        if (!connectingDeviceDic_.remove(deviceId))
            return false;
        isAcceptingNewConnection_ = true;
    }
    post(Notifications::kUpdateConnectionStatus, std::optional<QString>(QString()));
    return true;
}

void SWDMacNetworkManager::disconnect() {
    {
        std::lock_guard lock(devicesMutex_);
        connectingDeviceDic_.clear();
        isAcceptingNewConnection_ = true;
    }
    post(Notifications::kUpdateConnectionStatus, std::optional<QString>(QString()));
}

void SWDMacNetworkManager::sendLanHeartBeatToHost(const QString& host, const QString& message) {
    if (const auto port = portOf(kDataPort))
        collaborators_.transport->send(UdpSocketRole::Data, host, *port, message.toUtf8());
}

void SWDMacNetworkManager::stopListening() {
    LOG_INFO("stop listening");
    collaborators_.transport->closeAll();
    if (webServer_)
        webServer_->stop();
}

// ---- Machine-information document ------------------------------------------------------------------

void SWDMacNetworkManager::getSystemInfo() {
    const QString machineId = LocalUtils::GetMachineIndex();
    LOG_VERBOSE("machineId = {}", machineId);
    const QString version = PListHelper::GetValueForKey(QStringLiteral("CFBundleVersion")).toString();
    const auto& host = collaborators_.host;
    const QString osVersion = host->operatingSystemVersionString();
    const QString name = host->hostName().remove(u'"');
    const QStringList ipList = LocalUtils::GetLanIpList(*host);
    LOG_VERBOSE("ipList = ({})", ipList.join(QStringLiteral(", ")));

    const QString head = QStringLiteral(R"({"MachineName":")") + name + QStringLiteral(R"(","MachineId":")") +
                         machineId + QStringLiteral(R"(","PcAppVersion":")") + version +
                         QStringLiteral(R"(","OsVersion":"macOS )") + osVersion +
                         QStringLiteral(R"(","OfficeVersion":"","IpAddressList":[)");
    if (ipList.isEmpty()) {
        machineInfoQrCodeMessage_.set(head + QStringLiteral("]}"));
        return;
    }
    QString items;
    for (const QString& address : ipList) {
        if (address == u"127.0.0.1" || address.left(3) == u"169")
            continue;
        items += u'"' + address + QStringLiteral("\",");
    }
    items.chop(1);
    const QString document = head + items + QStringLiteral("]}");
    machineInfoQrCodeMessage_.set(document);
    machineInfoUdpMessage_.set(document);
}
