#include "core/Image.h"

#include "LogRecorder.h"
#include "core/BFImage.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <latch>
#include <limits>
#include <thread>
#include <vector>

namespace {

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);

// A bitmap whose left half is one colour and right half another.
QImage halves(QSize size, QRgb left, QRgb right) {
    QImage bitmap(size, QImage::Format_ARGB32_Premultiplied);
    bitmap.fill(right);
    QPainter(&bitmap).fillRect(QRect(0, 0, size.width() / 2, size.height()), QColor(left));
    return bitmap;
}

// A bitmap whose every pixel tells its place: red and green the low bytes of x and y, blue their high bits.
QImage coordinates(QSize size) {
    QImage bitmap(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            bitmap.setPixel(x, y, qRgb(x & 0xff, y & 0xff, ((x >> 8) << 4) | (y >> 8)));
    return bitmap;
}

// A square bitmap of 3 x 3 cells of the side given, each its own colour; cellColor(row, column) with row
// 0 at the top.
QRgb cellColor(int row, int column) {
    return qRgb(40 + 60 * column, 40 + 60 * row, 200 - 20 * (3 * row + column));
}
QImage grid(int cell) {
    QImage bitmap(3 * cell, 3 * cell, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&bitmap);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            painter.fillRect(column * cell, row * cell, cell, cell, QColor(cellColor(row, column)));
    return bitmap;
}

// A transparent canvas the size given, painted by draw.
QImage paint(QSize size, const std::function<void(QPainter&)>& draw) {
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    draw(painter);
    return canvas;
}

// Checks the nine areas of a picture stretched over rect from a grid of 10-point cells with insets of 10.
void expectStretchedGrid(const QImage& canvas, QRect rect) {
    const int left = rect.left(), right = rect.right(), top = rect.top(), bottom = rect.bottom();
    const int midX = rect.center().x(), midY = rect.center().y();
    const std::vector<std::pair<QPoint, QRgb>> probes = {
        {{left, top}, cellColor(0, 0)},
        {{left + 9, top + 9}, cellColor(0, 0)},
        {{left + 10, top}, cellColor(0, 1)},
        {{midX, top + 5}, cellColor(0, 1)},
        {{right - 10, top}, cellColor(0, 1)},
        {{right - 9, top}, cellColor(0, 2)},
        {{right, top + 9}, cellColor(0, 2)},
        {{left + 5, midY}, cellColor(1, 0)},
        {{midX, midY}, cellColor(1, 1)},
        {{right - 5, midY}, cellColor(1, 2)},
        {{left, bottom - 9}, cellColor(2, 0)},
        {{left + 9, bottom}, cellColor(2, 0)},
        {{midX, bottom - 5}, cellColor(2, 1)},
        {{right, bottom}, cellColor(2, 2)},
        {{right - 9, bottom - 9}, cellColor(2, 2)},
    };
    for (const auto& [at, color] : probes)
        EXPECT_EQ(canvas.pixel(at), color) << "at " << at.x() << "," << at.y();
}

// ---- resizing ----

TEST(ImageResizeTest, GivesExactlyTheNewSizeAndTheReceiverTakesItOn) {
    Image image(halves(QSize(480, 270), kRed, kBlue));
    ASSERT_EQ(image.size(), QSizeF(480, 270));

    const auto resized = image.resizeImageToNewSize(QSizeF(800, 450));
    ASSERT_TRUE(resized);
    EXPECT_EQ(resized->size(), QSizeF(800, 450));
    EXPECT_EQ(resized->bitmap().size(), QSize(800, 450));
    EXPECT_EQ(resized->bitmap().pixel(200, 225), kRed);
    EXPECT_EQ(resized->bitmap().pixel(600, 225), kBlue);
    EXPECT_EQ(image.size(), QSizeF(800, 450));
    EXPECT_EQ(image.bitmap().size(), QSize(480, 270));

    // The next resize starts from the new size and still draws the whole picture.
    const auto smaller = image.resizeImageToNewSize(QSizeF(300, 168.75));
    ASSERT_TRUE(smaller);
    EXPECT_EQ(smaller->size(), QSizeF(300, 168.75));
    EXPECT_EQ(smaller->bitmap().size(), QSize(300, 169));
    EXPECT_EQ(smaller->bitmap().pixel(5, 84), kRed);
    EXPECT_EQ(smaller->bitmap().pixel(295, 84), kBlue);
    EXPECT_EQ(image.size(), QSizeF(300, 168.75));
}

TEST(ImageResizeTest, ToItsOwnSizeGivesANewCopyOfThePicture) {
    const QImage picture = coordinates(QSize(64, 48));
    Image image(picture);

    const auto same = image.resizeImageToNewSize(QSizeF(64, 48));
    ASSERT_TRUE(same);
    EXPECT_NE(same.get(), &image);
    EXPECT_EQ(same->size(), QSizeF(64, 48));
    EXPECT_EQ(same->bitmap().convertToFormat(QImage::Format_RGB32), picture);
    EXPECT_EQ(image.size(), QSizeF(64, 48));
}

TEST(ImageResizeTest, AnImageWithNoReadablePictureGivesNothingAndKeepsItsSize) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A PNG cut off inside its pixel data: the size is known, the pixels are not.
    QByteArray png;
    {
        QBuffer buffer(&png);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
        ASSERT_TRUE(halves(QSize(40, 30), kRed, kBlue).save(&buffer, "PNG"));
    }
    const QString path = dir.filePath("cut.png");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const qsizetype pixelData = png.indexOf("IDAT");
        ASSERT_GT(pixelData, 0);
        file.write(png.left(pixelData + 6));
    }
    const auto image = Image::imageByReferencingFile(path);
    ASSERT_TRUE(image);
    ASSERT_FALSE(image->isValid());
    EXPECT_EQ(image->size(), QSizeF(40, 30));

    LogRecorder log;
    EXPECT_EQ(image->resizeImageToNewSize(QSizeF(800, 600)), nullptr);
    EXPECT_EQ(log.count(spdlog::level::err, "Invalid Image"), 1);
    EXPECT_EQ(image->size(), QSizeF(40, 30));

    // A file with nothing an image reader knows.
    const QString text = dir.filePath("notes.png");
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("speaker notes, not pixels");
    }
    EXPECT_FALSE(Image::imageByReferencingFile(text)->isValid());
    const auto missing = Image::imageByReferencingFile(dir.filePath("missing.png"));
    EXPECT_FALSE(missing->isValid());
    EXPECT_EQ(missing->size(), QSizeF(0, 0));
}

TEST(ImageResizeTest, ASizeWithNothingToDrawOnGivesNothingAndLeavesTheReceiverAlone) {
    Image image(halves(QSize(48, 27), kRed, kBlue));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const QSizeF size : {QSizeF(0, 450), QSizeF(800, 0), QSizeF(-800, 450), QSizeF(nan, 450),
                              QSizeF(800, inf), QSizeF(1e9, 1e9)}) {
        SCOPED_TRACE(testing::Message() << size.width() << " x " << size.height());
        EXPECT_EQ(image.resizeImageToNewSize(size), nullptr);
        EXPECT_EQ(image.size(), QSizeF(48, 27));
    }
}

// ---- cropping ----

TEST(ImageCropTest, CutsTheRectangleOfPixelsFromTheTopLeft) {
    const QImage picture = coordinates(QSize(640, 480));
    Image image(picture);
    image.setSize(QSizeF(64, 48)); // the cut is in pixels, whatever the size

    const auto cut = image.cropImageToSize(QSizeF(100, 50), QPointF(10, 20));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->size(), QSizeF(100, 50));
    EXPECT_EQ(cut->bitmap(), picture.copy(10, 20, 100, 50));

    // A fractional rectangle grows to the whole pixels it touches.
    const auto rounded = image.cropImageToSize(QSizeF(10, 10), QPointF(10.5, 20.5));
    ASSERT_TRUE(rounded);
    EXPECT_EQ(rounded->size(), QSizeF(11, 11));
    EXPECT_EQ(rounded->bitmap(), picture.copy(10, 20, 11, 11));
}

TEST(ImageCropTest, KeepsOnlyThePartInsideTheBitmap) {
    const QImage picture = coordinates(QSize(640, 480));
    Image image(picture);

    const auto corner = image.cropImageToSize(QSizeF(100, 100), QPointF(600, 450));
    ASSERT_TRUE(corner);
    EXPECT_EQ(corner->size(), QSizeF(40, 30));
    EXPECT_EQ(corner->bitmap(), picture.copy(600, 450, 40, 30));

    const auto origin = image.cropImageToSize(QSizeF(30, 30), QPointF(-10, -10));
    ASSERT_TRUE(origin);
    EXPECT_EQ(origin->bitmap(), picture.copy(0, 0, 20, 20));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(image.cropImageToSize(QSizeF(100, 50), QPointF(640, 0)), nullptr);
    EXPECT_EQ(image.cropImageToSize(QSizeF(100, 50), QPointF(-100, -50)), nullptr);
    EXPECT_EQ(image.cropImageToSize(QSizeF(0, 0), QPointF(10, 10)), nullptr);
    EXPECT_EQ(image.cropImageToSize(QSizeF(100, 50), QPointF(nan, 0)), nullptr);
    const auto huge = image.cropImageToSize(QSizeF(1e300, 1e300), QPointF(-1e6, -1e6));
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->bitmap(), picture);
    EXPECT_EQ(Image(QImage(), QSizeF(640, 480)).cropImageToSize(QSizeF(10, 10), QPointF()), nullptr);
}

// ---- the stretchable image ----

TEST(BFImageTest, InsetsOfTenCutAThirtySquareIntoNineTenSquares) {
    Image source(grid(10));
    const auto image = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSizeF(30, 30));
    EXPECT_EQ(image->stretchInsets(), (BFEdgeInsets{10, 10, 10, 10}));

    const BFImage::Slices pieces = image->sliceImages();
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(pieces[size_t(i)]);
        EXPECT_EQ(pieces[size_t(i)]->size(), QSizeF(10, 10));
        const QImage bitmap = pieces[size_t(i)]->bitmap();
        ASSERT_EQ(bitmap.size(), QSize(10, 10));
        for (const QPoint at : {QPoint(0, 0), QPoint(9, 0), QPoint(5, 5), QPoint(0, 9), QPoint(9, 9)})
            EXPECT_EQ(bitmap.pixel(at), cellColor(i / 3, i % 3)) << at.x() << "," << at.y();
    }
    EXPECT_FALSE(image->slicing());
}

TEST(BFImageTest, CapsGiveTheSameInsetOnOppositeSides) {
    Image source(halves(QSize(20, 30), kRed, kBlue));
    source.setSize(QSizeF(200, 300)); // the copy takes the bitmap's size
    const auto image = source.stretchableImageWithLeftCapWidth(5, 8);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSizeF(20, 30));
    EXPECT_EQ(image->stretchInsets(), (BFEdgeInsets{8, 5, 8, 5}));

    const BFImage::Slices pieces = image->sliceImages();
    EXPECT_EQ(pieces[4]->size(), QSizeF(10, 14));
    EXPECT_EQ(pieces[0]->size(), QSizeF(5, 8));
    EXPECT_EQ(pieces[8]->size(), QSizeF(5, 8));
    EXPECT_EQ(pieces[3]->size(), QSizeF(5, 14));
    EXPECT_EQ(pieces[7]->size(), QSizeF(10, 8));

    EXPECT_EQ(Image(QImage(), QSizeF(20, 30)).stretchableImageWithLeftCapWidth(5, 8), nullptr);
}

TEST(BFImageTest, InsetsThatFillTheImageGiveEmptyPiecesInPlace) {
    Image source(grid(10));
    for (const double inset : {15.0, 20.0}) {
        SCOPED_TRACE(inset);
        const auto image = source.stretchableImageWithEdgeInsets({inset, inset, inset, inset});
        ASSERT_TRUE(image);
        const BFImage::Slices pieces = image->sliceImages();
        for (size_t i = 0; i < pieces.size(); ++i) {
            ASSERT_TRUE(pieces[i]);
            const bool middle = i == 1 || i == 3 || i == 4 || i == 5 || i == 7;
            EXPECT_EQ(pieces[i]->isValid(), !middle) << i;
        }
        EXPECT_EQ(pieces[4]->size(), QSizeF(30 - 2 * inset, 30 - 2 * inset));
        EXPECT_EQ(pieces[0]->size(), QSizeF(inset, inset));

        // Drawing still works, with nothing where the empty pieces would go.
        const QImage canvas =
            paint(QSize(60, 60), [&](QPainter& p) { image->drawInRect(p, QRectF(0, 0, 60, 60)); });
        EXPECT_EQ(canvas.pixel(0, 0), cellColor(0, 0));
        EXPECT_EQ(canvas.pixel(30, 30), qRgba(0, 0, 0, 0));
    }
}

TEST(BFImageTest, ThePiecesAreCutOnceUntilReplaced) {
    Image source(grid(10));
    const auto image = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    const BFImage::Slices first = image->sliceImages();
    EXPECT_EQ(image->sliceImages(), first);

    image->setStretchInsets({5, 5, 5, 5});
    EXPECT_EQ(image->sliceImages(), first);

    image->setSliceImages(std::nullopt);
    const BFImage::Slices recut = image->sliceImages();
    EXPECT_NE(recut[0], first[0]);
    EXPECT_EQ(recut[0]->size(), QSizeF(5, 5));
    EXPECT_EQ(recut[4]->size(), QSizeF(20, 20));
}

TEST(BFImageTest, ThreadsReadingThePiecesFirstGetOneCut) {
    Image source(grid(10));
    for (int round = 0; round < 20; ++round) {
        const auto image = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
        constexpr int kThreads = 6;
        std::vector<BFImage::Slices> seen(kThreads);
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                seen[size_t(i)] = image->sliceImages();
            });
        for (auto& t : threads)
            t.join();
        for (const auto& pieces : seen)
            ASSERT_EQ(pieces, seen.front());
    }
}

TEST(BFImageTest, DrawingWithSixArgumentsAssemblesOncePerSize) {
    Image source(grid(10));
    const auto image = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    EXPECT_EQ(image->cachedImageSize(), QSizeF(0, 0));
    EXPECT_EQ(image->cachedImage(), nullptr);

    const auto draw = [&](QSize size) {
        return paint(size, [&](QPainter& p) {
            image->drawInRect(p, QRectF(QPointF(0, 0), size), QRectF(0, 0, 3, 3), CompositingOperation::Clear,
                              0.1, true, {});
        });
    };
    const QImage first = draw(QSize(60, 40));
    expectStretchedGrid(first, QRect(0, 0, 60, 40));
    const std::shared_ptr<Image> assembled = image->cachedImage();
    ASSERT_TRUE(assembled);
    EXPECT_EQ(image->cachedImageSize(), QSizeF(60, 40));

    EXPECT_EQ(draw(QSize(60, 40)), first);
    EXPECT_EQ(image->cachedImage(), assembled);

    expectStretchedGrid(draw(QSize(90, 50)), QRect(0, 0, 90, 50));
    EXPECT_NE(image->cachedImage(), assembled);
    EXPECT_EQ(image->cachedImageSize(), QSizeF(90, 50));
    const std::shared_ptr<Image> second = image->cachedImage();
    draw(QSize(60, 40));
    EXPECT_NE(image->cachedImage(), second);
}

TEST(BFImageTest, DrawingWithOneRectangleLaysThePiecesEachTimeAndLeavesTheCache) {
    Image source(grid(10));
    const auto image = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    for (int i = 0; i < 2; ++i) {
        const QImage canvas =
            paint(QSize(80, 60), [&](QPainter& p) { image->drawInRect(p, QRectF(10, 5, 60, 40)); });
        expectStretchedGrid(canvas, QRect(10, 5, 60, 40));
        EXPECT_EQ(canvas.pixel(5, 2), qRgba(0, 0, 0, 0));
    }
    EXPECT_EQ(image->cachedImage(), nullptr);
    EXPECT_EQ(image->cachedImageSize(), QSizeF(0, 0));
}

TEST(BFImageTest, ASixArgumentDrawingAwayFromTheOriginLandsInItsRectangle) {
    Image source(grid(10));
    const auto image = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    const QImage canvas = paint(QSize(100, 60), [&](QPainter& p) {
        image->drawInRect(p, QRectF(20, 10, 60, 40), QRectF(), CompositingOperation::SourceOver, 1.0, false,
                          {});
    });
    expectStretchedGrid(canvas, QRect(20, 10, 60, 40));
    EXPECT_EQ(canvas.pixel(5, 5), qRgba(0, 0, 0, 0));
    EXPECT_EQ(canvas.pixel(90, 55), qRgba(0, 0, 0, 0));
    EXPECT_EQ(image->cachedImageSize(), QSizeF(60, 40));
}

TEST(BFImageTest, NewInsetsAfterTheFirstDrawingChangeNothingDrawn) {
    Image source(grid(10));
    const auto image = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    const auto fresh = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    paint(QSize(60, 40), [&](QPainter& p) { image->drawInRect(p, QRectF(0, 0, 60, 40)); });

    image->setStretchInsets({3, 3, 3, 3});
    const auto drawOf = [](BFImage& bf) {
        return paint(QSize(90, 50), [&](QPainter& p) {
            bf.drawInRect(p, QRectF(0, 0, 90, 50), QRectF(), CompositingOperation::SourceOver, 1.0, false,
                          {});
        });
    };
    EXPECT_EQ(drawOf(*image), drawOf(*fresh));
}

TEST(BFImageTest, ResizingAStretchableImageStretchesIt) {
    Image source(grid(10));
    const auto image = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    image->sliceImages(); // cut at the image's own size; resizing sets that size before it draws
    const auto resized = image->resizeImageToNewSize(QSizeF(60, 40));
    ASSERT_TRUE(resized);
    expectStretchedGrid(resized->bitmap(), QRect(0, 0, 60, 40));
    EXPECT_EQ(image->size(), QSizeF(60, 40));
}

} // namespace
