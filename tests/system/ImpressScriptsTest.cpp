// The PowerPoint scripts of a built bundle against LibreOffice Impress itself: the editing view, the
// slide show, the PDF export, and what they answer when the office misbehaves.
#include "ImpressProcess.h"
#include "platform/ProcessScriptRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPdfDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using platform::ProcessScriptRunner;
using platform::ScriptRunResult;

// Readable texts in failure messages.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

// Impress loses key presses and show starts that follow an opened document too closely.
constexpr unsigned long kSettleMs = 400;

QString resources() {
    return QStringLiteral(PC_BUNDLES_DIR "/PodiumCast.app/Contents/Resources");
}

QString note(int slide) {
    return slide == 2 ? QStringLiteral("Note of slide 2\nsecond line: Grüße")
                      : QStringLiteral("Note of slide %1").arg(slide);
}

std::optional<QString> text(const ScriptRunResult& outcome) {
    return outcome.result ? outcome.result->stringValue() : std::nullopt;
}

// The bundle's scripts on one office: its pipe and a temporary folder of the test's own, which the
// scripts inherit from this process.
class ImpressScriptsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto why = ImpressProcess::unavailable())
            GTEST_SKIP() << why->toStdString();
        ASSERT_TRUE(work.isValid());
        ASSERT_TRUE(impress.start()) << impress.log().toStdString();
        // Set after the start: the office keeps its own temporary files elsewhere.
        QDir().mkpath(tmp());
        qputenv("TMPDIR", tmp().toUtf8());
        qputenv("PODIUMCAST_IMPRESS_PIPE", impress.pipeName().toUtf8());
        // The scripts ask a bridge of the test's own, which ends when this folder goes.
        const QString run = work.path() + QStringLiteral("/run");
        ASSERT_TRUE(QDir().mkdir(run) &&
                    QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", run.toUtf8());
    }
    void TearDown() override {
        qunsetenv("TMPDIR");
        qunsetenv("PODIUMCAST_IMPRESS_PIPE");
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }

    QString tmp() const { return work.path() + QStringLiteral("/tmp"); }
    ScriptRunResult run(const char* name) { return runner.run(QString::fromLatin1(name)); }
    std::optional<QString> answer(const char* name) { return text(run(name)); }
    // The error number of a run that failed, or 0 for a run that did not.
    int failure(const char* name) {
        const auto outcome = run(name);
        return outcome.runError ? outcome.runError->number : 0;
    }
    bool fixture(const QStringList& arguments) { return impress.fixture(arguments).has_value(); }
    void settle() { QThread::msleep(kSettleMs); }
    QString makeDeck(const QString& name, int slides, const QString& hidden = {}) {
        const QString path = work.path() + u'/' + name;
        EXPECT_TRUE(fixture({"make-deck", path, QString::number(slides), hidden}))
            << impress.log().toStdString();
        return path;
    }

    QTemporaryDir work;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR"); // the test process's own
    ImpressProcess impress;
    ProcessScriptRunner runner{resources()};
};

} // namespace

TEST_F(ImpressScriptsTest, EditingViewSlideShowAndExport) {
    // Slide 4 is hidden: the show skips it, the editing view and the PDF keep it.
    const QString deck = makeDeck("talk.pptx", 6, "4");
    ASSERT_TRUE(fixture({"open", deck})) << impress.log().toStdString();

    EXPECT_EQ(answer("isPptOpenOrNot"), QFileInfo(deck).absoluteFilePath());
    EXPECT_EQ(answer("isKeynoteOpenOrNot"), "no");
    {
        const auto playing = run("isPptPlayingOrNot");
        EXPECT_FALSE(playing.result);
        EXPECT_FALSE(playing.runError);
    }
    EXPECT_EQ(answer("getPptTotalSlideCount"), "6");
    EXPECT_EQ(answer("getPptWidth"), "720");
    EXPECT_EQ(answer("getPptHeight"), "540");

    // The editing view, in document order.
    EXPECT_EQ(answer("getPptCurrentSlideNumber"), "1");
    EXPECT_EQ(answer("getPptCurrentPageNote"), note(1));
    EXPECT_EQ(answer("getPptNextPageNote"), note(2));
    EXPECT_EQ(answer("getPptAlternatePageNote"), ""); // nothing before the first slide
    ASSERT_TRUE(fixture({"goto-page", "3"}));
    EXPECT_EQ(answer("getPptCurrentSlideNumber"), "3");
    EXPECT_EQ(answer("getPptCurrentPageNote"), note(3));
    EXPECT_EQ(answer("getPptNextPageNote"), note(4));
    EXPECT_EQ(answer("getPptAlternatePageNote"), note(2));
    ASSERT_TRUE(fixture({"goto-page", "6"}));
    EXPECT_EQ(answer("getPptNextPageNote"), ""); // nothing after the last
    EXPECT_EQ(answer("getPptAlternatePageNote"), note(5));
    // The slide-show scripts need a running show.
    EXPECT_EQ(failure("getPptCurrentSlideIndex"), -1728);
    EXPECT_EQ(failure("getPptCurrentSlideNote"), -1728);

    // The show starts at its first slide, not at the one the editing view shows.
    settle();
    {
        const auto play = run("playPpt");
        EXPECT_FALSE(play.runError) << play.runError->message.toStdString();
    }
    EXPECT_EQ(answer("isPptPlayingOrNot"), "yes");
    EXPECT_EQ(impress.fixture({"state"}), "1 1 6");
    EXPECT_EQ(answer("getPptCurrentSlideIndex"), "1");
    EXPECT_EQ(answer("getPptCurrentSlideNote"), note(1));
    EXPECT_EQ(answer("getPptNextSlideNote"), note(2));
    EXPECT_EQ(answer("getPptAlternateSlideNote"), "");
    settle();
    ASSERT_TRUE(fixture({"show-next"}));
    settle();
    ASSERT_TRUE(fixture({"show-next"}));
    EXPECT_EQ(answer("getPptCurrentSlideIndex"), "3");
    EXPECT_EQ(answer("getPptNextSlideNote"), note(5)); // the hidden slide 4 is skipped
    EXPECT_EQ(answer("getPptAlternateSlideNote"), note(2));
    settle();
    ASSERT_TRUE(fixture({"show-next"}));
    EXPECT_EQ(answer("getPptCurrentSlideIndex"), "5");
    EXPECT_EQ(answer("getPptCurrentSlideNote"), note(5));
    EXPECT_EQ(answer("getPptAlternateSlideNote"), note(3));
    // The editing view stays where it was, and a second start does not restart the show.
    EXPECT_EQ(answer("getPptCurrentSlideNumber"), "6");
    EXPECT_FALSE(run("playPpt").runError);
    EXPECT_EQ(answer("getPptCurrentSlideIndex"), "5");

    // One PDF page per slide, the hidden one included, written into the temporary folder.
    const auto pdf = answer("ppt2Pdf");
    ASSERT_TRUE(pdf);
    EXPECT_EQ(QFileInfo(*pdf).absolutePath(), QFileInfo(tmp()).absoluteFilePath());
    // The folder the office wrote in, with its lock file, went with the export.
    EXPECT_EQ(QDir(tmp()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QFileInfo(*pdf).fileName()});
    QPdfDocument document;
    ASSERT_EQ(document.load(*pdf), QPdfDocument::Error::None);
    ASSERT_EQ(document.pageCount(), 6);
    EXPECT_NEAR(document.pagePointSize(3).width(), 720, 1);
    EXPECT_NEAR(document.pagePointSize(3).height(), 540, 1);
}

TEST_F(ImpressScriptsTest, ADialogWaitingForTheUserHoldsNoScript) {
    // A lock file another user left behind on another machine: opening the deck as a user does makes
    // the office ask in a dialog, which waits for a click nobody gives.
    const QString deck = makeDeck("locked.pptx", 2);
    QFile lock(work.path() + QStringLiteral("/.~lock.locked.pptx#"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write("Someone Else,someone,elsewhere,01.01.2020 10:00,file:///home/someone/.config/libreoffice/4;");
    lock.close();
    impress.openLikeAUser(deck);
    const bool asked = [] {
        for (int i = 0; i < 120; ++i) {
            QProcess search;
            search.start(QStringLiteral("xdotool"), {"search", "--name", "Document in Use"});
            if (search.waitForFinished(10000) && search.exitCode() == 0)
                return true;
            QThread::msleep(250);
        }
        return false;
    }();
    ASSERT_TRUE(asked) << "the office did not ask about the lock file\n" << impress.log().toStdString();

    // No presentation is open while the office asks; every script answers and none waits.
    EXPECT_EQ(answer("isPptOpenOrNot"), "no");
    EXPECT_EQ(failure("getPptTotalSlideCount"), -1728);
    EXPECT_EQ(failure("getPptCurrentPageNote"), -1728);
    EXPECT_EQ(failure("ppt2Pdf"), -1728);
    EXPECT_TRUE(QDir(tmp()).isEmpty());
}

TEST_F(ImpressScriptsTest, ANonPresentationInFrontAndTheOfficeEndingDuringTheShow) {
    const QString deck = makeDeck("talk.pptx", 3);
    ASSERT_TRUE(fixture({"open", deck}));
    ASSERT_EQ(answer("isPptOpenOrNot"), QFileInfo(deck).absoluteFilePath());

    // A drawing in front: no presentation, though one is open behind it.
    ASSERT_TRUE(fixture({"open-draw"}));
    EXPECT_EQ(answer("isPptOpenOrNot"), "no");
    EXPECT_FALSE(run("isPptPlayingOrNot").result);
    EXPECT_EQ(failure("getPptTotalSlideCount"), -1728);
    EXPECT_EQ(failure("getPptWidth"), -1728);
    EXPECT_EQ(failure("playPpt"), -1728);
    EXPECT_EQ(failure("ppt2Pdf"), -1728);
    EXPECT_TRUE(QDir(tmp()).isEmpty());
    ASSERT_TRUE(fixture({"close-front"}));
    EXPECT_EQ(answer("isPptOpenOrNot"), QFileInfo(deck).absoluteFilePath());

    settle();
    ASSERT_FALSE(run("playPpt").runError);
    ASSERT_EQ(answer("isPptPlayingOrNot"), "yes");
    impress.kill();

    // The office is gone: nothing is open, nothing plays, every query fails as not reaching it.
    EXPECT_EQ(answer("isPptOpenOrNot"), "no");
    const auto playing = run("isPptPlayingOrNot");
    EXPECT_FALSE(playing.result);
    ASSERT_TRUE(playing.runError);
    EXPECT_EQ(playing.runError->number, -600);
    for (const char* name : {"getPptCurrentSlideIndex", "getPptCurrentSlideNote", "getPptNextSlideNote",
                             "getPptAlternateSlideNote", "getPptTotalSlideCount", "playPpt", "ppt2Pdf"})
        EXPECT_EQ(failure(name), -600) << name;
    EXPECT_TRUE(QDir(tmp()).isEmpty());
}
