#include "SynthesisedInput.h"

#include "KeyPressBatch.h"

#include "core/Logger.h"
#include "core/ThreadHelper.h"
#include "platform/EventPoster.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cmath>
#include <limits>

using platform::EventSource;
using platform::EventTap;
using platform::InputEvent;
namespace EventType = platform::EventType;
namespace MouseButton = platform::MouseButton;

namespace {

std::int32_t saturate(double value) {
    if (std::isnan(value))
        return 0;
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    return std::int32_t(std::clamp(std::trunc(value), lowest, highest));
}

InputEvent mouseEvent(std::int32_t type, std::uint32_t button, QPointF location, EventSource source) {
    InputEvent event;
    event.type = type;
    event.button = button;
    event.location = location;
    event.source = source;
    event.tap = EventTap::Hid;
    return event;
}

void postAtCursor(std::int32_t type, std::uint32_t button, EventSource source) {
    const auto poster = platform::Platform::eventPoster();
    poster->post(mouseEvent(type, button, poster->cursorLocation(), source));
}

// One left-mouse-down at the cursor with the click state, posted again and again with its type
// switched between down and up.
void postMultiClick(int clickState) {
    const auto poster = platform::Platform::eventPoster();
    InputEvent event =
        mouseEvent(EventType::LeftMouseDown, MouseButton::Left, poster->cursorLocation(), EventSource::None);
    event.clickState = clickState;
    for (int i = 0; i < clickState; ++i) {
        event.type = EventType::LeftMouseDown;
        poster->post(event);
        event.type = EventType::LeftMouseUp;
        poster->post(event);
    }
}

InputEvent scrollEvent(std::int32_t wheel1, std::int32_t wheel2) {
    InputEvent event;
    event.type = EventType::ScrollWheel;
    event.wheel1 = wheel1;
    event.wheel2 = wheel2;
    event.tap = EventTap::Hid;
    event.source = EventSource::None;
    return event;
}

} // namespace

void PostClick() {
    postAtCursor(EventType::LeftMouseDown, MouseButton::Left, EventSource::CombinedSession);
    postAtCursor(EventType::LeftMouseUp, MouseButton::Left, EventSource::CombinedSession);
    LOG_INFO("cmd: click");
}

void PostDoubleClick() {
    postMultiClick(2);
    LOG_INFO("cmd: doubleclick");
}

void PostTripleClick() {
    postMultiClick(3);
    LOG_INFO("cmd: tripleclick");
}

void PostRightClick() {
    postAtCursor(EventType::RightMouseDown, MouseButton::Right, EventSource::CombinedSession);
    postAtCursor(EventType::RightMouseUp, MouseButton::Right, EventSource::CombinedSession);
    LOG_INFO("cmd: rightClick");
}

void PostMouseUp() {
    postAtCursor(EventType::LeftMouseUp, MouseButton::Left, EventSource::CombinedSession);
    LOG_INFO("cmd: mouseup");
}

void PostMouseEventAtCursor(std::int32_t type, std::uint32_t button) {
    postAtCursor(type, button, EventSource::None);
}

void PostLeftMouseDownAt(QPointF point) {
    platform::Platform::eventPoster()->post(
        mouseEvent(EventType::LeftMouseDown, MouseButton::Left, point, EventSource::None));
}

void PostLeftMouseUpAt(QPointF point) {
    platform::Platform::eventPoster()->post(
        mouseEvent(EventType::LeftMouseUp, MouseButton::Left, point, EventSource::None));
}

void PostMouseDrag(float dx, float dy) {
    const auto poster = platform::Platform::eventPoster();
    const QPointF target = poster->cursorLocation() + QPointF(dx, dy);
    poster->post(mouseEvent(EventType::LeftMouseDragged, MouseButton::Left, target, EventSource::None));
}

MoveSteps SeparateMove(double dx, double dy) {
    if (!std::isfinite(dx) || !std::isfinite(dy))
        return {};
    std::int32_t count = 1;
    if (std::fabs(dx) > 10.0 || std::fabs(dy) > 10.0) {
        const float larger = float(std::max(std::fabs(dx), std::fabs(dy)));
        const float steps = larger / 10.0f;
        count = steps >= float(kMaxMoveSteps) ? kMaxMoveSteps : std::int32_t(steps);
    }
    return {count, float(dx / count), float(dy / count)};
}

void PostMouseMoveStep(float dx, float dy) {
    const auto poster = platform::Platform::eventPoster();
    const QPointF target = poster->cursorLocation() + QPointF(dx, dy);
    poster->warpCursor(target);
    // A mouse-moved event carries the mouse-button value 1.
    poster->post(mouseEvent(EventType::MouseMoved, 1, target, EventSource::CombinedSession));
}

void PostMouseMoveInSteps(double dx, double dy) {
    const MoveSteps steps = SeparateMove(dx, dy);
    LOG_INFO("seperateMoveTimes = {}", steps.count);
    for (std::int32_t i = 0; i < steps.count; ++i)
        PostMouseMoveStep(steps.dx, steps.dy);
}

void PostHorizontalScroll(std::int32_t x) {
    platform::Platform::eventPoster()->post(scrollEvent(0, saturate(3.0 * double(x))));
}

void PostVerticalScroll(float y) {
    platform::Platform::eventPoster()->post(scrollEvent(saturate(double(y) * 3.0), 0));
}

std::recursive_mutex& KeyPostingLock() {
    static std::recursive_mutex* lock = new std::recursive_mutex; // used to the end of the process
    return *lock;
}

void PostKeyPress(std::uint16_t keyCode, std::uint64_t flags) {
    std::lock_guard lock(KeyPostingLock());
    const auto poster = platform::Platform::eventPoster();
    InputEvent down;
    down.type = EventType::KeyDown;
    down.keyCode = keyCode;
    down.flags = flags;
    down.source = EventSource::CombinedSession;
    down.tap = EventTap::AnnotatedSession;
    InputEvent up = down;
    up.type = EventType::KeyUp;
    up.flags.reset();
    poster->post(down);
    poster->post(up);
}

void PostKeyPressOnMainThread(std::uint16_t keyCode, std::uint64_t flags) {
    if (!KeyPressBatch::add(keyCode, flags))
        ThreadHelper::RunOnMainThread([=] { PostKeyPress(keyCode, flags); });
}

void TypeText(const std::optional<QString>& text) {
    if (!text)
        return;
    const auto poster = platform::Platform::eventPoster();
    QStringView remaining(*text);
    for (int chunks = 0; !remaining.isEmpty() && chunks < kTypeTextMaxChunks; ++chunks) {
        qsizetype units = std::min<qsizetype>(remaining.size(), kTypeTextChunkUnits);
        // A chunk never ends between the two halves of a surrogate pair.
        if (units < remaining.size() && remaining[units - 1].isHighSurrogate() &&
            remaining[units].isLowSurrogate())
            --units;
        InputEvent event;
        event.type = EventType::KeyDown;
        event.keyCode = 0;
        event.unicodeString = QChar(0xfeff) + remaining.first(units).toString();
        event.source = EventSource::None;
        event.tap = EventTap::AnnotatedSession;
        poster->post(event);
        remaining = remaining.sliced(units);
    }
}
