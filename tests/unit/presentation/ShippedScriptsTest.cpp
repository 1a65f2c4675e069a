// The compiled scripts the built bundles ship on this host, run as the program runs them.
#include "platform/ProcessScriptRunner.h"
#include "presentation/PowerPointHelper.h"

#include "FakePresentation.h"
#include "Fakes.h"
#include "NotificationRecorder.h"
#include "Wait.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using platform::ProcessScriptRunner;

namespace {

const QStringList kFlavours{QStringLiteral("SlideWand"), QStringLiteral("PodiumCast"),
                            QStringLiteral("Steerlynx")};

QString resourcesOf(const QString& flavour) {
    return QStringLiteral(PC_BUNDLES_DIR) + u'/' + flavour + QStringLiteral(".app/Contents/Resources");
}

// Sets or unsets an environment variable for one scope; the scripts inherit the process's environment.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::optional<QByteArray>& value)
        : name_(name)
        , saved_(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
        set(value);
    }
    ~ScopedEnvironment() { set(saved_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void set(const std::optional<QByteArray>& value) {
        if (value)
            qputenv(name_, *value);
        else
            qunsetenv(name_);
    }
    const char* name_;
    std::optional<QByteArray> saved_;
};

std::optional<QString> textOf(ProcessScriptRunner& runner, const QString& name) {
    const auto outcome = runner.run(name);
    return outcome.result ? outcome.result->stringValue() : std::nullopt;
}

} // namespace

TEST(ShippedScripts, EveryBundleHoldsEveryScriptAsAnExecutable) {
    for (const QString& flavour : kFlavours) {
        for (const QString& name : FakePresentation::scriptNames()) {
            const QFileInfo script(resourcesOf(flavour) + u'/' + name + QStringLiteral(".scpt"));
            EXPECT_TRUE(script.isFile()) << script.filePath().toStdString();
            EXPECT_TRUE(script.isExecutable()) << script.filePath().toStdString();
        }
    }
}

TEST(ShippedScripts, NoApplicationHasADocumentAndTheCacheIsTheUsersOwn) {
    const QString home = QDir::homePath();
    for (const QString& flavour : kFlavours) {
        SCOPED_TRACE(flavour.toStdString());
        ProcessScriptRunner runner(resourcesOf(flavour));
        EXPECT_EQ(textOf(runner, QStringLiteral("isPptOpenOrNot")), QStringLiteral("no"));
        EXPECT_EQ(textOf(runner, QStringLiteral("isKeynoteOpenOrNot")), QStringLiteral("no"));
        {
            ScopedEnvironment cache("XDG_CACHE_HOME", QByteArray("/var/tmp/a cache/"));
            EXPECT_EQ(textOf(runner, QStringLiteral("getPdfPath")),
                      QStringLiteral("/var/tmp/a cache/PodiumCast/pdf/"));
        }
        {
            ScopedEnvironment cache("XDG_CACHE_HOME", std::nullopt);
            EXPECT_EQ(textOf(runner, QStringLiteral("getPdfPath")),
                      home + QStringLiteral("/.cache/PodiumCast/pdf/"));
        }
        {
            // A relative cache folder is not to be used.
            ScopedEnvironment cache("XDG_CACHE_HOME", QByteArray("relative/cache"));
            EXPECT_EQ(textOf(runner, QStringLiteral("getPdfPath")),
                      home + QStringLiteral("/.cache/PodiumCast/pdf/"));
        }
        {
            // Without any folder to name the script fails rather than naming a folder relative to
            // wherever the program runs.
            ScopedEnvironment cache("XDG_CACHE_HOME", std::nullopt);
            ScopedEnvironment noHome("HOME", std::nullopt);
            const auto outcome = runner.run(QStringLiteral("getPdfPath"));
            EXPECT_FALSE(outcome.result);
            EXPECT_TRUE(outcome.runError);
        }
    }
}

TEST(ShippedScripts, DocumentScriptsFailAsFindingNoSuchObject) {
    ProcessScriptRunner runner(resourcesOf(QStringLiteral("PodiumCast")));
    for (const QString& name : FakePresentation::scriptNames()) {
        if (name == u"getPdfPath" || name.endsWith(QStringLiteral("OpenOrNot")))
            continue;
        const auto outcome = runner.run(name);
        EXPECT_FALSE(outcome.result) << name.toStdString();
        EXPECT_FALSE(outcome.loadError) << name.toStdString();
        ASSERT_TRUE(outcome.runError) << name.toStdString();
        EXPECT_EQ(outcome.runError->number, -1728) << name.toStdString();
    }
}

TEST(ShippedScripts, TheBridgeOnTheShippedScriptsSeesNoPresentation) {
    ScopedEnvironment cache("XDG_CACHE_HOME", std::nullopt);
    NotificationRecorder recorder({QStringLiteral("kUpdatePptStatus")});
    auto helper = PowerPointHelper::create(
        {std::make_shared<ProcessScriptRunner>(resourcesOf(QStringLiteral("PodiumCast"))),
         std::make_shared<RecordingCommandRunner>(), QStringLiteral("com.brisvane.PodiumCastForMac"), 1e6});
    ASSERT_TRUE(waitUntil([&] { return !recorder.values(QStringLiteral("kUpdatePptStatus")).empty(); }));
    EXPECT_EQ(recorder.values(QStringLiteral("kUpdatePptStatus")),
              std::vector<int>{PowerPointHelper::kStatusNone});
    EXPECT_EQ(helper->tempFolderPath(), QDir::homePath() + QStringLiteral("/.cache/PodiumCast/pdf/"));
    EXPECT_FALSE(helper->isSlideShowPlaying());
    EXPECT_EQ(helper->getPptSize(), QSizeF(0, 0));
    helper->getSlideNotes();
    EXPECT_FALSE(helper->currentSlideNote());
}
