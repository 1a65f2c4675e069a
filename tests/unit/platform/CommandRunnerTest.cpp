#include "platform/CommandRunner.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// The timeout, which kills the command's group, is the script runner's own (one spawn-and-wait).
TEST(ProcessCommandRunner, FindsProgramsOnPathPassesArgumentsAsGivenAndTellsAStartThatFailed) {
    platform::ProcessCommandRunner runner;
    const auto done =
        runner.run("sh", {"-c", "printf '%s|' \"$@\"; printf 'bad' >&2; exit 3", "sh", "a b", "ü;$x"}, 10s);
    EXPECT_TRUE(done.started);
    EXPECT_EQ(done.exitCode, 3);
    EXPECT_EQ(done.standardOutput, QStringLiteral("a b|ü;$x|"));
    EXPECT_EQ(done.standardError, QStringLiteral("bad"));
    EXPECT_FALSE(runner.run("pc-no-such-program", {}, 10s).started);
}
