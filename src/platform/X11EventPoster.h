#pragma once

#include "EventPoster.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace platform {

// Posts events on an X display through the XTest extension, on a display connection of its own.
//
// - Mouse events move the pointer to their location and press or release button 1 (left) or 3
//   (right). X has no click-state field: toolkits count clicks by time and place, and the presses of
//   a double or triple click arrive together at one place, so they count as one.
// - Scroll wheels: pixel deltas become wheel-button clicks (4 up, 5 down, 6 left, 7 right), one click
//   per kPixelsPerWheelClick pixels. Quartz counts a line as about ten pixels and an X wheel click
//   scrolls three lines in the common toolkits, hence 30. What is left below a click is carried to the
//   next scroll on the same axis (and dropped when the direction turns), so small deltas add up; one
//   event gives at most kMaxWheelClicksPerEvent clicks.
// - Key events: the macOS virtual key code is looked up in a table of X key symbols. The shift,
//   control, option and command flags press Shift, Control, Alt and Super around the key-down only, so
//   each key-down carries exactly its own modifiers. Modifiers held on the physical keyboard stay held:
//   XTest cannot hide them.
// - A key-down with a Unicode string types the string (a leading U+FEFF is not typed) instead of its
//   key. A character without a key in the current keyboard map is given one of the key codes that map
//   nothing; those stay mapped (a client reads the map when it handles the mapping change, which may
//   be after later events) and are reused in turn.
// - The keyboard map is read when the poster opens and again only after the server announced a change
//   of it (a mapping notice): each event posted first takes the notices the connection has received,
//   without a round trip, and a key event reads the map again when one said the keyboard changed. The
//   socket is read for notices at most once a millisecond (a round trip such as cursorLocation()
//   reads them too), so a change announced just before a key is posted may be seen only by a later
//   key, as one still on its way.
class X11EventPoster : public EventPoster {
public:
    static constexpr int kPixelsPerWheelClick = 30;
    static constexpr int kMaxWheelClicksPerEvent = 100;

    // The poster on the display named (the DISPLAY variable when absent); null when there is no such
    // display or it lacks XTest.
    static std::unique_ptr<X11EventPoster> open(const std::optional<QString>& displayName = std::nullopt);
    ~X11EventPoster() override;

    bool canPost() const override { return true; }
    QPointF cursorLocation() override;
    void warpCursor(QPointF point) override;
    bool post(const InputEvent& event) override;

    // How often the keyboard map was read from the server since the poster opened (tests and
    // benchmarks watch it: a read is a round trip).
    std::uint64_t keyboardMapReads() const;

    // The X key symbol of a macOS virtual key code (ANSI layout); absent for codes without one.
    static std::optional<std::uint32_t> keysymOfVirtualKey(std::uint16_t keyCode);
    // Wheel clicks for a pixel delta, with the carry of the axis (see the class comment). Positive
    // clicks are in the direction of positive pixels.
    static int takeWheelClicks(std::int64_t& carry, std::int32_t pixels);

private:
    struct Impl;
    explicit X11EventPoster(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d_;
};

} // namespace platform
