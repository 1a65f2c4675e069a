// The whole road with a real presentation program: LibreOffice Impress on the test's X display shows a
// deck the test made, the application runs the bundle's PowerPoint scripts against it, and a
// phone in a network namespace of its own pairs, starts the show, moves it one slide with the down arrow
// and reads the slide information.
#include "ImpressProcess.h"
#include "SystemTestSupport.h"
#include "Wait.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

// Impress loses show starts and key presses that follow an opened document or each other too closely.
constexpr unsigned long kSettleMs = 400;

// The fill colours impress_fixture.py gives slides 1, 2, 3, ...
constexpr QRgb kSlideColours[] = {0xC0392B, 0x27AE60, 0x2E86C1, 0xF1C40F, 0x8E44AD, 0x16A085};

QString note(int slide) {
    return slide == 2 ? QStringLiteral("Note of slide 2\nsecond line: Grüße")
                      : QStringLiteral("Note of slide %1").arg(slide);
}

QImage thumbnail(const QJsonObject& document, const char* key) {
    return QImage::fromData(QByteArray::fromBase64(document.value(QLatin1String(key)).toString().toLatin1()),
                            "JPEG");
}

// Whether the thumbnail shows the slide: the slide's colour in its middle, as near as JPEG keeps it.
bool shows(const QImage& image, int slide) {
    if (image.isNull())
        return false;
    const QColor seen = image.pixelColor(image.width() / 2, image.height() / 2);
    const QColor wanted = QColor::fromRgb(kSlideColours[slide - 1]);
    return std::abs(seen.red() - wanted.red()) < 24 && std::abs(seen.green() - wanted.green()) < 24 &&
           std::abs(seen.blue() - wanted.blue()) < 24;
}

class ImpressSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto why = ImpressProcess::unavailable())
            GTEST_SKIP() << why->toStdString();
        if (!phoneHost.ready())
            GTEST_SKIP() << "no network namespace for the phone: " << phoneHost.error().toStdString();
        ASSERT_TRUE(work.isValid());
        ASSERT_TRUE(impress.start()) << impress.log().toStdString();
    }

    // Sends datagrams from the phone to a port of the host; the replies at the phone's ports.
    QStringList phone(const char* portKey, const QString& send, int expect) {
        return phoneHost.phone(
            {"--to", phoneHost.computerAddress(), "--port", QString::number(host.port(portKey)), "--listen",
             QString::number(host.port("DataPort")) + "," + QString::number(host.port("ConnectPort")),
             "--expect", QString::number(expect), "--wait", "5000", "--send", send});
    }

    // The LAN slide-information document as the phone reads it, once it says the note wanted.
    QJsonObject lanDocumentWithNote(const QString& wanted) {
        const QString url =
            QStringLiteral("http://%1:%2/").arg(phoneHost.computerAddress()).arg(host.port("LanInfoPort"));
        QJsonObject document;
        waitUntil(
            [&] {
                const auto [status, body] = phoneHost.get(url);
                document = status == 200 ? QJsonDocument::fromJson(body).object() : QJsonObject();
                if (document.value("Note").toString() == wanted)
                    return true;
                QThread::msleep(250);
                return false;
            },
            60000);
        return document;
    }

    QTemporaryDir work;
    PhoneNamespace phoneHost;
    ImpressProcess impress;
    AppProcess host{"PodiumCast"};
};

} // namespace

TEST_F(ImpressSystemTest, PhoneStartsTheShowAndReadsTheNotesAndThumbnailsOfTheSlideShown) {
    const QString deck = work.path() + QStringLiteral("/talk.pptx");
    ASSERT_TRUE(impress.fixture({"make-deck", deck, "6"})) << impress.log().toStdString();
    ASSERT_TRUE(impress.fixture({"open", deck})) << impress.log().toStdString();
    QThread::msleep(kSettleMs);

    host.setEnvironment("PODIUMCAST_IMPRESS_PIPE", impress.pipeName());
    QDir().mkpath(host.homePath() + "/tmp");
    host.setEnvironment("TMPDIR", host.homePath() + "/tmp");
    ASSERT_TRUE(host.start()) << host.output().toStdString();

    // The host's poll finds the deck open and exports it into the PDF cache.
    const QDir cache(host.homePath() + "/.cache/PodiumCast/pdf");
    ASSERT_TRUE(waitUntil([&] { return !cache.entryList({"*.pdf"}, QDir::Files).isEmpty(); }, 60000))
        << host.output().toStdString();

    const QString connectPort = QString::number(host.port("ConnectPort"));
    ASSERT_EQ(phone("CommandPort", "1|connect|A,Phone A", 1), QStringList{connectPort + " Confirm"})
        << host.output().toStdString();
    phone("CommandPort", "2|start|", 0);
    ASSERT_TRUE(waitUntil([&] { return impress.fixture({"state"}).value_or("").startsWith("1 1 "); }, 30000))
        << "the show did not start\n"
        << impress.log().toStdString() << host.output().toStdString();

    QJsonObject document = lanDocumentWithNote(note(1));
    ASSERT_EQ(document.value("Note").toString(), note(1)) << host.output().toStdString();
    EXPECT_EQ(document.value("NextNote").toString(), note(2));
    EXPECT_EQ(document.value("AlternateNote").toString(), ""); // nothing before the first slide
    QImage current = thumbnail(document, "CurrentThumb");
    QImage next = thumbnail(document, "NextThumb");
    EXPECT_EQ(current.size(), QSize(800, 600));
    EXPECT_EQ(next.size(), QSize(800, 600));
    EXPECT_TRUE(shows(current, 1));
    EXPECT_TRUE(shows(next, 2));

    // One slide on: the executor posts the down-arrow key press through the X11 event poster into the
    // show on the display, then pushes new slide information. A show just started may drop the key: the
    // phone presses again when the show did not move.
    bool moved = false;
    for (int id = 3; id < 6 && !moved; ++id) {
        QThread::msleep(kSettleMs);
        phone("CommandPort", QStringLiteral("%1|cmd|{DOWN}").arg(id), 0);
        moved = waitUntil([&] { return impress.fixture({"state"}).value_or("").startsWith("1 2 "); }, 10000);
    }
    ASSERT_TRUE(moved) << "the key press did not move the show: "
                       << impress.fixture({"state"}).value_or("").toStdString() << '\n'
                       << host.output().toStdString();

    document = lanDocumentWithNote(note(2));
    ASSERT_EQ(document.value("Note").toString(), note(2)) << host.output().toStdString();
    EXPECT_EQ(document.value("NextNote").toString(), note(3));
    EXPECT_EQ(document.value("AlternateNote").toString(), note(1));
    current = thumbnail(document, "CurrentThumb");
    next = thumbnail(document, "NextThumb");
    EXPECT_TRUE(shows(current, 2));
    EXPECT_TRUE(shows(next, 3));

    EXPECT_EQ(host.terminate(), 0) << host.output().toStdString();
}
