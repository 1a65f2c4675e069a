// A first launch of the real application on the X display: the welcome window shows, Return takes the
// pre-selected version, and the PodiumCast main window it opens answers a phone's discovery.
#include "SystemTestSupport.h"
#include "Wait.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

TEST(WelcomeSystem, ReturnInTheWelcomeWindowOpensThePodiumCastMainWindowWhichAnswersDiscovery) {
    PhoneNamespace phoneHost;
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable("xdotool").isEmpty() ||
        !phoneHost.ready())
        GTEST_SKIP() << "needs an X display, xdotool and a network namespace";
    const auto xdotool = [](const QStringList& arguments) { // its answer within ten seconds
        QProcess p;
        p.start("xdotool", arguments);
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    };
    const auto shown = [&](const QString& title) {
        return xdotool({"search", "--onlyvisible", "--name", title});
    };
    AppProcess app("PodiumCast");
    app.forgetWindowChoice();
    ASSERT_TRUE(app.start("window loaded")) << app.output().toStdString();
    ASSERT_TRUE(waitUntil([&] { return shown("^Welcome$").size() == 1; }, 10000))
        << app.output().toStdString();
    xdotool({"windowfocus", "--sync", shown("^Welcome$").value(0)});
    xdotool({"key", "Return"});
    ASSERT_TRUE(
        waitUntil([&] { return shown("^Welcome$").isEmpty() && shown("^PodiumCast$").size() == 1; }, 10000))
        << app.output().toStdString();
    const QStringList replies = phoneHost.phone(
        {"--to", phoneHost.computerAddress(), "--port", QString::number(app.port("CheckPort")), "--listen",
         QString::number(app.port("DataPort")), "--expect", "1", "--send", "check"});
    ASSERT_EQ(replies.size(), 1) << app.output().toStdString();
    EXPECT_TRUE(replies[0].contains(R"({"MachineName":")")) << replies[0].toStdString();
    EXPECT_EQ(app.terminate(), 0) << app.output().toStdString();
}
