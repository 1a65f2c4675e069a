#pragma once

#include "TapdeckPanel.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// Typed access to the user defaults. Getters never fail: an absent key or an unreadable store reads as
// no value, 0, 0.0 or false. Storing an absent value removes the key.
class UserDefaultHelper {
public:
    static std::optional<QString> MachineIndex();
    // False when the id could not be saved (it then holds for this run only).
    static bool SaveMachineIndex(const std::optional<QString>& machineIndex);

    static qint64 SelectedVersion();
    static void SaveSelectedVersion(qint64 version);

    static bool IsStoppedShowingHint();
    static void SaveIsStoppedShowingHint(bool stopped);

    static bool IsStoppedShowingWelcome();
    static void SaveIsStoppedShowingWelcome(bool stopped);

    static std::optional<QString> DebugInfo();
    static void SaveDebugInfo(const std::optional<QString>& info);

    // The panel stored under "TapdeckPanel:<panelName>"; no panel, after an error log, when none is
    // stored or the stored text does not read as a panel. Nothing is removed from the store.
    static std::optional<TapdeckPanel> GetQuickPanelByName(const QString& panelName);
    // Stores the panel's JSON text under "TapdeckPanel:<panelName>", replacing any panel of that name.
    static void SaveQuickPanel(const TapdeckPanel& panel);

    static qint64 LastLaunchedVersion();
    // Stores the integer value of the bundle's "CFBundleVersion".
    static void SaveLastLaunchedVersion();

    static qint64 SteerlynxSoloHotKey();
    static void SaveSteerlynxSoloHotKey(qint64 hotKey);

    static double DelayTime();
    static void SaveDelayTime(double seconds);

    static bool IsNotFisrtLaunch();
    static void SaveIsNotFirstLaunch(bool notFirst);

    static bool IsAllowStayAfterHotkeyUp();
    static void SaveIsAllowStayAfterHotkeyUp(bool allow);

    static std::optional<QStringList> BannedKeys();
    // Adds the upper-cased name unless it is listed already.
    static void AddBannedKey(const QString& keyName);
    // Removes every entry equal to the upper-cased name; false when there was none.
    static bool RemoveBannedKey(const QString& keyName);
    static void SaveBannedKeys(const std::optional<QStringList>& keys);

    // The silent-mode applications: a list of JSON texts, one SilentModeApp each, keyed by bundleId.
    // The list operations read, change and store the whole list without a lock; callers that may run
    // at the same time must serialise them.
    static std::optional<QStringList> SilentModeAppJsonStrings();
    // Appends the application unless an entry with the same bundleId (exact) is listed already; an
    // existing entry's name is not updated. Entries that do not read as an application match nothing.
    static void AddSlientModeAppBundleId(const QString& bundleId, const QString& name);
    // Finds the first entry with the bundleId and removes every entry with exactly its text; false, and
    // nothing stored, when no entry has the bundleId.
    static bool RemoveSlientModeAppWithBundleId(const QString& bundleId);
    // Removes every entry equal to the text character for character; false, and nothing stored, when
    // there is none.
    static bool RemoveSlientModeAppWithJson(const QString& json);
    static void SaveSlientModeApps(const std::optional<QStringList>& apps);

    static std::optional<QString> CurrentLanguage();
    // Stores the value as it is given.
    static void SaveCurrentLanguage(const QVariant& language);

    // Typed reads shared by the getters: no value / 0 / 0.0 / false when absent or unreadable.
    static std::optional<QString> stringForKey(const QString& key);
    static qint64 integerForKey(const QString& key);
    static double doubleForKey(const QString& key);
    static bool boolForKey(const QString& key);
    static std::optional<QStringList> stringListForKey(const QString& key);
};
