#include "remote/SynthesisedInput.h"

#include "LogRecorder.h"
#include "RecordingEventPoster.h"
#include "Wait.h"
#include "core/ThreadHelper.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kBom = "\xEF\xBB\xBF"; // U+FEFF in UTF-8

class SynthesisedInputTest : public ::testing::Test {
protected:
    void SetUp() override { poster->setCursor({200, 150}); }

    std::vector<std::string> events() const { return describeEvents(poster->events()); }

    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    SynthesisedInput input{poster};
    LogRecorder log;
};

TEST_F(SynthesisedInputTest, ClickCommandPostsDownUpAndASecondUpAtTheCursor) {
    // The executor's "click" is PostClick followed by PostMouseUp.
    input.PostClick();
    input.PostMouseUp();
    EXPECT_THAT(events(), ElementsAre("type=1 button=0 at=(200,150) source=combined tap=0",
                                      "type=2 button=0 at=(200,150) source=combined tap=0",
                                      "type=2 button=0 at=(200,150) source=combined tap=0"));
    EXPECT_THAT(log.at(spdlog::level::info), ElementsAre("cmd: click", "cmd: mouseup"));
}

TEST_F(SynthesisedInputTest, RightClickPostsRightDownAndUpWithTheRightButton) {
    input.PostRightClick();
    EXPECT_THAT(events(), ElementsAre("type=3 button=1 at=(200,150) source=combined tap=0",
                                      "type=4 button=1 at=(200,150) source=combined tap=0"));
    EXPECT_THAT(log.at(spdlog::level::info), ElementsAre("cmd: rightClick"));
}

TEST_F(SynthesisedInputTest, MultipleClicksRepeatOneSourcelessEventCarryingTheirClickState) {
    input.PostDoubleClick();
    EXPECT_THAT(events(), ElementsAre("type=1 button=0 at=(200,150) clicks=2 source=none tap=0",
                                      "type=2 button=0 at=(200,150) clicks=2 source=none tap=0",
                                      "type=1 button=0 at=(200,150) clicks=2 source=none tap=0",
                                      "type=2 button=0 at=(200,150) clicks=2 source=none tap=0"));
    poster->clear();
    input.PostTripleClick();
    const std::string down = "type=1 button=0 at=(200,150) clicks=3 source=none tap=0";
    const std::string up = "type=2 button=0 at=(200,150) clicks=3 source=none tap=0";
    EXPECT_THAT(events(), ElementsAre(down, up, down, up, down, up));
    EXPECT_THAT(log.at(spdlog::level::info), ElementsAre("cmd: doubleclick", "cmd: tripleclick"));
}

TEST_F(SynthesisedInputTest, SourcelessMouseEventsAtTheCursorOrAtAPoint) {
    input.PostMouseEventAtCursor(platform::EventType::LeftMouseDown,
                                 platform::MouseButton::Left); // "mousedown"
    input.PostLeftMouseDownAt({10, 20});
    input.PostLeftMouseUpAt({30.5, 40});
    EXPECT_THAT(events(), ElementsAre("type=1 button=0 at=(200,150) source=none tap=0",
                                      "type=1 button=0 at=(10,20) source=none tap=0",
                                      "type=2 button=0 at=(30.5,40) source=none tap=0"));
    EXPECT_THAT(log.entries(), IsEmpty());
}

TEST_F(SynthesisedInputTest, DragPostsOneDraggedEventBesideTheCursorWithoutWarpingOrSplitting) {
    input.PostMouseDrag(55.5f, -3.0f);
    const auto entries = poster->entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].warp);
    EXPECT_EQ(describeEvent(entries[0].event), "type=6 button=0 at=(255.5,147) source=none tap=0");
}

TEST_F(SynthesisedInputTest, ScrollsScaleByThreeInPixelsAndSaturate) {
    input.PostHorizontalScroll(2);
    input.PostVerticalScroll(1.0f);
    input.PostVerticalScroll(-4.0f);
    EXPECT_THAT(events(), ElementsAre("type=22 wheel1=0 wheel2=6 source=none tap=0",
                                      "type=22 wheel1=3 wheel2=0 source=none tap=0",
                                      "type=22 wheel1=-12 wheel2=0 source=none tap=0"));
    poster->clear();

    // The vertical product is truncated toward zero.
    input.PostVerticalScroll(0.5f);
    input.PostVerticalScroll(-0.5f);
    // Products beyond 32 bits stop at the ends of the range instead of wrapping.
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    constexpr auto min = std::numeric_limits<std::int32_t>::min();
    input.PostHorizontalScroll(max);
    input.PostHorizontalScroll(min);
    input.PostVerticalScroll(float(max));
    input.PostVerticalScroll(-1e30f);
    input.PostVerticalScroll(std::nanf(""));
    std::vector<std::pair<int, int>> wheels;
    for (const auto& e : poster->events())
        wheels.emplace_back(e.wheel1, e.wheel2);
    EXPECT_THAT(wheels, ElementsAre(std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, max}, std::pair{0, min},
                                    std::pair{max, 0}, std::pair{min, 0}, std::pair{0, 0}));
}

struct MoveCase {
    double dx, dy;
    int count;
    float stepX, stepY;
};

TEST(SeparateMoveTest, StepCountFollowsTheLargerDeltaInTensAndIsCapped) {
    const MoveCase cases[] = {
        {4, -7, 1, 4, -7},
        {19.9, 0, 1, 19.9f, 0},
        {25, 5, 2, 12.5f, 2.5f},
        {-35, 12, 3, float(-35.0 / 3), 4},
        {10, 10, 1, 10, 10},
        {10.5, 0, 1, 10.5f, 0},
        {0, -10.5, 1, 0, -10.5f},
        {20, 0, 2, 10, 0},
        {0, -30, 3, 0, -10},
        {0, 0, 1, 0, 0},
        // The larger delta is rounded to single precision before dividing: 29.9999999999 is 30.0f.
        {29.9999999999, 1, 3, float(29.9999999999 / 3), float(1.0 / 3)},
        {9999, 0, 999, float(9999.0 / 999), 0},
        // The cap: a move of 10 000 points or more takes kMaxMoveSteps steps, larger ones larger steps.
        {10000, 0, kMaxMoveSteps, 10, 0},
        {-25000, 12, kMaxMoveSteps, -25, 0.012f},
        {1e30, -1e30, kMaxMoveSteps, 1e27f, -1e27f},
    };
    for (const MoveCase& c : cases) {
        const MoveSteps steps = SeparateMove(c.dx, c.dy);
        SCOPED_TRACE(testing::Message() << "move (" << c.dx << ", " << c.dy << ")");
        EXPECT_EQ(steps.count, c.count);
        EXPECT_EQ(steps.dx, c.stepX);
        EXPECT_EQ(steps.dy, c.stepY);
    }
    EXPECT_EQ(kMaxMoveSteps, 1000);
    // What is not a finite number moves nothing.
    for (const auto& [dx, dy] :
         {std::pair{std::nan(""), 1.0}, std::pair{1.0, HUGE_VAL}, std::pair{-HUGE_VAL, 0.0}})
        EXPECT_EQ(SeparateMove(dx, dy).count, 0) << dx << ", " << dy;
}

TEST_F(SynthesisedInputTest, MoveWarpsThenPostsEachStepFromTheCursorAsReadAgain) {
    poster->setCursor({100, 100});
    // A physical mouse movement between the steps adds to the result.
    bool nudged = false;
    poster->onPost = [&](const platform::InputEvent&) {
        if (!nudged) {
            nudged = true;
            poster->setCursor(poster->cursorLocation() + QPointF(0, 40));
        }
    };
    input.PostMouseMoveInSteps(25, 5);
    std::vector<std::string> seen;
    for (const auto& entry : poster->entries()) {
        seen.push_back(entry.warp ? fmt::format("warp ({},{})", entry.point.x(), entry.point.y())
                                  : describeEvent(entry.event));
    }
    EXPECT_THAT(seen,
                ElementsAre("warp (112.5,102.5)", "type=5 button=1 at=(112.5,102.5) source=combined tap=0",
                            "warp (125,145)", "type=5 button=1 at=(125,145) source=combined tap=0"));
    EXPECT_THAT(log.at(spdlog::level::info), ElementsAre("seperateMoveTimes = 2"));
}

TEST_F(SynthesisedInputTest, MoveThatIsNoNumberPostsNothing) {
    input.PostMouseMoveInSteps(std::nan(""), 3);
    EXPECT_THAT(poster->entries(), IsEmpty());
    EXPECT_THAT(log.at(spdlog::level::info), ElementsAre("seperateMoveTimes = 0"));
}

TEST_F(SynthesisedInputTest, KeyPressSetsExactlyTheFlagsOnTheDownAndNoneOnTheUp) {
    input.PostKeyPress(125, 0xC);
    input.PostKeyPress(51, 0);
    input.PostKeyPress(23, 0x20000);
    EXPECT_THAT(events(), ElementsAre("type=10 key=125 flags=0xc source=combined tap=2",
                                      "type=11 key=125 source=combined tap=2",
                                      "type=10 key=51 flags=0x0 source=combined tap=2",
                                      "type=11 key=51 source=combined tap=2",
                                      "type=10 key=23 flags=0x20000 source=combined tap=2",
                                      "type=11 key=23 source=combined tap=2"));
}

// Each key-down is followed at once by the key-up of the same key.
void expectWholePresses(const std::vector<platform::InputEvent>& events) {
    ASSERT_EQ(events.size() % 2, 0u);
    for (size_t i = 0; i < events.size(); i += 2) {
        EXPECT_EQ(events[i].type, platform::EventType::KeyDown) << "event " << i;
        EXPECT_EQ(events[i + 1].type, platform::EventType::KeyUp) << "event " << i + 1;
        EXPECT_EQ(events[i].keyCode, events[i + 1].keyCode) << "events " << i << " and " << i + 1;
    }
}

TEST_F(SynthesisedInputTest, KeyPressesFromTwoThreadsArePostedOneWholePressAfterTheOther) {
    // Widen the gap between a key-down and its key-up, so that a press without the lock would let the
    // other thread's events in.
    poster->onPost = [](const platform::InputEvent&) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    };
    auto press = [this](std::uint16_t key) {
        for (int i = 0; i < 40; ++i)
            input.PostKeyPress(key, 0);
    };
    std::thread a(press, 125);
    std::thread b(press, 126);
    a.join();
    b.join();
    const auto posted = poster->events();
    EXPECT_EQ(posted.size(), 160u);
    expectWholePresses(posted);
}

TEST_F(SynthesisedInputTest, KeyPressOnTheMainThreadIsPostedThereWhileTheCallerWaits) {
    std::atomic<int> offMain{0};
    poster->onPost = [&](const platform::InputEvent&) {
        if (!ThreadHelper::isMainThread())
            ++offMain;
    };
    std::atomic<int> finished{0};
    auto press = [&](std::uint16_t key) {
        for (int i = 0; i < 5; ++i)
            input.PostKeyPressOnMainThread(key, 0x20000);
        ++finished;
    };
    std::thread a(press, 125);
    std::thread b(press, 126);
    ASSERT_TRUE(waitUntil([&] { return finished == 2; }));
    a.join();
    b.join();
    EXPECT_EQ(offMain, 0);
    const auto posted = poster->events();
    EXPECT_EQ(posted.size(), 20u);
    expectWholePresses(posted);
    for (const auto& e : posted) {
        if (e.type == platform::EventType::KeyDown) {
            EXPECT_EQ(e.flags, 0x20000u);
        }
    }
}

TEST_F(SynthesisedInputTest, TextIsTypedInChunksOfTenUnitsAfterAByteOrderMark) {
    input.TypeText(QStringLiteral("abcdefghijklmnopqrstuvwxy"));
    EXPECT_THAT(events(), ElementsAre("type=10 key=0 text=" + kBom + "abcdefghij source=none tap=2",
                                      "type=10 key=0 text=" + kBom + "klmnopqrst source=none tap=2",
                                      "type=10 key=0 text=" + kBom + "uvwxy source=none tap=2"));
}

std::vector<QString> typedChunks(const RecordingEventPoster& poster) {
    std::vector<QString> chunks;
    for (const auto& e : poster.events()) {
        EXPECT_TRUE(e.unicodeString && e.unicodeString->startsWith(QChar(0xfeff)));
        chunks.push_back(e.unicodeString.value_or(QString()).mid(1));
    }
    return chunks;
}

TEST_F(SynthesisedInputTest, TextStopsAfterElevenChunks) {
    QString text;
    for (int i = 0; i < 120; ++i)
        text += QChar(u'A' + i % 26);
    input.TypeText(text);
    const auto chunks = typedChunks(*poster);
    ASSERT_EQ(chunks.size(), 11u);
    QString typed;
    for (const QString& chunk : chunks) {
        EXPECT_EQ(chunk.size(), 10);
        typed += chunk;
    }
    EXPECT_EQ(typed, text.left(110)); // the last ten units are dropped
}

TEST_F(SynthesisedInputTest, TextChunkBoundaries) {
    input.TypeText(std::nullopt);
    input.TypeText(QString());
    EXPECT_THAT(poster->events(), IsEmpty());

    input.TypeText(QStringLiteral("0123456789"));
    EXPECT_THAT(typedChunks(*poster), ElementsAre(QStringLiteral("0123456789")));
    poster->clear();

    input.TypeText(QStringLiteral("0123456789X"));
    EXPECT_THAT(typedChunks(*poster), ElementsAre(QStringLiteral("0123456789"), QStringLiteral("X")));
    poster->clear();

    // Units, not characters: each of these is one unit, the emoji two.
    input.TypeText(QStringLiteral("héllo wörld ñ €"));
    EXPECT_THAT(typedChunks(*poster), ElementsAre(QStringLiteral("héllo wörl"), QStringLiteral("d ñ €")));
    poster->clear();

    // A surrogate pair that would straddle the tenth unit goes whole into the next chunk.
    input.TypeText(QStringLiteral("123456789😀abc"));
    EXPECT_THAT(typedChunks(*poster), ElementsAre(QStringLiteral("123456789"), QStringLiteral("😀abc")));
    poster->clear();
    input.TypeText(QStringLiteral("12345678😀abc"));
    EXPECT_THAT(typedChunks(*poster), ElementsAre(QStringLiteral("12345678😀"), QStringLiteral("abc")));
}

} // namespace
