// The SlideWandLegacy bundle in a network namespace of its own and a phone in another, joined only by a
// veth pair, so that the announcement broadcasts never reach the machine's network. Start and End are
// clicked with xdotool; the down-arrow key reaches a window of this process.
#include "platform/X11EventPoster.h"

#include "SystemTestSupport.h"
#include "Wait.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

// Runs the program to its end while the event loop goes on, so that the application's output is read
// meanwhile: an application blocked on a full pipe would answer nothing.
QStringList run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000))
        p.kill();
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

struct KeyWindow : QWidget {
    std::vector<int> keys;
    void keyPressEvent(QKeyEvent* event) override { keys.push_back(event->key()); }
};

TEST(LegacySystem, AnnouncesAnswersAndPressesKeysOnlyWhileListening) {
    if (!platform::X11EventPoster::open() || QGuiApplication::platformName() != u"xcb")
        GTEST_SKIP() << "no X display with XTest";
    const QString id = QString::number(QCoreApplication::applicationPid());
    const QString computer = "pclegacyc" + id, phone = "pclegacyp" + id;
    // Both ends are in namespaces of the test's own, so the subnet meets no network of this machine.
    const QString subnet = "10.0." + QString::number(QCoreApplication::applicationPid() % 250 + 1) + ".",
                  address = subnet + "1";
    const std::shared_ptr<void> cleanup(nullptr, [&](void*) {
        QProcess::execute("ip", {"netns", "del", computer});
        QProcess::execute("ip", {"netns", "del", phone});
    });
    // The limited broadcast needs a route: the pair is the computer's only way out.
    const QString setUp = "ip netns add %1 && ip netns add %2 && "
                          "ip link add lc%3 netns %1 type veth peer name lp%3 netns %2 && "
                          "ip -n %1 addr add %4/24 dev lc%3 && ip -n %1 link set lc%3 up && "
                          "ip -n %1 route add default dev lc%3 && "
                          "ip -n %2 addr add %5/24 dev lp%3 && ip -n %2 link set lp%3 up";
    if (QProcess::execute("sh", {"-c", setUp.arg(computer, phone, id, address, subnet + "2")}) != 0)
        GTEST_SKIP() << "no network namespaces here";

    // The application in a home folder of its own, with a session bus that ends after it.
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    auto environment = applicationEnvironment(home.path());
    SessionBus bus(environment.value("XDG_RUNTIME_DIR"), environment);
    ASSERT_FALSE(bus.address().isEmpty()) << bus.error().toStdString();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    QProcess app; // killed when it goes, before the bus and the namespaces go
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.setProcessEnvironment(environment);
    app.start("ip", {"netns", "exec", computer,
                     PC_BUNDLES_DIR "/SlideWandLegacy.app/Contents/MacOS/SlideWandLegacy"});
    QString output;
    const auto logged = [&](const QString& line) {
        return waitUntil([&] { return (output += QString::fromUtf8(app.readAll())).contains(line); }, 15000);
    };
    const QStringList window = run("xdotool", {"search", "--sync", "--name", "^Slide Wand$"});
    ASSERT_FALSE(window.isEmpty()) << output.toStdString();
    const auto click = [&](const char* x) {
        run("xdotool", {"mousemove", "--window", window[0], x, "148", "click", "1"});
    };
    click("120"); // Start
    ASSERT_TRUE(logged("start to listen " + address)) << output.toStdString();

    const QString hello = "Deckhop:" + address + "|||" + QSysInfo::machineHostName();
    const auto fromPhone = [&](const QStringList& arguments) {
        QStringList lines =
            run("ip", QStringList{"netns", "exec", phone, PC_PHONE, "--to", address} + arguments);
        lines.sort();
        return lines;
    };
    // One announcement from each channel within 5 s; then, well before the next ones, the answer to "check"
    // sent from the first channel's check port, at its broadcast port.
    EXPECT_EQ(fromPhone({"--listen", "4689,44689,54689", "--wait", "12000", "--expect", "3"}),
              QStringList({"44689 " + hello, "4689 " + hello, "54689 " + hello}));
    EXPECT_EQ(fromPhone({"--port", "4690", "--from", "4690", "--listen", "4689", "--send", "check", "--wait",
                         "2000", "--expect", "1"}),
              QStringList{"4689 " + hello});

    KeyWindow keys;
    keys.setGeometry(600, 300, 200, 150);
    keys.show();
    ASSERT_TRUE(waitUntil([&] { return keys.windowHandle() && keys.windowHandle()->isExposed(); }));
    QCursor::setPos(keys.geometry().center());
    keys.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return keys.isActiveWindow(); }));
    fromPhone({"--port", "4688", "--send", "cmd|{down}", "--wait", "0"});
    EXPECT_TRUE(waitUntil([&] { return !keys.keys.empty(); }, 10000));
    EXPECT_EQ(keys.keys, std::vector<int>{Qt::Key_Down});

    // Moves sent back to back from one socket move the pointer one after the other, on each receiving
    // port; after a flood of random bytes on all six, each still answers "connect".
    const QStringList receiving{"4688", "4690", "44688", "44690", "54688", "54690"};
    QStringList moves;
    for (int i = 0; i < 20; ++i)
        moves << "--send"
              << "move|{2,1}";
    for (const QString& port : receiving) {
        const QPoint before = QCursor::pos();
        fromPhone(QStringList{"--port", port, "--wait", "0"} + moves);
        EXPECT_TRUE(waitUntil([&] { return QCursor::pos() == before + QPoint(40, 20); }, 5000))
            << port.toStdString() << ": moved by (" << (QCursor::pos() - before).x() << ", "
            << (QCursor::pos() - before).y() << ")";
    }
    for (const QString& port : receiving)
        fromPhone({"--port", port, "--fuzz", "1667", "--wait", "0"});
    for (const QString& port : receiving) {
        const QStringList answer =
            fromPhone({"--port", port, "--send", "connect", "--wait", "3000", "--expect", "1"});
        EXPECT_TRUE(answer.size() == 1 && answer[0].endsWith(" confirm"))
            << port.toStdString() << ": " << answer.join(", ").toStdString();
    }

    click("340"); // End
    ASSERT_TRUE(logged("end listen")) << output.toStdString();
    EXPECT_EQ(fromPhone({"--listen", "4689,44689,54689", "--wait", "6000"}), QStringList());

    // SIGTERM: it ends well within 2 s, and no sanitizer reported anything meanwhile.
    app.terminate();
    ASSERT_TRUE(app.waitForFinished(2000)) << output.toStdString();
    output += QString::fromUtf8(app.readAll());
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << output.toStdString();
    EXPECT_FALSE(hasSanitizerReport(output)) << output.toStdString();
}

} // namespace
