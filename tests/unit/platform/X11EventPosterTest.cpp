// The X11 poster on a real display: the pointer is checked with xdotool, clicks, wheels and keys by a
// window of this process on the xcb platform. Skipped without a display that has XTest.
#include "platform/X11EventPoster.h"

#include "Wait.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace {

namespace EventFlag = platform::EventFlag;
namespace EventType = platform::EventType;
using platform::InputEvent;
using platform::X11EventPoster;

// The pointer as xdotool reads it.
std::optional<QPoint> xdotoolPointer() {
    QProcess process;
    process.start(QStringLiteral("xdotool"), {QStringLiteral("getmouselocation")});
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return std::nullopt;
    const auto match = QRegularExpression(QStringLiteral(R"(x:(-?\d+) y:(-?\d+))"))
                           .match(QString::fromUtf8(process.readAllStandardOutput()));
    if (!match.hasMatch())
        return std::nullopt;
    return QPoint(match.captured(1).toInt(), match.captured(2).toInt());
}

InputEvent mouse(std::int32_t type, QPointF at, std::int64_t clicks = 1) {
    InputEvent e;
    e.type = type;
    e.location = at;
    e.clickState = clicks;
    return e;
}

InputEvent key(std::int32_t type, std::uint16_t code, std::optional<std::uint64_t> flags = std::nullopt) {
    InputEvent e;
    e.type = type;
    e.keyCode = code;
    e.flags = flags;
    e.tap = platform::EventTap::AnnotatedSession;
    return e;
}

InputEvent text(const QString& chunk) {
    InputEvent e = key(EventType::KeyDown, 0);
    e.unicodeString = QChar(0xfeff) + chunk;
    return e;
}

// Runs xmodmap (a client of its own on the display) with the arguments; whether it succeeded.
bool xmodmap(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xmodmap"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// The key code whose first symbol is the one named, as xmodmap prints the keyboard map.
std::optional<int> keycodeOf(const QString& symbol) {
    QProcess process;
    process.start(QStringLiteral("xmodmap"), {QStringLiteral("-pke")});
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return std::nullopt;
    const auto match = QRegularExpression(QStringLiteral(R"(^keycode\s+(\d+) = %1\s)").arg(symbol),
                                          QRegularExpression::MultilineOption)
                           .match(QString::fromUtf8(process.readAllStandardOutput()));
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

InputEvent wheel(std::int32_t vertical, std::int32_t horizontal) {
    InputEvent e;
    e.type = EventType::ScrollWheel;
    e.wheel1 = vertical;
    e.wheel2 = horizontal;
    return e;
}

class X11EventPosterTest : public ::testing::Test {
protected:
    void SetUp() override {
        poster = X11EventPoster::open();
        if (!poster)
            GTEST_SKIP() << "no X display with XTest";
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            GTEST_SKIP() << "not on the xcb platform";
    }

    void press(std::uint16_t code, std::optional<std::uint64_t> flags = std::uint64_t(0)) {
        ASSERT_TRUE(poster->post(key(EventType::KeyDown, code, flags)));
        ASSERT_TRUE(poster->post(key(EventType::KeyUp, code)));
    }

    // Shows the window at the place, puts the pointer on it and waits until it has the keyboard.
    void show(QWidget& window, QPoint place) {
        window.setGeometry(QRect(place, QSize(300, 200)));
        window.show();
        ASSERT_TRUE(waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
        poster->warpCursor(window.mapToGlobal(window.rect().center()));
        window.activateWindow();
        ASSERT_TRUE(waitUntil([&] { return window.isActiveWindow(); }));
    }

    std::unique_ptr<X11EventPoster> poster;
};

TEST_F(X11EventPosterTest, PointerReallyMovesAndKeepsItsFractions) {
    poster->warpCursor({100, 120});
    EXPECT_EQ(xdotoolPointer(), QPoint(100, 120));
    EXPECT_EQ(poster->cursorLocation(), QPointF(100, 120));

    ASSERT_TRUE(poster->post(mouse(EventType::MouseMoved, {333.4, 222.6})));
    EXPECT_EQ(xdotoolPointer(), QPoint(333, 223));
    EXPECT_EQ(poster->cursorLocation(), QPointF(333.4, 222.6));

    // Two steps of (12.5, 2.5) from (100, 100) end at (125, 105), not at the rounded (126, 106).
    poster->warpCursor({100, 100});
    for (int i = 0; i < 2; ++i) {
        const QPointF target = poster->cursorLocation() + QPointF(12.5, 2.5);
        poster->warpCursor(target);
        ASSERT_TRUE(poster->post(mouse(EventType::MouseMoved, target)));
    }
    EXPECT_EQ(xdotoolPointer(), QPoint(125, 105));
    EXPECT_EQ(poster->cursorLocation(), QPointF(125, 105));

    ASSERT_TRUE(poster->post(mouse(EventType::LeftMouseDragged, {400, 300})));
    EXPECT_EQ(xdotoolPointer(), QPoint(400, 300));

    // Moved by someone else: the pointer where X has it.
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                                {QStringLiteral("mousemove"), QStringLiteral("50"), QStringLiteral("60")}),
              0);
    EXPECT_EQ(poster->cursorLocation(), QPointF(50, 60));

    // Coordinates that are not numbers go nowhere.
    EXPECT_FALSE(poster->post(mouse(EventType::MouseMoved, {qQNaN(), 10})));
    EXPECT_EQ(xdotoolPointer(), QPoint(50, 60));
}

class MouseRecorder : public QWidget {
public:
    std::vector<Qt::MouseButton> pressed;
    int released = 0;
    int doubleClicks = 0;
    QPoint angle;

protected:
    void mousePressEvent(QMouseEvent* event) override { pressed.push_back(event->button()); }
    void mouseReleaseEvent(QMouseEvent*) override { ++released; }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        pressed.push_back(event->button());
        ++doubleClicks;
    }
    void wheelEvent(QWheelEvent* event) override { angle += event->angleDelta(); }
};

TEST_F(X11EventPosterTest, ButtonsReachTheWindowUnderThePointer) {
    MouseRecorder window;
    show(window, {40, 40});
    const QPointF at = window.mapToGlobal(QPointF(30, 30));
    ASSERT_TRUE(poster->post(mouse(EventType::RightMouseDown, at)));
    ASSERT_TRUE(poster->post(mouse(EventType::RightMouseUp, at)));
    ASSERT_TRUE(waitUntil([&] { return window.released == 1; }));
    EXPECT_THAT(window.pressed, ::testing::ElementsAre(Qt::RightButton));

    // Somewhere else, so that this is no second click of the one before.
    const QPointF there = window.mapToGlobal(QPointF(200, 150));
    ASSERT_TRUE(poster->post(mouse(EventType::LeftMouseDown, there)));
    ASSERT_TRUE(poster->post(mouse(EventType::LeftMouseUp, there)));
    ASSERT_TRUE(waitUntil([&] { return window.released == 2; }));
    EXPECT_THAT(window.pressed, ::testing::ElementsAre(Qt::RightButton, Qt::LeftButton));
    EXPECT_EQ(window.doubleClicks, 0);
    EXPECT_EQ(xdotoolPointer(), there.toPoint());
}

TEST_F(X11EventPosterTest, ClicksOfADoubleClickCountAsOne) {
    MouseRecorder window;
    show(window, {60, 300});
    const QPointF at = window.mapToGlobal(QPointF(100, 100));
    for (std::int32_t type :
         {EventType::LeftMouseDown, EventType::LeftMouseUp, EventType::LeftMouseDown, EventType::LeftMouseUp})
        ASSERT_TRUE(poster->post(mouse(type, at, 2)));
    ASSERT_TRUE(waitUntil([&] { return window.released == 2; }));
    EXPECT_EQ(window.doubleClicks, 1);
}

TEST_F(X11EventPosterTest, TripleClickSelectsTheWholeLine) {
    QWidget window;
    auto* edit = new QLineEdit(QStringLiteral("alpha beta gamma"), &window);
    edit->setGeometry(10, 10, 280, 30);
    show(window, {500, 60});
    const QPointF at = edit->mapToGlobal(QPointF(12, 15));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(poster->post(mouse(EventType::LeftMouseDown, at, 2)));
        ASSERT_TRUE(poster->post(mouse(EventType::LeftMouseUp, at, 2)));
    }
    ASSERT_TRUE(waitUntil([&] { return edit->hasSelectedText(); }));
    EXPECT_EQ(edit->selectedText(), QStringLiteral("alpha"));

    edit->deselect();
    const QPointF beside = edit->mapToGlobal(QPointF(12, 20)); // not a fourth click of the same
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(poster->post(mouse(EventType::LeftMouseDown, beside, 3)));
        ASSERT_TRUE(poster->post(mouse(EventType::LeftMouseUp, beside, 3)));
    }
    ASSERT_TRUE(waitUntil([&] { return edit->selectedText() == edit->text(); }));
}

TEST_F(X11EventPosterTest, WheelPixelsBecomeWheelClicksOnBothAxes) {
    MouseRecorder window;
    show(window, {400, 400});
    ASSERT_TRUE(poster->post(wheel(90, 0))); // three clicks up
    ASSERT_TRUE(waitUntil([&] { return window.angle.y() == 360; }));
    ASSERT_TRUE(poster->post(wheel(0, -60))); // two clicks right
    ASSERT_TRUE(waitUntil([&] { return window.angle.x() == -240; }));
    // Twenty pixels are no click yet, forty are one, with ten carried.
    ASSERT_TRUE(poster->post(wheel(-20, 0)));
    ASSERT_TRUE(poster->post(wheel(-20, 0)));
    ASSERT_TRUE(waitUntil([&] { return window.angle.y() == 240; }));
    EXPECT_EQ(window.angle, QPoint(-240, 240));
}

class KeyRecorder : public QWidget {
public:
    KeyRecorder() { setFocusPolicy(Qt::StrongFocus); }
    std::vector<std::pair<int, Qt::KeyboardModifiers>> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() != Qt::Key_Shift && event->key() != Qt::Key_Control && event->key() != Qt::Key_Alt &&
            event->key() != Qt::Key_Meta && event->key() != Qt::Key_Super_L)
            keys.emplace_back(event->key(), event->modifiers() & ~Qt::KeypadModifier);
    }
};

TEST_F(X11EventPosterTest, ModifierFlagsHoldExactlyTheirKeysForTheKeyDown) {
    KeyRecorder window;
    show(window, {700, 300});
    window.setFocus();
    press(17, EventFlag::Command);                     // T
    press(3, EventFlag::Command | EventFlag::Control); // F
    press(12, EventFlag::Option);                      // Q
    press(125, 0xC);                                   // down arrow, no modifier in these flags
    press(0, 0);                                       // A: nothing left held
    press(23, EventFlag::Shift);                       // %
    press(0, std::nullopt);                            // flags left unset: no modifier
    ASSERT_TRUE(waitUntil([&] { return window.keys.size() == 7; }));
    using P = std::pair<int, Qt::KeyboardModifiers>;
    EXPECT_THAT(window.keys,
                ::testing::ElementsAre(P{Qt::Key_T, Qt::MetaModifier},
                                       P{Qt::Key_F, Qt::MetaModifier | Qt::ControlModifier},
                                       P{Qt::Key_Q, Qt::AltModifier}, P{Qt::Key_Down, Qt::NoModifier},
                                       P{Qt::Key_A, Qt::NoModifier}, P{Qt::Key_Percent, Qt::ShiftModifier},
                                       P{Qt::Key_A, Qt::NoModifier}));
}

TEST_F(X11EventPosterTest, KeysOfTheKeyTableReachALineEdit) {
    QWidget window;
    auto* edit = new QLineEdit(&window);
    edit->setGeometry(10, 10, 280, 30);
    bool returned = false;
    QObject::connect(edit, &QLineEdit::returnPressed, [&] { returned = true; });
    show(window, {100, 500});
    edit->setFocus();
    ASSERT_TRUE(waitUntil([&] { return edit->hasFocus(); }));

    press(83);                   // num1: a digit whatever Num Lock says
    press(69);                   // num+
    press(91);                   // num8
    press(65);                   // num.
    press(23, EventFlag::Shift); // %
    press(0);                    // a
    ASSERT_TRUE(waitUntil([&] { return edit->text().size() == 6; }));
    EXPECT_EQ(edit->text(), QStringLiteral("1+8.%a"));
    press(51); // backspace
    ASSERT_TRUE(waitUntil([&] { return edit->text().size() == 5; }));
    EXPECT_EQ(edit->text(), QStringLiteral("1+8.%"));
    // With Num Lock on, a keypad key still gives its digit.
    const auto numLock = [] {
        return QProcess::execute(QStringLiteral("xdotool"),
                                 {QStringLiteral("key"), QStringLiteral("Num_Lock")});
    };
    ASSERT_EQ(numLock(), 0);
    press(84); // num2
    ASSERT_EQ(numLock(), 0);
    ASSERT_TRUE(waitUntil([&] { return edit->text().size() == 6; }));
    EXPECT_EQ(edit->text(), QStringLiteral("1+8.%2"));
    press(0, EventFlag::Control); // select all
    press(51);
    ASSERT_TRUE(waitUntil([&] { return edit->text().isEmpty(); }));
    press(36); // return
    ASSERT_TRUE(waitUntil([&] { return returned; }));
}

TEST_F(X11EventPosterTest, TypedTextReachesALineEditWithoutTheByteOrderMark) {
    QWidget window;
    auto* edit = new QLineEdit(&window);
    edit->setGeometry(10, 10, 280, 30);
    show(window, {400, 100});
    edit->setFocus();
    ASSERT_TRUE(waitUntil([&] { return edit->hasFocus(); }));

    const QString chunks[] = {QStringLiteral("Héllo Wörl"), QStringLiteral("d ñ€Ωж中😀"),
                              QStringLiteral("éé€ß~A")};
    QString expected;
    for (const QString& chunk : chunks) {
        ASSERT_TRUE(poster->post(text(chunk)));
        expected += chunk;
    }
    EXPECT_TRUE(waitUntil([&] { return edit->text() == expected; }, 10000));
    EXPECT_EQ(edit->text().toStdString(), expected.toStdString());
}

// The keyboard map is read once, not for each key, and again after another client changed it: a key
// posted then is found at its new key code (with the map as it was, the old code types the new symbol).
TEST_F(X11EventPosterTest, KeyboardMapIsKeptUntilTheServerAnnouncesAChange) {
    if (QProcess::execute(QStringLiteral("xmodmap"), {QStringLiteral("-version")}) != 0)
        GTEST_SKIP() << "no xmodmap";
    QWidget window;
    auto* edit = new QLineEdit(&window);
    edit->setGeometry(10, 10, 280, 30);
    show(window, {700, 100});
    edit->setFocus();
    ASSERT_TRUE(waitUntil([&] { return edit->hasFocus(); }));
    const auto a = keycodeOf(QStringLiteral("a"));
    const auto b = keycodeOf(QStringLiteral("b"));
    ASSERT_TRUE(a && b) << "a and b not found in the keyboard map";
    const auto map = [](int code, const char* symbols) {
        return QStringList{QStringLiteral("-e"), QStringLiteral("keycode %1 = %2").arg(code).arg(symbols)};
    };
    const QStringList swap = map(*a, "b B") + map(*b, "a A");
    const QStringList restore = map(*a, "a A") + map(*b, "b B");
    struct Restore {
        QStringList arguments;
        ~Restore() { xmodmap(arguments); }
    } restoreAtEnd{restore};
    std::unique_ptr<X11EventPoster> second; // another client that lends key codes

    const struct {
        const char* change; // none for the first step
        std::function<void()> make;
        InputEvent typed;
        QString expected; // what the line edit holds after the step
    } steps[] = {
        {nullptr, [] {}, key(EventType::KeyDown, 0), QStringLiteral("a")},
        {"a and b swapped", [&] { ASSERT_TRUE(xmodmap(swap)); }, key(EventType::KeyDown, 11),
         QStringLiteral("b")},
        {"a and b back", [&] { ASSERT_TRUE(xmodmap(restore)); }, key(EventType::KeyDown, 0),
         QStringLiteral("a")},
        // This poster lends a spare key code to a character; a second poster lends the same code to
        // another one. The first character typed again needs a key code of its own.
        {"this poster's lent key code lent again by another",
         [&] {
             ASSERT_TRUE(poster->post(text(QStringLiteral("ж"))));
             // The line edit reads the key code's symbol when the key comes: the lending waits for it.
             ASSERT_TRUE(waitUntil([&] { return edit->text() == QStringLiteral("ж"); }))
                 << edit->text().toStdString();
             second = X11EventPoster::open();
             ASSERT_TRUE(second);
             ASSERT_TRUE(second->post(text(QStringLiteral("ω"))));
             ASSERT_TRUE(waitUntil([&] { return edit->text() == QStringLiteral("жω"); }))
                 << edit->text().toStdString();
         },
         text(QStringLiteral("ж")), QStringLiteral("жωж")},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.change ? step.change : "no change");
        edit->clear();
        step.make();
        if (HasFatalFailure())
            return;
        // A round trip on the poster's connection: the notices of the change, sent before its reply,
        // are read with it.
        poster->cursorLocation();
        const std::uint64_t before = poster->keyboardMapReads();
        ASSERT_TRUE(poster->post(step.typed));
        InputEvent up = step.typed;
        up.type = EventType::KeyUp;
        ASSERT_TRUE(poster->post(up));
        EXPECT_TRUE(waitUntil([&] { return edit->text().size() == step.expected.size(); }));
        EXPECT_EQ(edit->text().toStdString(), step.expected.toStdString());
        const std::uint64_t read = poster->keyboardMapReads() - before;
        if (step.change)
            EXPECT_GE(read, 1u) << "the change went unnoticed";
        else
            EXPECT_EQ(read, 0u) << "the map was read for a key press";
        // More keys read nothing more.
        const std::uint64_t after = poster->keyboardMapReads();
        for (qsizetype i = 0; i < step.expected.size(); ++i)
            press(51); // backspace
        EXPECT_TRUE(waitUntil([&] { return edit->text().isEmpty(); }));
        EXPECT_EQ(poster->keyboardMapReads(), after) << "the map was read for a key press";
    }
}

} // namespace
