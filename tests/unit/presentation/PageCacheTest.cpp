// The page cache's bound, with a deck of 300 pages.
#include "presentation/PDFHelper.h"

#include "core/Image.h"

#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Pages of 720 x 540 points, each a grey of its own with its number.
bool writeDeck(const QString& path, int pages) {
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(QSizeF(720, 540), QPageSize::Point, QString(), QPageSize::ExactMatch));
    QPainter painter(&writer);
    for (int page = 1; page <= pages; ++page) {
        if (page > 1)
            writer.newPage();
        painter.fillRect(QRectF(0, 0, 720, 540), QColor(page % 256, 100, 200));
        painter.drawText(QRectF(0, 0, 720, 540), Qt::AlignCenter, QString::number(page));
    }
    return painter.end();
}

TEST(PageCacheTest, StaysWithinItsBoundKeepingTheActiveDeckAndGivesPagesBackUnchanged) {
    QTemporaryDir dir;
    const QString deck = dir.filePath("deck.pdf"), other = dir.filePath("other.pdf");
    ASSERT_TRUE(writeDeck(deck, 300) && writeDeck(other, 2));

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
