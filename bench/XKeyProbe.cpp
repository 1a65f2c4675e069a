#include "XKeyProbe.h"

#include <poll.h>
#include <pthread.h>

#include <atomic>
#include <thread>

// Xlib comes last: its macros (None, Bool, Status, KeyPress, ...) must not meet the headers above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>
// clang-format on

namespace {

using Clock = std::chrono::steady_clock;

// How long the recorder waits for the server to confirm the start and the end of the recording.
constexpr auto kConfirmLimit = std::chrono::seconds(5);

} // namespace

struct XKeyPressRecorder::Impl {
    Display* control = nullptr; // creates and ends the recording
    Display* data = nullptr;    // receives the records (RECORD takes a connection of its own for them)
    Display* focus = nullptr;   // holds the window with the keyboard focus
    XRecordContext context = 0;
    OnKeyPress recorded;
    OnKeyPress delivered;
    std::atomic<bool> started{false};
    std::atomic<bool> ended{false};
    std::atomic<bool> stopping{false};
    std::thread thread;

    ~Impl() {
        if (context)
            XRecordFreeContext(control, context);
        if (data)
            XCloseDisplay(data);
        if (focus)
            XCloseDisplay(focus);
        if (control)
            XCloseDisplay(control);
    }

    static void intercepted(XPointer closure, XRecordInterceptData* record) {
        auto* self = reinterpret_cast<Impl*>(closure);
        if (record->category == XRecordFromServer && record->data_len > 0 &&
            (record->data[0] & 0x7f) == KeyPress)
            self->recorded(Clock::now());
        else if (record->category == XRecordStartOfData)
            self->started = true;
        else if (record->category == XRecordEndOfData)
            self->ended = true;
        XRecordFreeData(record);
    }

    // Takes the records as they come, until the server says the recording ended (or, once stopping,
    // does not say so within the limit).
    // The window's key presses are counted as they are read.
    void run() {
        Clock::time_point giveUp = Clock::time_point::max();
        while (!ended) {
            if (stopping && giveUp == Clock::time_point::max())
                giveUp = Clock::now() + kConfirmLimit;
            if (Clock::now() >= giveUp)
                break;
            pollfd ready[2] = {{ConnectionNumber(data), POLLIN, 0}, {ConnectionNumber(focus), POLLIN, 0}};
            ::poll(ready, 2, 20);
            XRecordProcessReplies(data);
            while (XEventsQueued(focus, QueuedAfterReading) > 0) {
                XEvent event;
                XNextEvent(focus, &event);
                if (event.type == KeyPress)
                    delivered(Clock::now());
            }
        }
    }

    // A window over the whole screen with the keyboard focus, as the application a user presents with
    // has: the server then sends the key presses to a client, and the records with them (it sends
    // records when it flushes its clients' output, which it does not for events nobody takes).
    void openFocusWindow() {
        const Window root = DefaultRootWindow(focus);
        XSetWindowAttributes attributes{};
        attributes.event_mask = KeyPressMask | KeyReleaseMask;
        attributes.override_redirect = True;
        const Window window =
            XCreateWindow(focus, root, 0, 0, unsigned(DisplayWidth(focus, DefaultScreen(focus))),
                          unsigned(DisplayHeight(focus, DefaultScreen(focus))), 0, CopyFromParent,
                          InputOutput, CopyFromParent, CWEventMask | CWOverrideRedirect, &attributes);
        XMapRaised(focus, window);
        XSync(focus, False);
        XSetInputFocus(focus, window, RevertToPointerRoot, CurrentTime);
        XSync(focus, False);
    }
};

std::unique_ptr<XKeyPressRecorder> XKeyPressRecorder::start(OnKeyPress recorded, OnKeyPress delivered,
                                                            std::string& why) {
    auto impl = std::make_unique<Impl>();
    impl->recorded = std::move(recorded);
    impl->delivered = std::move(delivered);
    impl->control = XOpenDisplay(nullptr);
    impl->data = XOpenDisplay(nullptr);
    impl->focus = XOpenDisplay(nullptr);
    if (!impl->control || !impl->data || !impl->focus) {
        why = "cannot open the X display (DISPLAY)";
        return nullptr;
    }
    int major = 0, minor = 0;
    if (!XRecordQueryVersion(impl->control, &major, &minor)) {
        why = "the X display has no RECORD extension";
        return nullptr;
    }
    impl->openFocusWindow();
    XRecordRange* range = XRecordAllocRange();
    range->device_events.first = KeyPress;
    range->device_events.last = KeyPress;
    XRecordClientSpec clients = XRecordAllClients;
    impl->context = XRecordCreateContext(impl->control, 0, &clients, 1, &range, 1);
    XFree(range);
    // The context must exist at the server before the other connection enables it.
    XSync(impl->control, False);
    if (!impl->context || !XRecordEnableContextAsync(impl->data, impl->context, &Impl::intercepted,
                                                     reinterpret_cast<XPointer>(impl.get()))) {
        why = "RECORD refused the recording";
        return nullptr;
    }
    Impl* raw = impl.get();
    impl->thread = std::thread([raw] {
        pthread_setname_np(pthread_self(), "xrecorder");
        raw->run();
    });
    const auto limit = Clock::now() + kConfirmLimit;
    while (!impl->started && !impl->ended && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::unique_ptr<XKeyPressRecorder> recorder(new XKeyPressRecorder(std::move(impl)));
    if (!recorder->d_->started) {
        why = "the recording did not start";
        return nullptr; // the destructor ends the thread
    }
    return recorder;
}

XKeyPressRecorder::XKeyPressRecorder(std::unique_ptr<Impl> impl)
    : d_(std::move(impl)) {}

XKeyPressRecorder::~XKeyPressRecorder() {
    XRecordDisableContext(d_->control, d_->context);
    XSync(d_->control, False);
    d_->stopping = true;
    d_->thread.join();
}

std::uint64_t tapKeysWithXTest(Clock::time_point deadline, std::string& why) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        why = "cannot open the X display (DISPLAY)";
        return 0;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        why = "the X display has no XTest extension";
        return 0;
    }
    const KeyCode escape = XKeysymToKeycode(display, XK_Escape);
    // A bound on taps whatever the time; the server paces the loop (Xlib waits when the socket is full).
    constexpr std::uint64_t kMaxTaps = 100'000'000;
    std::uint64_t taps = 0;
    for (; taps < kMaxTaps; ++taps) {
        if ((taps & 63) == 0 && Clock::now() >= deadline)
            break;
        XTestFakeKeyEvent(display, escape, True, CurrentTime);
        XTestFakeKeyEvent(display, escape, False, CurrentTime);
        XFlush(display);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return taps;
}
