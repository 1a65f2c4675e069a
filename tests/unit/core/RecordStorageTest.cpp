// Quick-command panels and silent-mode applications kept in the user defaults.
#include "core/SilentModeApp.h"
#include "core/TapdeckPanel.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"

#include "LogCapture.h"
#include "TestBundle.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

class RecordStorage : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
    }
    void TearDown() override { QFile::remove(UserDefaults::filePath()); }

    // The store as a later launch reads it: the file alone.
    static QJsonObject storedFile() {
        QFile file(UserDefaults::filePath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    static TapdeckPanel panelNamed(const QString& name, int commands = 1) {
        TapdeckPanel panel;
        panel.panelName = name;
        for (int i = 0; i < commands; ++i)
            panel.tapdeckCommands.append(
                TapdeckCommand(QStringLiteral("Command %1").arg(i), QStringLiteral("sendKey"),
                               QStringLiteral("F%1").arg(i), std::nullopt, i % 2 == 1));
        return panel;
    }

    static QString appJson(const char* bundleId, const char* name) {
        SilentModeApp app;
        app.bundleId = QString::fromUtf8(bundleId);
        app.name = QString::fromUtf8(name);
        return app.toJSONString();
    }

    TestBundle bundle{{{"CFBundleIdentifier", "com.example.RecordStorageTest"}}};
};

} // namespace

TEST_F(RecordStorage, SavedPanelsReadBackByName) {
    const TapdeckPanel work = panelNamed(QStringLiteral("Work"), 3);
    UserDefaultHelper::SaveQuickPanel(work);
    EXPECT_EQ(UserDefaultHelper::GetQuickPanelByName(QStringLiteral("Work")), work);

    // Stored as the panel's JSON text under "TapdeckPanel:<name>".
    const QJsonValue stored = storedFile().value("TapdeckPanel:Work");
    ASSERT_TRUE(stored.isString());
    EXPECT_EQ(TapdeckPanel::initWithString(stored.toString()), work);

    // Saving under the same name replaces; names are case-sensitive.
    const TapdeckPanel smaller = panelNamed(QStringLiteral("Work"), 1);
    UserDefaultHelper::SaveQuickPanel(smaller);
    UserDefaultHelper::SaveQuickPanel(panelNamed(QStringLiteral("work"), 2));
    EXPECT_EQ(UserDefaultHelper::GetQuickPanelByName(QStringLiteral("Work")), smaller);
    EXPECT_EQ(UserDefaultHelper::GetQuickPanelByName(QStringLiteral("work"))->tapdeckCommands.size(), 2);
}

TEST_F(RecordStorage, PanelNamesAreKeptLiterally) {
    // Names that differ only in slashes are different panels, and the file keeps each name as it is.
    const QString names[] = {"a", "a/",   "/a",     "x/y", "x//y", "",
                             "/", "100%", "100%2F", "%25", "b\\c", "Präsentation 演示"};
    int count = 1;
    for (const QString& name : names)
        UserDefaultHelper::SaveQuickPanel(panelNamed(name, count++));
    count = 1;
    const QJsonObject file = storedFile();
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const auto panel = UserDefaultHelper::GetQuickPanelByName(name);
        ASSERT_TRUE(panel);
        EXPECT_EQ(panel->panelName, name);
        EXPECT_EQ(panel->tapdeckCommands.size(), count++);
        EXPECT_TRUE(file.contains(QStringLiteral("TapdeckPanel:") + name));
    }
    EXPECT_EQ(file.size(), qsizetype(std::size(names)));
}

TEST_F(RecordStorage, APanelThatIsMissingOrDoesNotParseIsLoggedAndNotReturned) {
    LogCapture log;
    EXPECT_FALSE(UserDefaultHelper::GetQuickPanelByName(QStringLiteral("Never")));
    EXPECT_TRUE(log.hasError("Failed to get Panel by name Never: ")) << log.text();

    const std::pair<const char*, QVariant> broken[] = {
        {"Cut", QStringLiteral(R"({"panelName":"Cut","tapdeckCommands":[)")},
        {"NoList", QStringLiteral(R"({"panelName":"NoList"})")},
        {"BadCommand", QStringLiteral(R"({"panelName":"BadCommand","tapdeckCommands":[{"name":"n"}]})")},
        {"Array", QStringLiteral(R"([{"panelName":"Array","tapdeckCommands":[]}])")},
        {"Deep", QString(QString(5000, u'[') + QString(5000, u']'))},
        {"Number", 12},
        {"List", QStringList{R"({"panelName":"List","tapdeckCommands":[]})"}},
    };
    for (const auto& [name, value] : broken) {
        SCOPED_TRACE(name);
        UserDefaults::write(QStringLiteral("TapdeckPanel:") + QString::fromUtf8(name), value);
        log.clear();
        EXPECT_FALSE(UserDefaultHelper::GetQuickPanelByName(QString::fromUtf8(name)));
        EXPECT_TRUE(log.hasError(std::string("Failed to get Panel by name ") + name + ": ")) << log.text();
        // Nothing is removed from the store.
        EXPECT_TRUE(UserDefaults::read(QStringLiteral("TapdeckPanel:") + QString::fromUtf8(name)));
    }
}

TEST_F(RecordStorage, SilentModeAppsAreAddedOncePerBundleId) {
    EXPECT_FALSE(UserDefaultHelper::SilentModeAppJsonStrings());

    UserDefaultHelper::AddSlientModeAppBundleId(QStringLiteral("com.example.keynote"),
                                                QStringLiteral("Keynote"));
    UserDefaultHelper::AddSlientModeAppBundleId(QStringLiteral("com.example.ppt"),
                                                QStringLiteral("PowerPoint"));
    // The same bundle identifier with a new name changes nothing; another case is another application.
    UserDefaultHelper::AddSlientModeAppBundleId(QStringLiteral("com.example.keynote"),
                                                QStringLiteral("Renamed"));
    UserDefaultHelper::AddSlientModeAppBundleId(QStringLiteral("com.example.Keynote"),
                                                QStringLiteral("Upper"));

    const QStringList expected{appJson("com.example.keynote", "Keynote"),
                               appJson("com.example.ppt", "PowerPoint"),
                               appJson("com.example.Keynote", "Upper")};
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), expected);
    // Stored as a list of JSON texts, each a SilentModeApp.
    const QJsonArray stored = storedFile().value("SlientModeApps").toArray();
    ASSERT_EQ(stored.size(), 3);
    const auto first = SilentModeApp::initWithString(stored.at(0).toString());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->bundleId, "com.example.keynote");
    EXPECT_EQ(first->name, "Keynote");
}

TEST_F(RecordStorage, EntriesThatDoNotParseMatchNothingAndStay) {
    UserDefaultHelper::SaveSlientModeApps(
        QStringList{"garbage", R"({"bundleId":"com.example.a"})", R"([1])"});
    UserDefaultHelper::AddSlientModeAppBundleId(QStringLiteral("com.example.a"), QStringLiteral("A"));
    EXPECT_EQ(
        UserDefaultHelper::SilentModeAppJsonStrings(),
        (QStringList{"garbage", R"({"bundleId":"com.example.a"})", R"([1])", appJson("com.example.a", "A")}));
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithBundleId(QStringLiteral("garbage")));
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithBundleId(QStringLiteral("com.example.a")));
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(),
              (QStringList{"garbage", R"({"bundleId":"com.example.a"})", R"([1])"}));
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithJson(QStringLiteral("garbage")));
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(),
              (QStringList{R"({"bundleId":"com.example.a"})", R"([1])"}));
}

TEST_F(RecordStorage, RemovingByBundleIdTakesEveryCopyOfTheFirstMatch) {
    const QString a = appJson("com.example.a", "A");
    const QString b = appJson("com.example.b", "B");
    const QString aOther = appJson("com.example.a", "Another name");
    UserDefaultHelper::SaveSlientModeApps(QStringList{b, a, aOther, a});

    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithBundleId(QStringLiteral("com.example.a")));
    // Every entry with the first match's text goes; an entry for the same application written otherwise
    // stays.
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), (QStringList{b, aOther}));
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithBundleId(QStringLiteral("com.example.a")));
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), QStringList{b});
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithBundleId(QStringLiteral("com.example.a")));
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithBundleId(QStringLiteral("com.example.B")));

    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithBundleId(QStringLiteral("com.example.b")));
    // A list that becomes empty is stored as an empty list, not removed.
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), QStringList());
    EXPECT_TRUE(storedFile().value("SlientModeApps").isArray());
}

TEST_F(RecordStorage, RemovingByJsonNeedsTheExactText) {
    UserDefaultHelper::AddSlientModeAppBundleId(QStringLiteral("com.example.a"), QStringLiteral("A"));
    const QString stored = appJson("com.example.a", "A");
    for (const char* variant :
         {R"({"name":"A","bundleId":"com.example.a"})", R"({"bundleId": "com.example.a", "name": "A"})",
          R"({"bundleId":"com.example.a","name":"a"})", ""}) {
        SCOPED_TRACE(variant);
        EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithJson(QString::fromUtf8(variant)));
    }
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), QStringList{stored});
    EXPECT_TRUE(UserDefaultHelper::RemoveSlientModeAppWithJson(stored));
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), QStringList());
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithJson(stored));
}

TEST_F(RecordStorage, FailedRemovalsStoreNothing) {
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithBundleId(QStringLiteral("com.example.a")));
    EXPECT_FALSE(UserDefaultHelper::RemoveSlientModeAppWithJson(QStringLiteral("{}")));
    EXPECT_FALSE(UserDefaultHelper::SilentModeAppJsonStrings());
    EXPECT_FALSE(storedFile().contains("SlientModeApps"));
}

TEST_F(RecordStorage, SavingTheListReplacesItAndNoListRemovesIt) {
    UserDefaultHelper::AddSlientModeAppBundleId(QStringLiteral("com.example.a"), QStringLiteral("A"));
    // Stored unchanged, whatever the texts are.
    const QStringList replacement{"one", "one", ""};
    UserDefaultHelper::SaveSlientModeApps(replacement);
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), replacement);
    UserDefaultHelper::SaveSlientModeApps(QStringList{"only"});
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), QStringList{"only"});
    UserDefaultHelper::SaveSlientModeApps(std::nullopt);
    EXPECT_FALSE(UserDefaultHelper::SilentModeAppJsonStrings());
    EXPECT_FALSE(storedFile().contains("SlientModeApps"));

    // A stored value that is not a list of texts reads as no list; adding then starts a new list.
    UserDefaults::write(QStringLiteral("SlientModeApps"), QStringLiteral("not a list"));
    EXPECT_FALSE(UserDefaultHelper::SilentModeAppJsonStrings());
    UserDefaultHelper::AddSlientModeAppBundleId(QStringLiteral("com.example.a"), QStringLiteral("A"));
    EXPECT_EQ(UserDefaultHelper::SilentModeAppJsonStrings(), QStringList{appJson("com.example.a", "A")});
}
