#include "core/ErrorHelper.h"
#include "core/ApplicationRelaunch.h"
#include "core/Logger.h"

#include "Fakes.h"
#include "TestBundle.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>

#include <sstream>

namespace {

class ErrorHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        platform::Platform::setAlerts(alerts);
        sink->set_formatter(Logger::makeFormatter());
        Logger::addLogger(sink, LogLevel::Verbose);
    }
    void TearDown() override {
        Logger::removeAllLoggers();
        platform::Platform::setAlerts(nullptr);
        platform::Platform::setWorkspace(nullptr);
    }
    TestBundle bundle{{}};
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
    std::ostringstream logged;
    std::shared_ptr<spdlog::sinks::ostream_sink_mt> sink =
        std::make_shared<spdlog::sinks::ostream_sink_mt>(logged);
};

} // namespace

TEST_F(ErrorHelperTest, ShowsAndLogsTheMessageLiterally) {
    ErrorHelper::ShowErrorMessage(QStringLiteral("Port %d taken: %@ {} 100%"));
    const auto shown = alerts->shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].messageText, "Error");
    EXPECT_EQ(shown[0].informativeText, "Port %d taken: %@ {} 100%");
    EXPECT_EQ(shown[0].buttons, QStringList{"OK"});
    EXPECT_NE(logged.str().find("[E]"), std::string::npos);
    EXPECT_NE(logged.str().find("Port %d taken: %@ {} 100%"), std::string::npos);
}

TEST_F(ErrorHelperTest, FromABackgroundThreadTheAlertRunsOnTheMainThread) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        ErrorHelper::ShowErrorMessage("from a worker");
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    ASSERT_EQ(alerts->shown().size(), 1u);
}

TEST_F(ErrorHelperTest, TitleAndButtonComeFromTheTranslationTable) {
    const TestBundle translated({});
    translated.addResource("translations", "");
    QFile::remove(translated.resourcesPath() + "/translations");
    QDir().mkpath(translated.resourcesPath() + "/translations");
    const QString language = QLocale::system().uiLanguages().value(0).replace('-', '_');
    QFile table(translated.resourcesPath() + "/translations/" + language + ".json");
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write(R"({"Error": "Fehler", "OK": "Gut"})");
    table.close();
    translated.makeMain();
    ErrorHelper::ShowErrorMessage("m");
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown()[0].messageText, "Fehler");
    EXPECT_EQ(alerts->shown()[0].buttons, QStringList{"Gut"});
}

TEST_F(ErrorHelperTest, RelaunchStartsTheShellThenQuitsThroughTheEventLoop) {
    auto workspace = std::make_shared<RecordingWorkspace>();
    platform::Platform::setWorkspace(workspace);
    bool quitAfterRelaunch = false;
    QObject guard;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &guard,
                     [&] { quitAfterRelaunch = workspace->relaunches.size() == 1; });
    QTimer::singleShot(0, [] { ApplicationRelaunch::relaunchAfterDelay(0); });
    QCoreApplication::exec(); // returns once the relaunch asked the application to quit
    EXPECT_EQ(workspace->relaunches, std::vector<float>{0.0f});
    EXPECT_TRUE(quitAfterRelaunch);
}
