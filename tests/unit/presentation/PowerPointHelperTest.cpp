#include "presentation/PowerPointHelper.h"

#include "core/NotificationCenter.h"

#include "Fakes.h"
#include "LogRecorder.h"
#include "NotificationRecorder.h"
#include "Wait.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <latch>

using platform::ScriptDescriptor;
using platform::ScriptRunResult;

namespace {

class PowerPointHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cache.isValid());
        scripts->answerText("getPdfPath", cache.path() + "/");
    }

    // Makes the bridge and waits for its first poll pass; later passes come only when a test calls
    // refresh(), since the poll interval is far longer than any test.
    std::shared_ptr<PowerPointHelper> start(Flavour flavour = Flavour::PodiumCast) {
        const size_t before = recorder.values(Notifications::kUpdatePptStatus.qname()).size();
        auto helper =
            PowerPointHelper::create({scripts, commands, std::make_shared<FakeHostFacts>(), flavour, 1e6});
        EXPECT_TRUE(waitUntil(
            [&] { return recorder.values(Notifications::kUpdatePptStatus.qname()).size() > before; }));
        scripts->clearRuns();
        helpers.push_back(helper);
        return helper;
    }

    // No background task of a bridge may outlive the test that made it.
    void TearDown() override {
        for (auto& helper : helpers)
            EXPECT_TRUE(releaseAndWait(helper));
    }

    // Waits until no export is pending or running, processing the main thread's completion step.
    void settle(const std::shared_ptr<PowerPointHelper>& helper) {
        waitUntil([&] { return !helper->isGeneratingPdf() && helper.use_count() == 2; });
    }

    QString writeFile(const QString& name, const QByteArray& content = "%PDF-1.4 test") {
        const QString path = work.path() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return path;
    }
    // A whole PDF of two pages, or its first `cutAt` bytes.
    QString writePdf(const QString& name, qsizetype cutAt = -1) {
        const QString path = work.path() + "/" + name;
        {
            QPdfWriter writer(path);
            QPainter painter(&writer);
            painter.fillRect(QRect(0, 0, 100, 100), Qt::blue);
            writer.newPage();
        }
        if (cutAt >= 0) {
            QFile f(path);
            EXPECT_TRUE(f.resize(cutAt));
        }
        return path;
    }

    QTemporaryDir cache, work;
    std::shared_ptr<FakeScriptRunner> scripts = std::make_shared<FakeScriptRunner>();
    std::shared_ptr<RecordingCommandRunner> commands = std::make_shared<RecordingCommandRunner>();
    NotificationRecorder recorder{{Notifications::kUpdatePptStatus.qname(),
                                   Notifications::kStartGeneratingPdf.qname(),
                                   Notifications::kFinishedGeneratingPdf.qname()}};
    std::vector<std::shared_ptr<PowerPointHelper>> helpers;
};

ScriptRunResult resultWithoutText() {
    ScriptRunResult r;
    r.result = ScriptDescriptor(std::nullopt);
    return r;
}

} // namespace

TEST_F(PowerPointHelperTest, StartUpReadsTheCacheFolderAndChoosesTheExportSwitchByFlavour) {
    const auto podium = start();
    EXPECT_EQ(podium->tempFolderPath(), cache.path() + "/");
    EXPECT_TRUE(podium->isAllowGeneratePDF());
    EXPECT_TRUE(podium->isAllowRefreshing());
    EXPECT_EQ(recorder.values(Notifications::kUpdatePptStatus.qname()), std::vector<int>{0});
    EXPECT_TRUE(start(Flavour::SlideWand)->isAllowGeneratePDF());
    EXPECT_FALSE(start(Flavour::Steerlynx)->isAllowGeneratePDF());

    scripts->answer("getPdfPath", {});
    EXPECT_FALSE(start()->tempFolderPath());
}

TEST_F(PowerPointHelperTest, OpenDocumentTestsReadNoPathsAndMissingResults) {
    const auto helper = start();
    helper->setIsAllowGeneratePDF(false);
    scripts->answerText("isPptOpenOrNot", "no \n\t");
    scripts->answerText("isKeynoteOpenOrNot", "/Users/me/Deck.key  ");
    helper->refresh();
    EXPECT_FALSE(helper->activePptPath());
    EXPECT_EQ(helper->activeKeynotePath(), QStringLiteral("/Users/me/Deck.key  ")); // stored untrimmed
    EXPECT_TRUE(helper->isKeynoteOpen());

    scripts->answer("isKeynoteOpenOrNot", {}); // the script failed: no result
    helper->refresh();
    EXPECT_FALSE(helper->isKeynoteOpen());

    scripts->answer("isKeynoteOpenOrNot", resultWithoutText());
    helper->refresh();
    EXPECT_FALSE(helper->isKeynoteOpen());
    EXPECT_EQ(recorder.values(Notifications::kUpdatePptStatus.qname()), (std::vector<int>{0, 2, 0, 0}));
}

TEST_F(PowerPointHelperTest, PowerPointWinsAndKeynoteIsNotAskedThen) {
    const auto helper = start();
    helper->setIsAllowGeneratePDF(false);
    scripts->answerText("isKeynoteOpenOrNot", "/k.key");
    helper->refresh();
    ASSERT_TRUE(helper->isKeynoteOpen());
    scripts->answerText("isPptOpenOrNot", "/p.pptx");
    scripts->clearRuns();
    helper->refresh();
    helper->refresh();
    EXPECT_FALSE(scripts->runs().contains("isKeynoteOpenOrNot"));
    EXPECT_EQ(helper->activeKeynotePath(), QStringLiteral("/k.key")); // kept from the earlier pass
    EXPECT_EQ(recorder.values(Notifications::kUpdatePptStatus.qname()), (std::vector<int>{0, 2, 1, 1}));
}

TEST_F(PowerPointHelperTest, ConsentScriptsRunOnErrorMinus1743KeynoteFirst) {
    const auto helper = start();
    scripts->fail("getPptTotalSlideCount", -1743);
    scripts->answerText("isPptOpenOrNot", "/p.pptx");
    helper->setIsAllowGeneratePDF(false);
    helper->refresh();
    EXPECT_EQ(helper->getTotalSlideCount(), 0);
    const auto calls = commands->calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.program, "/usr/bin/osascript");
        ASSERT_EQ(call.arguments.size(), 1);
        EXPECT_TRUE(call.arguments[0].startsWith("-e tell application \"System Events\""));
    }
    EXPECT_TRUE(calls[0].arguments[0].contains(
        "name is \"Keynote\")\nif (isRunning) then\ntell application \"Keynote\"\n"
        "return file of the front document\nend tell\nend if\nreturn no"));
    EXPECT_TRUE(calls[1].arguments[0].contains(
        "tell application \"Microsoft PowerPoint\"\nreturn name of active presentation"));

    scripts->fail("getPptTotalSlideCount", -1728); // any other error asks for nothing
    helper->getTotalSlideCount();
    EXPECT_EQ(commands->calls().size(), 2u);
}

TEST_F(PowerPointHelperTest, SlideShowStateAndSlideQueries) {
    const auto helper = start();
    // No presentation: nothing runs and the answers are the empty ones.
    EXPECT_FALSE(helper->startPlaying());
    EXPECT_EQ(helper->getCurrentSlideIndex(), 0);
    EXPECT_EQ(helper->getTotalSlideCount(), 0);
    EXPECT_TRUE(helper->isLastSlide());
    EXPECT_FALSE(helper->isSlideShowPlaying());
    EXPECT_TRUE(scripts->runs().isEmpty());

    scripts->answerText("isPptOpenOrNot", "/p.pptx");
    helper->setIsAllowGeneratePDF(false);
    helper->refresh();
    scripts->answerText("getPptCurrentSlideNumber", "3");
    scripts->answerText("getPptCurrentSlideIndex", "4");
    scripts->answerText("getPptTotalSlideCount", "4");
    EXPECT_EQ(helper->getCurrentSlideIndex(), 3); // editing view
    EXPECT_FALSE(helper->isLastSlide());
    scripts->answerText("isPptPlayingOrNot", "false"); // any result means the show runs
    EXPECT_TRUE(helper->isSlideShowPlaying());
    EXPECT_EQ(helper->getCurrentSlideIndex(), 4);
    EXPECT_TRUE(helper->isLastSlide());

    std::latch played(1);
    scripts->onRun = [&](const QString& name) {
        if (name == "playPpt")
            played.count_down();
    };
    EXPECT_TRUE(helper->startPlaying());
    played.wait();
    scripts->onRun = nullptr;
}

TEST_F(PowerPointHelperTest, KeynoteQueriesAndPlayingTest) {
    const auto helper = start();
    scripts->answerText("isKeynoteOpenOrNot", "/k.key");
    helper->setIsAllowGeneratePDF(false);
    helper->refresh();
    scripts->answerText("isKeynotePlayingOrNot", "false");
    EXPECT_FALSE(helper->isSlideShowPlaying());
    scripts->answerText("isKeynotePlayingOrNot", "true");
    EXPECT_TRUE(helper->isSlideShowPlaying());
    scripts->answerText("getKeynoteCurrentSlideNumber", "2");
    scripts->answerText("getKeynoteTotalSlideCount", "9");
    EXPECT_EQ(helper->getCurrentSlideIndex(), 2);
    EXPECT_EQ(helper->getTotalSlideCount(), 9);
}

TEST_F(PowerPointHelperTest, SlideSize) {
    const auto helper = start();
    EXPECT_EQ(helper->getPptSize(), QSizeF(0, 0)); // no results
    scripts->answerText("getPptWidth", " 960.5");
    scripts->answerText("getPptHeight", "540");
    EXPECT_EQ(helper->getPptSize(), QSizeF(960.5, 540));
    for (const char* bad : {"0", "wide", ""}) {
        scripts->answerText("getPptWidth", bad);
        EXPECT_EQ(helper->getPptSize(), QSizeF(0, 0)) << bad;
    }
    scripts->answerText("getPptWidth", "720");
    scripts->answer("getPptHeight", {});
    EXPECT_EQ(helper->getPptSize(), QSizeF(0, 0));
    EXPECT_EQ(scripts->runs().count("getPptHeight"), 6); // both scripts always run
}

TEST_F(PowerPointHelperTest, NotesAreEscapedKeptOnFailureAndPickedByView) {
    const auto helper = start();
    scripts->answerText("isPptOpenOrNot", "/p.pptx");
    helper->setIsAllowGeneratePDF(false);
    helper->refresh();
    scripts->answerText("getPptCurrentPageNote", "Line 1\r\nSay \"hi\"\t\\");
    scripts->answerText("getPptNextPageNote", "next");
    scripts->answerText("getPptAlternatePageNote", "alt");
    scripts->clearRuns();
    helper->getSlideNotes();
    EXPECT_EQ(scripts->runs().size(), 6); // a playing test before each note script
    EXPECT_EQ(helper->currentSlideNote(), QStringLiteral("Line 1\\r\\nSay \\\"hi\\\"\\n\\\\"));
    EXPECT_EQ(helper->nextSlideNote(), QStringLiteral("next"));
    EXPECT_EQ(helper->alternateSlideNote(), QStringLiteral("alt"));

    // In the slide show the slide-note scripts answer; a failing one keeps the earlier note, one
    // without text clears it.
    scripts->answerText("isPptPlayingOrNot", "1");
    scripts->answerText("getPptCurrentSlideNote", "show note");
    scripts->answer("getPptNextSlideNote", resultWithoutText());
    helper->getSlideNotes();
    EXPECT_EQ(helper->currentSlideNote(), QStringLiteral("show note"));
    EXPECT_FALSE(helper->nextSlideNote());
    EXPECT_EQ(helper->alternateSlideNote(), QStringLiteral("alt"));

    helper->getSlideNote("Other");
    EXPECT_EQ(scripts->runs().last(), "getPptOtherSlideNote");

    scripts->answerText("isPptOpenOrNot", "no");
    scripts->answerText("isKeynoteOpenOrNot", "/k.key");
    helper->refresh();
    scripts->clearRuns();
    helper->getSlideNotes();
    EXPECT_EQ(scripts->runs(), QStringList({"getKeynoteCurrentSlideNote", "getKeynoteNextSlideNote",
                                            "getKeynoteAlternateSlideNote"}));
}

TEST(PowerPointHelperNames, CacheNamesOfWebAndLocalDocuments) {
    const QString web = "HTTPS://example.com/deck.pptx";
    EXPECT_EQ(PowerPointHelper::pdfFileNameForDocument(web),
              "http-" + PowerPointHelper::md5Encode(web) + ".pdf");
    EXPECT_EQ(PowerPointHelper::pdfFileNameForDocument(web).size(), 41);
    EXPECT_EQ(PowerPointHelper::md5Encode("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(PowerPointHelper::md5Encode("讲稿"), "ee4fda3e27fee2c6ecf4b23435e9d2b1"); // over UTF-8

    // Local documents: the digest covers the path and its modification time.
    QTemporaryDir dir;
    const QString path = dir.path() + "/My \"deck\" 讲稿.pptx";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QDateTime first(QDate(2024, 5, 6), QTime(7, 8, 9));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(first, QFileDevice::FileModificationTime));
    f.close();
    const QString name = PowerPointHelper::pdfFileNameForDocument(path);
    EXPECT_EQ(name, PowerPointHelper::md5Encode(path + "20240506070809") + ".pdf");
    EXPECT_EQ(name.size(), 36);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(first.addSecs(1), QFileDevice::FileModificationTime));
    f.close();
    EXPECT_NE(PowerPointHelper::pdfFileNameForDocument(path), name);
    // Short and missing paths count as local, a missing file digests its path alone.
    EXPECT_EQ(PowerPointHelper::pdfFileNameForDocument("htt"), PowerPointHelper::md5Encode("htt") + ".pdf");
    EXPECT_EQ(PowerPointHelper::dateToString(std::nullopt, "yyyy"), QString(""));
}

TEST_F(PowerPointHelperTest, ExportRunsOnceMovesTheFileIntoTheCacheAndServesFromThere) {
    const auto helper = start();
    const QString document = writeFile("deck.pptx");
    const QString exported = writePdf("exported.pdf");
    scripts->answerText("isPptOpenOrNot", document);
    scripts->answerText("ppt2Pdf", exported);
    helper->refresh();
    settle(helper);
    const QString cached = cache.path() + "/" + PowerPointHelper::pdfFileNameForDocument(document);
    EXPECT_EQ(helper->activePdfPath(), cached);
    EXPECT_TRUE(QFile::exists(cached));
    EXPECT_FALSE(QFile::exists(exported));
    const auto posts = recorder.posts();
    const std::vector<std::pair<QString, int>> expected{{Notifications::kUpdatePptStatus.qname(), 0},
                                                        {Notifications::kUpdatePptStatus.qname(), 1},
                                                        {Notifications::kStartGeneratingPdf.qname(), 1},
                                                        {Notifications::kFinishedGeneratingPdf.qname(), 1}};
    // The status of the pass and the start of the export come from different threads.
    EXPECT_EQ(std::multiset(posts.begin(), posts.end()), std::multiset(expected.begin(), expected.end()));
    EXPECT_EQ(posts.back(), expected.back());

    // The cached file serves: later passes export nothing.
    scripts->clearRuns();
    helper->refresh();
    settle(helper);
    EXPECT_FALSE(scripts->runs().contains("ppt2Pdf"));

    // Saved again: a new name and a new export; the old file stays.
    QFile f(document);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    f.close();
    writePdf("exported.pdf");
    helper->refresh();
    settle(helper);
    EXPECT_NE(helper->activePdfPath(), cached);
    EXPECT_TRUE(QFile::exists(*helper->activePdfPath()));
    EXPECT_TRUE(QFile::exists(cached));
}

TEST_F(PowerPointHelperTest, FailingExportRepeatsEveryPassAndMissingFolderStopsIt) {
    const auto helper = start();
    scripts->answerText("isKeynoteOpenOrNot", "http://example.com/k.key");
    helper->refresh();
    settle(helper);
    helper->refresh();
    settle(helper);
    EXPECT_EQ(scripts->runs().count("keynote2Pdf"), 2);
    EXPECT_FALSE(QFile::exists(*helper->activePdfPath()));

    scripts->answer("getPdfPath", {});
    const auto noFolder = start();
    scripts->answerText("isPptOpenOrNot", "/p.pptx");
    noFolder->refresh();
    settle(noFolder);
    EXPECT_FALSE(scripts->runs().contains("ppt2Pdf"));
    EXPECT_FALSE(noFolder->activePdfPath());
}

TEST_F(PowerPointHelperTest, WhileExportingPassesRunNothingAndPostNothing) {
    const auto helper = start();
    std::latch exporting(1), release(1);
    scripts->onRun = [&](const QString& name) {
        if (name == "ppt2Pdf") {
            exporting.count_down();
            release.wait();
        }
    };
    scripts->answerText("isPptOpenOrNot", "/p.pptx");
    helper->refresh();
    exporting.wait();
    ASSERT_TRUE(helper->isGeneratingPdf());
    const auto postsBefore = recorder.posts().size();
    scripts->clearRuns();
    helper->refresh();
    EXPECT_TRUE(scripts->runs().isEmpty());
    EXPECT_EQ(recorder.posts().size(), postsBefore);
    // Turning export off does not stop the running one.
    helper->setIsAllowGeneratePDF(false);
    release.count_down();
    settle(helper);
    EXPECT_FALSE(helper->isGeneratingPdf());
    scripts->onRun = nullptr;
}

TEST_F(PowerPointHelperTest, SteerlynxExportsOnlyOnceAllowed) {
    const auto helper = start(Flavour::Steerlynx);
    scripts->answerText("isPptOpenOrNot", writeFile("deck.pptx"));
    scripts->answerText("ppt2Pdf", writePdf("out.pdf"));
    helper->refresh();
    settle(helper);
    EXPECT_FALSE(helper->activePdfPath());
    EXPECT_FALSE(scripts->runs().contains("ppt2Pdf"));
    helper->setIsAllowGeneratePDF(true);
    helper->refresh();
    settle(helper);
    ASSERT_TRUE(helper->activePdfPath());
    EXPECT_TRUE(QFile::exists(*helper->activePdfPath()));
}

TEST_F(PowerPointHelperTest, ClearingRemovesOnlyWebDocumentPdfsAtTheTop) {
    QDir root(cache.path());
    ASSERT_TRUE(root.mkpath("sub"));
    ASSERT_TRUE(root.mkpath("http-folder/inner"));
    for (const char* name :
         {"http-a.pdf", "http-", "local.pdf", "sub/http-b.pdf", "http-folder/inner/x", "HTTP-c.pdf"}) {
        QFile f(cache.path() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QTemporaryDir outside;
    QFile keep(outside.path() + "/keep");
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.close();
    ASSERT_TRUE(QFile::link(outside.path(), cache.path() + "/http-link"));

    start(); // start-up clears
    EXPECT_FALSE(QFile::exists(cache.path() + "/http-a.pdf"));
    EXPECT_FALSE(QFile::exists(cache.path() + "/http-"));
    EXPECT_FALSE(QFile::exists(cache.path() + "/http-folder"));
    EXPECT_FALSE(QFileInfo(cache.path() + "/http-link").isSymLink());
    EXPECT_TRUE(QFile::exists(outside.path() + "/keep")); // a link is removed, not followed
    EXPECT_TRUE(QFile::exists(cache.path() + "/local.pdf"));
    EXPECT_TRUE(QFile::exists(cache.path() + "/sub/http-b.pdf"));
    EXPECT_TRUE(QFile::exists(cache.path() + "/HTTP-c.pdf"));
}

// The cache takes in only whole PDFs: an export cut short is dropped, a cached file found empty or broken
// is made again, a failure is logged once until an export is cached again, and files a run left half
// taken in go at start-up.
TEST_F(PowerPointHelperTest, OnlyWholeExportsAreCachedAndABrokenCachedFileIsMadeAgain) {
    const QString leftOver = cache.path() + "/.export-Ab12Cd.pdf";
    QFile(leftOver).open(QIODevice::WriteOnly);
    const auto helper = start();
    EXPECT_FALSE(QFile::exists(leftOver));
    const LogRecorder log;
    const QString document = writeFile("deck.pptx");
    scripts->answerText("isPptOpenOrNot", document);
    const QString cached = cache.path() + "/" + PowerPointHelper::pdfFileNameForDocument(document);
    const auto failures = [&] {
        const auto errors = log.at(spdlog::level::err);
        return std::count_if(errors.begin(), errors.end(),
                             [](const std::string& line) { return line.starts_with("The exported PDF"); });
    };
    const auto pass = [&] {
        helper->refresh();
        settle(helper);
    };
    for (const qsizetype cut : {qsizetype(0), qsizetype(300)}) {
        const QString exported = writePdf("exported.pdf", cut);
        scripts->answerText("ppt2Pdf", exported);
        pass();
        EXPECT_FALSE(QFile::exists(cached)) << cut;
        EXPECT_FALSE(QFile::exists(exported)) << cut;
    }
    EXPECT_EQ(failures(), 1);
    EXPECT_EQ(QDir(cache.path()).entryList(QDir::Files | QDir::Hidden).join(", ").toStdString(), "");

    scripts->answerText("ppt2Pdf", writePdf("exported.pdf"));
    pass();
    ASSERT_TRUE(QFile::exists(cached));
    EXPECT_EQ(
        log.count(spdlog::level::info, "The exported PDF is cached again as " + cached.toStdString() + "."),
        1);

    // Broken under its name (empty, then cut short): removed and made again by the next pass.
    scripts->clearRuns();
    for (const qsizetype cut : {qsizetype(0), qsizetype(500)}) {
        ASSERT_TRUE(QFile(cached).resize(cut));
        scripts->answerText("ppt2Pdf", writePdf("exported.pdf"));
        pass();
        EXPECT_EQ(scripts->runs().count("ppt2Pdf"), cut == 0 ? 1 : 2);
        EXPECT_GT(QFileInfo(cached).size(), 500) << cut;
    }
    // Each broken file is a failure of its own: the one before was cached again.
    EXPECT_EQ(log.count(spdlog::level::err, "The cached PDF " + cached.toStdString() +
                                                " is empty or cannot be read; it is made again."),
              2);
    pass(); // whole: served as it is
    EXPECT_EQ(scripts->runs().count("ppt2Pdf"), 2);
}
