// A first launch of the real application on the X display: the welcome window asks which main window to
// run, Return takes the pre-selected version, and its main window then answers a phone's discovery.
#include "SystemTestSupport.h"
#include "Wait.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

// xdotool's output lines; nothing when it fails or has not finished within ten seconds.
QStringList xdotool(const QStringList& arguments) {
    QProcess p;
    p.start("xdotool", arguments);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QJsonObject settings(const AppProcess& app) {
    QFile file(app.settingsPath());
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

} // namespace

TEST(WelcomeSystem, ReturnInTheWelcomeWindowOpensThePodiumCastMainWindowWhichAnswersDiscovery) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "no X display or no xdotool";
    PhoneNamespace phoneHost;
    if (!phoneHost.ready())
        GTEST_SKIP() << "no network namespace for the phone: " << phoneHost.error().toStdString();
    AppProcess app("PodiumCast");
    app.forgetWindowChoice();
    app.setEnvironment("QT_QPA_PLATFORM", "xcb");
    ASSERT_TRUE(app.start("window loaded")) << app.output().toStdString();
    const QString pid = QString::number(app.processId());
    const auto visible = [&](const char* title) {
        return xdotool({"search", "--all", "--onlyvisible", "--pid", pid, "--name", title});
    };
    const QStringList welcome =
        xdotool({"search", "--sync", "--all", "--onlyvisible", "--pid", pid, "--name", "^Welcome$"});
    ASSERT_EQ(welcome.size(), 1) << app.output().toStdString();
    // The pre-selected version is stored once the window shows.
    EXPECT_TRUE(waitUntil([&] { return settings(app).value("SelectedVersion").toInt() == 2; }, 10000));
    EXPECT_FALSE(app.output().contains("_confirmSocket = ")) << "no main window, no network service yet";

    xdotool({"windowfocus", "--sync", welcome[0]});
    xdotool({"key", "Return"});
    ASSERT_TRUE(app.waitForOutput("_confirmSocket = ")) << app.output().toStdString();
    EXPECT_TRUE(waitUntil(
        [&] { return visible("^Welcome$").isEmpty() && visible("^PodiumCast$").size() == 1; }, 10000))
        << "the main window shows and the welcome window closes";
    EXPECT_EQ(settings(app).value("SelectedVersion").toInt(), 2);
    EXPECT_FALSE(settings(app).contains("IsStoppedShowingWelcome")) << "the remember box was off";

    const QStringList replies = phoneHost.phone(
        {"--to", phoneHost.computerAddress(), "--port", QString::number(app.port("CheckPort")), "--listen",
         QString::number(app.port("DataPort")), "--expect", "1", "--wait", "5000", "--send", "check"});
    ASSERT_EQ(replies.size(), 1) << app.output().toStdString();
    EXPECT_TRUE(replies[0].contains(R"({"MachineName":")")) << replies[0].toStdString();
    EXPECT_EQ(app.terminate(), 0) << app.output().toStdString();
}
