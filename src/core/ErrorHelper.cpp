#include "ErrorHelper.h"

#include "Logger.h"
#include "ThreadHelper.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"
#include "platform/Platform.h"

void ErrorHelper::ShowErrorMessage(const QString& message) {
    ShowErrorMessage(message, *platform::Platform::alerts());
}

void ErrorHelper::ShowErrorMessage(const QString& message, platform::Alerts& alerts) {
    LOG_ERROR("{}", message);
    const auto bundle = platform::Bundle::main();
    const platform::AlertRequest alert{bundle->localizedString(QStringLiteral("Error")),
                                       message,
                                       {bundle->localizedString(QStringLiteral("OK"))}};
    ThreadHelper::RunOnMainThread([&alert, &alerts] { alerts.runModal(alert); });
}
