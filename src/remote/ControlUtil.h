#pragma once

#include "platform/ScriptRunner.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {
class Bundle;
class CommandRunner;
class EventPoster;
} // namespace platform

// The computer-control actions. Each does its work in one of three ways: a script text run as its
// Linux equivalent (power, session, screen saver, lock, volume, eject), a script or tool of the bundle
// (Wi-Fi, clipboard search, Bluetooth), or a keyboard shortcut posted as key events.
class ControlUtil {
public:
    struct Collaborators {
        std::shared_ptr<platform::CommandRunner> commands;
        std::shared_ptr<platform::ScriptRunner> scripts; // the bundle's compiled scripts
        std::shared_ptr<platform::EventPoster> events;
        std::shared_ptr<const platform::Bundle> bundle; // where the tools are found
    };

    // The program and arguments a script text stands for on Linux.
    struct LinuxCommand {
        QString program;
        QStringList arguments;
    };

    // Virtual key codes and flags of the shortcuts.
    static constexpr std::uint64_t kFn = 0x800000;
    static constexpr std::uint64_t kControl = 0x40000;
    static constexpr std::uint64_t kOption = 0x80000;
    static constexpr std::uint64_t kCommand = 0x100000;
    static constexpr std::uint64_t kShift = 0x20000;
    // The flags of every shortcut's key-up: the non-coalesced flag alone.
    static constexpr std::uint64_t kKeyUpFlags = 0x100;

    explicit ControlUtil(Collaborators collaborators);

    // Script texts.
    void sleep();
    void reboot();
    void shutdown();
    void logout();
    void startScreenSaver();
    void lockScreen();
    void volumeUp();
    void volumeDown();
    void volumeMute();
    void ejectAll();
    // Runs the bundle's "blueutil" with "-p" and the state as its one argument (no shell between).
    // Without a state, or without the tool, it runs nothing.
    void setBlueToothState(const std::optional<QString>& state);

    // Scripts of the bundle.
    void changeWifiState();
    void searchClipboard();

    // Shortcuts.
    void brightnessUp();
    void brightnessDown();
    void previousDesktop();
    void nextDesktop();
    void missionControl();
    void applicationWindows();
    void launchPad();
    void siri();
    void screenShot();
    void spotlight();
    void showDesktop();
    void previousApplication();
    void switchWindow();
    void maximizeWindow();
    void previousTab();
    void nextTab();
    void refresh();
    void closeTab();
    void newTab();
    void quitApplication();
    void forceQuit();

    // Writes "P1 = <p1>, P2 = <p2>" to the plain console log, "(null)" for an absent value.
    void testParamWithP1(const std::optional<QString>& p1, const std::optional<QString>& p2);

    // Runs a script text as its Linux equivalent: "compiled the script" at info level, then the
    // command; its standard output (less one trailing line feed) is the result. A text without an
    // equivalent does not compile: nothing runs, nothing is logged. A failing command logs its error
    // and gives no result.
    std::optional<platform::ScriptDescriptor> runAppleScript(const QString& source);
    // Runs the bundle's compiled script "<name>.scpt", one run at a time. Only a plain name (no "/",
    // not ".."), and only a script the bundle holds, is run.
    std::optional<platform::ScriptDescriptor> runAppleScriptWithPath(const QString& name);
    // One shortcut: key-down with the flags, key-up with kKeyUpFlags, from a private source at the
    // HID tap.
    void postKey(std::int64_t keyCode, std::uint64_t flags);

    // The Linux equivalent of a script text, when it has one. The table of every script text the
    // actions run, and what each runs here, is this function.
    static std::optional<LinuxCommand> linuxEquivalentOf(const QString& source);

private:
    void PostKeyEvent(std::int64_t keyCode, bool down, std::uint64_t flags);

    const Collaborators collaborators_;
    std::mutex lock_; // serialises the runs of bundle scripts
};
