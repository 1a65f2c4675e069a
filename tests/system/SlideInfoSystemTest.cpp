// The road of a command end to end: the application with the fake presentation application,
// the phone in a network namespace of its own, and the fake cloud on loopback.
#include "SystemTestSupport.h"

#include "FakeCloud.h"
#include "FakePresentation.h"
#include "TestBundle.h"
#include "Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QJsonObject json(const QByteArray& document) {
    return QJsonDocument::fromJson(document).object();
}

QImage thumb(const QJsonObject& doc, const char* key) {
    return QImage::fromData(QByteArray::fromBase64(doc[key].toString().toLatin1()), "JPG");
}

class SlideInfoSystemTest : public ::testing::Test {
protected:
    void start(const QString& flavour) {
        if (!phoneHost.ready())
            GTEST_SKIP() << "no network namespace for the phone: " << phoneHost.error().toStdString();
        if (cloud.port() == 0) {
            ASSERT_TRUE(cloud.start());
        }
        cloud.setPollHold(1000);
        host = std::make_unique<AppProcess>(flavour, QVariantMap{{"ApiRoot", cloud.root()}});
        openDeck();
        ASSERT_TRUE(host->start()) << host->output().toStdString();
        // The poll exported the deck into the cache, and the cloud channel is up.
        ASSERT_TRUE(waitUntil([&] {
            return !QDir(fake->cacheFolder()).entryList({"*.pdf"}, QDir::Files).isEmpty();
        })) << host->output().toStdString();
        ASSERT_TRUE(waitUntil([&] { return !cloud.requests("/api/Command").empty(); }))
            << host->output().toStdString();
    }

    QStringList send(const QString& text, int expect) {
        return phoneHost.phone(
            {"--to", phoneHost.computerAddress(), "--port", QString::number(host->port("CommandPort")),
             "--listen",
             QString::number(host->port("DataPort")) + "," + QString::number(host->port("ConnectPort")),
             "--send", text, "--expect", QString::number(expect), "--wait", "5000"});
    }

    std::pair<int, QByteArray> getDocument() {
        return phoneHost.get(QStringLiteral("http://%1:%2/slide?x=1")
                                 .arg(phoneHost.computerAddress())
                                 .arg(host->port("LanInfoPort")));
    }

    // Opens the deck of five slides, with notes, in the fake presentation application.
    void openDeck() {
        fake = std::make_unique<FakePresentation>(host->bundle());
        fake->openPpt("/decks/talk.pptx");
        fake->setPptSize("960", "720");
        fake->setSlide(FakePresentation::App::PowerPoint, 1, 5);
        for (int slide = 1; slide <= 5; ++slide)
            fake->setNote(FakePresentation::App::PowerPoint, slide,
                          QStringLiteral("note %1 \"quoted\"").arg(slide));
        fake->setPdfPages(FakePresentation::App::PowerPoint, 5);
    }

    PhoneNamespace phoneHost;
    FakeCloud cloud;
    std::unique_ptr<AppProcess> host;
    std::unique_ptr<FakePresentation> fake;
};

} // namespace

TEST_F(SlideInfoSystemTest, PodiumCastPushesTheNewSlideToTheLanServerAndTheCloud) {
    start("PodiumCast");
    ASSERT_EQ(send("1|connect|A,Phone A", 1).size(), 1);
    ASSERT_TRUE(waitUntil([&] { return cloud.requests("/api/Info").size() == 1; })); // the connect's push

    // The show moves to slide 2 as the down arrow arrives.
    fake->setSlide(FakePresentation::App::PowerPoint, 2, 5);
    send("2|cmd|{DOWN}", 0);
    ASSERT_TRUE(waitUntil([&] { return cloud.requests("/api/Info").size() == 2; }))
        << host->output().toStdString();
    const QByteArray uploaded = cloud.requests("/api/Info")[1].body;

    const auto [status, lan] = getDocument();
    EXPECT_EQ(status, 200);
    const QJsonObject lanDoc = json(lan), cloudDoc = json(uploaded);
    EXPECT_EQ(lanDoc["Note"].toString(), "note 2 \"quoted\"");
    EXPECT_EQ(lanDoc["NextNote"].toString(), "note 3 \"quoted\"");
    EXPECT_EQ(thumb(lanDoc, "CurrentThumb").width(), 800);
    EXPECT_EQ(thumb(lanDoc, "CurrentThumb").height(), 600);
    EXPECT_EQ(thumb(cloudDoc, "CurrentThumb").width(), 300);
    EXPECT_EQ(lanDoc["CreatedTimeInterval"], cloudDoc["CreatedTimeInterval"]);
    EXPECT_EQ(cloud.requests("/api/Info")[1].contentType, "application/json");

    // A command from the cloud is executed and its push uploaded.
    fake->setSlide(FakePresentation::App::PowerPoint, 1, 5);
    cloud.queueCommand("\"3|cmd|{UP}\"");
    ASSERT_TRUE(waitUntil([&] { return cloud.requests("/api/Info").size() == 3; }))
        << host->output().toStdString();
    EXPECT_EQ(json(cloud.requests("/api/Info")[2].body)["Note"].toString(), "note 1 \"quoted\"");

    // The cloud going down turns the channel to failing within one heartbeat, and back after its return.
    cloud.setMode(FakeCloud::Mode::Down);
    EXPECT_TRUE(waitUntil(
        [&] { return host->output().contains("api:send api heartbeat failed. failureCount = 1"); }, 12000));
    cloud.setMode(FakeCloud::Mode::Up);
    EXPECT_TRUE(waitUntil([&] { return host->output().contains("api: heartbeat back to normal"); }, 12000));
    EXPECT_EQ(host->terminate(), 0);
}

TEST_F(SlideInfoSystemTest, SlideWandServesItsFirstDocumentAndPushesNothing) {
    start("SlideWand");
    ASSERT_EQ(send("1|connect|A,Phone A", 1).size(), 1);
    const auto [status, first] = getDocument();
    EXPECT_EQ(status, 200);
    EXPECT_EQ(json(first)["Note"].toString(), "note 1 \"quoted\"");

    fake->setSlide(FakePresentation::App::PowerPoint, 2, 5);
    send("2|cmd|{DOWN}", 0);
    send("3|start", 0);
    EXPECT_EQ(getDocument().second, first);
    EXPECT_TRUE(cloud.requests("/api/Info").empty());
    EXPECT_EQ(host->terminate(), 0) << host->output().toStdString();
}

TEST_F(SlideInfoSystemTest, QuickCommandsLeaveTheLastSlideOnTheLanServerAndInTheLastUpload) {
    start("PodiumCast");
    // A slow size script makes the connect's build outlast the three commands that follow it; the show
    // moves on only once that build read its notes and slide, as the arrows arrive.
    fake->setDelay(2.0, "getPptWidth");
    fake->clearRuns();
    ASSERT_EQ(send("1|connect|A,Phone A", 1).size(), 1);
    ASSERT_TRUE(waitUntil([&] { return fake->runs().contains("getPptWidth"); }))
        << host->output().toStdString();
    QElapsedTimer sinceTheSlowScript;
    sinceTheSlowScript.start();
    for (int slide = 2; slide <= 4; ++slide) {
        fake->setSlide(FakePresentation::App::PowerPoint, slide, 5);
        send(QStringLiteral("%1|cmd|{DOWN}").arg(slide), 0);
    }
    // Every build reads the size once. When the commands were sent with a second of the slow script
    // left, the application took all three in while the first build ran.
    const bool allDuringTheFirstBuild =
        sinceTheSlowScript.elapsed() < 1000 && fake->runCount("getPptHeight") == 0;
    fake->setDelay(0, "getPptWidth");
    const QString last = "note 4 \"quoted\"";
    const auto lastUpload = [&] {
        const auto posts = cloud.requests("/api/Info");
        return posts.empty() ? QJsonObject() : json(posts.back().body);
    };
    ASSERT_TRUE(waitUntil([&] { return lastUpload()["Note"].toString() == last; }, 30000))
        << host->output().toStdString();
    // Whatever build might still come would come within this.
    QThread::msleep(1500);

    // Four requests: the three during the first build fold into one more.
    if (allDuringTheFirstBuild) {
        EXPECT_EQ(fake->runCount("getPptHeight"), 2) << fake->runs().join(' ').toStdString();
    }
    const auto posts = cloud.requests("/api/Info");
    double previous = 0;
    for (const auto& post : posts) { // in the order built, each of one slide
        const QJsonObject upload = json(post.body);
        const double time = upload["CreatedTimeInterval"].toString().toDouble();
        EXPECT_GE(time, previous);
        previous = time;
        const int slide = upload["Note"].toString().section(' ', 1, 1).toInt();
        EXPECT_EQ(upload["NextNote"].toString(), QStringLiteral("note %1 \"quoted\"").arg(slide + 1))
            << upload["Note"].toString().toStdString();
    }
    const QJsonObject upload = json(posts.back().body), lan = json(getDocument().second);
    EXPECT_EQ(upload["Note"].toString(), last);
    EXPECT_EQ(lan["Note"].toString(), last);
    EXPECT_EQ(lan["NextNote"].toString(), "note 5 \"quoted\"");
    EXPECT_EQ(lan["CreatedTimeInterval"].toString(), upload["CreatedTimeInterval"].toString());
    EXPECT_EQ(host->terminate(), 0);
}

// SIGTERM while a push is under way, at a different point of its build each round: the application ends
// well and within 2 s. Outside the show the build reads the notes with the page-note scripts, which run
// only in a build; slowed, each holds the build long enough for the SIGTERM to land while it runs.
TEST_F(SlideInfoSystemTest, ATerminationDuringAPushEndsWithin2Seconds) {
    const struct {
        const char* during; // the SIGTERM comes as this script has started
        const char* after;  // and before the build runs this one
    } rounds[] = {{"getPptCurrentPageNote", "getPptNextPageNote"},
                  {"getPptNextPageNote", "getPptAlternatePageNote"},
                  {"getPptAlternatePageNote", "getPptWidth"}};
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.during);
        start("PodiumCast");
        for (const char* note : {"getPptCurrentPageNote", "getPptNextPageNote", "getPptAlternatePageNote"})
            fake->setDelay(0.5, QString::fromLatin1(note));
        fake->clearRuns();
        ASSERT_EQ(send("1|connect|A,Phone A", 1).size(), 1); // its push starts
        send("2|cmd|{DOWN}", 0);                             // and another is asked for
        ASSERT_TRUE(waitUntil([&] { return fake->runs().contains(round.during); }, 10000))
            << host->output().toStdString();
        const QStringList runs = fake->runs();
        ASSERT_FALSE(runs.contains(round.after)) << runs.join(' ').toStdString();
        EXPECT_EQ(host->terminate(), 0) << host->output().toStdString();
        host.reset();
        cloud.clearRequests();
    }
}

// The disk of the PDF cache is full while the deck is exported: nothing is cached, the failure is logged
// once, and once there is room again the next poll exports the deck and the phone gets its thumbnails,
// without a relaunch.
TEST_F(SlideInfoSystemTest, AFullDiskDuringTheExportCachesNothingAndTheThumbnailsComeBackWithRoom) {
    if (!phoneHost.ready())
        GTEST_SKIP() << "no network namespace for the phone: " << phoneHost.error().toStdString();
    if (QProcess::execute("unshare", {"--mount", "true"}) != 0)
        GTEST_SKIP() << "no mount namespace here";
    ASSERT_TRUE(cloud.start());
    host = std::make_unique<AppProcess>("PodiumCast", QVariantMap{{"ApiRoot", cloud.root()}});
    openDeck();
    // The cache folder is a small file system in a mount namespace of the application's own, which ends
    // with it; the exports are written elsewhere, so the cache takes them in by copying. It starts full.
    const QString cacheFolder = fake->cacheFolder(), filler = fake->cacheFolder() + "filler";
    ASSERT_TRUE(QDir().mkpath(cacheFolder));
    host->setLauncher(
        {"unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
         R"(mount -t tmpfs -o size=256k tmpfs "$1" && { head -c 1M /dev/zero >"$1/filler"; exec "$2"; })",
         "sh", cacheFolder});
    ASSERT_TRUE(host->start()) << host->output().toStdString();
    const QString inNamespace = QString::number(host->processId());
    ASSERT_EQ(send("1|connect|A,Phone A", 1).size(), 1);
    ASSERT_TRUE(waitUntil([&] { return fake->runCount("ppt2Pdf") >= 3; }, 20000))
        << host->output().toStdString();
    const auto errors = [&](const QString& message) {
        const QStringList lines = host->output().split(u'\n');
        return std::count_if(lines.begin(), lines.end(), [&](const QString& line) {
            return line.contains("[E] ") && line.contains(message);
        });
    };
    EXPECT_EQ(errors("The exported PDF is not cached: "), 1) << host->output().toStdString();
    EXPECT_EQ(json(getDocument().second)["CurrentThumb"].toString(), "(null)");

    ASSERT_EQ(QProcess::execute("nsenter", {"--target", inNamespace, "--mount", "--", "rm", filler}), 0);
    ASSERT_TRUE(
        waitUntil([&] { return host->output().contains("The exported PDF is cached again as "); }, 15000))
        << host->output().toStdString();
    fake->setSlide(FakePresentation::App::PowerPoint, 2, 5);
    const size_t uploads = cloud.requests("/api/Info").size();
    send("2|cmd|{DOWN}", 0);
    ASSERT_TRUE(waitUntil([&] { return cloud.requests("/api/Info").size() > uploads; }))
        << host->output().toStdString();
    const QJsonObject document = json(getDocument().second);
    EXPECT_EQ(document["Note"].toString(), "note 2 \"quoted\"");
    EXPECT_EQ(thumb(document, "CurrentThumb").width(), 800);
    EXPECT_EQ(host->terminate(), 0) << host->output().toStdString();
}
