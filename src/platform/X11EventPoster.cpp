#include "X11EventPoster.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iterator>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

// Xlib comes last: its macros (None, Bool, Status, KeyPress, ...) must not meet the headers above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/XF86keysym.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

namespace platform {

namespace {

// macOS virtual key codes (ANSI layout) and the X key symbol of the same key.
constexpr std::pair<std::uint16_t, std::uint32_t> kVirtualKeys[] = {
    {0, XK_a},
    {1, XK_s},
    {2, XK_d},
    {3, XK_f},
    {4, XK_h},
    {5, XK_g},
    {6, XK_z},
    {7, XK_x},
    {8, XK_c},
    {9, XK_v},
    {10, XK_section},
    {11, XK_b},
    {12, XK_q},
    {13, XK_w},
    {14, XK_e},
    {15, XK_r},
    {16, XK_y},
    {17, XK_t},
    {18, XK_1},
    {19, XK_2},
    {20, XK_3},
    {21, XK_4},
    {22, XK_6},
    {23, XK_5},
    {24, XK_equal},
    {25, XK_9},
    {26, XK_7},
    {27, XK_minus},
    {28, XK_8},
    {29, XK_0},
    {30, XK_bracketright},
    {31, XK_o},
    {32, XK_u},
    {33, XK_bracketleft},
    {34, XK_i},
    {35, XK_p},
    {36, XK_Return},
    {37, XK_l},
    {38, XK_j},
    {39, XK_apostrophe},
    {40, XK_k},
    {41, XK_semicolon},
    {42, XK_backslash},
    {43, XK_comma},
    {44, XK_slash},
    {45, XK_n},
    {46, XK_m},
    {47, XK_period},
    {48, XK_Tab},
    {49, XK_space},
    {50, XK_grave},
    {51, XK_BackSpace},
    {52, XK_KP_Enter}, // the enter key of old PowerBooks
    {53, XK_Escape},
    {54, XK_Super_R},
    {55, XK_Super_L},
    {56, XK_Shift_L},
    {57, XK_Caps_Lock},
    {58, XK_Alt_L},
    {59, XK_Control_L},
    {60, XK_Shift_R},
    {61, XK_Alt_R},
    {62, XK_Control_R},
    {64, XK_F17},
    {65, XK_KP_Decimal},
    {67, XK_KP_Multiply},
    {69, XK_KP_Add},
    {71, XK_Clear},
    {72, XF86XK_AudioRaiseVolume},
    {73, XF86XK_AudioLowerVolume},
    {74, XF86XK_AudioMute},
    {75, XK_KP_Divide},
    {76, XK_KP_Enter},
    {78, XK_KP_Subtract},
    {79, XK_F18},
    {80, XK_F19},
    {81, XK_KP_Equal},
    {82, XK_KP_0},
    {83, XK_KP_1},
    {84, XK_KP_2},
    {85, XK_KP_3},
    {86, XK_KP_4},
    {87, XK_KP_5},
    {88, XK_KP_6},
    {89, XK_KP_7},
    {90, XK_F20},
    {91, XK_KP_8},
    {92, XK_KP_9},
    {96, XK_F5},
    {97, XK_F6},
    {98, XK_F7},
    {99, XK_F3},
    {100, XK_F8},
    {101, XK_F9},
    {103, XK_F11},
    {105, XK_F13},
    {106, XK_F16},
    {107, XK_F14},
    {109, XK_F10},
    {111, XK_F12},
    {113, XK_F15},
    {114, XK_Insert}, // the help key sits where PC keyboards have insert
    {115, XK_Home},
    {116, XK_Prior},
    {117, XK_Delete},
    {118, XK_F4},
    {119, XK_End},
    {120, XK_F2},
    {121, XK_Next},
    {122, XK_F1},
    {123, XK_Left},
    {124, XK_Right},
    {125, XK_Down},
    {126, XK_Up},
    {131, XF86XK_LaunchA}, // launchpad
};

constexpr std::pair<std::uint64_t, KeySym> kModifiers[] = {
    {EventFlag::Shift, XK_Shift_L},
    {EventFlag::Control, XK_Control_L},
    {EventFlag::Option, XK_Alt_L},
    {EventFlag::Command, XK_Super_L},
};

// X coordinates are 16-bit; anything beyond is clamped, and what is not a number goes nowhere.
std::optional<std::pair<int, int>> toXPoint(QPointF p) {
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
        return std::nullopt;
    const auto coordinate = [](double v) {
        return int(std::lround(std::clamp(v, -32768.0, 32767.0)));
    };
    return std::pair{coordinate(p.x()), coordinate(p.y())};
}

constexpr KeySym kUnicodeKeysymBase = 0x1000000;

// How often, at most, the poster reads its connection for the server's notices (see takeServerNotices).
constexpr auto kNoticeReadInterval = std::chrono::milliseconds(1);

// The key symbol that types a code point: Latin-1 symbols are the code point itself, the rest of
// Unicode is 0x1000000 plus the code point. Line breaks and tabs type their keys; other controls
// nothing.
KeySym keysymOfCodePoint(char32_t c) {
    if (c == U'\n' || c == U'\r')
        return XK_Return;
    if (c == U'\t')
        return XK_Tab;
    if (c == U'\b')
        return XK_BackSpace;
    if (c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0xfeff || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
        return NoSymbol;
    if (c < 0x100)
        return KeySym(c);
    return kUnicodeKeysymBase + c;
}

} // namespace

struct X11EventPoster::Impl {
    Display* display = nullptr;
    Window root = 0;
    int minKeycode = 0;
    int maxKeycode = 0;

    std::mutex mutex;
    // Where this poster last put the pointer, to the fraction: X keeps whole pixels, and a move split
    // into fractional steps would otherwise lose the fractions.
    std::optional<QPointF> lastPrecise;
    std::int64_t verticalCarry = 0;
    std::int64_t horizontalCarry = 0;

    // The keyboard map as last read: symbolsPerCode symbols for each key code from minKeycode. It is
    // read again only after the server announced a change of the keyboard mapping (mapChanged).
    std::vector<KeySym> map;
    int symbolsPerCode = 0;
    bool mapChanged = false;
    std::uint64_t mapReads = 0;
    // The type of the XKB extension's events; 0 without the extension.
    int xkbEventType = 0;
    // When the connection was last read for notices.
    std::chrono::steady_clock::time_point noticesRead;
    // Key codes lent to symbols the keyboard has no key for (see open()), in turn.
    std::vector<KeyCode> spare;
    size_t nextSpare = 0;
    // The key codes held down by a key-down whose key-up has not come, by virtual key code.
    std::unordered_map<std::uint16_t, KeyCode> held;

    ~Impl() {
        if (!display)
            return;
        // Give the lent key codes back their empty mapping.
        for (KeyCode code : spare) {
            KeySym nothing[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(display, code, 2, nothing, 1);
        }
        XCloseDisplay(display);
    }

    void readMap() {
        const int count = maxKeycode - minKeycode + 1;
        int perCode = 0;
        KeySym* syms = XGetKeyboardMapping(display, KeyCode(minKeycode), count, &perCode);
        map.assign(syms, syms + size_t(count) * size_t(perCode));
        symbolsPerCode = perCode;
        XFree(syms);
        mapChanged = false;
        ++mapReads;
    }

    // Asks for the server's notices of keyboard mapping changes. Without XKB every client gets the core
    // notice; with it, a client that uses XKB (Xlib does) gets notices only of what it selected.
    void selectMappingNotices() {
        int opcode = 0, eventBase = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
        if (!XkbQueryExtension(display, &opcode, &eventBase, &errorBase, &major, &minor))
            return;
        constexpr unsigned long kSymbols = XkbKeySymsMask | XkbKeyTypesMask;
        if (XkbSelectEventDetails(display, XkbUseCoreKbd, XkbMapNotify, kSymbols, kSymbols) &&
            XkbSelectEvents(display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask, XkbNewKeyboardNotifyMask))
            xkbEventType = eventBase;
    }

    // Takes the events the server sent this connection: those Xlib read already (a round trip reads
    // what came before its reply) and, at most once every kNoticeReadInterval, what the socket holds,
    // read without waiting and without a round trip. Reading the socket is a system call, which at
    // every event would cost a key press a good part of its time. The connection selects only the
    // notices of keyboard mapping changes, among them those of this poster's own changes.
    void takeServerNotices() {
        const auto now = std::chrono::steady_clock::now();
        const bool readSocket = now - noticesRead >= kNoticeReadInterval;
        if (readSocket)
            noticesRead = now;
        while (XEventsQueued(display, readSocket ? QueuedAfterReading : QueuedAlready) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MappingNotify) {
                XRefreshKeyboardMapping(&event.xmapping);
                if (event.xmapping.request == MappingKeyboard)
                    mapChanged = true;
            } else if (xkbEventType && event.type == xkbEventType) {
                XkbAnyEvent xkb;
                std::memcpy(&xkb, &event, sizeof xkb);
                if (xkb.xkb_type == XkbMapNotify || xkb.xkb_type == XkbNewKeyboardNotify)
                    mapChanged = true;
            }
        }
    }

    KeySym symbolAt(int keycode, int level) const {
        if (level >= symbolsPerCode)
            return NoSymbol;
        return map[size_t(keycode - minKeycode) * size_t(symbolsPerCode) + size_t(level)];
    }

    // The key code whose symbol at the level (0 plain, 1 shifted, in the first group) is the one asked.
    std::optional<KeyCode> codeAtLevel(KeySym sym, int level) const {
        for (int code = minKeycode; code <= maxKeycode; ++code) {
            if (symbolAt(code, level) == sym)
                return KeyCode(code);
        }
        return std::nullopt;
    }

    // A key code that gives the symbol without Shift: one of the keyboard's, or a spare lent to it.
    std::optional<KeyCode> plainCodeOf(KeySym sym) {
        if (auto code = codeAtLevel(sym, 0))
            return code;
        if (spare.empty())
            return std::nullopt;
        const KeyCode code = spare[nextSpare];
        nextSpare = (nextSpare + 1) % spare.size();
        KeySym both[2] = {sym, sym};
        XChangeKeyboardMapping(display, code, 2, both, 1);
        readMap();
        return code;
    }

    void pressModifiers(std::uint64_t flags, bool down) {
        for (const auto& [flag, sym] : kModifiers) {
            if (!(flags & flag))
                continue;
            if (auto code = codeAtLevel(sym, 0))
                XTestFakeKeyEvent(display, *code, down ? True : False, CurrentTime);
        }
    }

    void tap(KeyCode code, std::uint64_t flags) {
        pressModifiers(flags, true);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        pressModifiers(flags, false);
    }

    // Types one character; false when no key could be found or lent for it.
    bool type(char32_t c) {
        if (c == 0xfeff)
            return true; // the byte-order mark
        const KeySym sym = keysymOfCodePoint(c);
        if (sym == NoSymbol)
            return false;
        if (auto code = codeAtLevel(sym, 0)) {
            tap(*code, 0);
            return true;
        }
        if (auto code = codeAtLevel(sym, 1)) {
            tap(*code, EventFlag::Shift);
            return true;
        }
        // Lent keys carry the Unicode form of the symbol, which keyboard maps do not use for the
        // characters they have: that is how a later poster knows them for ours and takes them back.
        if (auto code = plainCodeOf(kUnicodeKeysymBase + c)) {
            tap(*code, 0);
            return true;
        }
        return false;
    }

    bool typeString(const QString& text) {
        bool all = true;
        for (char32_t c : text.toUcs4())
            all = type(c) && all;
        return all;
    }

    bool moveTo(const std::optional<QPointF>& location) {
        if (!location)
            return true;
        const auto p = toXPoint(*location);
        if (!p)
            return false;
        XTestFakeMotionEvent(display, -1, p->first, p->second, CurrentTime);
        lastPrecise = *location;
        return true;
    }

    void clickWheel(unsigned button, int clicks) {
        for (int i = 0; i < clicks; ++i) {
            XTestFakeButtonEvent(display, button, True, CurrentTime);
            XTestFakeButtonEvent(display, button, False, CurrentTime);
        }
    }

    bool key(const InputEvent& event) {
        const bool down = event.type == EventType::KeyDown;
        if (event.unicodeString) {
            // The string is typed on the key-down; its key-up has nothing left to do.
            return down ? typeString(*event.unicodeString) : true;
        }
        if (!down) {
            const auto it = held.find(event.keyCode);
            if (it != held.end()) {
                XTestFakeKeyEvent(display, it->second, False, CurrentTime);
                held.erase(it);
                return true;
            }
        }
        const auto sym = keysymOfVirtualKey(event.keyCode);
        if (!sym)
            return false;
        // Only an unshifted key will do: Shift would add a modifier the flags did not ask for, and on
        // the keypad Shift and Num Lock undo each other.
        const auto code = plainCodeOf(KeySym(*sym));
        if (!code)
            return false;
        if (!down) {
            XTestFakeKeyEvent(display, *code, False, CurrentTime);
            return true;
        }
        const std::uint64_t flags = event.flags.value_or(0);
        pressModifiers(flags, true);
        XTestFakeKeyEvent(display, *code, True, CurrentTime);
        pressModifiers(flags, false);
        held[event.keyCode] = *code;
        return true;
    }
};

X11EventPoster::X11EventPoster(std::unique_ptr<Impl> impl)
    : d_(std::move(impl)) {}

X11EventPoster::~X11EventPoster() = default;

std::unique_ptr<X11EventPoster> X11EventPoster::open(const std::optional<QString>& displayName) {
    const QByteArray name = displayName ? displayName->toLocal8Bit() : QByteArray();
    Display* display = XOpenDisplay(displayName ? name.constData() : nullptr);
    if (!display)
        return nullptr;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->display = display;
    impl->root = DefaultRootWindow(display);
    XDisplayKeycodes(display, &impl->minKeycode, &impl->maxKeycode);
    impl->selectMappingNotices(); // before the map is read: a change in between is then noticed
    impl->readMap();
    // Spares, from the top down (the low codes are the ones keyboards use): key codes that map
    // nothing, and those a poster lent to a character and did not give back (the same Unicode symbol
    // on both levels, nothing else; with XKB the server repeats the two levels in the second group).
    for (int code = impl->maxKeycode; code >= impl->minKeycode; --code) {
        const KeySym first = impl->symbolAt(code, 0);
        const bool lent = first >= kUnicodeKeysymBase && first <= kUnicodeKeysymBase + 0x10ffff &&
                          impl->symbolAt(code, 1) == first;
        bool spare = first == NoSymbol || lent;
        for (int level = lent ? 2 : 1; level < impl->symbolsPerCode && spare; ++level) {
            const KeySym sym = impl->symbolAt(code, level);
            spare = sym == NoSymbol || (lent && sym == first);
        }
        if (spare)
            impl->spare.push_back(KeyCode(code));
    }
    return std::unique_ptr<X11EventPoster>(new X11EventPoster(std::move(impl)));
}

QPointF X11EventPoster::cursorLocation() {
    std::lock_guard lock(d_->mutex);
    Window rootReturn = 0, child = 0;
    int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
    unsigned mask = 0;
    if (!XQueryPointer(d_->display, d_->root, &rootReturn, &child, &rootX, &rootY, &windowX, &windowY, &mask))
        return {};
    if (d_->lastPrecise && toXPoint(*d_->lastPrecise) == std::pair{rootX, rootY})
        return *d_->lastPrecise;
    d_->lastPrecise.reset();
    return QPointF(rootX, rootY);
}

void X11EventPoster::warpCursor(QPointF point) {
    std::lock_guard lock(d_->mutex);
    const auto p = toXPoint(point);
    if (!p)
        return;
    XWarpPointer(d_->display, 0, d_->root, 0, 0, 0, 0, p->first, p->second);
    XFlush(d_->display);
    d_->lastPrecise = point;
}

bool X11EventPoster::post(const InputEvent& event) {
    std::lock_guard lock(d_->mutex);
    d_->takeServerNotices();
    bool posted = true;
    switch (event.type) {
    case EventType::LeftMouseDown:
    case EventType::LeftMouseUp:
    case EventType::RightMouseDown:
    case EventType::RightMouseUp: {
        posted = d_->moveTo(event.location);
        if (!posted)
            break;
        const bool left = event.type == EventType::LeftMouseDown || event.type == EventType::LeftMouseUp;
        const bool down = event.type == EventType::LeftMouseDown || event.type == EventType::RightMouseDown;
        XTestFakeButtonEvent(d_->display, left ? 1 : 3, down ? True : False, CurrentTime);
        break;
    }
    case EventType::MouseMoved:
    case EventType::LeftMouseDragged:
        posted = d_->moveTo(event.location);
        break;
    case EventType::ScrollWheel: {
        const int up = takeWheelClicks(d_->verticalCarry, event.wheel1);
        const int left = takeWheelClicks(d_->horizontalCarry, event.wheel2);
        d_->clickWheel(up > 0 ? 4 : 5, std::abs(up));
        d_->clickWheel(left > 0 ? 6 : 7, std::abs(left));
        break;
    }
    case EventType::KeyDown:
    case EventType::KeyUp:
        if (d_->mapChanged)
            d_->readMap();
        posted = d_->key(event);
        break;
    default:
        posted = false;
        break;
    }
    XFlush(d_->display);
    return posted;
}

std::uint64_t X11EventPoster::keyboardMapReads() const {
    std::lock_guard lock(d_->mutex);
    return d_->mapReads;
}

std::optional<std::uint32_t> X11EventPoster::keysymOfVirtualKey(std::uint16_t keyCode) {
    const auto it = std::find_if(std::begin(kVirtualKeys), std::end(kVirtualKeys),
                                 [keyCode](const auto& entry) { return entry.first == keyCode; });
    if (it == std::end(kVirtualKeys))
        return std::nullopt;
    return it->second;
}

int X11EventPoster::takeWheelClicks(std::int64_t& carry, std::int32_t pixels) {
    if (pixels == 0)
        return 0;
    if ((carry > 0 && pixels < 0) || (carry < 0 && pixels > 0))
        carry = 0;
    carry += pixels;
    std::int64_t clicks = carry / kPixelsPerWheelClick;
    carry -= clicks * kPixelsPerWheelClick;
    if (clicks > kMaxWheelClicksPerEvent || clicks < -kMaxWheelClicksPerEvent) {
        clicks = std::clamp<std::int64_t>(clicks, -kMaxWheelClicksPerEvent, kMaxWheelClicksPerEvent);
        carry = 0;
    }
    return int(clicks);
}

} // namespace platform
