// The bundle's PowerPoint scripts as clients of the resident bridge to LibreOffice Impress: no bridge
// listening, a bridge ending during a request or by itself, and an office started again on its pipe.
#include "ImpressProcess.h"
#include "Wait.h"
#include "platform/ProcessScriptRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::ProcessScriptRunner;

namespace {

const QString kResources = QStringLiteral(PC_BUNDLES_DIR "/PodiumCast.app/Contents/Resources");

// Whether the process runs (and is not a zombie nobody reaped yet).
bool alive(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return pid > 0 && stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(path.toLocal8Bit().constData(), &info) == 0 ? info.st_mode : 0;
}

class ImpressBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(work.isValid());
        ASSERT_EQ(::mkdir(runtime().toLocal8Bit().constData(), 0700), 0);
        qputenv("XDG_RUNTIME_DIR", runtime().toUtf8());
        usePipe(QStringLiteral("pcbridge%1").arg(QCoreApplication::applicationPid()));
    }
    // The bridges end once their sockets go with the test's folder.
    void TearDown() override {
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        qunsetenv("PODIUMCAST_IMPRESS_PIPE");
    }

    void usePipe(const QString& name) {
        pipe = name;
        qputenv("PODIUMCAST_IMPRESS_PIPE", name.toUtf8());
    }
    QString runtime() const { return work.path() + QStringLiteral("/run"); }
    QString socket() const { return runtime() + QStringLiteral("/podiumcast/impress-") + pipe + ".sock"; }
    // The bridge serving the pipe, as its lock file names it.
    pid_t bridge() const {
        QFile lock(socket() + QStringLiteral(".lock"));
        return lock.open(QIODevice::ReadOnly) ? pid_t(lock.readAll().trimmed().toInt()) : 0;
    }
    std::optional<QString> answer(const char* name) {
        const auto outcome = runner.run(QString::fromLatin1(name));
        return outcome.result ? outcome.result->stringValue() : std::nullopt;
    }

    QTemporaryDir work;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR"); // the test process's own
    QString pipe;
    ProcessScriptRunner runner{kResources};
};

} // namespace

TEST_F(ImpressBridgeTest, AScriptStartsTheBridgeWhenNoneListensAndLaterScriptsUseIt) {
    EXPECT_EQ(answer("isPptOpenOrNot"), "no");
    const pid_t first = bridge();
    ASSERT_TRUE(alive(first));
    EXPECT_EQ(modeOf(socket()), mode_t(S_IFSOCK | 0600));
    EXPECT_EQ(modeOf(QFileInfo(socket()).path()), mode_t(S_IFDIR | 0700));
    EXPECT_EQ(runner.run("getPptTotalSlideCount").runError.value_or(platform::ScriptError{}).number,
              -600); // no office on the pipe
    EXPECT_EQ(bridge(), first);

    // A runtime folder others may write into holds no socket: the script runs on its own.
    ASSERT_EQ(::chmod(runtime().toLocal8Bit().constData(), 0777), 0);
    usePipe(pipe + QStringLiteral("open"));
    EXPECT_EQ(answer("isPptOpenOrNot"), "no");
    EXPECT_FALSE(QFileInfo::exists(socket()));
    ASSERT_EQ(::chmod(runtime().toLocal8Bit().constData(), 0700), 0);

    // A bridge without requests for its idle limit ends, taking its socket with it.
    usePipe(pipe + QStringLiteral("idle"));
    QProcess idle;
    idle.start(QStringLiteral("/usr/bin/python3"),
               {"-EsB", kResources + "/impress_bridge.py", "serve", socket(), "1"});
    ASSERT_TRUE(idle.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(socket()); }, 20000)) << "the bridge did not listen";
    EXPECT_EQ(answer("isPptOpenOrNot"), "no");
    EXPECT_EQ(bridge(), pid_t(idle.processId()));
    EXPECT_TRUE(idle.waitForFinished(10000));
    EXPECT_FALSE(QFileInfo::exists(socket()));
}

TEST_F(ImpressBridgeTest, ABridgeEndingDuringARequestFailsThatRunAndTheNextRunStartsAnother) {
    // An office that takes the connection and never answers keeps the bridge inside the request.
    const QString officePipe = QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(::getuid()).arg(pipe);
    QLocalServer::removeServer(officePipe);
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(officePipe)) << silent.errorString().toStdString();
    QProcess run; // the script as the runner starts it
    run.start(kResources + QStringLiteral("/getPptTotalSlideCount.scpt"));
    ASSERT_TRUE(silent.waitForNewConnection(20000));
    const pid_t first = bridge();
    ASSERT_TRUE(alive(first));
    ::kill(first, SIGKILL);

    ASSERT_TRUE(run.waitForFinished(20000));
    EXPECT_EQ(run.exitCode(), 1);
    EXPECT_EQ(run.readAllStandardOutput(), "");
    const QByteArray error = run.readAllStandardError();
    EXPECT_TRUE(error.startsWith("-609\n") && error.contains("ended during the run")) << error.toStdString();

    // Its socket is left behind; the next run starts a bridge in its place.
    silent.close();
    EXPECT_EQ(answer("isPptOpenOrNot"), "no");
    EXPECT_NE(bridge(), first);
    EXPECT_TRUE(alive(bridge()));
}

TEST_F(ImpressBridgeTest, AnOfficeStartedAgainOnThePipeIsAnsweredByTheSameBridge) {
    if (const auto why = ImpressProcess::unavailable())
        GTEST_SKIP() << why->toStdString();
    auto office = std::make_unique<ImpressProcess>();
    ASSERT_TRUE(office->start()) << office->log().toStdString();
    usePipe(office->pipeName());
    const QString deck = work.path() + QStringLiteral("/first.pptx");
    ASSERT_TRUE(office->fixture({"make-deck", deck, "2"}) && office->fixture({"open", deck}));
    EXPECT_EQ(answer("isPptOpenOrNot"), deck);
    const pid_t first = bridge();

    // The office ends and comes back before the next script: the bridge finds its connection gone and
    // makes a new one within that script's run.
    office->kill();
    office.reset();
    ImpressProcess again(pipe);
    ASSERT_TRUE(again.start()) << again.log().toStdString();
    const QString other = work.path() + QStringLiteral("/second.pptx");
    ASSERT_TRUE(again.fixture({"make-deck", other, "3"}) && again.fixture({"open", other}));
    EXPECT_EQ(answer("isPptOpenOrNot"), other);
    EXPECT_EQ(answer("getPptTotalSlideCount"), "3");
    EXPECT_EQ(bridge(), first);
}

// The office stood in for by a uno module of the test's own, whose export the test holds and which writes
// on from a process of its own after its client went away, as LibreOffice does. An export whose answer
// nobody takes leaves nothing in the temporary folder, with the bridge and with a script on its own.
TEST_F(ImpressBridgeTest, AnExportNobodyTakesLeavesNothingThoughTheOfficeWritesOn) {
    QTemporaryDir exports;
    const QString office = work.path() + QStringLiteral("/office");
    ASSERT_TRUE(QDir().mkpath(office));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PYTHONPATH", PC_FAKE_UNO);
    environment.insert("FAKE_UNO", office);
    environment.insert("TMPDIR", exports.path());
    const auto has = [&](const char* name) {
        return QFile::exists(office + u'/' + QLatin1String(name));
    };
    const auto finishExport = [&] {
        QFile(office + QStringLiteral("/go")).open(QIODevice::WriteOnly);
        return waitUntil([&] { return has("done"); }, 20000);
    };
    const auto left = [&] {
        return QDir(exports.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    };
    const auto cleanUp = qScopeGuard([&] { finishExport(); }); // the office's writer ends

    // The script asking the bridge is killed during the export.
    ASSERT_EQ(::mkdir(QFileInfo(socket()).path().toLocal8Bit().constData(), 0700), 0);
    QProcess bridge;
    bridge.setProcessEnvironment(environment);
    bridge.start(QStringLiteral("/usr/bin/python3"),
                 {"-sB", kResources + "/impress_bridge.py", "serve", socket()});
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(socket()); }, 20000)) << "the bridge did not listen";
    QProcess client;
    client.setProcessEnvironment(environment);
    client.start(kResources + QStringLiteral("/ppt2Pdf.scpt"));
    ASSERT_TRUE(waitUntil([&] { return has("storing"); }, 20000));
    client.kill();
    ASSERT_TRUE(client.waitForFinished(10000));
    ASSERT_TRUE(finishExport());
    EXPECT_TRUE(waitUntil([&] { return left().isEmpty(); }, 10000)) << left().join(' ').toStdString();

    // The script on its own, with no bridge, gets SIGTERM during the export: it removes what the export
    // made at once, and ends as the signal says.
    for (const char* name : {"storing", "go", "done"})
        QFile::remove(office + u'/' + QLatin1String(name));
    QProcess alone;
    alone.setProcessEnvironment(environment);
    alone.start(QStringLiteral("/usr/bin/python3"),
                {"-sB", kResources + "/impress_bridge.py", "run", "ppt2Pdf"});
    ASSERT_TRUE(waitUntil([&] { return has("storing"); }, 20000));
    alone.terminate();
    ASSERT_TRUE(alone.waitForFinished(10000)) << "the script waited for the office";
    EXPECT_EQ(alone.exitStatus(), QProcess::CrashExit);
    ASSERT_TRUE(finishExport());
    EXPECT_TRUE(left().isEmpty()) << left().join(' ').toStdString();
}
