#include "SystemService.h"

#include "core/Coercion.h"
#include "core/Logger.h"
#include "core/PListHelper.h"
#include "platform/Alerts.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

namespace {

bool isJsonContentType(const QVariant& header) {
    const QString type = header.toString().section(u';', 0, 0).trimmed().toLower();
    return type == u"application/json" || type == u"text/json" || type == u"text/javascript";
}

// Only a web page: the address comes from the network.
void openDownloadPage(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http") && !url.host().isEmpty())
        platform::Platform::workspace()->openUrl(url);
}

} // namespace

QNetworkReply* SystemService::CheckNewVersion(QNetworkAccessManager& http) {
    QNetworkRequest request(QUrl(PListHelper::GetValueForKey(QStringLiteral("ApiRoot")).toString() +
                                 QStringLiteral("/api/AppVersions")));
    request.setRawHeader("Accept", "application/json, text/json, text/javascript");
    request.setTransferTimeout(60000);
    QNetworkReply* reply = http.get(request);
    // Qt reads the answer on a thread of its own, at most a buffer ahead of this one; the bytes are
    // counted here as they arrive.
    reply->setReadBufferSize(64 * 1024);
    auto body = std::make_shared<QByteArray>();
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, body] {
        body->append(reply->read(kMaxAnswerBytes + 1 - body->size()));
        if (body->size() > kMaxAnswerBytes)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, body] {
        reply->deleteLater();
        if (body->size() <= kMaxAnswerBytes)
            body->append(reply->read(kMaxAnswerBytes + 1 - body->size()));
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299 ||
            body->size() > kMaxAnswerBytes ||
            !isJsonContentType(reply->header(QNetworkRequest::ContentTypeHeader)))
            return;
        const QJsonDocument answer = QJsonDocument::fromJson(*body);
        if (answer.isObject())
            handleAppVersions(AppVersions::ParseFromDictionary(answer.object().toVariantMap()));
    });
    return reply;
}

void SystemService::handleAppVersions(const AppVersions& versions) {
    const qint64 running =
        Coercion::integerValue(PListHelper::GetValueForKey(QStringLiteral("CFBundleVersion")));
    const AppInfo& offered = versions.MacApp;
    if (offered.VersionNumber <= running)
        return;
    platform::Alerts& alerts = *platform::Platform::alerts();
    if (offered.IsForceUpdate) {
        LOG_INFO("检测到强制新版本");
        alerts.runModal({QStringLiteral("Found a newer version"),
                         QStringLiteral("Found a newer version, please update."),
                         {QStringLiteral("Update")}});
        openDownloadPage(offered.DownloadUrl);
        return;
    }
    LOG_INFO("检测到新版本");
    const QString question = QStringLiteral("Found a newer version, update now?");
    if (alerts.runModal({question, question, {QStringLiteral("Update"), QStringLiteral("Later")}}) == 0)
        openDownloadPage(offered.DownloadUrl);
}

bool SystemService::CheckSIPforAppIdentifier(const QString&) {
    return true;
}
