// The SlideWandLegacy bundle in a network namespace of its own and a phone in another, joined only by a
// veth pair, so that the announcement broadcasts never reach the machine's network. Start and End are
// clicked with xdotool; the down-arrow key is received by a window of this process.
#include "platform/X11EventPoster.h"

#include "Wait.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QSysInfo>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

QStringList run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(30000))
        p.kill();
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

class KeyWindow : public QWidget {
public:
    std::vector<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { keys.push_back(event->key()); }
};

TEST(LegacySystem, AnnouncesAnswersAndPressesKeysOnlyWhileListening) {
    if (!platform::X11EventPoster::open() || QGuiApplication::platformName() != u"xcb")
        GTEST_SKIP() << "no X display with XTest";
    const QString id = QString::number(QCoreApplication::applicationPid());
    const QString computer = "pclegacyc" + id, phone = "pclegacyp" + id;
    const QString subnet = "10.0." + QString::number(QCoreApplication::applicationPid() % 250 + 1) + ".";
    if (QProcess::execute("ip", {"netns", "add", computer}) != 0)
        GTEST_SKIP() << "no network namespaces here";
    const std::shared_ptr<void> cleanup(nullptr, [&](void*) {
        QProcess::execute("ip", {"netns", "del", computer});
        QProcess::execute("ip", {"netns", "del", phone});
    });
    for (const QStringList& args : std::initializer_list<QStringList>{
             {"netns", "add", phone},
             {"link", "add", "lc" + id, "netns", computer, "type", "veth", "peer", "name", "lp" + id, "netns",
              phone},
             {"-n", computer, "addr", "add", subnet + "1/24", "dev", "lc" + id},
             {"-n", phone, "addr", "add", subnet + "2/24", "dev", "lp" + id},
             {"-n", computer, "link", "set", "lc" + id, "up"},
             {"-n", phone, "link", "set", "lp" + id, "up"},
             // 255.255.255.255 needs a route: the pair is the computer's only way out.
             {"-n", computer, "route", "add", "default", "dev", "lc" + id}})
        ASSERT_EQ(QProcess::execute("ip", args), 0) << args.join(u' ').toStdString();

    QProcess app;
    app.setProcessChannelMode(QProcess::MergedChannels);
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    app.setProcessEnvironment(environment);
    app.start("ip", {"netns", "exec", computer,
                     PC_BUNDLES_DIR "/SlideWandLegacy.app/Contents/MacOS/SlideWandLegacy"});
    const std::shared_ptr<void> stop(nullptr, [&](void*) {
        app.kill();
        app.waitForFinished();
    });
    QString output;
    const auto logged = [&](const QString& line) {
        return waitUntil([&] { return (output += QString::fromUtf8(app.readAll())).contains(line); }, 15000);
    };
    const QStringList windows = run("xdotool", {"search", "--sync", "--name", "^Slide Wand$"});
    ASSERT_FALSE(windows.isEmpty()) << output.toStdString();
    const auto click = [&](int x, int y) {
        run("xdotool",
            {"mousemove", "--window", windows[0], QString::number(x), QString::number(y), "click", "1"});
    };
    click(120, 148); // Start
    ASSERT_TRUE(logged("start to listen " + subnet + "1")) << output.toStdString();
    EXPECT_EQ(run("xdotool", {"getwindowname", windows[0]}), QStringList{"Slide Wand Status: ON"});

    const QString hello = "Deckhop:" + subnet + "1|||" + QSysInfo::machineHostName();
    const auto fromPhone = [&](const QStringList& arguments) {
        QStringList lines =
            run("ip", QStringList{"netns", "exec", phone, PC_PHONE, "--to", subnet + "1"} + arguments);
        lines.sort();
        return lines;
    };
    // One announcement from each channel within 5 s; then, well before the next, the answer to "check" sent
    // from the first channel's check port, at its broadcast port.
    EXPECT_EQ(fromPhone({"--listen", "4689,44689,54689", "--wait", "12000", "--expect", "3"}),
              QStringList({"44689 " + hello, "4689 " + hello, "54689 " + hello}));
    EXPECT_EQ(fromPhone({"--port", "4690", "--from", "4690", "--listen", "4689", "--send", "check", "--wait",
                         "2000", "--expect", "1"}),
              QStringList{"4689 " + hello});
    EXPECT_TRUE(logged("send ip info message via port 4689: " + hello));

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

    click(340, 148); // End
    ASSERT_TRUE(logged("end listen")) << output.toStdString();
    EXPECT_EQ(fromPhone({"--listen", "4689,44689,54689", "--wait", "6000"}), QStringList());
}

} // namespace
