#pragma once

#include "ClientInfo.h"
#include "CloudHttpClient.h"
#include "DatagramTransport.h"

#include "core/AtomicValue.h"

#include <QHash>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class LanInfoServer;
class PowerPointHelper;
class QTimer;

namespace platform {
class HostFacts;
}

// The process-wide network service through which a phone reaches this computer: the LAN endpoint of
// discovery, pairing, heartbeat and command datagrams, the table of the paired phone and the
// machine-information document.
class SWDMacNetworkManager {
public:
    // Runs a command string from a datagram (text, sender host).
    using CommandExecutor =
        std::function<void(const std::optional<QString>& command, const std::optional<QString>& fromIpAddr)>;

    struct Collaborators {
        std::shared_ptr<DatagramTransport> transport;
        CommandExecutor executor;
        // The presentation bridge, asked for the slide-information documents.
        std::function<PowerPointHelper&()> presentation;
        // The host name and operating-system version of the machine-information document and the cloud.
        std::shared_ptr<platform::HostFacts> host;
        // The cloud channel's HTTP client.
        std::shared_ptr<CloudHttpClient> cloud;
    };

    // The instance the application installed, made on first use (on the main thread, which then runs its
    // machine-information timer).
    static SWDMacNetworkManager& SharedManager();
    static void install(std::function<std::shared_ptr<SWDMacNetworkManager>()> factory);

    explicit SWDMacNetworkManager(Collaborators collaborators);
    ~SWDMacNetworkManager();
    SWDMacNetworkManager(const SWDMacNetworkManager&) = delete;
    SWDMacNetworkManager& operator=(const SWDMacNetworkManager&) = delete;

    // Ports from the information dictionary, read once, as written (0 when absent). A value outside 1 to
    // 65535 is no port: nothing listens on it or sends to it, and starting the socket or server that
    // would use it shows an error that names the key.
    const qint64 kConnectPort;
    const qint64 kCommandPort;
    const qint64 kDataPort;
    const qint64 kCheckPort;
    const qint64 kHttpPort;
    const qint64 kLanInfoPort;

    // LAN endpoint.
    void startUdp();
    // One datagram from one of the listening sockets.
    void didReceiveData(const QByteArray& data, const QString& host, quint16 port);
    bool isConnectedWithDevice(const QString& deviceId) const;
    // Whether a LAN command from the host may run: no phone is paired over the LAN (none at all, or one
    // paired through the cloud without an address), or the host is that phone's address.
    bool acceptsLanCommandFrom(const QString& host) const;
    // Pairs the device; false, changing nothing, when another phone is paired.
    bool acceptConnectFromDeviceId(const QString& deviceId, const QString& deviceName,
                                   const std::optional<QString>& fromIpAddr);
    // Unpairs the device; false, changing nothing, when it is not paired.
    bool disconnectWithDevice(const QString& deviceId);
    void disconnect();
    void setConnectionAccepted(bool accepted);
    bool isAcceptingNewConnection() const;
    void sendLanHeartBeatToHost(const QString& host, const QString& message);
    void stopListening();
    QHash<QString, ClientInfo> connectingDeviceDic() const;

    // LAN HTTP server of slide information.
    void startHttpServer();
    std::optional<QString> currentSlideInfoString() const { return currentSlideInfoString_.get(); }

    // Cloud channel (main thread). Every request has a deadline for its whole exchange, and every answer
    // is read to at most kMaxAnswerBytes.
    static constexpr int kApiHeartBeatInterval = 5000;
    static constexpr int kApiUploadTimeout = 5000;
    static constexpr int kApiPollTimeout = 60000;
    static constexpr qint64 kMaxAnswerBytes = 1024 * 1024;
    // Polls that come back empty or fail start no sooner than a second after the one before; failures in
    // a row wait twice as long each time, up to kMaxPollBackoff.
    static constexpr int kMinPollInterval = 1000;
    static constexpr int kMaxPollBackoff = 30000;
    void startSendingApiHeartBeat();
    void sendApiHeartBeat();
    void handleHeartBeatSuccess();
    void handleHeartBeatFailure();
    void startGettingCommandFromApi();
    // Builds both slide-information documents on a background thread, stores the LAN one and uploads the
    // cloud one. One build runs at a time; asked for while one runs, exactly one more follows it, so the
    // last document stored and uploaded is the one of the latest request. slideMayMove: the command that
    // asked for it synthesised a key press or click, or started the show, which the presentation program
    // takes in on its own time; the build then waits for the presentation to show another slide than the
    // last build read, until kSlideChangeWait after the latest such request.
    void sendSlideInfoToClient(bool slideMayMove = false);
    // Longer than the presentation program takes to move its show after a key press, even when busy: a
    // wait that gives up too early builds the slide before the move. Only a command that turns out not
    // to move the show (a right click, an arrow on the last slide, start while the show runs) waits all
    // of it, and not even that when the build before took in its effect.
    static constexpr std::chrono::milliseconds kSlideChangeWait{300};
    // One upload at a time: asked for while one is in flight, the document waits for its end, replacing
    // any document waiting before it, so the cloud gets documents in the order they were built.
    void postSlideInfoToApi(const QString& infoString);
    int apiHeartBeatFailureCount() const { return apiHeartBeatFailureCount_; }
    bool isPollingCommands() const { return task_ != nullptr; }
    // Milliseconds until the next poll when the one that started elapsedMs ago ended empty or failed,
    // after failuresInARow failed polls (0 when it came back empty).
    static int pollPause(qint64 elapsedMs, int failuresInARow);
    void schedulePoll(int pauseMs);
    // The query text of a cloud request: names in ascending order, each name and value percent-encoded
    // leaving only letters, digits, "-._~", "/" and "?".
    static QByteArray encodeQuery(const QList<std::pair<QString, QString>>& parameters);

    // Machine-information document.
    void getSystemInfo();
    std::optional<QString> machineInfoQrCodeMessage() const { return machineInfoQrCodeMessage_.get(); }
    std::optional<QString> machineInfoUdpMessage() const { return machineInfoUdpMessage_.get(); }

private:
    // The port a socket takes for the value; nothing when the value is no port.
    static std::optional<quint16> portOf(qint64 value);
    // The same, after showing an error that names the key when the value is no port (as a port that
    // cannot be bound is reported); `refused` says what then does not happen.
    static std::optional<quint16> checkedPort(const char* key, qint64 value, const char* refused);
    void initialNetwork();
    void replyMachineInfo(const QString& host);
    // One slide-information push: refresh, the wait for a slide change after a request at moveAskedAt,
    // both documents, the upload handed to the main thread.
    void pushSlideInfo(std::optional<std::chrono::steady_clock::time_point> moveAskedAt);
    // Made on the main thread, before any push.
    void makeUploadHandOver();

    Collaborators collaborators_;
    std::once_flag udpStarted_;

    // The paired phone and the accepting flag change together under one lock, so the flag is YES
    // exactly when the table is empty.
    mutable std::mutex devicesMutex_;
    QHash<QString, ClientInfo> connectingDeviceDic_;
    bool isAcceptingNewConnection_ = true;

    AtomicValue<std::optional<QString>> machineInfoQrCodeMessage_;
    AtomicValue<std::optional<QString>> machineInfoUdpMessage_;
    std::unique_ptr<QTimer> machineInfoTimer_;

    AtomicValue<std::optional<QString>> currentSlideInfoString_;
    // Held from the start of a build of the stored document to its storing, so a document built earlier
    // never replaces one built later.
    std::mutex slideInfoMutex_;
    std::unique_ptr<LanInfoServer> webServer_;
    // The UTF-8 bytes of the stored document, made once for each new document.
    QByteArray slideInfoBytes(const QString& document);
    std::mutex slideInfoBytesMutex_;
    QString slideInfoBytesOf_;
    QByteArray slideInfoBytes_;

    // The push: running, and asked for again meanwhile.
    std::mutex pushMutex_;
    std::condition_variable pushEnded_;
    bool pushRunning_ = false;
    bool pushPending_ = false;
    // The latest request folded into the pending push that may move the show.
    std::optional<std::chrono::steady_clock::time_point> pendingMoveAskedAt_;
    // Takes the cloud documents of the pushes to the main thread; what it has not delivered yet goes
    // with it.
    std::unique_ptr<QObject> uploadHandOver_;

    // The cloud channel lives on the main thread: only it touches these.
    bool uploadInFlight_ = false;
    std::optional<QString> pendingUpload_;
    std::shared_ptr<CloudHttpClient> afNetworkManager_;
    std::unique_ptr<QTimer> apiHeartBeatTimer_;
    int apiHeartBeatFailureCount_ = 0;
    // Heartbeats are numbered as sent; an answer older than one already counted changes nothing.
    quint64 heartbeatsSent_ = 0;
    quint64 lastCountedHeartbeat_ = 0;
    std::shared_ptr<CloudHttpClient::Exchange> task_; // the poll under way
    quint64 pollsStarted_ = 0;
    std::unique_ptr<QTimer> nextPoll_;
    int pollFailuresInARow_ = 0;
    // The context of the cloud exchanges' completions: none runs once the service is going.
    std::unique_ptr<QObject> cloudContext_ = std::make_unique<QObject>();
};
