// The presentation bridge on real processes: the compiled scripts of a test bundle run through the
// process script runner and answer as the fake presentation application's state says.
#include "platform/ProcessScriptRunner.h"
#include "presentation/PowerPointHelper.h"

#include "FakePresentation.h"
#include "Fakes.h"
#include "NotificationRecorder.h"
#include "TestBundle.h"
#include "Wait.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPdfDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using App = FakePresentation::App;

namespace {

const QString kStatus = Notifications::kUpdatePptStatus.qname();
const QString kStart = Notifications::kStartGeneratingPdf.qname();
const QString kFinished = Notifications::kFinishedGeneratingPdf.qname();

// Pages of a PDF file; -1 when it is not a PDF that loads.
int pageCount(const QString& path) {
    QPdfDocument pdf;
    if (pdf.load(path) != QPdfDocument::Error::None)
        return -1;
    return pdf.pageCount();
}

// The cache file name a local document should get, worked out here from the file itself: the MD5 of
// the path followed by its modification time.
QString expectedLocalName(const QString& path) {
    const QFileInfo info(path);
    EXPECT_TRUE(info.exists()) << path.toStdString();
    const QString stamp = info.lastModified().toString(QStringLiteral("yyyyMMddHHmmss"));
    return QString::fromLatin1(
               QCryptographicHash::hash((path + stamp).toUtf8(), QCryptographicHash::Md5).toHex()) +
           QStringLiteral(".pdf");
}

class BridgeProcessTest : public ::testing::Test {
protected:
    // Makes the bridge on the fake's scripts. With the default interval only the first poll pass
    // runs by itself, and the test drives the later ones with refresh().
    std::shared_ptr<PowerPointHelper> start(double pollInterval = 1e6,
                                            std::chrono::milliseconds scriptTimeout = 120s) {
        const size_t before = statuses().size();
        auto helper = PowerPointHelper::create(
            {std::make_shared<platform::ProcessScriptRunner>(bundle.resourcesPath(), scriptTimeout), commands,
             std::make_shared<FakeHostFacts>(), Flavour::PodiumCast, pollInterval});
        EXPECT_TRUE(waitUntil([&] { return statuses().size() > before; }));
        helpers.push_back(helper);
        return helper;
    }

    // No bridge, and no export task of one, may outlive the test that made it.
    void TearDown() override {
        for (auto& helper : helpers)
            EXPECT_TRUE(releaseAndWait(helper));
    }

    std::vector<int> statuses() const { return recorder.values(kStatus); }
    size_t finishedExports() const { return recorder.values(kFinished).size(); }

    // One poll pass that finds a document, and the export it starts, through its completion on the
    // main thread.
    void refreshAndExport(const std::shared_ptr<PowerPointHelper>& helper) {
        const size_t before = finishedExports();
        helper->refresh();
        ASSERT_TRUE(waitUntil([&] { return finishedExports() > before; }));
        ASSERT_FALSE(helper->isGeneratingPdf());
    }

    QString document(const QString& name) {
        const QString path = work.path() + u'/' + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write("a presentation");
        return path;
    }

    // A bundle folder with a blank in its name: every path the scripts use has one.
    TestBundle bundle{{}, QStringLiteral("Fake Show")};
    FakePresentation fake{bundle};
    QTemporaryDir work;
    std::shared_ptr<RecordingCommandRunner> commands = std::make_shared<RecordingCommandRunner>();
    NotificationRecorder recorder{{kStatus, kStart, kFinished}};
    std::vector<std::shared_ptr<PowerPointHelper>> helpers;
};

} // namespace

TEST_F(BridgeProcessTest, AnOpenedDocumentIsAnnouncedAndItsPdfCachedByThePoll) {
    fake.setPdfPages(App::PowerPoint, 3);
    fake.setPdfPages(App::Keynote, 5);
    const auto helper = start(0.2);
    EXPECT_EQ(helper->tempFolderPath(), fake.cacheFolder());
    EXPECT_EQ(statuses().front(), PowerPointHelper::kStatusNone);

    const QString deck = document(QStringLiteral("deck.pptx"));
    const QString cachedDeck = fake.cacheFolder() + expectedLocalName(deck);
    fake.openPpt(deck);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(cachedDeck) && !helper->isGeneratingPdf(); }));
    EXPECT_EQ(statuses().back(), PowerPointHelper::kStatusPowerPoint);
    EXPECT_EQ(helper->activePptPath(), deck);
    EXPECT_EQ(helper->activePdfPath(), cachedDeck);
    EXPECT_EQ(pageCount(cachedDeck), 3);
    EXPECT_EQ(recorder.values(kStart).front(), PowerPointHelper::kStatusPowerPoint);

    // The cached PDF serves the passes that follow: no second export.
    const qsizetype exports = fake.runCount(QStringLiteral("ppt2Pdf"));
    const qsizetype passes = fake.runCount(QStringLiteral("isPptOpenOrNot"));
    ASSERT_TRUE(waitUntil([&] { return fake.runCount(QStringLiteral("isPptOpenOrNot")) >= passes + 3; }));
    EXPECT_EQ(fake.runCount(QStringLiteral("ppt2Pdf")), exports);

    // PowerPoint closes, Keynote opens a document of its own.
    const QString keynote = document(QStringLiteral("talk.key"));
    const QString cachedKeynote = fake.cacheFolder() + expectedLocalName(keynote);
    fake.close(App::PowerPoint);
    fake.openKeynote(keynote);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(cachedKeynote) && !helper->isGeneratingPdf(); }));
    EXPECT_EQ(statuses().back(), PowerPointHelper::kStatusKeynote);
    EXPECT_FALSE(helper->activePptPath());
    EXPECT_EQ(helper->activeKeynotePath(), keynote);
    EXPECT_EQ(helper->activePdfPath(), cachedKeynote);
    EXPECT_EQ(pageCount(cachedKeynote), 5);
    EXPECT_EQ(recorder.values(kFinished).back(), PowerPointHelper::kStatusKeynote);

    // Both open: PowerPoint wins, and its PDF is still cached.
    fake.openPpt(deck);
    ASSERT_TRUE(waitUntil([&] {
        return statuses().back() == PowerPointHelper::kStatusPowerPoint &&
               helper->activePdfPath() == cachedDeck;
    }));
    EXPECT_EQ(helper->activeKeynotePath(), keynote); // Keynote was not asked again

    fake.close(App::PowerPoint);
    fake.close(App::Keynote);
    ASSERT_TRUE(waitUntil([&] { return !helper->isKeynoteOpen() && !helper->isPptOpen(); }));
    ASSERT_TRUE(waitUntil([&] { return statuses().back() == PowerPointHelper::kStatusNone; }));
    EXPECT_TRUE(QFile::exists(cachedDeck)); // cached PDFs of local documents stay
    EXPECT_TRUE(QFile::exists(cachedKeynote));
}

TEST_F(BridgeProcessTest, SlideQueriesAndPlayingFollowTheApplication) {
    const auto helper = start();
    helper->setIsAllowGeneratePDF(false);
    fake.openPpt(document(QStringLiteral("deck.pptx")));
    fake.setSlide(App::PowerPoint, 2, 4);
    fake.setPptSize(QStringLiteral("960"), QStringLiteral("540.5"));
    helper->refresh();
    ASSERT_TRUE(helper->isPptOpen());

    EXPECT_FALSE(helper->isSlideShowPlaying());
    EXPECT_EQ(helper->getCurrentSlideIndex(), 2);
    EXPECT_EQ(helper->getTotalSlideCount(), 4);
    EXPECT_FALSE(helper->isLastSlide());
    EXPECT_EQ(helper->getPptSize(), QSizeF(960, 540.5));

    // The play script starts the show; then the slide show's own index counts.
    EXPECT_TRUE(helper->startPlaying());
    ASSERT_TRUE(waitUntil([&] { return fake.isPlaying(App::PowerPoint); }));
    EXPECT_TRUE(helper->isSlideShowPlaying());
    fake.setPptViews(4, 1);
    EXPECT_EQ(helper->getCurrentSlideIndex(), 4);
    EXPECT_TRUE(helper->isLastSlide());

    fake.close(App::PowerPoint);
    fake.openKeynote(document(QStringLiteral("talk.key")));
    fake.setSlide(App::Keynote, 7, 9);
    helper->refresh();
    ASSERT_TRUE(helper->isKeynoteOpen());
    EXPECT_FALSE(helper->isSlideShowPlaying()); // "false" is read as false
    EXPECT_TRUE(helper->startPlaying());
    ASSERT_TRUE(waitUntil([&] { return fake.isPlaying(App::Keynote); }));
    EXPECT_TRUE(helper->isSlideShowPlaying());
    EXPECT_EQ(helper->getCurrentSlideIndex(), 7);
    EXPECT_EQ(helper->getTotalSlideCount(), 9);
}

TEST_F(BridgeProcessTest, NotesComeBackEscapedFromTheRightSlide) {
    const auto helper = start();
    helper->setIsAllowGeneratePDF(false);
    fake.openPpt(document(QStringLiteral("deck.pptx")));
    fake.setPptViews(2, 1);
    fake.setNote(App::PowerPoint, 1, QStringLiteral("first page"));
    fake.setNote(App::PowerPoint, 2, QStringLiteral("Say \"hi\"\tto C:\\talks\r\nthen 讲稿 — café 🎤"));
    fake.setNote(App::PowerPoint, 3, QStringLiteral("ends with a line feed\n"));
    fake.setAlternateNote(App::PowerPoint, 1, QStringLiteral("alt of page 1"));
    fake.setAlternateNote(App::PowerPoint, 2, QStringLiteral("alt of slide 2"));
    helper->refresh();

    // Editing view: the page notes of slide 1.
    helper->getSlideNotes();
    EXPECT_EQ(helper->currentSlideNote(), QStringLiteral("first page"));
    EXPECT_EQ(helper->nextSlideNote(),
              QStringLiteral("Say \\\"hi\\\"\\nto C:\\\\talks\\r\\nthen 讲稿 — café 🎤"));
    EXPECT_EQ(helper->alternateSlideNote(), QStringLiteral("alt of page 1"));

    // Slide show: the slide notes of slide 2. Only the one line feed the script ends its answer with
    // is taken off.
    fake.setPlaying(App::PowerPoint, true);
    helper->getSlideNotes();
    EXPECT_EQ(helper->currentSlideNote(),
              QStringLiteral("Say \\\"hi\\\"\\nto C:\\\\talks\\r\\nthen 讲稿 — café 🎤"));
    EXPECT_EQ(helper->nextSlideNote(), QStringLiteral("ends with a line feed\\n"));
    EXPECT_EQ(helper->alternateSlideNote(), QStringLiteral("alt of slide 2"));

    // A slide without a note gives an empty note, which replaces the earlier one; a failing note
    // script leaves the earlier note in place.
    fake.setPptViews(3, 1);
    fake.failWith(-1728, QStringLiteral("getPptAlternateSlideNote"));
    helper->getSlideNotes();
    EXPECT_EQ(helper->currentSlideNote(), QStringLiteral("ends with a line feed\\n"));
    EXPECT_EQ(helper->nextSlideNote(), QString(""));
    EXPECT_EQ(helper->alternateSlideNote(), QStringLiteral("alt of slide 2"));

    fake.clearRuns();
    fake.close(App::PowerPoint);
    fake.openKeynote(document(QStringLiteral("talk.key")));
    fake.setSlide(App::Keynote, 1, 2);
    fake.setNote(App::Keynote, 1, QStringLiteral("keynote\tone"));
    fake.setNote(App::Keynote, 2, QStringLiteral("keynote two"));
    fake.setAlternateNote(App::Keynote, 1, QStringLiteral("« alternate »"));
    helper->refresh();
    helper->getSlideNotes();
    EXPECT_EQ(helper->currentSlideNote(), QStringLiteral("keynote\\none"));
    EXPECT_EQ(helper->nextSlideNote(), QStringLiteral("keynote two"));
    EXPECT_EQ(helper->alternateSlideNote(), QStringLiteral("« alternate »"));
    EXPECT_EQ(fake.runs(), QStringList({"isPptOpenOrNot", "isKeynoteOpenOrNot", "getKeynoteCurrentSlideNote",
                                        "getKeynoteNextSlideNote", "getKeynoteAlternateSlideNote"}));
}

TEST_F(BridgeProcessTest, GarbageAndSilentAnswersTakeTheNoResultBranches) {
    const auto helper = start();
    helper->setIsAllowGeneratePDF(false);
    const QString deck = document(QStringLiteral("deck.pptx"));
    fake.openPpt(deck);
    fake.setSlide(App::PowerPoint, 2, 5);
    fake.setPptSize(QStringLiteral("960"), QStringLiteral("540"));

    // The open-document test prints nothing: no result, so the bridge asks Keynote.
    fake.setRawAnswer(QStringLiteral("isPptOpenOrNot"), QByteArray());
    helper->refresh();
    EXPECT_FALSE(helper->isPptOpen());
    EXPECT_EQ(statuses().back(), PowerPointHelper::kStatusNone);
    EXPECT_EQ(fake.runs().last(), QStringLiteral("isKeynoteOpenOrNot"));
    fake.setRawAnswer(QStringLiteral("isPptOpenOrNot"), QByteArray("  no \r\n\n"));
    helper->refresh();
    EXPECT_FALSE(helper->isPptOpen());
    fake.setRawAnswer(QStringLiteral("isPptOpenOrNot"), std::nullopt);
    helper->refresh();
    ASSERT_TRUE(helper->isPptOpen());

    fake.setRawAnswer(QStringLiteral("getPptTotalSlideCount"), QByteArray("\x01\xff\xfe lots of slides\n"));
    fake.setRawAnswer(QStringLiteral("getPptCurrentSlideNumber"), QByteArray());
    EXPECT_EQ(helper->getTotalSlideCount(), 0);
    EXPECT_EQ(helper->getCurrentSlideIndex(), 0);
    fake.setRawAnswer(QStringLiteral("getPptWidth"), QByteArray("wide"));
    EXPECT_EQ(helper->getPptSize(), QSizeF(0, 0));
    fake.setRawAnswer(QStringLiteral("getPptCurrentPageNote"), QByteArray("\xc3\x28 broken \xe2\x82"));
    helper->getSlideNote(QStringLiteral("Current"));
    ASSERT_TRUE(helper->currentSlideNote());
    EXPECT_TRUE(helper->currentSlideNote()->contains(QStringLiteral(" broken ")));

    // The scripts run normally again once they answer normally.
    for (const char* name : {"getPptTotalSlideCount", "getPptCurrentSlideNumber", "getPptWidth"})
        fake.setRawAnswer(QString::fromLatin1(name), std::nullopt);
    EXPECT_EQ(helper->getTotalSlideCount(), 5);
    EXPECT_EQ(helper->getCurrentSlideIndex(), 2);
    EXPECT_EQ(helper->getPptSize(), QSizeF(960, 540));
}

TEST_F(BridgeProcessTest, AScriptThatNeverEndsIsStoppedAndReleasesTheLock) {
    fake.setPdfPages(App::PowerPoint, 2);
    fake.openPpt(document(QStringLiteral("deck.pptx")));
    fake.setSlide(App::PowerPoint, 1, 2);
    fake.setNote(App::PowerPoint, 1, QStringLiteral("before"));
    fake.setDelay(600, QStringLiteral("isPptOpenOrNot"));
    const auto helper = start(1e6, 1s);
    // The first pass could not tell whether PowerPoint has a document; Keynote has none.
    EXPECT_FALSE(helper->isPptOpen());
    EXPECT_EQ(statuses().back(), PowerPointHelper::kStatusNone);
    EXPECT_EQ(fake.runs().mid(1), QStringList({"isPptOpenOrNot", "isKeynoteOpenOrNot"}));

    fake.setDelay(0, QStringLiteral("isPptOpenOrNot"));
    fake.setDelay(600, QStringLiteral("ppt2Pdf"));
    refreshAndExport(helper);
    EXPECT_EQ(statuses().back(), PowerPointHelper::kStatusPowerPoint);
    ASSERT_TRUE(helper->activePdfPath());
    EXPECT_FALSE(QFile::exists(*helper->activePdfPath()));
    EXPECT_FALSE(helper->tempPdfFilePath());

    fake.setDelay(0, QStringLiteral("ppt2Pdf"));
    helper->getSlideNotes();
    EXPECT_EQ(helper->currentSlideNote(), QStringLiteral("before"));
    fake.setDelay(600, QStringLiteral("getPptCurrentPageNote"));
    fake.setNote(App::PowerPoint, 1, QStringLiteral("after"));
    helper->getSlideNote(QStringLiteral("Current"));
    EXPECT_EQ(helper->currentSlideNote(), QStringLiteral("before")); // kept: the run was stopped

    // The next pass exports again, and this time the export ends.
    fake.setDelay(0, QStringLiteral("getPptCurrentPageNote"));
    refreshAndExport(helper);
    EXPECT_EQ(pageCount(*helper->activePdfPath()), 2);
    helper->getSlideNote(QStringLiteral("Current"));
    EXPECT_EQ(helper->currentSlideNote(), QStringLiteral("after"));
}

TEST_F(BridgeProcessTest, AnExportThatWritesNoPdfIsRepeatedByTheNextPass) {
    const auto helper = start();
    const QString deck = document(QStringLiteral("deck.pptx"));
    const QString cached = fake.cacheFolder() + expectedLocalName(deck);
    fake.openPpt(deck);

    // No source to export: the script fails.
    refreshAndExport(helper);
    EXPECT_EQ(helper->activePdfPath(), cached);
    EXPECT_FALSE(QFile::exists(cached));
    // It names a file it did not write.
    fake.setRawAnswer(QStringLiteral("ppt2Pdf"), (work.path() + QStringLiteral("/missing.pdf\n")).toUtf8());
    refreshAndExport(helper);
    EXPECT_FALSE(QFile::exists(cached));
    // It answers with nothing.
    fake.setRawAnswer(QStringLiteral("ppt2Pdf"), QByteArray());
    refreshAndExport(helper);
    EXPECT_FALSE(QFile::exists(cached));
    EXPECT_EQ(fake.runCount(QStringLiteral("ppt2Pdf")), 3);

    fake.setRawAnswer(QStringLiteral("ppt2Pdf"), std::nullopt);
    fake.setPdfPages(App::PowerPoint, 4);
    refreshAndExport(helper);
    EXPECT_EQ(pageCount(cached), 4);
    EXPECT_TRUE(QDir(fake.exportFolder()).isEmpty()); // moved into the cache, not copied
    EXPECT_EQ(statuses().back(), PowerPointHelper::kStatusPowerPoint);
}

TEST_F(BridgeProcessTest, RefusedAutomationAsksForConsentAndLaterScriptsStillRun) {
    const auto helper = start();
    helper->setIsAllowGeneratePDF(false);
    fake.openPpt(document(QStringLiteral("deck.pptx")));
    fake.setSlide(App::PowerPoint, 3, 8);
    helper->refresh();
    fake.failWith(-1743, QStringLiteral("getPptTotalSlideCount"));
    EXPECT_EQ(helper->getTotalSlideCount(), 0);
    const auto calls = commands->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].arguments.value(0).contains(QStringLiteral("tell application \"Keynote\"")));
    EXPECT_TRUE(
        calls[1].arguments.value(0).contains(QStringLiteral("tell application \"Microsoft PowerPoint\"")));
    EXPECT_EQ(helper->getCurrentSlideIndex(), 3);

    // A failure of every script reads as no document at all.
    fake.failWith(-1728);
    helper->refresh();
    EXPECT_FALSE(helper->isPptOpen());
    EXPECT_EQ(statuses().back(), PowerPointHelper::kStatusNone);
    EXPECT_EQ(commands->calls().size(), 2u);
    fake.stopFailing();
    fake.stopFailing(QStringLiteral("getPptTotalSlideCount"));
    helper->refresh();
    EXPECT_EQ(helper->getTotalSlideCount(), 8);
}

TEST_F(BridgeProcessTest, DocumentPathsNameTheirCacheFilesWhateverTheirCharacters) {
    fake.setPdfPages(App::PowerPoint, 2);
    fake.setPdfPages(App::Keynote, 3);
    const auto helper = start();
    const QStringList names{
        QStringLiteral("My deck v2.pptx"),         QStringLiteral("Say \"hello\" it's.pptx"),
        QStringLiteral("讲稿 — présentation.key"), QStringLiteral("back\\slash $HOME `date` *.pptx"),
        QStringLiteral(" blanks around .key "),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString path = document(name);
        const bool keynote = name.trimmed().endsWith(QStringLiteral(".key"));
        fake.close(App::PowerPoint);
        fake.close(App::Keynote);
        fake.open(keynote ? App::Keynote : App::PowerPoint, path);
        refreshAndExport(helper);
        EXPECT_EQ(keynote ? helper->activeKeynotePath() : helper->activePptPath(), path);
        const QString cached = fake.cacheFolder() + expectedLocalName(path);
        EXPECT_EQ(helper->activePdfPath(), cached);
        EXPECT_EQ(pageCount(cached), keynote ? 3 : 2);
    }

    // A web address: the cache name digests the address alone, and the next start-up clears it.
    const QString address = QStringLiteral("https://example.com/a deck/讲稿.pptx?x=\"1\"");
    fake.close(App::Keynote);
    fake.openPpt(address);
    refreshAndExport(helper);
    const QString web =
        fake.cacheFolder() + QStringLiteral("http-") +
        QString::fromLatin1(QCryptographicHash::hash(address.toUtf8(), QCryptographicHash::Md5).toHex()) +
        QStringLiteral(".pdf");
    EXPECT_EQ(helper->activePdfPath(), web);
    EXPECT_EQ(pageCount(web), 2);
    fake.close(App::PowerPoint);
    start();
    EXPECT_FALSE(QFile::exists(web));
    EXPECT_EQ(QDir(fake.cacheFolder()).entryList(QDir::Files).size(), names.size());
}

TEST_F(BridgeProcessTest, LettingGoOfTheBridgeDuringAPassThatFindsADocumentEndsThePollCleanly) {
    // No source PDF: every export fails at once, so no export task keeps the bridge alive for long.
    fake.openPpt(document(QStringLiteral("deck.pptx")));
    fake.setDelay(2, QStringLiteral("isPptOpenOrNot"));
    auto helper =
        PowerPointHelper::create({std::make_shared<platform::ProcessScriptRunner>(bundle.resourcesPath()),
                                  commands, std::make_shared<FakeHostFacts>(), Flavour::PodiumCast, 0.2});
    // The first pass has found the document and its export has ended; the second pass waits inside
    // its open-document test while the last owner lets go of the bridge.
    ASSERT_TRUE(waitUntil([&] { return finishedExports() >= 1 && helper.use_count() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return fake.runCount(QStringLiteral("isPptOpenOrNot")) >= 2; }));
    const std::weak_ptr<PowerPointHelper> alive = helper;
    // Joins the poll, whose pass then finds the document open while the instance is going away.
    helper.reset();
    EXPECT_TRUE(waitUntil([&] { return alive.expired(); }));
}
