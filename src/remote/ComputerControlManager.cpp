#include "ComputerControlManager.h"

#include "core/Installed.h"
#include "core/Logger.h"

#include <QHash>
#include <algorithm>
#include <functional>
#include <vector>

namespace {

using Arguments = std::vector<std::optional<QString>>;
using Action = std::function<void(ControlUtil&, const Arguments&)>;

Action noArguments(void (ControlUtil::*action)()) {
    return [action](ControlUtil& cu, const Arguments&) {
        (cu.*action)();
    };
}

const QHash<QString, Action>& actions() {
    static const QHash<QString, Action> table = {
        {QStringLiteral("sleep"), noArguments(&ControlUtil::sleep)},
        {QStringLiteral("reboot"), noArguments(&ControlUtil::reboot)},
        {QStringLiteral("shutdown"), noArguments(&ControlUtil::shutdown)},
        {QStringLiteral("logout"), noArguments(&ControlUtil::logout)},
        {QStringLiteral("startScreenSaver"), noArguments(&ControlUtil::startScreenSaver)},
        {QStringLiteral("lockScreen"), noArguments(&ControlUtil::lockScreen)},
        {QStringLiteral("volumeUp"), noArguments(&ControlUtil::volumeUp)},
        {QStringLiteral("volumeDown"), noArguments(&ControlUtil::volumeDown)},
        {QStringLiteral("volumeMute"), noArguments(&ControlUtil::volumeMute)},
        {QStringLiteral("ejectAll"), noArguments(&ControlUtil::ejectAll)},
        {QStringLiteral("setBlueToothState:"),
         [](ControlUtil& cu, const Arguments& a) {
             cu.setBlueToothState(a[0]);
         }},
        {QStringLiteral("changeWifiState"), noArguments(&ControlUtil::changeWifiState)},
        {QStringLiteral("searchClipboard"), noArguments(&ControlUtil::searchClipboard)},
        {QStringLiteral("brightnessUp"), noArguments(&ControlUtil::brightnessUp)},
        {QStringLiteral("brightnessDown"), noArguments(&ControlUtil::brightnessDown)},
        {QStringLiteral("previousDesktop"), noArguments(&ControlUtil::previousDesktop)},
        {QStringLiteral("nextDesktop"), noArguments(&ControlUtil::nextDesktop)},
        {QStringLiteral("missionControl"), noArguments(&ControlUtil::missionControl)},
        {QStringLiteral("applicationWindows"), noArguments(&ControlUtil::applicationWindows)},
        {QStringLiteral("launchPad"), noArguments(&ControlUtil::launchPad)},
        {QStringLiteral("siri"), noArguments(&ControlUtil::siri)},
        {QStringLiteral("screenShot"), noArguments(&ControlUtil::screenShot)},
        {QStringLiteral("spotlight"), noArguments(&ControlUtil::spotlight)},
        {QStringLiteral("showDesktop"), noArguments(&ControlUtil::showDesktop)},
        {QStringLiteral("previousApplication"), noArguments(&ControlUtil::previousApplication)},
        {QStringLiteral("switchWindow"), noArguments(&ControlUtil::switchWindow)},
        {QStringLiteral("maximizeWindow"), noArguments(&ControlUtil::maximizeWindow)},
        {QStringLiteral("previousTab"), noArguments(&ControlUtil::previousTab)},
        {QStringLiteral("nextTab"), noArguments(&ControlUtil::nextTab)},
        {QStringLiteral("refresh"), noArguments(&ControlUtil::refresh)},
        {QStringLiteral("closeTab"), noArguments(&ControlUtil::closeTab)},
        {QStringLiteral("newTab"), noArguments(&ControlUtil::newTab)},
        {QStringLiteral("quitApplication"), noArguments(&ControlUtil::quitApplication)},
        {QStringLiteral("forceQuit"), noArguments(&ControlUtil::forceQuit)},
        {QStringLiteral("testParamWithP1:P2:"),
         [](ControlUtil& cu, const Arguments& a) {
             cu.testParamWithP1(a[0], a[1]);
         }},
        // Any script text, shell commands included, from whoever can send a datagram: never run.
        {QStringLiteral("runAppleScript:"),
         [](ControlUtil&, const Arguments&) {
             LOG_INFO("runAppleScript: refused, a computer-control string runs no script text");
         }},
        {QStringLiteral("runAppleScriptWithPath:"),
         [](ControlUtil& cu, const Arguments& a) {
             if (a[0])
                 cu.runAppleScriptWithPath(*a[0]);
             else
                 LOG_INFO("runAppleScriptWithPath: no script named");
         }},
    };
    return table;
}

} // namespace

ComputerControlManager::ComputerControlManager(ControlUtil::Collaborators collaborators)
    : cu_(std::make_shared<ControlUtil>(std::move(collaborators))) {}

ComputerControlManager& ComputerControlManager::SharedManager() {
    return Installed<ComputerControlManager>::get("ComputerControlManager::SharedManager");
}

void ComputerControlManager::install(std::function<std::shared_ptr<ComputerControlManager>()> factory) {
    Installed<ComputerControlManager>::install(std::move(factory));
}

bool ComputerControlManager::executeCommandString(const std::optional<QString>& command) {
    if (!command) {
        LOG_INFO("Invalid ccmd.");
        return false;
    }
    const QStringList items = command->split(u',');
    const QString& name = items.first();
    const auto action = actions().constFind(name);
    if (action == actions().constEnd())
        return false;
    // One argument for each ":" of the name, as far as items came; the others are absent.
    const qsizetype count = std::min<qsizetype>(name.count(u':'), items.size() - 1);
    Arguments arguments(size_t(name.count(u':')));
    for (qsizetype i = 0; i < count; ++i)
        arguments[size_t(i)] = items[i + 1];
    (*action)(*cu_, arguments);
    return true;
}

QStringList ComputerControlManager::actionNames() {
    QStringList names = actions().keys();
    names.sort();
    return names;
}
