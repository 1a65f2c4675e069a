// The reader's text() and ecLevel() return UTF-8 std::string with this set.
#define ZX_USE_UTF8

#include "core/Utils.h"

#include <QPainter>
#include <ZXing/ReadBarcode.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The image inside a white quiet zone, read by the ZXing reader.
ZXing::Result readBack(const QImage& image) {
    QImage padded(image.width() + 32, image.height() + 32, QImage::Format_Grayscale8);
    padded.fill(Qt::white);
    QPainter(&padded).drawImage(16, 16, image);
    return ZXing::ReadBarcode({padded.constBits(), padded.width(), padded.height(), ZXing::ImageFormat::Lum,
                               int(padded.bytesPerLine())},
                              ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::QRCode));
}

} // namespace

TEST(QRCode, TheTextReadsBackFromAnImageOfTheRequestedSize) {
    const struct {
        QString text;
        bool byteMode; // texts in the numeric or alphanumeric set have no character-set marker
    } cases[] = {
        {"0123456789", false},
        {"PODIUMCAST 42", false},
        {QString::fromUtf8("Salle de réunion – Zoë’s Mac 🎤 张三的"), true},
        {QString::fromUtf8(R"({"MachineName":"李雷的iMac","MachineId":"3F2A9C1B7D4E4A6F8B0C1D2E3F4A5B6C",)"
                           R"("PcAppVersion":"1.0.0","IpAddressList":["192.168.1.20","10.0.0.5"]})"),
         true},
    };
    for (const auto& c : cases) {
        const QImage image = Utils::GenerateQRCode(c.text, 200, 200);
        ASSERT_EQ(image.size(), QSize(200, 200)) << c.text.toStdString();
        EXPECT_FALSE(image.hasAlphaChannel());
        const ZXing::Result read = readBack(image);
        ASSERT_TRUE(read.isValid()) << ZXing::ToString(read.error());
        EXPECT_EQ(read.text(), c.text.toStdString());
        EXPECT_EQ(read.ecLevel(), "L");
        EXPECT_EQ(read.hasECI(), c.byteMode) << c.text.toStdString();
    }
    // No quiet zone of its own: 25 modules fill 200 pixels to the corners.
    const QImage filled = Utils::GenerateQRCode(QStringLiteral("podiumcast pairing 1"), 200, 200);
    for (const QPoint corner : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 199)})
        EXPECT_EQ(filled.pixel(corner), 0xff000000u);
    // Height first, then width; fractions are dropped.
    EXPECT_EQ(Utils::GenerateQRCode(QStringLiteral("podiumcast"), 100, 300).size(), QSize(300, 100));
    EXPECT_EQ(Utils::GenerateQRCode(QStringLiteral("podiumcast"), 200.9, 199.99).size(), QSize(199, 200));
    EXPECT_EQ(Utils::GenerateQRCode(QStringLiteral("podiumcast"), 25, Utils::kMaxSide).size(),
              QSize(Utils::kMaxSide, 25));
}

TEST(QRCode, NoImageForNoTextTooMuchTextOrAnImpossibleSize) {
    EXPECT_TRUE(Utils::GenerateQRCode(std::nullopt, 200, 200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(QString(""), 200, 200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(QString(2953, u'x'), 200, 200).isNull());
    for (const auto& [height, width] :
         std::initializer_list<std::pair<double, double>>{{-1, 200},
                                                          {200, -200},
                                                          {std::nan(""), 200},
                                                          {200, std::numeric_limits<double>::infinity()},
                                                          {1e12, 200},
                                                          {200, Utils::kMaxSide + 1}})
        EXPECT_TRUE(Utils::GenerateQRCode(QStringLiteral("podiumcast"), height, width).isNull())
            << height << width;
}
