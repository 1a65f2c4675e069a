#include "presentation/PDFHelper.h"

#include "LogRecorder.h"
#include "core/Image.h"

#include <QDir>
#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <climits>
#include <gtest/gtest.h>
#include <latch>
#include <thread>
#include <vector>

// Qt Pdf 6.4 never frees the pdfium loader of a document that failed to load (close() returns early when
// no document was opened): each load of a corrupt or locked file leaves about 2 KiB behind inside Qt.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:QPdfDocumentPrivate::initiateAsyncLoadWithTotalSizeKnown\n"
           "leak:QPdfDocumentPrivate::tryLoadDocument\n";
}

namespace {

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kWhite = qRgb(255, 255, 255);

const std::string kCacheHit = "GetImageOfPdfFile: returning cachedImage";
const std::string kInvalidPath = "Invalid pdfFilePath. Stop GetImageOfPdfFile";

struct Page {
    QSizeF points;
    QRgb leftHalf; // the right half is left unpainted
};

// A PDF with the pages given, each its size in points; the left half of each page is filled with a colour.
bool writePdf(const QString& path, const std::vector<Page>& pages) {
    QPdfWriter writer(path);
    writer.setResolution(72); // one unit is one point
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    const auto pageSize = [](const Page& page) {
        return QPageSize(page.points, QPageSize::Point, QString(), QPageSize::ExactMatch);
    };
    writer.setPageSize(pageSize(pages.front()));
    QPainter painter(&writer);
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0) {
            writer.setPageSize(pageSize(pages[i]));
            writer.newPage();
        }
        painter.fillRect(QRectF(0, 0, pages[i].points.width() / 2, pages[i].points.height()),
                         QColor(pages[i].leftHalf));
    }
    return painter.end();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 &&
           std::abs(qBlue(a) - qBlue(b)) <= 2 && qAlpha(a) == qAlpha(b);
}

// The colour in the middle of the left and of the right half of the image's bitmap.
std::pair<QRgb, QRgb> halves(const Image& image) {
    const QImage bitmap = image.bitmap();
    return {bitmap.pixel(bitmap.width() / 4, bitmap.height() / 2),
            bitmap.pixel(bitmap.width() * 3 / 4, bitmap.height() / 2)};
}

class PDFHelperTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // Every test has its own folder, so the process-wide cache never answers one test with another's pages.
    QString path(const QString& name) const { return dir.filePath(name); }
    long renders(int page) const {
        return log.count("finish GetImageOfPdfFile Page:" + std::to_string(page));
    }

    QTemporaryDir dir;
    LogRecorder log;
};

TEST_F(PDFHelperTest, RendersThePageAtHalfItsSizeOntoWhite) {
    const QString pdf = path("slides.pdf");
    ASSERT_TRUE(writePdf(pdf, {{{720, 540}, kRed}, {{400, 300}, kBlue}, {{600, 800}, kGreen}}));

    const auto first = PDFHelper::GetImageOfPdfFile(pdf, 1);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), QSizeF(360, 270));
    // Dense enough for an 800-wide thumbnail: the bitmap is never scaled up.
    EXPECT_EQ(first->bitmap().size(), QSize(800, 600));
    EXPECT_FALSE(first->bitmap().hasAlphaChannel());
    const auto [left, right] = halves(*first);
    EXPECT_TRUE(near(left, kRed)) << std::hex << left;
    EXPECT_TRUE(near(right, kWhite)) << std::hex
                                     << right; // unpainted, so transparent in the renderer's output

    // Pages count from 1, each at its own size.
    const auto second = PDFHelper::GetImageOfPdfFile(pdf, 2);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->size(), QSizeF(200, 150));
    EXPECT_TRUE(near(halves(*second).first, kBlue));
    const auto third = PDFHelper::GetImageOfPdfFile(pdf, 3);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->size(), QSizeF(300, 400));
    EXPECT_TRUE(near(halves(*third).first, kGreen));

    EXPECT_EQ(log.count(spdlog::level::info, "start GetImageOfPdfFile Page:2"), 1);
    EXPECT_EQ(log.count(spdlog::level::info, "finish GetImageOfPdfFile Page:2"), 1);
}

TEST_F(PDFHelperTest, EachPageIsRenderedOnceAndThenServedFromTheCache) {
    const QString pdf = path("slides.pdf");
    ASSERT_TRUE(writePdf(pdf, {{{720, 540}, kRed}, {{720, 540}, kBlue}}));

    const auto first = PDFHelper::GetImageOfPdfFile(pdf, 1);
    ASSERT_TRUE(first);
    EXPECT_EQ(log.count(kCacheHit), 0);

    const auto again = PDFHelper::GetImageOfPdfFile(pdf, 1);
    EXPECT_EQ(again.get(), first.get());
    EXPECT_EQ(again->bitmap().constBits(), first->bitmap().constBits());
    EXPECT_EQ(log.count(spdlog::level::debug, kCacheHit), 1);
    EXPECT_EQ(renders(1), 1);

    // Once rendered, a page no longer needs its file; a page not rendered yet does.
    ASSERT_TRUE(QFile::remove(pdf));
    EXPECT_EQ(PDFHelper::GetImageOfPdfFile(pdf, 1).get(), first.get());
    EXPECT_EQ(PDFHelper::GetImageOfPdfFile(pdf, 2), nullptr);
    EXPECT_EQ(log.count(spdlog::level::debug, kInvalidPath), 1);
    EXPECT_EQ(renders(1), 1);

    // A new file under the old path does not replace what was rendered from the old one.
    ASSERT_TRUE(writePdf(pdf, {{{400, 300}, kGreen}}));
    EXPECT_EQ(PDFHelper::GetImageOfPdfFile(pdf, 1).get(), first.get());
    EXPECT_TRUE(near(halves(*first).first, kRed));
}

TEST_F(PDFHelperTest, TheKeyIsThePathTextAndThePageNumber) {
    const QString red = path("red.pdf");
    const QString blue = path("blue.pdf");
    ASSERT_TRUE(writePdf(red, {{{720, 540}, kRed}}));
    ASSERT_TRUE(writePdf(blue, {{{720, 540}, kBlue}}));

    const auto fromRed = PDFHelper::GetImageOfPdfFile(red, 1);
    const auto fromBlue = PDFHelper::GetImageOfPdfFile(blue, 1);
    ASSERT_TRUE(fromRed && fromBlue);
    EXPECT_NE(fromRed.get(), fromBlue.get());
    EXPECT_TRUE(near(halves(*fromRed).first, kRed));
    EXPECT_TRUE(near(halves(*fromBlue).first, kBlue));

    // The same file under another path text is another entry.
    const QString sameFile = dir.path() + "/./red.pdf";
    const auto viaOtherText = PDFHelper::GetImageOfPdfFile(sameFile, 1);
    ASSERT_TRUE(viaOtherText);
    EXPECT_NE(viaOtherText.get(), fromRed.get());
    EXPECT_EQ(renders(1), 3);
    EXPECT_EQ(log.count(kCacheHit), 0);
}

TEST_F(PDFHelperTest, AChangeToAReturnedImageIsSeenByLaterCallers) {
    const QString pdf = path("slides.pdf");
    ASSERT_TRUE(writePdf(pdf, {{{720, 540}, kRed}}));

    const auto page = PDFHelper::GetImageOfPdfFile(pdf, 1);
    ASSERT_TRUE(page);
    ASSERT_TRUE(page->resizeImageToNewSize(QSizeF(800, 600)));

    const auto later = PDFHelper::GetImageOfPdfFile(pdf, 1);
    EXPECT_EQ(later->size(), QSizeF(800, 600));
    EXPECT_EQ(later->bitmap().size(), QSize(800, 600));
}

TEST_F(PDFHelperTest, NoPathOrNoFileGivesNothingAndLeavesNothingCached) {
    EXPECT_EQ(PDFHelper::GetImageOfPdfFile(std::nullopt, 1), nullptr);
    const QString pdf = path("later.pdf");
    EXPECT_EQ(PDFHelper::GetImageOfPdfFile(pdf, 1), nullptr);
    EXPECT_EQ(log.count(spdlog::level::debug, kInvalidPath), 2);

    // Once the file is there, the same key renders.
    ASSERT_TRUE(writePdf(pdf, {{{720, 540}, kRed}}));
    const auto page = PDFHelper::GetImageOfPdfFile(pdf, 1);
    ASSERT_TRUE(page);
    EXPECT_TRUE(near(halves(*page).first, kRed));
    EXPECT_EQ(log.count(kCacheHit), 0);
}

TEST_F(PDFHelperTest, AFileThatIsNoReadablePdfGivesNothingAndLeavesNothingCached) {
    QByteArray valid;
    {
        const QString model = path("model.pdf");
        ASSERT_TRUE(writePdf(model, {{{720, 540}, kRed}}));
        QFile file(model);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        valid = file.readAll();
    }
    const std::vector<std::pair<const char*, QByteArray>> unreadable = {
        {"empty", QByteArray()},
        {"not a PDF", QByteArray("PK\x03\x04 this is a zip, not slides")},
        {"a PDF header and nothing else", QByteArray("%PDF-1.4\n%%EOF\n")},
        {"a truncated PDF", valid.left(valid.size() / 3)},
        {"garbled bytes", QByteArray(valid.size(), '\xA5')},
    };
    int n = 0;
    for (const auto& [what, bytes] : unreadable) {
        SCOPED_TRACE(what);
        const QString pdf = path(QString("bad%1.pdf").arg(++n));
        ASSERT_TRUE(writeBytes(pdf, bytes));
        EXPECT_EQ(PDFHelper::GetImageOfPdfFile(pdf, 1), nullptr);
        EXPECT_EQ(PDFHelper::GetImageOfPdfFile(pdf, 1), nullptr);

        // Nothing was cached: the repaired file renders under the same key.
        ASSERT_TRUE(writeBytes(pdf, valid));
        const auto page = PDFHelper::GetImageOfPdfFile(pdf, 1);
        ASSERT_TRUE(page);
        EXPECT_TRUE(near(halves(*page).first, kRed));
    }
    EXPECT_EQ(log.count(kCacheHit), 0);

    // A folder exists but is no file to read.
    EXPECT_EQ(PDFHelper::GetImageOfPdfFile(dir.path(), 1), nullptr);
}

TEST_F(PDFHelperTest, APageOutsideTheDocumentGivesNothingAndLeavesNothingCached) {
    const QString pdf = path("two.pdf");
    ASSERT_TRUE(writePdf(pdf, {{{720, 540}, kRed}, {{720, 540}, kBlue}}));

    for (const qint32 page : {0, -1, 3, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(page);
        EXPECT_EQ(PDFHelper::GetImageOfPdfFile(pdf, page), nullptr);
        EXPECT_EQ(PDFHelper::GetImageOfPdfFile(pdf, page), nullptr);
    }
    EXPECT_EQ(log.count(kCacheHit), 0);
    const auto last = PDFHelper::GetImageOfPdfFile(pdf, 2);
    ASSERT_TRUE(last);
    EXPECT_TRUE(near(halves(*last).first, kBlue));
}

TEST_F(PDFHelperTest, APdfLockedByAPasswordGivesNothingAndOneWithOnlyAnOwnerPasswordRenders) {
    const QString qpdf = QStandardPaths::findExecutable("qpdf");
    if (qpdf.isEmpty())
        GTEST_SKIP() << "qpdf is not installed (scripts/setup installs it)";
    const QString plain = path("plain.pdf");
    ASSERT_TRUE(writePdf(plain, {{{720, 540}, kRed}}));
    const auto encrypt = [&](const QString& userPassword, const QString& out) {
        QProcess process;
        process.start(qpdf, {"--encrypt", userPassword, "owner-secret", "256", "--", plain, out});
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    };

    const QString locked = path("locked.pdf");
    ASSERT_TRUE(encrypt("user-secret", locked));
    EXPECT_EQ(PDFHelper::GetImageOfPdfFile(locked, 1), nullptr);
    EXPECT_EQ(PDFHelper::GetImageOfPdfFile(locked, 1), nullptr);
    EXPECT_EQ(log.count(kCacheHit), 0);

    const QString ownerOnly = path("owner-only.pdf");
    ASSERT_TRUE(encrypt("", ownerOnly));
    const auto page = PDFHelper::GetImageOfPdfFile(ownerOnly, 1);
    ASSERT_TRUE(page);
    EXPECT_TRUE(near(halves(*page).first, kRed));
}

TEST_F(PDFHelperTest, ConcurrentCallersForOnePageShareOneRendering) {
    const QString pdf = path("slides.pdf");
    ASSERT_TRUE(writePdf(pdf, {{{720, 540}, kRed}, {{720, 540}, kBlue}}));

    constexpr int kThreads = 8;
    std::vector<std::shared_ptr<Image>> results(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            results[size_t(i)] = PDFHelper::GetImageOfPdfFile(pdf, 1 + i % 2);
        });
    }
    for (auto& t : threads)
        t.join();

    for (int i = 0; i < kThreads; ++i) {
        ASSERT_TRUE(results[size_t(i)]);
        EXPECT_EQ(results[size_t(i)].get(), results[size_t(i % 2)].get());
    }
    EXPECT_NE(results[0].get(), results[1].get());
    EXPECT_EQ(renders(1), 1);
    EXPECT_EQ(renders(2), 1);
    EXPECT_EQ(log.count(kCacheHit), kThreads - 2);
}

TEST_F(PDFHelperTest, TheCacheStaysWithinItsBoundKeepingTheActiveDeckAndGivesPagesBackUnchanged) {
    const QString deck = path("deck.pdf"), other = path("other.pdf");
    ASSERT_TRUE(writePdf(deck, std::vector<Page>(300, {{720, 540}, kRed})) &&
                writePdf(other, {{{720, 540}, kBlue}}));

    const std::weak_ptr<Image> firstPage = PDFHelper::GetImageOfPdfFile(deck, 1);
    ASSERT_FALSE(firstPage.expired());
    const QImage firstPixels = firstPage.lock()->bitmap();
    const auto held = PDFHelper::GetImageOfPdfFile(deck, 2);
    // The cache fills to about half with the deck; then a page of another file comes between.
    const qsizetype pageBytes = firstPixels.sizeInBytes();
    const int half = int(PDFHelper::kPageCacheBytes / pageBytes / 2);
    for (int page = 3; page <= half; ++page)
        ASSERT_TRUE(PDFHelper::GetImageOfPdfFile(deck, page));
    const std::weak_ptr<Image> otherPage = PDFHelper::GetImageOfPdfFile(other, 1);
    ASSERT_FALSE(otherPage.expired());

    bool otherWentFirst = false;
    for (int page = half + 1; page <= 300; ++page) {
        ASSERT_TRUE(PDFHelper::GetImageOfPdfFile(deck, page));
        ASSERT_LE(PDFHelper::cachedPageBytes(), PDFHelper::kPageCacheBytes) << "page " << page;
        if (otherPage.expired() && !firstPage.expired())
            otherWentFirst = true;
    }
    // The other file's page went before the deck's older pages; then the deck's oldest went too.
    EXPECT_TRUE(otherWentFirst);
    EXPECT_TRUE(firstPage.expired());
    EXPECT_GT(300 * pageBytes, 2 * PDFHelper::kPageCacheBytes);

    // A page let go is rendered again as it was; one a caller still holds comes back as that object.
    const auto again = PDFHelper::GetImageOfPdfFile(deck, 1);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->bitmap(), firstPixels);
    EXPECT_EQ(again->size(), QSizeF(360, 270));
    EXPECT_EQ(PDFHelper::GetImageOfPdfFile(deck, 2), held);
    EXPECT_LE(PDFHelper::cachedPageBytes(), PDFHelper::kPageCacheBytes);
}

} // namespace
