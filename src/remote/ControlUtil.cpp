#include "ControlUtil.h"

#include "core/Logger.h"
#include "platform/Bundle.h"
#include "platform/CommandRunner.h"
#include "platform/EventPoster.h"

#include <chrono>

namespace {

// The script texts of the actions, as the phone's protocol was designed with them.
const QString kSleep = QStringLiteral(R"(do shell script "pmset sleepnow")");
const QString kReboot = QStringLiteral(R"(tell app "System Events" to restart)");
const QString kShutdown = QStringLiteral(R"(Tell application "System Events" to shut down)");
const QString kLogout = QStringLiteral(R"(tell app "System Events" to log out)");
const QString kStartScreenSaver =
    QStringLiteral(R"(tell application "System Events" to start current screen saver)");
const QString kLockScreen = QStringLiteral(
    R"(do shell script "/System/Library/CoreServices/Menu\\ Extras/User.menu/Contents/Resources/CGSession -suspend")");
const QString kReadVolume = QStringLiteral("set a to output volume of (get volume settings)\n");
const QString kVolumeUp = kReadVolume + QStringLiteral(" set volume output volume a + 5");
const QString kVolumeDown = kReadVolume + QStringLiteral(" set volume output volume a - 5");
const QString kVolumeMute = kReadVolume + QStringLiteral(" set volume output volume 0");
const QString kEjectAll =
    QStringLiteral(R"(tell application "Finder" to eject (every disk whose ejectable is true))");

// Unmounts the file systems of every removable disk and powers the disk off; ejects removable optical
// media. A fixed text: nothing from outside goes into it.
const QString kEjectRemovable = QStringLiteral(R"(status=0
for line in $(lsblk -dnrpo NAME,RM,TYPE | awk '$2 == 1 { print $1 "," $3 }'); do
    disk=${line%,*}
    case ${line##*,} in
    rom)
        eject "$disk" || status=1 ;;
    disk)
        for part in $(lsblk -nrpo NAME,MOUNTPOINT "$disk" | awk 'NF >= 2 { print $1 }'); do
            udisksctl unmount --no-user-interaction -b "$part" || status=1
        done
        udisksctl power-off --no-user-interaction -b "$disk" || status=1 ;;
    esac
done
exit $status)");

QString describe(int number, const QString& message) {
    return QStringLiteral("{\n    NSAppleScriptErrorMessage = \"") + message +
           QStringLiteral("\";\n    NSAppleScriptErrorNumber = ") + QString::number(number) +
           QStringLiteral(";\n}");
}

QString describe(const platform::ScriptError& error) {
    return describe(error.number, error.message);
}

// The error of a command that did not start or did not end with status 0; absent when it succeeded.
std::optional<QString> commandError(const QString& program, const platform::CommandResult& result) {
    if (!result.started)
        return describe(-1, QStringLiteral("cannot start ") + program);
    if (result.exitCode != 0) {
        const QString message = result.standardError.trimmed();
        return describe(result.exitCode, message.isEmpty() ? program + QStringLiteral(" failed") : message);
    }
    return std::nullopt;
}

} // namespace

std::optional<ControlUtil::LinuxCommand> ControlUtil::linuxEquivalentOf(const QString& source) {
    const auto pactl = [](const QString& volume) {
        return LinuxCommand{QStringLiteral("pactl"),
                            {QStringLiteral("set-sink-volume"), QStringLiteral("@DEFAULT_SINK@"), volume}};
    };
    // Power and session go through systemd-logind; the volume through PulseAudio (or PipeWire's
    // PulseAudio server), where +5 of an output volume of 0 to 100 is 5 %.
    const std::pair<const QString&, LinuxCommand> table[] = {
        {kSleep, {QStringLiteral("systemctl"), {QStringLiteral("suspend")}}},
        {kReboot, {QStringLiteral("systemctl"), {QStringLiteral("reboot")}}},
        {kShutdown, {QStringLiteral("systemctl"), {QStringLiteral("poweroff")}}},
        // An empty session name is the session of the caller.
        {kLogout, {QStringLiteral("loginctl"), {QStringLiteral("terminate-session"), QString()}}},
        {kStartScreenSaver, {QStringLiteral("xdg-screensaver"), {QStringLiteral("activate")}}},
        // Without a session name: the session of the caller.
        {kLockScreen, {QStringLiteral("loginctl"), {QStringLiteral("lock-session")}}},
        {kVolumeUp, pactl(QStringLiteral("+5%"))},
        {kVolumeDown, pactl(QStringLiteral("-5%"))},
        {kVolumeMute, pactl(QStringLiteral("0%"))},
        {kEjectAll, {QStringLiteral("/bin/sh"), {QStringLiteral("-c"), kEjectRemovable}}},
    };
    for (const auto& [text, command] : table) {
        if (text == source)
            return command;
    }
    return std::nullopt;
}

ControlUtil::ControlUtil(Collaborators collaborators)
    : collaborators_(std::move(collaborators)) {}

// ---- Script texts ------------------------------------------------------------------------------

std::optional<platform::ScriptDescriptor> ControlUtil::runAppleScript(const QString& source) {
    const auto command = linuxEquivalentOf(source);
    if (!command)
        return std::nullopt;
    LOG_INFO("compiled the script");
    const platform::CommandResult result =
        collaborators_.commands->run(command->program, command->arguments, std::chrono::seconds(120));
    if (const auto error = commandError(command->program, result)) {
        LOG_ERROR("{}", *error);
        return std::nullopt;
    }
    QString out = result.standardOutput;
    if (out.endsWith(u'\n'))
        out.chop(1);
    return platform::ScriptDescriptor(out.isEmpty() ? std::nullopt : std::optional<QString>(out));
}

void ControlUtil::sleep() {
    runAppleScript(kSleep);
}
void ControlUtil::reboot() {
    runAppleScript(kReboot);
}
void ControlUtil::shutdown() {
    runAppleScript(kShutdown);
}
void ControlUtil::logout() {
    runAppleScript(kLogout);
}
void ControlUtil::startScreenSaver() {
    runAppleScript(kStartScreenSaver);
}
void ControlUtil::lockScreen() {
    runAppleScript(kLockScreen);
}
void ControlUtil::volumeUp() {
    runAppleScript(kVolumeUp);
}
void ControlUtil::volumeDown() {
    runAppleScript(kVolumeDown);
}
void ControlUtil::volumeMute() {
    runAppleScript(kVolumeMute);
}
void ControlUtil::ejectAll() {
    runAppleScript(kEjectAll);
}

void ControlUtil::setBlueToothState(const std::optional<QString>& state) {
    if (!state) {
        LOG_INFO("setBlueToothState: no state given");
        return;
    }
    const auto tool = collaborators_.bundle->pathForResource(QStringLiteral("blueutil"));
    if (!tool) {
        LOG_ERROR("setBlueToothState: the bundle holds no blueutil");
        return;
    }
    const platform::CommandResult result =
        collaborators_.commands->run(*tool, {QStringLiteral("-p"), *state}, std::chrono::seconds(120));
    if (const auto error = commandError(*tool, result))
        LOG_ERROR("{}", *error);
}

// ---- Scripts of the bundle ---------------------------------------------------------------------

std::optional<platform::ScriptDescriptor> ControlUtil::runAppleScriptWithPath(const QString& name) {
    if (!platform::Bundle::isPlainResourceName(name)) {
        LOG_INFO("runAppleScript: refused to run a script outside the bundle");
        return std::nullopt;
    }
    std::lock_guard lock(lock_);
    LOG_VERBOSE("runAppleScript: {}", name);
    if (!collaborators_.bundle->pathForResource(name, QStringLiteral("scpt"))) {
        LOG_ERROR("Error init apple script: {}", describe(-43, QStringLiteral("no script named ") + name));
        return std::nullopt;
    }
    const platform::ScriptRunResult outcome = collaborators_.scripts->run(name);
    if (outcome.loadError)
        LOG_ERROR("Error init apple script: {}", describe(*outcome.loadError));
    if (outcome.runError)
        LOG_ERROR("Error running apple script: {}", describe(*outcome.runError));
    return outcome.result;
}

void ControlUtil::changeWifiState() {
    runAppleScriptWithPath(QStringLiteral("wifi"));
}
void ControlUtil::searchClipboard() {
    runAppleScriptWithPath(QStringLiteral("searchClipboard"));
}

// ---- Shortcuts ---------------------------------------------------------------------------------

void ControlUtil::PostKeyEvent(std::int64_t keyCode, bool down, std::uint64_t flags) {
    platform::InputEvent event;
    event.type = down ? platform::EventType::KeyDown : platform::EventType::KeyUp;
    event.keyCode = std::uint16_t(keyCode);
    event.flags = flags;
    event.source = platform::EventSource::Private;
    event.tap = platform::EventTap::Hid;
    collaborators_.events->post(event);
}

void ControlUtil::postKey(std::int64_t keyCode, std::uint64_t flags) {
    PostKeyEvent(keyCode, true, flags);
    PostKeyEvent(keyCode, false, kKeyUpFlags);
}

void ControlUtil::brightnessUp() {
    postKey(113, kFn); // F15
}

void ControlUtil::brightnessDown() {
    postKey(107, kFn); // F14
}

void ControlUtil::previousDesktop() {
    postKey(123, kFn | kControl); // left arrow
}

void ControlUtil::nextDesktop() {
    postKey(124, kFn | kControl); // right arrow
}

void ControlUtil::missionControl() {
    postKey(126, kFn | kControl); // up arrow
}

void ControlUtil::applicationWindows() {
    postKey(125, kFn | kControl); // down arrow
}

void ControlUtil::launchPad() {
    postKey(131, kFn); // launchpad
}

void ControlUtil::siri() {
    postKey(49, kFn); // space
}

void ControlUtil::screenShot() {
    postKey(21, kCommand | kShift); // 4
}

void ControlUtil::spotlight() {
    postKey(49, kCommand); // space
}

void ControlUtil::previousApplication() {
    postKey(48, kCommand); // tab
}

void ControlUtil::switchWindow() {
    postKey(50, kCommand); // grave accent
}

void ControlUtil::maximizeWindow() {
    postKey(3, kCommand | kControl); // F
}

void ControlUtil::previousTab() {
    postKey(33, kCommand | kShift); // left bracket
}

void ControlUtil::nextTab() {
    postKey(30, kCommand | kShift); // right bracket
}

void ControlUtil::refresh() {
    postKey(15, kCommand); // R
}

void ControlUtil::closeTab() {
    postKey(13, kCommand); // W
}

void ControlUtil::newTab() {
    postKey(17, kCommand); // T
}

void ControlUtil::quitApplication() {
    postKey(12, kCommand); // Q
}

void ControlUtil::forceQuit() {
    postKey(53, kCommand | kOption); // escape
}

void ControlUtil::showDesktop() {
    postKey(46, kCommand | kOption); // M
    postKey(4, kCommand | kOption);  // H
}

// ---- Test action -------------------------------------------------------------------------------

void ControlUtil::testParamWithP1(const std::optional<QString>& p1, const std::optional<QString>& p2) {
    const QString null = QStringLiteral("(null)");
    Logger::plain(QStringLiteral("P1 = ") + p1.value_or(null) + QStringLiteral(", P2 = ") +
                  p2.value_or(null));
}
