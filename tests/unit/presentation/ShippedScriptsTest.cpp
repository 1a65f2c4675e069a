// The compiled scripts the built bundles ship on this host, run as the program runs them.
#include "FakePresentation.h"
#include "Fakes.h"
#include "NotificationRecorder.h"
#include "TestBundle.h"
#include "Wait.h"
#include "platform/ProcessScriptRunner.h"
#include "presentation/PowerPointHelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

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

bool isPowerPointScript(const QString& name) {
    return name.contains(QStringLiteral("Ppt")) || name == u"ppt2Pdf";
}

// A pipe name no office listens on, for the scripts of this process.
QByteArray unusedPipe() {
    return "pcnobody" + QByteArray::number(QCoreApplication::applicationPid());
}

} // namespace

TEST(ShippedScripts, EveryBundleHoldsEveryScriptAsAnExecutable) {
    for (const QString& flavour : kFlavours) {
        for (const QString& name : FakePresentation::scriptNames()) {
            const QFileInfo script(resourcesOf(flavour) + u'/' + name + QStringLiteral(".scpt"));
            EXPECT_TRUE(script.isFile()) << script.filePath().toStdString();
            EXPECT_TRUE(script.isExecutable()) << script.filePath().toStdString();
        }
        // The module the PowerPoint scripts share lies beside them.
        EXPECT_TRUE(QFileInfo(resourcesOf(flavour) + QStringLiteral("/impress_bridge.py")).isFile());
    }
}

TEST(ShippedScripts, WithoutImpressNothingIsOpenAndTheCacheIsTheUsersOwn) {
    ScopedEnvironment pipe("PODIUMCAST_IMPRESS_PIPE", unusedPipe());
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

TEST(ShippedScripts, DocumentScriptsFailWithoutImpressAndKeynoteHasNoDocument) {
    ScopedEnvironment pipe("PODIUMCAST_IMPRESS_PIPE", unusedPipe());
    ProcessScriptRunner runner(resourcesOf(QStringLiteral("PodiumCast")));
    for (const QString& name : FakePresentation::scriptNames()) {
        if (name == u"getPdfPath" || name.endsWith(QStringLiteral("OpenOrNot")))
            continue;
        const auto outcome = runner.run(name);
        EXPECT_FALSE(outcome.result) << name.toStdString();
        EXPECT_FALSE(outcome.loadError) << name.toStdString();
        ASSERT_TRUE(outcome.runError) << name.toStdString();
        // No office answers the PowerPoint scripts; Keynote finds no such object.
        EXPECT_EQ(outcome.runError->number, isPowerPointScript(name) ? -600 : -1728) << name.toStdString();
        EXPECT_TRUE(outcome.runError->message.contains(name)) << outcome.runError->message.toStdString();
    }
}

TEST(ShippedScripts, PowerPointScriptsRunDebiansPythonWhateverTheEnvironmentSays) {
    // A python3 first on the path, a module path and a Python home that would each break the run or
    // change its answer if the scripts took them.
    QTemporaryDir decoy;
    ASSERT_TRUE(decoy.isValid());
    const QByteArray poisoned = "import sys\nsys.stdout.write('poisoned\\n')\nsys.exit(0)\n";
    for (const char* file : {"/uno.py", "/impress_bridge.py"}) {
        QFile module(decoy.path() + QString::fromLatin1(file));
        ASSERT_TRUE(module.open(QIODevice::WriteOnly));
        module.write(poisoned);
    }
    QFile python(decoy.path() + QStringLiteral("/python3"));
    ASSERT_TRUE(python.open(QIODevice::WriteOnly));
    python.write("#!/bin/sh\necho poisoned\n");
    python.close();
    python.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    ScopedEnvironment pipe("PODIUMCAST_IMPRESS_PIPE", unusedPipe());
    ScopedEnvironment path("PATH", decoy.path().toUtf8() + ':' + qgetenv("PATH"));
    ScopedEnvironment modules("PYTHONPATH", decoy.path().toUtf8());
    ScopedEnvironment pythonHome("PYTHONHOME", QByteArray("/nonexistent"));
    ProcessScriptRunner runner(resourcesOf(QStringLiteral("PodiumCast")));
    EXPECT_EQ(textOf(runner, QStringLiteral("isPptOpenOrNot")), QStringLiteral("no"));
    const auto count = runner.run(QStringLiteral("getPptTotalSlideCount"));
    ASSERT_TRUE(count.runError);
    EXPECT_EQ(count.runError->number, -600);
    // The runs leave no byte code in the bundle.
    EXPECT_FALSE(
        QFileInfo::exists(resourcesOf(QStringLiteral("PodiumCast")) + QStringLiteral("/__pycache__")));
}

TEST(ShippedScripts, AnOfficeThatNeverAnswersEndsTheRunWithinTheScriptsOwnLimit) {
    // A pipe that takes the connection and never answers, as an office stuck in a dialog or a loop
    // would. The test's scripts wait one second instead of the shipped limit.
    const QString pipeName = QString::fromLatin1(unusedPipe()) + QStringLiteral("silent");
    const QString socketPath = QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(::getuid()).arg(pipeName);
    QLocalServer::removeServer(socketPath);
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(socketPath)) << silent.errorString().toStdString();

    TestBundle bundle({});
    QFile module(resourcesOf(QStringLiteral("PodiumCast")) + QStringLiteral("/impress_bridge.py"));
    ASSERT_TRUE(module.open(QIODevice::ReadOnly));
    bundle.addResource(QStringLiteral("impress_bridge.py"), module.readAll());
    for (const char* name : {"isPptOpenOrNot", "getPptTotalSlideCount"})
        bundle.addResource(QString::fromLatin1(name) + QStringLiteral(".scpt"),
                           QByteArray("#!/usr/bin/python3 -EsB\nimport impress_bridge\n"
                                      "impress_bridge.QUERY_LIMIT = 1\nimpress_bridge.main(\"") +
                               name + "\")\n",
                           true);

    ScopedEnvironment pipe("PODIUMCAST_IMPRESS_PIPE", pipeName.toUtf8());
    ProcessScriptRunner runner(bundle.resourcesPath(), std::chrono::seconds(60));
    for (const char* name : {"isPptOpenOrNot", "getPptTotalSlideCount"}) {
        const auto outcome = runner.run(QString::fromLatin1(name));
        EXPECT_FALSE(outcome.result) << name;
        ASSERT_TRUE(outcome.runError) << name;
        EXPECT_EQ(outcome.runError->number, -1712) << name;
        // The script's own limit ended it, not the runner's.
        EXPECT_TRUE(outcome.runError->message.contains(QStringLiteral("did not answer")))
            << outcome.runError->message.toStdString();
    }
    silent.close();
}

TEST(ShippedScripts, TheBridgeOnTheShippedScriptsSeesNoPresentation) {
    ScopedEnvironment pipe("PODIUMCAST_IMPRESS_PIPE", unusedPipe());
    ScopedEnvironment cache("XDG_CACHE_HOME", std::nullopt);
    NotificationRecorder recorder({Notifications::kUpdatePptStatus.qname()});
    auto helper = PowerPointHelper::create(
        {std::make_shared<ProcessScriptRunner>(resourcesOf(QStringLiteral("PodiumCast"))),
         std::make_shared<RecordingCommandRunner>(), std::make_shared<FakeHostFacts>(), Flavour::PodiumCast,
         1e6});
    ASSERT_TRUE(waitUntil([&] { return !recorder.values(Notifications::kUpdatePptStatus.qname()).empty(); }));
    EXPECT_EQ(recorder.values(Notifications::kUpdatePptStatus.qname()),
              std::vector<int>{PowerPointHelper::kStatusNone});
    EXPECT_EQ(helper->tempFolderPath(), QDir::homePath() + QStringLiteral("/.cache/PodiumCast/pdf/"));
    EXPECT_FALSE(helper->isSlideShowPlaying());
    EXPECT_EQ(helper->getPptSize(), QSizeF(0, 0));
    helper->getSlideNotes();
    EXPECT_FALSE(helper->currentSlideNote());
}
