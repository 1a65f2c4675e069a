// The icon of a quick command: the bundle images by type and by name, tinting, base64 image data, and
// storing a picture as a scaled JPEG.
#include "core/TapdeckCommand.h"

#include "LogCapture.h"
#include "TestBundle.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A picture of one colour whose size tells the images apart.
QImage picture(int width, int height, QColor color = Qt::blue) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

// A picture with a transparent left half and an opaque red right half.
QImage halfTransparent(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(width / 2, 0, width - width / 2, height, Qt::red);
    return image;
}

class TapdeckCommandIcon : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.addResource("sendKeyCommandIcon.png", encoded(picture(11, 11), "png"));
        bundle.addResource("openUrlCommandIcon.png", encoded(picture(12, 12), "png"));
        bundle.addResource("launchAppCommandIcon.png", encoded(picture(13, 13), "png"));
        bundle.addResource("defaultCommandIcon.png", encoded(picture(14, 14), "png"));
        bundle.addResource("star.png", encoded(halfTransparent(16, 8), "png"));
        bundle.addResource("broken.png", "not a picture");
        bundle.makeMain();
    }

    static std::optional<QSize> iconSize(const QString& type, std::optional<QString> icon = std::nullopt) {
        const auto image =
            TapdeckCommand(QStringLiteral("n"), type, QStringLiteral("p"), std::move(icon)).iconImage();
        if (!image)
            return std::nullopt;
        EXPECT_FALSE(image->isNull());
        return image->size();
    }

    TestBundle bundle{{{"CFBundleIdentifier", "com.example.IconTest"}}};
};

} // namespace

TEST_F(TapdeckCommandIcon, WithoutAnIconValueTheTypeChoosesTheBundleImage) {
    EXPECT_EQ(iconSize("sendKey"), QSize(11, 11));
    EXPECT_EQ(iconSize("openUrl"), QSize(12, 12));
    EXPECT_EQ(iconSize("launchApp"), QSize(13, 13));
    // Exact, case-sensitive type names only.
    EXPECT_EQ(iconSize("SendKey"), QSize(14, 14));
    EXPECT_EQ(iconSize("sendkey"), QSize(14, 14));
    EXPECT_EQ(iconSize("sendKey "), QSize(14, 14));
    EXPECT_EQ(iconSize("shutdown"), QSize(14, 14));
    EXPECT_EQ(iconSize(""), QSize(14, 14));
}

TEST_F(TapdeckCommandIcon, MissingBundleImagesGiveNoImage) {
    TestBundle bare{{{"CFBundleIdentifier", "com.example.Bare"}}};
    bare.makeMain();
    EXPECT_FALSE(iconSize("sendKey"));
    EXPECT_FALSE(iconSize("other"));
    EXPECT_FALSE(iconSize("sendKey", QStringLiteral("iconName:star")));
}

TEST_F(TapdeckCommandIcon, IconNameNamesABundleImage) {
    EXPECT_EQ(iconSize("sendKey", QStringLiteral("iconName:star")), QSize(16, 8));
    EXPECT_EQ(iconSize("sendKey", QStringLiteral("iconName:star:more:text")), QSize(16, 8));
    EXPECT_EQ(iconSize("sendKey", QStringLiteral("iconName:star:")), QSize(16, 8));
    EXPECT_EQ(iconSize("sendKey", QStringLiteral("iconName:defaultCommandIcon")), QSize(14, 14));
    // The empty name, a missing or unreadable image, and names that are not plain file names give none.
    for (const char* value :
         {"iconName:", "iconName::star", "iconName:nothing", "iconName:broken", "iconName:../star",
          "iconName:Resources/star", "iconName:star.png", "iconName:."}) {
        SCOPED_TRACE(value);
        EXPECT_FALSE(iconSize("sendKey", QString::fromUtf8(value)));
    }
    // The prefix is case-sensitive: anything else is taken as base64 data, which this is not.
    EXPECT_FALSE(iconSize("sendKey", QStringLiteral("IconName:star")));
}

TEST_F(TapdeckCommandIcon, TintColoursBundleImagesButNotImageData) {
    TapdeckCommand command(QStringLiteral("n"), QStringLiteral("x"), QStringLiteral("p"),
                           QStringLiteral("iconName:star"));
    const auto plain = command.iconImageWithTintColor(std::nullopt);
    const auto green = command.iconImageWithTintColor(QColor(Qt::green));
    ASSERT_TRUE(plain && green);
    EXPECT_EQ(green->size(), QSize(16, 8));
    EXPECT_EQ(plain->pixelColor(12, 4), QColor(Qt::red));
    EXPECT_EQ(green->pixelColor(12, 4), QColor(Qt::green));
    EXPECT_EQ(green->pixelColor(2, 4).alpha(), 0); // transparency kept
    EXPECT_EQ(command.iconImage()->pixelColor(12, 4), QColor(Qt::red));

    // An invalid colour leaves the image as it is.
    EXPECT_EQ(command.iconImageWithTintColor(QColor())->pixelColor(12, 4), QColor(Qt::red));

    TapdeckCommand byType(QStringLiteral("n"), QStringLiteral("openUrl"), QStringLiteral("p"));
    EXPECT_EQ(byType.iconImageWithTintColor(QColor(Qt::yellow))->pixelColor(3, 3), QColor(Qt::yellow));

    command.iconImageEncoded = QString::fromLatin1(encoded(picture(5, 7, Qt::red), "png").toBase64());
    const auto data = command.iconImageWithTintColor(QColor(Qt::green));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->size(), QSize(5, 7));
    EXPECT_EQ(data->pixelColor(2, 2), QColor(Qt::red));
}

TEST_F(TapdeckCommandIcon, Base64DataMustBeStrictAndHoldAPicture) {
    // A picture whose base64 text needs "=" padding.
    int width = 9;
    QByteArray png = encoded(picture(width, 4, Qt::red), "png");
    while (png.size() % 3 == 0)
        png = encoded(picture(++width, 4, Qt::red), "png");
    const QString good = QString::fromLatin1(png.toBase64());
    EXPECT_EQ(iconSize("sendKey", good), QSize(width, 4));
    EXPECT_EQ(iconSize("sendKey", QString::fromLatin1(encoded(picture(6, 3), "bmp").toBase64())),
              QSize(6, 3));

    QString unpadded = good;
    while (unpadded.endsWith(u'='))
        unpadded.chop(1);
    ASSERT_NE(unpadded.size() % 4, 0);

    QString withBreak = good;
    withBreak.insert(8, u'\n');
    QString nonAscii = good;
    nonAscii[4] = QChar(0x00e9);
    QString urlAlphabet = good;
    urlAlphabet.replace(u'+', u'-').replace(u'/', u'_');
    const std::optional<QString> refused[] = {
        QString(""),                                                             // empty: no data
        unpadded,                                                                // "=" padding missing
        withBreak,                                                               // a line break inside
        good + QStringLiteral(" "),                                              // trailing blank
        nonAscii,                                                                // a character outside ASCII
        good + QStringLiteral("===="),                                           // padding where none belongs
        QString::fromLatin1(QByteArray("plain text, not a picture").toBase64()), // data, but no picture
        QStringLiteral("abc"), // shorter than the "iconName:" prefix
        QStringLiteral("iconNam"),
    };
    for (const auto& value : refused) {
        SCOPED_TRACE(value->left(40).toStdString());
        EXPECT_FALSE(iconSize("sendKey", value));
    }
    if (urlAlphabet != good) {
        EXPECT_FALSE(iconSize("sendKey", urlAlphabet)); // the URL-safe alphabet is not the standard one
    }
}

TEST_F(TapdeckCommandIcon, StoredPicturesAreScaledSoTheLongerSideIsAtMost200) {
    struct Case {
        QSize picture;
        QSize stored;
    };
    const Case cases[] = {
        {{400, 100}, {200, 50}},
        {{100, 400}, {50, 200}},
        {{300, 300}, {200, 200}},
        {{150, 100}, {150, 100}},
        {{100, 150}, {100, 150}},
        {{200, 200}, {200, 200}},
        {{201, 3}, {200, 3}},
        {{1, 1}, {1, 1}},
        // A long thin picture keeps a side of one pixel rather than vanishing.
        {{1000, 1}, {200, 1}},
        {{2, 5000}, {1, 200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.picture.width()) + "x" + std::to_string(c.picture.height()));
        TapdeckCommand command(QStringLiteral("n"), QStringLiteral("sendKey"), QStringLiteral("p"),
                               QStringLiteral("iconName:star"));
        command.setIconImage(picture(c.picture.width(), c.picture.height()));
        ASSERT_TRUE(command.iconImageEncoded);
        EXPECT_FALSE(command.iconImageEncoded->startsWith(QStringLiteral("iconName:")));
        const QByteArray bytes = QByteArray::fromBase64(command.iconImageEncoded->toLatin1());
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer);
        EXPECT_EQ(reader.format(), "jpeg");
        EXPECT_EQ(reader.size(), c.stored);
        // The stored text reads back as the icon.
        EXPECT_EQ(command.iconImage()->size(), c.stored);
    }

    // Sizes are in points: a picture at twice the density is already small enough.
    QImage dense = picture(400, 100);
    dense.setDevicePixelRatio(2.0);
    TapdeckCommand command(QStringLiteral("n"), QStringLiteral("sendKey"), QStringLiteral("p"));
    command.setIconImage(dense);
    EXPECT_EQ(command.iconImage()->size(), QSize(200, 50));
}

TEST_F(TapdeckCommandIcon, SettingNoImageLogsAndKeepsTheIcon) {
    LogCapture log;
    TapdeckCommand command(QStringLiteral("n"), QStringLiteral("sendKey"), QStringLiteral("p"),
                           QStringLiteral("iconName:star"));
    command.setIconImage(std::nullopt);
    EXPECT_TRUE(log.hasError("Failed to set icon image: Invalid image."));
    EXPECT_EQ(command.iconImageEncoded, QStringLiteral("iconName:star"));

    // A picture that cannot be drawn cannot be encoded: the icon is left with no value.
    log.clear();
    command.setIconImage(QImage());
    EXPECT_TRUE(log.hasError("Invalid Image"));
    EXPECT_FALSE(command.iconImageEncoded);
}

TEST_F(TapdeckCommandIcon, EncodingGivesPaddedBase64JpegOnWhite) {
    const QImage image = halfTransparent(40, 20);
    const auto text = TapdeckCommand::base64StringConvertedFromImage(image, 40.0f, 20.0f, 1.0f);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size() % 4, 0);
    EXPECT_FALSE(text->contains(u'\n'));
    EXPECT_FALSE(text->contains(u'\r'));
    const QImage decoded = QImage::fromData(QByteArray::fromBase64(text->toLatin1()), "jpeg");
    ASSERT_FALSE(decoded.isNull());
    EXPECT_EQ(decoded.size(), QSize(40, 20));
    // Transparent parts come out white; the red half stays red (within JPEG's error).
    const QColor left = decoded.pixelColor(5, 10);
    const QColor right = decoded.pixelColor(35, 10);
    EXPECT_GT(left.red(), 240);
    EXPECT_GT(left.green(), 240);
    EXPECT_GT(left.blue(), 240);
    EXPECT_GT(right.red(), 200);
    EXPECT_LT(right.green(), 60);

    // Lower quality compresses more.
    QImage noisy(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            noisy.setPixel(x, y, qRgb((x * 37 + y * 91) % 256, (x * x + y) % 256, (x ^ y) * 4 % 256));
    const auto best = TapdeckCommand::base64StringConvertedFromImage(noisy, 64, 64, 1.0f);
    const auto low = TapdeckCommand::base64StringConvertedFromImage(noisy, 64, 64, 0.1f);
    ASSERT_TRUE(best && low);
    EXPECT_LT(low->size(), best->size());

    // The size is used as given, without keeping the ratio.
    const auto stretched = TapdeckCommand::base64StringConvertedFromImage(noisy, 10.0f, 30.0f, 0.8f);
    ASSERT_TRUE(stretched);
    EXPECT_EQ(QImage::fromData(QByteArray::fromBase64(stretched->toLatin1())).size(), QSize(10, 30));
}

TEST_F(TapdeckCommandIcon, EncodingRefusesPicturesAndSizesThatCannotBeDrawn) {
    LogCapture log;
    EXPECT_FALSE(TapdeckCommand::base64StringConvertedFromImage(QImage(), 10, 10, 1.0f));
    EXPECT_TRUE(log.hasError("Invalid Image"));
    const QImage image = picture(10, 10);
    for (float side : {0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity(), 1e30f}) {
        SCOPED_TRACE(side);
        EXPECT_FALSE(TapdeckCommand::base64StringConvertedFromImage(image, side, 10, 1.0f));
        EXPECT_FALSE(TapdeckCommand::base64StringConvertedFromImage(image, 10, side, 1.0f));
    }
    // A side below one point still makes a one-pixel picture.
    const auto tiny = TapdeckCommand::base64StringConvertedFromImage(image, 0.2f, 0.2f, 1.0f);
    ASSERT_TRUE(tiny);
    EXPECT_EQ(QImage::fromData(QByteArray::fromBase64(tiny->toLatin1())).size(), QSize(1, 1));
}
