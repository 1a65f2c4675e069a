// Pictures: resizing and cropping, the stretchable nine-piece image, and the icons of quick commands.
#include "core/BFImage.h"
#include "core/TapdeckCommand.h"

#include "LogRecorder.h"
#include "TestBundle.h"
#include "Threads.h"

#include <QBuffer>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <latch>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The left half in one colour, the right half in another.
QImage halves(QSize size, QColor left, QColor right) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(right);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRect(0, 0, size.width() / 2, size.height()), left);
    return image;
}

QByteArray encoded(const QImage& image, const char* format = "png") {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// 3 x 3 cells of ten pixels, each its own colour; row 0 at the top.
QRgb cell(int i) {
    return qRgb(40 + 60 * (i % 3), 40 + 60 * (i / 3), 200 - 20 * i);
}
QImage grid() {
    QImage image(30, 30, QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i < 9; ++i)
        QPainter(&image).fillRect(i % 3 * 10, i / 3 * 10, 10, 10, QColor(cell(i)));
    return image;
}

QImage paint(QSize size, const std::function<void(QPainter&)>& draw) {
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    draw(painter);
    return canvas;
}

// The grid stretched over r: corners of ten pixels, edges and centre stretched between them, nothing around.
void expectStretchedGrid(const QImage& canvas, QRect r) {
    const int xs[] = {r.left(), r.left() + 9, r.left() + 10, r.right() - 10, r.right() - 9, r.right()};
    const int ys[] = {r.top(), r.top() + 9, r.top() + 10, r.bottom() - 10, r.bottom() - 9, r.bottom()};
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(canvas.pixel(xs[i % 6], ys[i / 6]), cell(i / 12 * 3 + i % 6 / 2)) << i;
    EXPECT_EQ(canvas.pixel(r.left() - 1, r.top() - 1), 0u);
}

} // namespace

TEST(Image, ResizeDrawsTheWholePictureAtTheNewSize) {
    Image image(halves(QSize(480, 270), Qt::red, Qt::blue));
    const auto resized = image.resizeImageToNewSize(QSizeF(300, 168.75));
    ASSERT_TRUE(resized);
    EXPECT_EQ(resized->size(), QSizeF(300, 168.75));
    EXPECT_EQ(resized->bitmap().size(), QSize(300, 169));
    EXPECT_EQ(resized->bitmap().pixel(5, 84), qRgb(255, 0, 0));
    EXPECT_EQ(resized->bitmap().pixel(295, 84), qRgb(0, 0, 255));
    EXPECT_EQ(image.size(), QSizeF(300, 168.75)); // the receiver takes the new size on
    const QImage drawn =
        paint(QSize(300, 169), [&](QPainter& p) { resized->drawInRect(p, QRectF(0, 0, 30, 9)); });
    EXPECT_EQ(drawn.pixel(25, 5), qRgb(0, 0, 255));
    for (const QSizeF size : {QSizeF(0, 450), QSizeF(-800, 450), QSizeF(kNaN, 450), QSizeF(1e9, 1e9)})
        EXPECT_EQ(image.resizeImageToNewSize(size), nullptr) << size.width() << "x" << size.height();
    EXPECT_EQ(image.size(), QSizeF(300, 168.75));

    QTemporaryDir dir; // a PNG cut inside its pixel data has a size and no picture
    const QByteArray png = encoded(halves(QSize(40, 30), Qt::red, Qt::blue));
    QFile cut(dir.filePath("cut.png"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(png.left(png.indexOf("IDAT") + 6));
    cut.close();
    const auto broken = Image::imageByReferencingFile(cut.fileName());
    EXPECT_EQ(broken->size(), QSizeF(40, 30));
    LogRecorder log;
    EXPECT_EQ(broken->resizeImageToNewSize(QSizeF(80, 60)), nullptr);
    EXPECT_EQ(log.count(spdlog::level::err, "Invalid Image"), 1);
}

TEST(Image, CropCutsWholePixelsFromTheTopLeftWithinTheBitmap) {
    QImage picture(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            picture.setPixel(x, y, qRgb(x, y, 0));
    Image image(picture);
    image.setSize(QSizeF(6, 4)); // the cut is in pixels, whatever the size
    const std::tuple<QSizeF, QPointF, QRect> cases[] = {{{10, 5}, {1, 2}, {1, 2, 10, 5}},
                                                        {{10, 10}, {10.5, 20.5}, {10, 20, 11, 11}},
                                                        {{10, 10}, {60, 45}, {60, 45, 4, 3}},
                                                        {{30, 30}, {-10, -10}, {0, 0, 20, 20}},
                                                        {{1e300, 1e300}, {-1e6, -1e6}, {0, 0, 64, 48}},
                                                        {{10, 5}, {64, 0}, {}},
                                                        {{0, 0}, {10, 10}, {}},
                                                        {{10, 5}, {kNaN, 0}, {}}};
    for (const auto& [size, from, pixels] : cases) {
        const auto cut = image.cropImageToSize(size, from);
        EXPECT_EQ(cut ? cut->bitmap() : QImage(), pixels.isEmpty() ? QImage() : picture.copy(pixels))
            << from.x();
        EXPECT_EQ(cut ? cut->size() : QSizeF(0, 0), QSizeF(pixels.size()));
    }
}

TEST(BFImage, InsetsCutNinePiecesOnceEvenForThreadsArrivingTogether) {
    for (int round = 0; round < 20; ++round) {
        const auto image = Image(grid()).stretchableImageWithEdgeInsets({10, 10, 10, 10});
        std::vector<BFImage::Slices> seen(6);
        std::latch start(6);
        ASSERT_TRUE(runOnThreads(6, [&](int i) {
            start.arrive_and_wait();
            seen[size_t(i)] = image->sliceImages();
        })) << "cutting the pieces deadlocked";
        for (const auto& pieces : seen)
            ASSERT_EQ(pieces, seen.front());
        for (int i = 0; round == 0 && i < 9; ++i) {
            EXPECT_EQ(seen[0][i]->bitmap().pixel(0, 0), cell(i)) << i;
            EXPECT_EQ(seen[0][i]->bitmap().pixel(9, 9), cell(i)) << i;
        }
    }
    // Cap widths give equal insets on opposite sides, measured on the bitmap whatever the image's size.
    Image capped(halves(QSize(20, 30), Qt::red, Qt::blue));
    capped.setSize(QSizeF(200, 300));
    const auto caps = capped.stretchableImageWithLeftCapWidth(5, 8);
    EXPECT_EQ(caps->stretchInsets(), (BFEdgeInsets{8, 5, 8, 5}));
    EXPECT_EQ(caps->sliceImages()[7]->size(), QSizeF(10, 8));
    caps->setStretchInsets({1, 1, 1, 1}); // the pieces stay until replaced
    EXPECT_EQ(caps->sliceImages()[7]->size(), QSizeF(10, 8));
    caps->setSliceImages(std::nullopt);
    EXPECT_EQ(caps->sliceImages()[7]->size(), QSizeF(18, 1));
    EXPECT_EQ(Image(QImage(), QSizeF(20, 30)).stretchableImageWithLeftCapWidth(5, 8), nullptr);
}

TEST(BFImage, StretchedDrawingsKeepTheCornersAndCacheBySize) {
    Image source(grid());
    const auto image = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    const auto draw = [&](QRectF rect) {
        return paint(QSize(100, 60), [&](QPainter& p) {
            image->drawInRect(p, rect, QRectF(0, 0, 3, 3), CompositingOperation::Clear, 0.1, true, {});
        });
    };
    const QImage first = draw(QRectF(20, 10, 60, 40));
    expectStretchedGrid(first, QRect(20, 10, 60, 40));
    const std::shared_ptr<Image> assembled = image->cachedImage();
    EXPECT_EQ(draw(QRectF(20, 10, 60, 40)), first);
    EXPECT_EQ(image->cachedImage(), assembled);
    expectStretchedGrid(draw(QRectF(1, 1, 90, 50)), QRect(1, 1, 90, 50));
    EXPECT_EQ(image->cachedImageSize(), QSizeF(90, 50));

    // With one rectangle the pieces are laid each time and the cache is left alone.
    const auto fresh = source.stretchableImageWithEdgeInsets({10, 10, 10, 10});
    for (int i = 0; i < 2; ++i)
        expectStretchedGrid(
            paint(QSize(80, 60), [&](QPainter& p) { fresh->drawInRect(p, QRectF(10, 5, 60, 40)); }),
            QRect(10, 5, 60, 40));
    EXPECT_EQ(fresh->cachedImage(), nullptr);
    expectStretchedGrid(fresh->resizeImageToNewSize(QSizeF(60, 40))->bitmap().copy(-1, -1, 61, 41),
                        QRect(1, 1, 60, 40));

    // Insets that fill the picture leave empty middle pieces, and drawing goes around them.
    const auto full = source.stretchableImageWithEdgeInsets({15, 15, 15, 15});
    const QImage canvas =
        paint(QSize(60, 60), [&](QPainter& p) { full->drawInRect(p, QRectF(0, 0, 60, 60)); });
    EXPECT_FALSE(full->sliceImages()[4]->isValid());
    EXPECT_EQ(canvas.pixel(0, 0), cell(0));
    EXPECT_EQ(canvas.pixel(30, 30), 0u);
}

class CommandIcon : public ::testing::Test {
protected:
    void SetUp() override {
        int side = 11;
        for (const char* type : {"sendKey", "openUrl", "launchApp", "default"})
            bundle.addResource(type + QStringLiteral("CommandIcon.png"),
                               encoded(halves(QSize(10, side++), Qt::blue, Qt::blue)));
        bundle.addResource("star.png", encoded(halves(QSize(16, 8), Qt::transparent, Qt::red)));
        bundle.addResource("broken.png", "not a picture");
        bundle.makeMain();
    }
    static std::optional<QImage> icon(const QString& type, std::optional<QString> value = std::nullopt,
                                      std::optional<QColor> tint = std::nullopt) {
        return TapdeckCommand("n", type, "p", std::move(value)).iconImageWithTintColor(tint);
    }
    static int height(const std::optional<QImage>& image) { return image ? image->height() : 0; }

    TestBundle bundle{{{"CFBundleIdentifier", "com.example.IconTest"}}};
};

TEST_F(CommandIcon, TypeOrNameChoosesABundleImageAndOnlyThoseAreTinted) {
    const std::pair<const char*, int> byType[] = {
        {"sendKey", 11}, {"openUrl", 12}, {"launchApp", 13}, {"SendKey", 14}, {"", 14}};
    for (const auto& [type, size] : byType)
        EXPECT_EQ(height(icon(type)), size) << type;
    const std::pair<const char*, int> byName[] = {
        {"iconName:star", 8},    {"iconName:star:more", 8}, {"iconName:defaultCommandIcon", 14},
        {"iconName:", 0},        {"iconName:nothing", 0},   {"iconName:broken", 0},
        {"iconName:../star", 0}, {"iconName:star.png", 0},  {"IconName:star", 0}};
    for (const auto& [value, size] : byName)
        EXPECT_EQ(height(icon("sendKey", QString::fromLatin1(value))), size) << value;

    EXPECT_EQ(icon("x", "iconName:star")->pixelColor(12, 4), QColor(Qt::red));
    EXPECT_EQ(icon("x", "iconName:star", QColor())->pixelColor(12, 4), QColor(Qt::red));
    const auto green = icon("x", "iconName:star", QColor(Qt::green));
    EXPECT_EQ(green->pixelColor(12, 4), QColor(Qt::green));
    EXPECT_EQ(green->pixelColor(2, 4).alpha(), 0);
    EXPECT_EQ(icon("openUrl", std::nullopt, QColor(Qt::yellow))->pixelColor(3, 3), QColor(Qt::yellow));
    const QString data = QString::fromLatin1(encoded(halves(QSize(5, 7), Qt::red, Qt::red)).toBase64());
    EXPECT_EQ(icon("x", data, QColor(Qt::green))->pixelColor(2, 2), QColor(Qt::red));

    TestBundle bare{{{"CFBundleIdentifier", "com.example.Bare"}}};
    bare.makeMain();
    EXPECT_FALSE(icon("sendKey"));
    EXPECT_FALSE(icon("other"));
}

TEST_F(CommandIcon, ImageDataMustBeStrictBase64OfAPicture) {
    const QString good =
        QString::fromLatin1(encoded(halves(QSize(9, 4), Qt::red, Qt::red), "bmp").toBase64());
    ASSERT_TRUE(good.endsWith('=') && good.contains('/')) << good.toStdString(); // a picture needing both
    EXPECT_EQ(height(icon("sendKey", good)), 4);
    QString withBreak = good, nonAscii = good, urlAlphabet = good;
    withBreak.insert(8, u'\n');
    nonAscii[4] = QChar(0x00e9);
    urlAlphabet.replace(u'/', u'_');
    const QString refused[] = {"",          QString(good).remove(u'='),
                               withBreak,   good + " ",
                               nonAscii,    good + "====",
                               urlAlphabet, QString::fromLatin1(QByteArray("not a picture").toBase64())};
    for (const QString& value : refused)
        EXPECT_FALSE(icon("sendKey", value)) << value.left(20).toStdString();
}

TEST_F(CommandIcon, StoredPicturesArePaddedBase64JpegOnWhiteAtMost200PointsLong) {
    const std::pair<QSize, QSize> cases[] = {{{400, 100}, {200, 50}},  {{100, 400}, {50, 200}},
                                             {{300, 300}, {200, 200}}, {{150, 100}, {150, 100}},
                                             {{201, 3}, {200, 3}},     {{2, 5000}, {1, 200}}};
    for (const auto& [picture, stored] : cases) {
        TapdeckCommand command("n", "sendKey", "p");
        command.setIconImage(halves(picture, Qt::transparent, Qt::red));
        ASSERT_TRUE(command.iconImageEncoded);
        const QByteArray jpeg = QByteArray::fromBase64(command.iconImageEncoded->toLatin1());
        EXPECT_TRUE(jpeg.startsWith("\xff\xd8\xff")) << "not a JPEG";
        const QImage image = QImage::fromData(jpeg);
        EXPECT_EQ(image.size(), stored) << picture.width() << "x" << picture.height();
        if (stored.width() >= 100 && stored.height() >= 50) { // transparent parts come out white
            const QRgb left = image.pixel(2, 20), right = image.pixel(stored.width() - 2, 20);
            EXPECT_TRUE(qGray(left) > 240 && qRed(right) > 200 && qGreen(right) < 60)
                << std::hex << left << right;
        }
    }
    QImage dense = halves(QSize(400, 100), Qt::red, Qt::red); // sizes are in points
    dense.setDevicePixelRatio(2.0);
    TapdeckCommand command("n", "sendKey", "p", QStringLiteral("iconName:star"));
    command.setIconImage(dense);
    EXPECT_EQ(command.iconImage()->size(), QSize(200, 50));

    LogRecorder log;
    command.iconImageEncoded = QStringLiteral("iconName:star");
    command.setIconImage(std::nullopt);
    EXPECT_EQ(command.iconImageEncoded, QStringLiteral("iconName:star"));
    command.setIconImage(QImage());
    EXPECT_FALSE(command.iconImageEncoded);
    EXPECT_EQ(log.at(spdlog::level::err),
              (std::vector<std::string>{"Failed to set icon image: Invalid image.", "Invalid Image"}));

    // Any size as given, at the quality asked; none for a size no picture can have.
    const QImage noisy = grid().scaled(64, 64);
    const auto sizeAt = [&](float width, float height) {
        const auto text = TapdeckCommand::base64StringConvertedFromImage(noisy, width, height, 0.8f);
        return text ? QImage::fromData(QByteArray::fromBase64(text->toLatin1())).size() : QSize();
    };
    EXPECT_EQ(sizeAt(10, 30), QSize(10, 30));
    EXPECT_EQ(sizeAt(0.2f, 0.2f), QSize(1, 1));
    for (const float side : {0.0f, -5.0f, float(kNaN), std::numeric_limits<float>::infinity(), 1e30f})
        EXPECT_EQ(sizeAt(side, 10), QSize()) << side;
    EXPECT_LT(TapdeckCommand::base64StringConvertedFromImage(noisy, 64, 64, 0.1f)->size(),
              TapdeckCommand::base64StringConvertedFromImage(noisy, 64, 64, 1.0f)->size());
}
