#include "RecordingEventPoster.h"

#include <fmt/format.h>

QPointF RecordingEventPoster::cursorLocation() {
    std::lock_guard lock(mutex_);
    return cursor_;
}

void RecordingEventPoster::warpCursor(QPointF point) {
    std::lock_guard lock(mutex_);
    cursor_ = point;
    entries_.push_back({true, point, {}});
}

bool RecordingEventPoster::post(const platform::InputEvent& event) {
    {
        std::lock_guard lock(mutex_);
        if (event.location && event.type >= platform::EventType::LeftMouseDown &&
            event.type <= platform::EventType::LeftMouseDragged)
            cursor_ = *event.location;
        entries_.push_back({false, {}, event});
    }
    if (onPost)
        onPost(event);
    return true;
}

void RecordingEventPoster::setCursor(QPointF point) {
    std::lock_guard lock(mutex_);
    cursor_ = point;
}

std::vector<RecordingEventPoster::Entry> RecordingEventPoster::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<platform::InputEvent> RecordingEventPoster::events() const {
    std::lock_guard lock(mutex_);
    std::vector<platform::InputEvent> out;
    for (const Entry& e : entries_) {
        if (!e.warp)
            out.push_back(e.event);
    }
    return out;
}

void RecordingEventPoster::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

std::string describeEvent(const platform::InputEvent& e) {
    std::string s = fmt::format("type={}", e.type);
    if (e.type >= platform::EventType::LeftMouseDown && e.type <= platform::EventType::LeftMouseDragged)
        s += fmt::format(" button={}", e.button);
    if (e.location)
        s += fmt::format(" at=({},{})", e.location->x(), e.location->y());
    if (e.clickState)
        s += fmt::format(" clicks={}", *e.clickState);
    if (e.type == platform::EventType::KeyDown || e.type == platform::EventType::KeyUp)
        s += fmt::format(" key={}", e.keyCode);
    if (e.flags)
        s += fmt::format(" flags={:#x}", *e.flags);
    if (e.type == platform::EventType::ScrollWheel)
        s += fmt::format(" wheel1={} wheel2={}", e.wheel1, e.wheel2);
    if (e.unicodeString)
        s += " text=" + e.unicodeString->toStdString();
    switch (e.source) {
    case platform::EventSource::None:
        s += " source=none";
        break;
    case platform::EventSource::CombinedSession:
        s += " source=combined";
        break;
    case platform::EventSource::Private:
        s += " source=private";
        break;
    }
    s += fmt::format(" tap={}", int(e.tap));
    return s;
}

std::vector<std::string> describeEvents(const std::vector<platform::InputEvent>& events) {
    std::vector<std::string> out;
    for (const auto& e : events)
        out.push_back(describeEvent(e));
    return out;
}
