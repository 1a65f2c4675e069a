#pragma once

#include "platform/EventPoster.h"

#include <QPointF>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

// A pointer move split into steps of about 10 points.
struct MoveSteps {
    std::int32_t count = 0; // steps to take; 0 for nothing
    float dx = 0;           // one step
    float dy = 0;
};
// The most steps a move is split into: enough for a 10 000-point move at 10 points a step. A larger
// move takes this many larger steps, so one command cannot hold its thread for long.
constexpr std::int32_t kMaxMoveSteps = 1000;
// One step unless |dx| or |dy| exceeds 10; then the larger of the two, in single precision, divided by
// 10 and truncated, but at most kMaxMoveSteps. The step is the move divided by the count (in double
// precision) in single precision. A move that is not a finite number takes no step.
MoveSteps SeparateMove(double dx, double dy);

// The drag-end countdown: a drag ends on the tick that brings the remaining time (reset to
// kDragEndDelay by every drag move) to zero or below. The tick is 0.1 in single precision, widened:
// ten ticks end a drag, where the double 0.1 would take eleven.
constexpr double kDragEndDelay = 1.0;
constexpr double kDragEndTickInterval = double(0.1f);

// The most UTF-16 units one typing event carries, and the most events one text gives.
constexpr int kTypeTextChunkUnits = 10;
constexpr int kTypeTextMaxChunks = 11;

// The process-wide recursive lock that keeps synthesised key presses whole.
std::recursive_mutex& KeyPostingLock();

// Synthesised mouse, scroll, key and text input for the command executor. Every operation builds its
// events and posts them through the event poster it was given: mouse and scroll events at the HID tap,
// key presses and typed text at the annotated-session tap. They run on the caller's thread, except
// PostKeyPress, which belongs on the main thread (PostKeyPressOnMainThread takes it there).
class SynthesisedInput {
public:
    explicit SynthesisedInput(std::shared_ptr<platform::EventPoster> poster);

    // At the cursor: left-mouse-down, then left-mouse-up, from a combined source. Logs "cmd: click".
    void PostClick() const;
    // One left-mouse-down at the cursor with click state 2, posted as down, up, down, up; no source.
    void PostDoubleClick() const;
    // The same with click state 3, posted as down, up, down, up, down, up.
    void PostTripleClick() const;
    // At the cursor: right-mouse-down, then right-mouse-up, from a combined source.
    void PostRightClick() const;
    // At the cursor: left-mouse-up, from a combined source.
    void PostMouseUp() const;
    // One event of the type and button at the cursor, without a source.
    void PostMouseEventAtCursor(std::int32_t type, std::uint32_t button) const;
    // Left-mouse-down or left-mouse-up at the point, without a source.
    void PostLeftMouseDownAt(QPointF point) const;
    void PostLeftMouseUpAt(QPointF point) const;
    // One left-mouse-dragged event at the cursor plus the deltas, without a source; the cursor is not
    // warped and the move is not split.
    void PostMouseDrag(float dx, float dy) const;
    // One step: read the cursor, warp it to the cursor plus the step, and post a mouse-moved event there
    // (mouse button 1) from a new combined source.
    void PostMouseMoveStep(float dx, float dy) const;
    // The whole move: logs "seperateMoveTimes = <count>", then takes the steps of SeparateMove, reading
    // the cursor again for each.
    void PostMouseMoveInSteps(double dx, double dy) const;
    // One scroll-wheel event in pixel units: wheel 2 (horizontal) is 3 times x, wheel 1 is 0.
    void PostHorizontalScroll(std::int32_t x) const;
    // One scroll-wheel event in pixel units: wheel 1 is y times 3.0 truncated toward zero, wheel 2 is 0.
    // Both wheels saturate at the 32-bit range.
    void PostVerticalScroll(float y) const;
    // Under the key-posting lock: key-down with exactly the flags, then key-up with the flags left unset,
    // both from one combined source.
    void PostKeyPress(std::uint16_t keyCode, std::uint64_t flags) const;
    // PostKeyPress on the main thread; the caller waits until it was posted. Inside a KeyPressBatch the
    // press joins the batch, posted with the others when the batch is flushed.
    void PostKeyPressOnMainThread(std::uint16_t keyCode, std::uint64_t flags) const;
    // Types the text in chunks of at most 10 UTF-16 units (9 when the tenth would split a surrogate
    // pair), one key-down without a source per chunk, carrying U+FEFF and the chunk. At most 11 chunks:
    // the rest is dropped. An absent or empty text posts nothing.
    void TypeText(const std::optional<QString>& text) const;

private:
    void postAtCursor(std::int32_t type, std::uint32_t button, platform::EventSource source) const;
    void postMultiClick(int clickState) const;

    std::shared_ptr<platform::EventPoster> poster_;
};
