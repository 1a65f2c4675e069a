#include "SynthesisedInput.h"

#include "KeyPressBatch.h"

#include "core/Logger.h"
#include "core/ThreadHelper.h"
#include "platform/EventPoster.h"

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

SynthesisedInput::SynthesisedInput(std::shared_ptr<platform::EventPoster> poster)
    : poster_(std::move(poster)) {}

void SynthesisedInput::postAtCursor(std::int32_t type, std::uint32_t button, EventSource source) const {
    poster_->post(mouseEvent(type, button, poster_->cursorLocation(), source));
}

// One left-mouse-down at the cursor with the click state, posted again and again with its type
// switched between down and up.
void SynthesisedInput::postMultiClick(int clickState) const {
    InputEvent event =
        mouseEvent(EventType::LeftMouseDown, MouseButton::Left, poster_->cursorLocation(), EventSource::None);
    event.clickState = clickState;
    for (int i = 0; i < clickState; ++i) {
        event.type = EventType::LeftMouseDown;
        poster_->post(event);
        event.type = EventType::LeftMouseUp;
        poster_->post(event);
    }
}

void SynthesisedInput::PostClick() const {
    postAtCursor(EventType::LeftMouseDown, MouseButton::Left, EventSource::CombinedSession);
    postAtCursor(EventType::LeftMouseUp, MouseButton::Left, EventSource::CombinedSession);
    LOG_INFO("cmd: click");
}

void SynthesisedInput::PostDoubleClick() const {
    postMultiClick(2);
    LOG_INFO("cmd: doubleclick");
}

void SynthesisedInput::PostTripleClick() const {
    postMultiClick(3);
    LOG_INFO("cmd: tripleclick");
}

void SynthesisedInput::PostRightClick() const {
    postAtCursor(EventType::RightMouseDown, MouseButton::Right, EventSource::CombinedSession);
    postAtCursor(EventType::RightMouseUp, MouseButton::Right, EventSource::CombinedSession);
    LOG_INFO("cmd: rightClick");
}

void SynthesisedInput::PostMouseUp() const {
    postAtCursor(EventType::LeftMouseUp, MouseButton::Left, EventSource::CombinedSession);
    LOG_INFO("cmd: mouseup");
}

void SynthesisedInput::PostMouseEventAtCursor(std::int32_t type, std::uint32_t button) const {
    postAtCursor(type, button, EventSource::None);
}

void SynthesisedInput::PostLeftMouseDownAt(QPointF point) const {
    poster_->post(mouseEvent(EventType::LeftMouseDown, MouseButton::Left, point, EventSource::None));
}

void SynthesisedInput::PostLeftMouseUpAt(QPointF point) const {
    poster_->post(mouseEvent(EventType::LeftMouseUp, MouseButton::Left, point, EventSource::None));
}

void SynthesisedInput::PostMouseDrag(float dx, float dy) const {
    const QPointF target = poster_->cursorLocation() + QPointF(dx, dy);
    poster_->post(mouseEvent(EventType::LeftMouseDragged, MouseButton::Left, target, EventSource::None));
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

void SynthesisedInput::PostMouseMoveStep(float dx, float dy) const {
    const QPointF target = poster_->cursorLocation() + QPointF(dx, dy);
    poster_->warpCursor(target);
    // A mouse-moved event carries the mouse-button value 1.
    poster_->post(mouseEvent(EventType::MouseMoved, 1, target, EventSource::CombinedSession));
}

void SynthesisedInput::PostMouseMoveInSteps(double dx, double dy) const {
    const MoveSteps steps = SeparateMove(dx, dy);
    LOG_INFO("seperateMoveTimes = {}", steps.count);
    for (std::int32_t i = 0; i < steps.count; ++i)
        PostMouseMoveStep(steps.dx, steps.dy);
}

void SynthesisedInput::PostHorizontalScroll(std::int32_t x) const {
    poster_->post(scrollEvent(0, saturate(3.0 * double(x))));
}

void SynthesisedInput::PostVerticalScroll(float y) const {
    poster_->post(scrollEvent(saturate(double(y) * 3.0), 0));
}

std::recursive_mutex& KeyPostingLock() {
    static std::recursive_mutex* lock = new std::recursive_mutex; // used to the end of the process
    return *lock;
}

void SynthesisedInput::PostKeyPress(std::uint16_t keyCode, std::uint64_t flags) const {
    std::lock_guard lock(KeyPostingLock());
    InputEvent down;
    down.type = EventType::KeyDown;
    down.keyCode = keyCode;
    down.flags = flags;
    down.source = EventSource::CombinedSession;
    down.tap = EventTap::AnnotatedSession;
    InputEvent up = down;
    up.type = EventType::KeyUp;
    up.flags.reset();
    poster_->post(down);
    poster_->post(up);
}

void SynthesisedInput::PostKeyPressOnMainThread(std::uint16_t keyCode, std::uint64_t flags) const {
    if (!KeyPressBatch::add([input = *this, keyCode, flags] { input.PostKeyPress(keyCode, flags); }))
        ThreadHelper::RunOnMainThread([=, this] { PostKeyPress(keyCode, flags); });
}

void SynthesisedInput::TypeText(const std::optional<QString>& text) const {
    if (!text)
        return;
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
        poster_->post(event);
        remaining = remaining.sliced(units);
    }
}
