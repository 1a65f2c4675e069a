#pragma once

#include <QPointF>
#include <QString>
#include <cstdint>
#include <optional>

namespace platform {

// Quartz event type numbers: the events keep the numbering the remote-control protocol was designed on.
namespace EventType {
constexpr std::int32_t LeftMouseDown = 1;
constexpr std::int32_t LeftMouseUp = 2;
constexpr std::int32_t RightMouseDown = 3;
constexpr std::int32_t RightMouseUp = 4;
constexpr std::int32_t MouseMoved = 5;
constexpr std::int32_t LeftMouseDragged = 6;
constexpr std::int32_t KeyDown = 10;
constexpr std::int32_t KeyUp = 11;
constexpr std::int32_t ScrollWheel = 22;
} // namespace EventType

namespace MouseButton {
constexpr std::uint32_t Left = 0;
constexpr std::uint32_t Right = 1;
} // namespace MouseButton

// Event flags (Quartz numbering). Only the four modifier flags change what an X key press means; the
// others are carried for the record.
namespace EventFlag {
constexpr std::uint64_t NonCoalesced = 0x100;
constexpr std::uint64_t Shift = 0x20000;
constexpr std::uint64_t Control = 0x40000;
constexpr std::uint64_t Option = 0x80000;
constexpr std::uint64_t Command = 0x100000;
constexpr std::uint64_t SecondaryFn = 0x800000;
} // namespace EventFlag

// Where an event enters the event stream.
enum class EventTap : int { Hid = 0, AnnotatedSession = 2 };

// The event source an event was made from: none, one with the combined session state (Quartz state 0)
// or one with a private state (Quartz state -1).
enum class EventSource : int { None, CombinedSession, Private };

struct InputEvent {
    std::int32_t type = 0;
    // Global display coordinates; set on mouse events, absent on scroll and key events.
    std::optional<QPointF> location;
    std::uint32_t button = 0;
    // The click-state field; absent when the event does not set it.
    std::optional<std::int64_t> clickState;
    // The flags the event's maker set; absent when it left them as the source made them.
    std::optional<std::uint64_t> flags;
    std::uint16_t keyCode = 0; // macOS virtual key code
    // Scroll-wheel deltas in pixel units: wheel 1 vertical (positive up), wheel 2 horizontal (positive left).
    std::int32_t wheel1 = 0;
    std::int32_t wheel2 = 0;
    // The Unicode string of a key event, as the event carries it: typed text begins with U+FEFF, which is
    // a byte-order mark and is not typed.
    std::optional<QString> unicodeString;
    EventTap tap = EventTap::Hid;
    EventSource source = EventSource::None;
};

// Posts synthesised input into the host's event stream. Any thread may call; each call is one whole
// event, and calls from several threads are serialised.
class EventPoster {
public:
    virtual ~EventPoster() = default;
    // Whether events posted here reach the host; the process counts as trusted for accessibility then.
    virtual bool canPost() const = 0;
    virtual QPointF cursorLocation() = 0;
    // Moves the cursor to the point without posting a mouse event.
    virtual void warpCursor(QPointF point) = 0;
    // Posts the event; false when the host could not take it, or only part of it.
    virtual bool post(const InputEvent& event) = 0;
};

// The poster of a host without an input service: it posts nothing and says it cannot.
class NullEventPoster : public EventPoster {
public:
    bool canPost() const override { return false; }
    QPointF cursorLocation() override { return {}; }
    void warpCursor(QPointF) override {}
    bool post(const InputEvent&) override { return false; }
};

} // namespace platform
