// The real application's main window, read through the accessibility tree: a phone in its namespace pairs,
// the window shows its name in place of the QR code, and the LAN light follows the heartbeats.
#include "SystemTestSupport.h"

#include "Wait.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

struct Element {
    QString role, name, description;
    bool showing;
};

} // namespace

TEST(MainWindowSystemTest, PairingShowsThePhoneAndTheLanLightFollowsTheHeartbeats) {
    PhoneNamespace phoneHost;
    if (!phoneHost.ready())
        GTEST_SKIP() << "no network namespace for the phone: " << phoneHost.error().toStdString();
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "no X display for the window";
    AppProcess host("PodiumCast"); // on the display, with a session bus of its own
    host.setEnvironment("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    ASSERT_TRUE(host.start()) << host.output().toStdString();

    const auto tree = [&] {
        QProcess reader;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", host.busAddress());
        reader.setProcessEnvironment(env);
        reader.start(PC_ACCESSIBLE_TREE, {"PodiumCast"});
        reader.waitForFinished(20000);
        std::vector<Element> elements;
        for (const QString& line :
             QString::fromUtf8(reader.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
            const QStringList f = line.split('\t');
            if (f.size() == 4)
                elements.push_back({f[0], f[1], f[2], f[3] == "1"});
        }
        return elements;
    };
    const auto find = [](const std::vector<Element>& elements, auto match) {
        const auto it = std::find_if(elements.begin(), elements.end(), match);
        return it == elements.end() ? std::optional<Element>() : std::optional<Element>(*it);
    };
    const auto named = [](const char* name) {
        return [name](const Element& e) {
            return e.name == name;
        };
    };
    const auto lanLight = [&] {
        const auto light =
            find(tree(), [](const Element& e) { return e.role == "image" && e.name == "LAN"; });
        return light ? light->description : QString("(none)");
    };
    const auto phone = [&](const QString& text, int expect = 1) {
        return phoneHost.phone(
            {"--to", phoneHost.computerAddress(), "--port", QString::number(host.port("CommandPort")),
             "--listen",
             QString::number(host.port("DataPort")) + "," + QString::number(host.port("ConnectPort")),
             "--send", text, "--expect", QString::number(expect), "--wait", "3000"});
    };

    // The window joins the tree a moment after the application does.
    std::vector<Element> before;
    ASSERT_TRUE(waitUntil([&] { return find(before = tree(), named("Pairing QR code")).has_value(); }, 30000))
        << host.output().toStdString();
    EXPECT_TRUE(find(before, named("Pairing QR code"))->showing);
    EXPECT_EQ(lanLight(), "redLight");

    ASSERT_EQ(phone("1|connect|A,Phone A").size(), 1);
    QElapsedTimer silence; // since the last heartbeat was answered
    for (int beat = 2; beat <= 4; ++beat) {
        if (beat > 2)
            waitUntil([] { return false; }, 700);
        ASSERT_EQ(phone(QString("%1|heartbeat|x").arg(beat)).size(), 1);
        silence.start();
    }
    const auto after = tree();
    const auto name = find(after, [](const Element& e) { return e.description == "Paired phone"; });
    ASSERT_TRUE(name);
    EXPECT_EQ(name->name, "Phone A");
    EXPECT_TRUE(name->showing);
    EXPECT_FALSE(find(after, named("Pairing QR code"))->showing);
    EXPECT_EQ(lanLight(), "greenLight");

    // Red between 4 and 5 s after the last heartbeat. A read sees the light at some moment between its
    // start and its end: a green one that started after 5 s, or a red one that ended before 4 s, is
    // wrong. The clock starts once the phone has its answer, a little after the heartbeat, and the
    // bounds allow half a second for the timers of a loaded machine.
    for (;;) {
        const qint64 start = silence.elapsed();
        const QString light = lanLight();
        const qint64 end = silence.elapsed();
        if (light == "greenLight") {
            ASSERT_LT(start, 5500) << "still green " << start << " ms after the last heartbeat";
            continue;
        }
        EXPECT_EQ(light, "redLight");
        EXPECT_GE(end, 3500) << "red already " << end << " ms after the last heartbeat";
        break;
    }
    EXPECT_EQ(host.terminate(), 0);
}
