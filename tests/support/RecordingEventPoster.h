#pragma once

#include "platform/EventPoster.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Keeps the events and cursor warps it is given, in order, and posts nothing. Its cursor moves as a
// real one does: with each warp and with each mouse event posted at a location.
class RecordingEventPoster : public platform::EventPoster {
public:
    struct Entry {
        bool warp = false; // a cursor warp to point, else an event
        QPointF point;
        platform::InputEvent event; // when not a warp
    };

    bool canPost() const override { return true; }
    QPointF cursorLocation() override;
    void warpCursor(QPointF point) override;
    bool post(const platform::InputEvent& event) override;

    void setCursor(QPointF point);
    std::vector<Entry> entries() const;
    std::vector<platform::InputEvent> events() const;
    void clear();

    // Called with each event after it was recorded (and moved the cursor), outside the poster's lock.
    std::function<void(const platform::InputEvent&)> onPost;

private:
    mutable std::mutex mutex_;
    QPointF cursor_;
    std::vector<Entry> entries_;
};

// One line naming the fields an event sets, for comparing event lists in tests:
// "type=1 button=0 at=(200,150) clicks=2 source=none tap=0", "type=10 key=125 flags=0xc ...".
std::string describeEvent(const platform::InputEvent& event);
std::vector<std::string> describeEvents(const std::vector<platform::InputEvent>& events);
