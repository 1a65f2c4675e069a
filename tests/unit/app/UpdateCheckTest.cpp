// The update check against the fake cloud: when it speaks up, and everything it refuses to believe.
#include "app/SystemService.h"

#include "FakeCloud.h"
#include "Fakes.h"
#include "TestBundle.h"
#include "Wait.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

TEST(UpdateCheckTest, TheOfferedBuildAgainstTheRunningOne) {
    FakeCloud cloud;
    ASSERT_TRUE(cloud.start());
    TestBundle bundle({{"ApiRoot", cloud.root()}, {"CFBundleVersion", "5.9.1"}}); // runs build 5
    bundle.makeMain();
    auto alerts = std::make_shared<RecordingAlerts>();
    auto workspace = std::make_shared<RecordingWorkspace>();
    platform::Platform::setAlerts(alerts);
    platform::Platform::setWorkspace(workspace);
    CloudHttpClient http;

    const QByteArray page = R"("DownloadUrl":"https://example.org/get")";
    struct Case {
        const char* name;
        QByteArray body, contentType = "application/json";
        int answer = 0; // the button the user presses
        const char* alert = nullptr;
        bool opened = false;
    };
    const Case cases[] = {
        {"the same build", R"({"MacApp":{"VersionNumber":5,)" + page + "}}"},
        {"one newer, updated", R"({"MacApp":{"VersionNumber":6,)" + page + "}}", "text/json; charset=utf-8",
         0, "Found a newer version, update now?", true},
        {"one newer, later", R"({"MacApp":{"VersionNumber":"6",)" + page + "}}", "text/javascript", 1,
         "Found a newer version, update now?", false},
        {"forced by a text", R"({"MacApp":{"VersionNumber":6.9,"IsForceUpdate":"true",)" + page + "}}",
         "application/json", 1, "Found a newer version", true},
        {"negative", R"({"MacApp":{"VersionNumber":-7,"IsForceUpdate":true,)" + page + "}}"},
        {"another platform's build", R"({"IosApp":{"VersionNumber":60,)" + page + "}}"},
        {"a text that is no number", R"({"MacApp":{"VersionNumber":"x9",)" + page + "}}"},
        {"not an address", R"x({"MacApp":{"VersionNumber":6,"DownloadUrl":"javascript:alert(1)"}})x",
         "application/json", 0, "Found a newer version, update now?", false},
        {"not JSON", "{\"MacApp\":", "application/json"},
        {"an array", "[{\"MacApp\":{\"VersionNumber\":6}}]"},
        {"wrong content type", R"({"MacApp":{"VersionNumber":6,)" + page + "}}", "text/html"},
        {"past 1 MiB",
         R"({"MacApp":{"VersionNumber":6,)" + page + R"(},"Pad":")" + QByteArray(1 << 20, 'p') + "\"}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cloud.setAppVersions(c.body, c.contentType);
        alerts->answer = c.answer;
        const size_t shownBefore = alerts->shown().size(), openedBefore = workspace->opened.size();
        const auto check = SystemService::CheckNewVersion(http);
        ASSERT_TRUE(waitUntil([&] { return check->ended(); }, 5000)) << "the check never ended";
        const auto shown = alerts->shown();
        ASSERT_EQ(shown.size(), shownBefore + (c.alert ? 1 : 0));
        if (c.alert) {
            EXPECT_EQ(shown.back().messageText, c.alert);
            EXPECT_EQ(shown.back().buttons.size(), QString(c.alert).endsWith('?') ? 2 : 1);
        }
        EXPECT_EQ(workspace->opened.size(), openedBefore + (c.opened ? 1 : 0));
        if (c.opened) {
            EXPECT_EQ(workspace->opened.back(), QUrl("https://example.org/get"));
        }
    }
    EXPECT_EQ(cloud.requests("/api/AppVersions").size(), std::size(cases));
    cloud.setMode(FakeCloud::Mode::Status500);
    const auto failing = SystemService::CheckNewVersion(http);
    ASSERT_TRUE(waitUntil([&] { return failing->ended(); }, 5000));
    EXPECT_EQ(alerts->shown().size(), 4u) << "a failed answer shows nothing";
}
