#include "presentation/PowerPointHelper.h"

#include "core/LocalUtils.h"
#include "core/UserDefaults.h"

#include "Fakes.h"
#include "TestBundle.h"
#include "Wait.h"

#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <utility>

namespace {

// A PDF of n pages of the size in points, page i filled with a grey of its own.
void writePdf(const QString& path, int pages, QSizeF points) {
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(points, QPageSize::Point, QString(), QPageSize::ExactMatch));
    QPainter painter(&writer);
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            writer.newPage();
        painter.fillRect(QRectF(QPointF(0, 0), points), QColor(40 * i, 40 * i, 40 * i));
    }
}

QImage jpegOf(const QString& base64) {
    return QImage::fromData(QByteArray::fromBase64(base64.toLatin1()), "JPG");
}

const QStringList kKeys{"Id",
                        "InfoId",
                        "CreatedTimeInterval",
                        "Note",
                        "NextNote",
                        "AlternateNote",
                        "CurrentThumb",
                        "NextThumb",
                        "PcAppVersion",
                        "OsVersion",
                        "OfficeVersion",
                        "InstalledSoftwares",
                        "RunningProcesses"};

class SlideInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.makeMain();
        QFile::remove(UserDefaults::filePath());
        facts->applications = QStringList{"file:///usr/share/applications/Impress%20Deck.desktop"};
        scripts->answerText("getPdfPath", cache.path() + "/");
        helper = PowerPointHelper::create(
            {scripts, std::make_shared<RecordingCommandRunner>(), facts, Flavour::SlideWand, 1e6});
        ASSERT_TRUE(waitUntil([&] { return scripts->runs().contains("isKeynoteOpenOrNot"); }));
    }
    void TearDown() override { releaseAndWait(helper); }

    // PowerPoint with a cached PDF of `pages` pages on slide `current`.
    void openPowerPoint(int pages, int current, QSizeF points = QSizeF(960, 720)) {
        scripts->answerText("isPptOpenOrNot", "/decks/talk.pptx");
        scripts->answerText("getPptWidth", QString::number(points.width()));
        scripts->answerText("getPptHeight", QString::number(points.height()));
        scripts->answerText("getPptCurrentSlideNumber", QString::number(current));
        scripts->answerText("getPptTotalSlideCount", QString::number(pages));
        scripts->answerText("getPptCurrentPageNote", "Say \"hello\"\t\\ then\r\n中文");
        scripts->answerText("getPptNextPageNote", "next");
        scripts->answerText("getPptAlternatePageNote", "alt");
        const QString exported = cache.path() + "/export.pdf";
        writePdf(exported, pages, points);
        scripts->answerText("ppt2Pdf", exported);
        helper->refresh();
        waitUntil([&] {
            return !helper->isGeneratingPdf() && helper->activePdfPath() &&
                   QFile::exists(*helper->activePdfPath());
        });
    }

    TestBundle bundle{{{"CFBundleIdentifier", "com.brisvane.PodiumCastForMac"}, {"CFBundleVersion", "321"}}};
    QTemporaryDir cache;
    std::shared_ptr<FakeHostFacts> facts = std::make_shared<FakeHostFacts>();
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<PowerPointHelper> helper;
};

} // namespace

TEST_F(SlideInfoTest, NothingOpenGivesAnEmptyDocumentAndStoresNothing) {
    EXPECT_EQ(helper->getSlideInfoString(false, 0), QString(""));
    EXPECT_EQ(helper->getSlideInfoString(true, 0), QString(""));
    EXPECT_FALSE(helper->currentLanInfoString());
    EXPECT_FALSE(helper->currentApiInfoString());
}

TEST_F(SlideInfoTest, DocumentIsOneLineOfThirteenQuotedMembersThatParsesAsJson) {
    openPowerPoint(3, 2);
    const QString doc = helper->getSlideInfoString(false, 1.5);
    ASSERT_FALSE(doc.isEmpty());
    EXPECT_FALSE(doc.contains('\n'));
    // Members are separated by a comma and exactly 27 blanks, keys in order, every value quoted.
    const QStringList parts = doc.mid(1, doc.size() - 2).split(QStringLiteral(",") + QString(27, ' '));
    ASSERT_EQ(parts.size(), 13);
    for (int i = 0; i < 13; ++i)
        EXPECT_TRUE(parts[i].startsWith('"' + kKeys[i] + "\":\"")) << parts[i].left(40).toStdString();
    EXPECT_EQ(parts[2], R"("CreatedTimeInterval":"1.500000")");

    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(doc.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_EQ(json["Id"].toString(), LocalUtils::GetMachineIndex());
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{32}$").match(json["InfoId"].toString()).hasMatch());
    EXPECT_EQ(json["Note"].toString(),
              QString("Say \"hello\"\n\\ then\r\n中文")); // the tab became a line feed
    EXPECT_EQ(json["NextNote"].toString(), "next");
    EXPECT_EQ(json["AlternateNote"].toString(), "alt");
    EXPECT_EQ(json["PcAppVersion"].toString(), "321");
    EXPECT_EQ(json["OsVersion"].toString(), "macOS Version 1.0 (Test)");
    EXPECT_EQ(json["OfficeVersion"].toString(), "");
    EXPECT_EQ(json["InstalledSoftwares"].toString(), "Impress%20Deck.desktop");
    EXPECT_EQ(json["RunningProcesses"].toString(), "");

    // 4:3 slides: LAN thumbnails 800 x 600, the next slide's differs from the current one's.
    const QImage current = jpegOf(json["CurrentThumb"].toString());
    const QImage next = jpegOf(json["NextThumb"].toString());
    EXPECT_EQ(current.size(), QSize(800, 600));
    EXPECT_EQ(next.size(), QSize(800, 600));
    EXPECT_NE(json["CurrentThumb"], json["NextThumb"]);
    EXPECT_NEAR(qGray(current.pixel(400, 300)), 40, 6); // page 2
    EXPECT_NEAR(qGray(next.pixel(400, 300)), 80, 6);    // page 3
}

// Notes holding control characters: both kinds stay JSON and give the note back, tab and vertical tab
// as line feeds, bell and NUL dropped, every other character as it was. Qt's parser takes a raw control
// character inside a string; JSON does not, so the document is also searched for one.
TEST_F(SlideInfoTest, NotesWithControlCharactersKeepBothKindsJson) {
    openPowerPoint(2, 1);
    std::vector<std::pair<std::string, QString>> notes;
    for (char16_t c = 1; c < 0x20; ++c)
        notes.emplace_back("U+" + QString::number(c, 16).toStdString(),
                           QStringLiteral("a") + QChar(c) + u'b');
    notes.emplace_back("the table's own", QString("\\\"\r\t\n\a\f\v") + QChar(0) + "end");
    notes.emplace_back("colour codes", QStringLiteral("\x1b[31mred\x1b[0m \\u001b"));
    QString run;
    for (int i = 0; i < 2000; ++i)
        run += QChar(char16_t(i % 0x20));
    notes.emplace_back("a long run", run);
    for (const auto& [name, note] : notes) {
        scripts->answerText("getPptCurrentPageNote", note);
        QString expected = note;
        expected.replace(u'\t', u'\n').replace(u'\v', u'\n').remove(QChar(7)).remove(QChar(0));
        for (const bool cloud : {false, true}) {
            const QString doc = helper->getSlideInfoString(cloud, 0);
            QJsonParseError error;
            const QJsonObject json = QJsonDocument::fromJson(doc.toUtf8(), &error).object();
            ASSERT_EQ(error.error, QJsonParseError::NoError)
                << name << (cloud ? " cloud: " : " LAN: ") << error.errorString().toStdString() << " at "
                << error.offset;
            EXPECT_EQ(doc.indexOf(QRegularExpression(QStringLiteral("[\\x{0}-\\x{1f}]"))), -1)
                << name << (cloud ? " cloud" : " LAN") << ": a raw control character";
            EXPECT_EQ(json["Note"].toString(), expected) << name << (cloud ? " cloud" : " LAN");
            EXPECT_EQ(json.size(), 13) << name;
        }
    }
}

TEST_F(SlideInfoTest, CloudKindHasSmallThumbnailsFromTheSlideRatio) {
    openPowerPoint(2, 1, QSizeF(1280, 720));
    const QJsonObject json = QJsonDocument::fromJson(helper->getSlideInfoString(true, 0).toUtf8()).object();
    const QImage thumb = jpegOf(json["CurrentThumb"].toString());
    EXPECT_EQ(thumb.width(), 300);
    EXPECT_NEAR(thumb.height(), 168.75, 1.0);
}

TEST_F(SlideInfoTest, UnchangedContentGivesTheIdenticalDocumentPerKind) {
    openPowerPoint(3, 1);
    const QString lan = helper->getSlideInfoString(false, 10);
    const QString api = helper->getSlideInfoString(true, 10);
    EXPECT_NE(lan, api);
    EXPECT_EQ(helper->getSlideInfoString(false, 99), lan); // the old InfoId and time come back
    EXPECT_EQ(helper->getSlideInfoString(true, 99), api);
    EXPECT_EQ(helper->currentLanInfoString(), lan);

    // A changed note makes a new document with a new InfoId.
    scripts->answerText("getPptNextPageNote", "changed");
    const QString changed = helper->getSlideInfoString(false, 99);
    EXPECT_NE(changed, lan);
    EXPECT_TRUE(changed.contains(R"("CreatedTimeInterval":"99.000000")"));
}

TEST_F(SlideInfoTest, LastSlideShowsItselfAsNextAndSlideZeroKeepsTheOldPages) {
    openPowerPoint(3, 3);
    const QJsonObject json = QJsonDocument::fromJson(helper->getSlideInfoString(false, 0).toUtf8()).object();
    EXPECT_EQ(json["NextThumb"], json["CurrentThumb"]);
    const auto before = helper->currentSlideImage();
    ASSERT_TRUE(before);
    scripts->answerText("getPptCurrentSlideNumber", "0");
    helper->getSlideImg();
    EXPECT_EQ(helper->currentSlideImage(), before);
}

TEST_F(SlideInfoTest, MissingPdfGivesNullThumbnailsForPowerPointAndNoDocumentForKeynote) {
    helper->setIsAllowGeneratePDF(false);
    scripts->answerText("isPptOpenOrNot", "/decks/talk.pptx");
    scripts->answerText("getPptWidth", "960");
    scripts->answerText("getPptHeight", "540");
    scripts->answerText("getPptCurrentSlideNumber", "1");
    helper->refresh();
    const QString first = helper->getSlideInfoString(false, 0);
    EXPECT_TRUE(first.contains(R"x("CurrentThumb":"(null)")x"));
    EXPECT_TRUE(first.contains(R"x("Note":"(null)")x"));
    // An absent field never equals: every call builds a new document.
    EXPECT_NE(helper->getSlideInfoString(false, 0), first);

    scripts->answerText("getPptWidth", "0"); // a size script failing
    EXPECT_EQ(helper->getSlideInfoString(false, 0), QString(""));

    scripts->answerText("isPptOpenOrNot", "no");
    scripts->answerText("isKeynoteOpenOrNot", "/decks/talk.key");
    scripts->answerText("getKeynoteCurrentSlideNumber", "1");
    helper->refresh();
    EXPECT_EQ(helper->getSlideInfoString(true, 0), QString(""));
}

TEST_F(SlideInfoTest, OneBuildAsksEachQuestionOnceAndReadsTheNotesAgainWhenTheShowMoves) {
    openPowerPoint(4, 2);
    // The show runs; each slide's notes name their slide.
    const auto showSlide = [&](int n) {
        scripts->answerText("getPptCurrentSlideIndex", QString::number(n));
        scripts->answerText("getPptCurrentSlideNote", QStringLiteral("note %1").arg(n));
        scripts->answerText("getPptNextSlideNote", QStringLiteral("note %1").arg(n + 1));
        scripts->answerText("getPptAlternateSlideNote", QStringLiteral("note %1").arg(n - 1));
    };
    const auto notes = [](const QString& document) -> QString {
        const QJsonObject json = QJsonDocument::fromJson(document.toUtf8()).object();
        return json["Note"].toString() + " / " + json["NextNote"].toString();
    };
    scripts->answerText("isPptPlayingOrNot", "yes");
    showSlide(2);
    scripts->clearRuns();
    EXPECT_EQ(notes(helper->getSlideInfoStrings(5).lan), "note 2 / note 3");
    EXPECT_EQ(scripts->runs(),
              QStringList({"isPptPlayingOrNot", "getPptCurrentSlideNote", "getPptNextSlideNote",
                           "getPptAlternateSlideNote", "getPptCurrentSlideIndex", "getPptTotalSlideCount",
                           "getPptWidth", "getPptHeight"}));

    // Given the view its caller read, a build asks no playing test of its own; when the show moves on
    // between two note scripts, it reads the view and the notes again.
    bool moved = false;
    scripts->onRun = [&](const QString& name) {
        if (name == "getPptNextSlideNote" && !std::exchange(moved, true))
            showSlide(3);
    };
    scripts->clearRuns();
    EXPECT_EQ(notes(helper->getSlideInfoStrings(6, PowerPointHelper::SlideView{true, 2}).lan),
              "note 3 / note 4");
    scripts->onRun = nullptr;
    EXPECT_EQ(scripts->runs().count("isPptPlayingOrNot"), 1); // for the view read again
    EXPECT_EQ(scripts->runs().count("getPptCurrentSlideNote"), 2);
}

TEST_F(SlideInfoTest, WaitingForASlideChangeEndsAtTheFirstViewThatIsNotTheLastBuilds) {
    using namespace std::chrono_literals;
    const auto in = [](std::chrono::milliseconds bound) {
        return std::chrono::steady_clock::now() + bound;
    };
    EXPECT_EQ(helper->waitForSlideChange(in(10s)), std::nullopt); // nothing open: nothing to wait for
    openPowerPoint(4, 2);                                         // the editing view on slide 2
    scripts->clearRuns();
    EXPECT_EQ(helper->waitForSlideChange(in(1ms)), std::nullopt); // no build read a slide yet
    helper->getSlideInfoStrings(0);
    EXPECT_EQ(helper->waitForSlideChange(in(-1ms)), std::nullopt);   // the move is due already
    EXPECT_EQ(scripts->runs().count("getPptCurrentSlideNumber"), 1); // the build's reading only

    // At the reading given (0: never) the show starts on the same slide, or the editing view moves on.
    const struct {
        int movesAtReading;
        bool playing;
        int slide;
    } rows[] = {{1, true, 2}, {3, false, 4}, {0, false, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.movesAtReading);
        scripts->answer("isPptPlayingOrNot", {});
        scripts->answerText("getPptCurrentSlideNumber", "2");
        int readings = 0;
        scripts->onRun = [&](const QString& name) {
            if (name == "isPptPlayingOrNot" && ++readings == row.movesAtReading) {
                if (row.playing)
                    scripts->answerText("isPptPlayingOrNot", "yes");
                scripts->answerText(row.playing ? "getPptCurrentSlideIndex" : "getPptCurrentSlideNumber",
                                    QString::number(row.slide));
            }
        };
        EXPECT_EQ(helper->waitForSlideChange(in(row.movesAtReading ? 10s : 50ms)),
                  (PowerPointHelper::SlideView{row.playing, row.slide}));
        scripts->onRun = nullptr;
        EXPECT_TRUE(row.movesAtReading ? readings == row.movesAtReading : readings >= 1) << readings;
    }
}
