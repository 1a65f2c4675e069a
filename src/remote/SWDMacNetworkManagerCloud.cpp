// The network service's HTTP sides: the LAN server of slide information and the cloud channel
// (heartbeat, command long-poll, slide-information upload).
#include "SWDMacNetworkManager.h"

#include "CloudHttpClient.h"
#include "LanInfoServer.h"

#include "core/ErrorHelper.h"
#include "core/GlobalQueue.h"
#include "core/LocalUtils.h"
#include "core/Logger.h"
#include "core/Notifications.h"
#include "core/PListHelper.h"
#include "core/StringHelper.h"
#include "platform/HostFacts.h"
#include "presentation/PowerPointHelper.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <mutex>

namespace {

using Result = CloudHttpClient::Result;

QString apiRoot() {
    return PListHelper::GetValueForKey(QStringLiteral("ApiRoot")).toString();
}

QUrl apiUrl(const QString& path, const QList<std::pair<QString, QString>>& parameters = {}) {
    QByteArray url = (apiRoot() + path).toUtf8();
    if (!parameters.isEmpty())
        url += '?' + SWDMacNetworkManager::encodeQuery(parameters);
    return QUrl::fromEncoded(url, QUrl::TolerantMode);
}

QString withoutBlanks(QString text) {
    return text.remove(u' ');
}

// Hands a push's cloud document to the main thread. The document travels under a mutex of ours and Qt's
// event loop carries only the call, so the push's work is ordered before the upload. A document handed
// over while one waits replaces it: the upload takes the newest.
class UploadHandOver : public QObject {
    Q_OBJECT
public:
    explicit UploadHandOver(std::function<void(const QString&)> upload)
        : upload_(std::move(upload)) {}

    void hand(const QString& document) {
        {
            std::lock_guard lock(mutex_);
            document_ = document;
        }
        QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
    }

    Q_INVOKABLE void deliver() {
        std::optional<QString> document;
        {
            std::lock_guard lock(mutex_);
            document.swap(document_);
        }
        if (document)
            upload_(*document);
    }

private:
    const std::function<void(const QString&)> upload_;
    std::mutex mutex_;
    std::optional<QString> document_;
};

} // namespace

// ---- LAN HTTP server -------------------------------------------------------------------------------

void SWDMacNetworkManager::startHttpServer() {
    LOG_DEBUG("startHttpServer");
    webServer_ = std::make_unique<LanInfoServer>(
        [this] { return slideInfoBytes(currentSlideInfoString().value_or(QString())); },
        [this] {
            // A push may have stored its document while this request waited for the lock: that one is
            // newer than any this request would build.
            std::lock_guard lock(slideInfoMutex_);
            if (StringHelper::isNullOrEmpty(currentSlideInfoString()))
                currentSlideInfoString_.set(collaborators_.presentation().getSlideInfoString(false, 0));
            return slideInfoBytes(currentSlideInfoString().value_or(QString()));
        });
    const auto port = checkedPort("LanInfoPort", kLanInfoPort, "the slide information is not served");
    if (const auto error = port ? webServer_->start(*port) : std::nullopt)
        ErrorHelper::ShowErrorMessage(QStringLiteral("Error binding port %1: %2").arg(*port).arg(*error));
}

QByteArray SWDMacNetworkManager::slideInfoBytes(const QString& document) {
    std::lock_guard lock(slideInfoBytesMutex_);
    if (!document.isSharedWith(slideInfoBytesOf_)) {
        slideInfoBytesOf_ = document;
        slideInfoBytes_ = document.toUtf8();
    }
    return slideInfoBytes_;
}

// ---- Cloud channel ---------------------------------------------------------------------------------

QByteArray SWDMacNetworkManager::encodeQuery(const QList<std::pair<QString, QString>>& parameters) {
    auto sorted = parameters;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QByteArrayList pairs;
    for (const auto& [name, value] : sorted)
        pairs.append(QUrl::toPercentEncoding(name, "/?") + '=' + QUrl::toPercentEncoding(value, "/?"));
    return pairs.join('&');
}

void SWDMacNetworkManager::startSendingApiHeartBeat() {
    LOG_DEBUG("startSendingApiHeartBeat");
    apiHeartBeatTimer_ = std::make_unique<QTimer>();
    apiHeartBeatTimer_->setInterval(kApiHeartBeatInterval);
    QObject::connect(apiHeartBeatTimer_.get(), &QTimer::timeout, [this] { sendApiHeartBeat(); });
    apiHeartBeatTimer_->start();
    sendApiHeartBeat();
}

void SWDMacNetworkManager::sendApiHeartBeat() {
    const auto& host = collaborators_.host;
    CloudHttpClient::Request request;
    request.url =
        apiUrl(QStringLiteral("/api/heartBeat"),
               {{QStringLiteral("machineId"), LocalUtils::GetMachineIndex()},
                {QStringLiteral("osVersion"), withoutBlanks(host->operatingSystemVersionString())},
                {QStringLiteral("appVersion"),
                 withoutBlanks(PListHelper::GetValueForKey(QStringLiteral("CFBundleVersion")).toString())}});
    const quint64 serial = ++heartbeatsSent_;
    afNetworkManager_->start(
        std::move(request), kMaxAnswerBytes, std::chrono::milliseconds(kApiHeartBeatInterval),
        cloudContext_.get(), [this, serial](const Result& result) {
            if (serial < lastCountedHeartbeat_) {
                LOG_VERBOSE("api: an answer to an older heartbeat is not counted");
                return;
            }
            lastCountedHeartbeat_ = serial;
            const auto body = result.succeeded() ? StringHelper::decodeUtf8(result.body) : std::nullopt;
            if (body && body->toLower().contains(QStringLiteral("heartbeat|ok")))
                handleHeartBeatSuccess();
            else
                handleHeartBeatFailure();
        });
}

void SWDMacNetworkManager::handleHeartBeatSuccess() {
    if (apiHeartBeatFailureCount_ != 0) {
        LOG_INFO("api: heartbeat back to normal");
        apiHeartBeatFailureCount_ = 0;
    } else {
        LOG_VERBOSE("api: send api heartbeat succeed");
    }
    // A poll waiting out its pause starts when the pause ends.
    if (!task_ && !(nextPoll_ && nextPoll_->isActive()))
        startGettingCommandFromApi();
    post(Notifications::kApiConnectionStatusChanged, true);
}

void SWDMacNetworkManager::handleHeartBeatFailure() {
    ++apiHeartBeatFailureCount_;
    LOG_ERROR("api:send api heartbeat failed. failureCount = {}", apiHeartBeatFailureCount_);
    LOG_INFO("api:Disconnected from server, pause getting command From Api");
    post(Notifications::kApiConnectionStatusChanged, false);
    if (nextPoll_)
        nextPoll_->stop();
    if (const auto poll = std::exchange(task_, nullptr))
        poll->abort();
}

int SWDMacNetworkManager::pollPause(qint64 elapsedMs, int failuresInARow) {
    const qint64 sinceStart = std::max<qint64>(0, kMinPollInterval - elapsedMs);
    if (failuresInARow <= 0)
        return int(sinceStart);
    const qint64 backoff = qint64(kMinPollInterval) << std::min(failuresInARow - 1, 15);
    return int(std::max(sinceStart, std::min<qint64>(backoff, kMaxPollBackoff)));
}

void SWDMacNetworkManager::startGettingCommandFromApi() {
    LOG_INFO("api:startGettingCommandFromApi");
    const QString machineId = LocalUtils::GetMachineIndex();
    CloudHttpClient::Request request;
    request.url = apiUrl(QStringLiteral("/api/Command"), {{QStringLiteral("id"), machineId}});
    if (task_)
        return;
    LOG_INFO("api:Getting command from api");
    QElapsedTimer started;
    started.start();
    const quint64 serial = ++pollsStarted_;
    task_ = afNetworkManager_->start(
        std::move(request), kMaxAnswerBytes, std::chrono::milliseconds(kApiPollTimeout), cloudContext_.get(),
        [this, machineId, started, serial](const Result& result) {
            if (serial == pollsStarted_) // not a poll a failed heartbeat let go of before the next began
                task_ = nullptr;
            if (result.succeeded()) {
                pollFailuresInARow_ = 0;
                LOG_VERBOSE("api: get success:{}", result.body);
                QString command = StringHelper::decodeUtf8(result.body).value_or(QString());
                qsizetype begin = 0, end = command.size();
                while (begin < end && command[begin] == u'"')
                    ++begin;
                while (end > begin && command[end - 1] == u'"')
                    --end;
                command = command.mid(begin, end - begin);
                LOG_INFO("api: get command: [{}] from machine id: [{}]", command, machineId);
                if (collaborators_.executor)
                    collaborators_.executor(command, std::nullopt);
                schedulePoll(command.isEmpty() ? pollPause(started.elapsed(), 0) : 0);
            } else if (apiHeartBeatFailureCount_ < 1) {
                LOG_VERBOSE("api: get command timeout. start getting command again right away.");
                schedulePoll(pollPause(started.elapsed(), ++pollFailuresInARow_));
            } else {
                LOG_ERROR("api: get command failure:{}", result.error);
            }
        });
}

// The next poll, at once or after the pause; a failed heartbeat meanwhile cancels it.
void SWDMacNetworkManager::schedulePoll(int pauseMs) {
    if (pauseMs <= 0) {
        startGettingCommandFromApi();
        return;
    }
    if (!nextPoll_) {
        nextPoll_ = std::make_unique<QTimer>();
        nextPoll_->setSingleShot(true);
        QObject::connect(nextPoll_.get(), &QTimer::timeout, [this] { startGettingCommandFromApi(); });
    }
    nextPoll_->start(pauseMs);
}

void SWDMacNetworkManager::sendSlideInfoToClient(bool slideMayMove) {
    LOG_DEBUG("start sendSlideInfoToClient");
    using MoveAskedAt = std::optional<std::chrono::steady_clock::time_point>;
    const MoveAskedAt moveAskedAt =
        slideMayMove ? MoveAskedAt(std::chrono::steady_clock::now()) : std::nullopt;
    {
        std::lock_guard lock(pushMutex_);
        if (pushRunning_) {
            // The push running read the presentation before this request: one more build follows it, for
            // this request and any others until then.
            pushPending_ = true;
            if (moveAskedAt)
                pendingMoveAskedAt_ = moveAskedAt;
            return;
        }
        pushRunning_ = true;
    }
    GlobalQueue::async([this, moveAskedAt] {
        for (MoveAskedAt asked = moveAskedAt;;) {
            pushSlideInfo(asked);
            std::lock_guard lock(pushMutex_);
            if (!pushPending_) {
                pushRunning_ = false;
                pushEnded_.notify_all();
                return;
            }
            pushPending_ = false;
            asked = std::exchange(pendingMoveAskedAt_, std::nullopt);
        }
    });
}

void SWDMacNetworkManager::pushSlideInfo(std::optional<std::chrono::steady_clock::time_point> moveAskedAt) {
    PowerPointHelper& presentation = collaborators_.presentation();
    presentation.refresh();
    // The move lands within kSlideChangeWait of its request; a build after that reads it anyway.
    const auto shown =
        moveAskedAt ? presentation.waitForSlideChange(*moveAskedAt + kSlideChangeWait) : std::nullopt;
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    QString infoString;
    {
        std::lock_guard lock(slideInfoMutex_);
        const PowerPointHelper::SlideInfoStrings documents = presentation.getSlideInfoStrings(now, shown);
        currentSlideInfoString_.set(documents.lan);
        infoString = documents.api;
    }
    LOG_VERBOSE("api: infoString = {}", infoString);
    // The request is made on the main thread, where the HTTP client lives; the push does not wait for it.
    static_cast<UploadHandOver*>(uploadHandOver_.get())->hand(infoString);
}

void SWDMacNetworkManager::makeUploadHandOver() {
    uploadHandOver_ = std::make_unique<UploadHandOver>(
        [this](const QString& infoString) { postSlideInfoToApi(infoString); });
}

void SWDMacNetworkManager::postSlideInfoToApi(const QString& infoString) {
    if (uploadInFlight_) {
        pendingUpload_ = infoString;
        return;
    }
    uploadInFlight_ = true;
    const QUrl url = apiUrl(QStringLiteral("/api/Info"));
    CloudHttpClient::Request request{"POST",
                                     url,
                                     {{"Content-Type", "application/json"}, {"Accept", "application/json"}},
                                     infoString.toUtf8()};
    afNetworkManager_->start(std::move(request), kMaxAnswerBytes,
                             std::chrono::milliseconds(kApiUploadTimeout), cloudContext_.get(),
                             [this, url](const Result& result) {
                                 if (!result.succeeded())
                                     LOG_ERROR("POST Failed {}: {{\nStatus code = {}\nError = {}\n}}",
                                               url.toString(), result.status, result.error);
                                 else
                                     LOG_INFO("POST Success {}: {{\nStatus code = {}\nResult = {}\n}}",
                                              url.toString(), result.status, result.body);
                                 uploadInFlight_ = false;
                                 if (auto next = std::exchange(pendingUpload_, std::nullopt))
                                     postSlideInfoToApi(*next);
                             });
}

#include "SWDMacNetworkManagerCloud.moc"
