#include "SystemService.h"

#include "core/Coercion.h"
#include "core/Logger.h"
#include "core/PListHelper.h"
#include "platform/Alerts.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "remote/CloudHttpClient.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {

bool isJsonContentType(const QString& header) {
    const QString type = header.section(u';', 0, 0).trimmed().toLower();
    return type == u"application/json" || type == u"text/json" || type == u"text/javascript";
}

// Only a web page: the address comes from the network.
void openDownloadPage(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http") && !url.host().isEmpty())
        platform::Platform::workspace()->openUrl(url);
}

} // namespace

std::shared_ptr<CloudHttpClient::Exchange> SystemService::CheckNewVersion(CloudHttpClient& http) {
    CloudHttpClient::Request request;
    request.url = QUrl(PListHelper::GetValueForKey(QStringLiteral("ApiRoot")).toString() +
                       QStringLiteral("/api/AppVersions"));
    request.headers = {{"Accept", "application/json, text/json, text/javascript"}};
    return http.start(std::move(request), kMaxAnswerBytes, std::chrono::seconds(60),
                      QCoreApplication::instance(), [](const CloudHttpClient::Result& result) {
                          if (!result.succeeded() || !isJsonContentType(result.contentType))
                              return;
                          const QJsonDocument answer = QJsonDocument::fromJson(result.body);
                          if (answer.isObject())
                              handleAppVersions(
                                  AppVersions::ParseFromDictionary(answer.object().toVariantMap()));
                      });
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
