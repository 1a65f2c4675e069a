// The reader's text() and ecLevel() return UTF-8 std::string with this set.
#define ZX_USE_UTF8

#include "core/Utils.h"

#include <QImage>
#include <QPainter>
#include <QString>
#include <ZXing/ReadBarcode.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <string>

namespace {

constexpr QRgb kBlack = 0xff000000;
constexpr QRgb kWhite = 0xffffffff;

// The machine-information document as the main window hands it over.
const QString kMachineInfo = QString::fromUtf8(
    R"js({"MachineName":"Conference Room Mac","MachineId":"3F2A9C1B7D4E4A6F8B0C1D2E3F4A5B6C",)js"
    R"js("PcAppVersion":"1.0.0","OsVersion":"macOS Version 14.4.1 (Build 23E224)","OfficeVersion":"",)js"
    R"js("IpAddressList":["192.168.1.20","10.0.0.5"]})js");

// Lower-case letters keep a text out of the numeric and alphanumeric modes, so it is encoded in byte mode.
QString bytesText(int length) {
    QString text;
    for (int i = 0; i < length; ++i)
        text.append(QChar(u'a' + i % 26));
    return text;
}

// Where the symbol lies in an image, measured from its pixels: the dark pixels' bounding box is the symbol,
// since the three finder patterns put dark modules on its first and last rows and columns; the top-left
// finder's top edge is a run of seven dark modules, which gives the module size.
struct Layout {
    int left = -1, top = -1, right = -1, bottom = -1; // right and bottom exclusive
    int scale = 0;
    int modules = 0;
};

Layout measure(const QImage& image) {
    Layout l;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != kBlack)
                continue;
            if (l.left < 0 || x < l.left)
                l.left = x;
            if (l.top < 0)
                l.top = y;
            l.right = std::max(l.right, x + 1);
            l.bottom = y + 1;
        }
    }
    if (l.left < 0)
        return l;
    int run = 0;
    while (l.left + run < image.width() && image.pixel(l.left + run, l.top) == kBlack)
        ++run;
    l.scale = run / 7;
    l.modules = l.scale > 0 ? (l.right - l.left) / l.scale : 0;
    return l;
}

// Every pixel is opaque black or opaque white, and each module is a uniform square of scale pixels.
testing::AssertionResult drawnInWholeModules(const QImage& image, const Layout& l) {
    if (image.hasAlphaChannel())
        return testing::AssertionFailure() << "the image has an alpha channel";
    if (l.scale <= 0)
        return testing::AssertionFailure() << "no symbol found";
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (p != kBlack && p != kWhite)
                return testing::AssertionFailure() << "pixel (" << x << "," << y << ") is " << std::hex << p;
            const bool inside = x >= l.left && x < l.right && y >= l.top && y < l.bottom;
            if (!inside)
                continue;
            const int cornerX = l.left + (x - l.left) / l.scale * l.scale;
            const int cornerY = l.top + (y - l.top) / l.scale * l.scale;
            if (p != image.pixel(cornerX, cornerY))
                return testing::AssertionFailure()
                       << "the module holding (" << x << "," << y << ") is not uniform";
        }
    }
    return testing::AssertionSuccess();
}

// The module at (mx, my) of the symbol, read at its top-left pixel.
bool dark(const QImage& image, const Layout& l, int mx, int my) {
    return image.pixel(l.left + mx * l.scale, l.top + my * l.scale) == kBlack;
}

// The three finder patterns with their light separators, at the corners where the symbol places them.
testing::AssertionResult hasFinderPatterns(const QImage& image, const Layout& l) {
    const int n = l.modules;
    if (l.scale <= 0 || n < 21)
        return testing::AssertionFailure() << "no symbol found";
    const int origins[3][2] = {{0, 0}, {n - 7, 0}, {0, n - 7}};
    for (const auto& o : origins) {
        for (int dy = -1; dy <= 7; ++dy) {
            for (int dx = -1; dx <= 7; ++dx) {
                const int mx = o[0] + dx, my = o[1] + dy;
                if (mx < 0 || my < 0 || mx >= n || my >= n)
                    continue;
                const int ring = std::max(std::abs(dx - 3), std::abs(dy - 3)); // 0..4 from the centre
                const bool expected = ring <= 1 || ring == 3;
                if (dark(image, l, mx, my) != expected)
                    return testing::AssertionFailure()
                           << "module (" << mx << "," << my << ") of the finder at (" << o[0] << "," << o[1]
                           << ")";
            }
        }
    }
    return testing::AssertionSuccess();
}

// The image with a white quiet zone of quiet pixels around it, read by the ZXing reader.
ZXing::Result readBack(const QImage& image, int quiet = 16) {
    QImage padded(image.width() + 2 * quiet, image.height() + 2 * quiet, QImage::Format_Grayscale8);
    padded.fill(Qt::white);
    {
        QPainter painter(&padded);
        painter.drawImage(quiet, quiet, image);
    }
    const ZXing::ImageView view(padded.constBits(), padded.width(), padded.height(), ZXing::ImageFormat::Lum,
                                int(padded.bytesPerLine()));
    return ZXing::ReadBarcode(view, ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::QRCode));
}

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

// A 250-byte text needs version 10 at level L with the UTF-8 ECI: 57 modules, 3 pixels each, 171 pixels,
// with 14 white pixels before and 15 after on each axis.
TEST(QRCode, Version10In200By200IsThreePixelsPerModuleWith14And15WhitePixels) {
    const QString text = bytesText(250);
    const QImage image = Utils::GenerateQRCode(text, 200, 200);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(200, 200));
    EXPECT_EQ(image.devicePixelRatio(), 1.0);

    const Layout l = measure(image);
    EXPECT_EQ(l.modules, 57);
    EXPECT_EQ(l.scale, 3);
    EXPECT_EQ(l.left, 14);
    EXPECT_EQ(l.top, 14);
    EXPECT_EQ(200 - l.right, 15);
    EXPECT_EQ(200 - l.bottom, 15);
    EXPECT_TRUE(drawnInWholeModules(image, l));
    EXPECT_TRUE(hasFinderPatterns(image, l));
    // The pixel rows and columns next to the symbol are white, the symbol's corners black.
    EXPECT_EQ(image.pixel(13, 14), kWhite);
    EXPECT_EQ(image.pixel(14, 13), kWhite);
    EXPECT_EQ(image.pixel(14, 14), kBlack);
    EXPECT_EQ(image.pixel(184, 14), kBlack);
    EXPECT_EQ(image.pixel(185, 14), kWhite);
    EXPECT_EQ(image.pixel(14, 184), kBlack);
    EXPECT_EQ(image.pixel(14, 185), kWhite);

    const ZXing::Result read = readBack(image);
    ASSERT_TRUE(read.isValid()) << ZXing::ToString(read.error());
    EXPECT_EQ(read.text(), utf8(text));
    EXPECT_EQ(read.ecLevel(), "L");
    EXPECT_TRUE(read.hasECI());
}

// A 20-byte text is version 2, 25 modules: 8 pixels each fill 200 pixels edge to edge, no white border.
TEST(QRCode, Version2In200By200FillsTheImageAtEightPixelsPerModule) {
    const QString text = QStringLiteral("podiumcast pairing 1");
    const QImage image = Utils::GenerateQRCode(text, 200, 200);
    ASSERT_EQ(image.size(), QSize(200, 200));

    const Layout l = measure(image);
    EXPECT_EQ(l.modules, 25);
    EXPECT_EQ(l.scale, 8);
    EXPECT_EQ(l.left, 0);
    EXPECT_EQ(l.top, 0);
    EXPECT_EQ(l.right, 200);
    EXPECT_EQ(l.bottom, 200);
    EXPECT_TRUE(drawnInWholeModules(image, l));
    EXPECT_TRUE(hasFinderPatterns(image, l));
    EXPECT_EQ(image.pixel(0, 0), kBlack);
    EXPECT_EQ(image.pixel(199, 0), kBlack);
    EXPECT_EQ(image.pixel(0, 199), kBlack);

    const ZXing::Result read = readBack(image);
    ASSERT_TRUE(read.isValid()) << ZXing::ToString(read.error());
    EXPECT_EQ(read.text(), utf8(text));
    EXPECT_EQ(read.ecLevel(), "L");
}

// The UTF-8 ECI takes 12 bits: 31 bytes still fit version 2 at level L with it, 32 do not (without it
// they would). At version 40, 2952 bytes fit and 2953 do not.
TEST(QRCode, ByteCapacityLeavesRoomForTheUtf8Eci) {
    EXPECT_EQ(measure(Utils::GenerateQRCode(bytesText(31), 200, 200)).modules, 25);
    EXPECT_EQ(measure(Utils::GenerateQRCode(bytesText(32), 200, 200)).modules, 29);

    const QImage largest = Utils::GenerateQRCode(bytesText(2952), 200, 200);
    ASSERT_EQ(largest.size(), QSize(200, 200));
    const Layout l = measure(largest);
    EXPECT_EQ(l.modules, 177);
    EXPECT_EQ(l.scale, 1);
    EXPECT_EQ(l.left, 11);
    EXPECT_EQ(200 - l.right, 12);
    EXPECT_TRUE(hasFinderPatterns(largest, l));

    EXPECT_TRUE(Utils::GenerateQRCode(bytesText(2953), 200, 200).isNull());
    // Capacity counts UTF-8 bytes: three per CJK character.
    EXPECT_FALSE(Utils::GenerateQRCode(QString(984, QChar(0x4E2D)), 200, 200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(QString(985, QChar(0x4E2D)), 200, 200).isNull());
}

// Any text that fits gives 200 by 200, the symbol centred in whole pixels per module: the largest module
// size that fits, half the leftover (rounded down) before the symbol, and it reads back as the same text.
TEST(QRCode, AnyTextThatFitsIsCentredIn200By200AndReadsBack) {
    const QString texts[] = {
        QStringLiteral("a"),
        QStringLiteral("Hello, presenter!"),
        QStringLiteral("0123456789"),
        QStringLiteral("PODIUMCAST 42"),
        QString::fromUtf8("张三的 MacBook Pro"),
        QString::fromUtf8("Salle de réunion – Zoë’s Mac 🎤"),
        kMachineInfo,
        QString::fromUtf8(
            R"({"MachineName":"李雷的iMac","MachineId":"00FF","IpAddressList":["192.168.1.20"]})"),
        bytesText(1000),
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.left(40).toStdString());
        const QImage image = Utils::GenerateQRCode(text, 200, 200);
        ASSERT_EQ(image.size(), QSize(200, 200));
        const Layout l = measure(image);
        ASSERT_GT(l.scale, 0);
        EXPECT_EQ((l.modules - 17) % 4, 0) << l.modules << " modules";
        EXPECT_EQ(l.right - l.left, l.modules * l.scale);
        EXPECT_EQ(l.bottom - l.top, l.modules * l.scale);
        EXPECT_EQ(l.scale, 200 / l.modules);
        const int leftover = 200 - l.modules * l.scale;
        EXPECT_EQ(l.left, leftover / 2);
        EXPECT_EQ(l.top, leftover / 2);
        EXPECT_TRUE(drawnInWholeModules(image, l));
        EXPECT_TRUE(hasFinderPatterns(image, l));

        const ZXing::Result read = readBack(image);
        ASSERT_TRUE(read.isValid()) << ZXing::ToString(read.error());
        EXPECT_EQ(read.text(), utf8(text));
        EXPECT_EQ(read.ecLevel(), "L");
    }
}

// Byte-mode texts carry the UTF-8 ECI; texts all in the numeric or alphanumeric set are encoded in those
// modes, which have none.
TEST(QRCode, Utf8EciPrecedesByteModeOnly) {
    const auto eci = [](const QString& text) {
        return readBack(Utils::GenerateQRCode(text, 200, 200)).hasECI();
    };
    EXPECT_TRUE(eci(kMachineInfo));
    EXPECT_TRUE(eci(QString::fromUtf8("张三的 MacBook Pro")));
    EXPECT_TRUE(eci(QStringLiteral("plain ascii")));
    EXPECT_FALSE(eci(QStringLiteral("0123456789")));
    EXPECT_FALSE(eci(QStringLiteral("PODIUMCAST 42")));
}

// Sizes are truncated toward zero and taken as height first, then width; a request smaller than the symbol
// gives the symbol at one pixel per module.
TEST(QRCode, RequestedSize) {
    const QString text = QStringLiteral("podiumcast pairing 1"); // 25 modules

    const QImage wide = Utils::GenerateQRCode(text, 100, 300);
    ASSERT_EQ(wide.size(), QSize(300, 100));
    Layout l = measure(wide);
    EXPECT_EQ(l.scale, 4);
    EXPECT_EQ(l.left, 100);
    EXPECT_EQ(l.top, 0);
    EXPECT_TRUE(drawnInWholeModules(wide, l));

    const QImage truncated = Utils::GenerateQRCode(text, 200.9, 199.99);
    EXPECT_EQ(truncated.size(), QSize(199, 200));
    l = measure(truncated);
    EXPECT_EQ(l.scale, 7);
    EXPECT_EQ(l.left, 12);
    EXPECT_EQ(l.top, 12);

    for (const QSize request : {QSize(10, 10), QSize(0, 0), QSize(25, 25)}) {
        const QImage small = Utils::GenerateQRCode(text, request.height(), request.width());
        ASSERT_EQ(small.size(), QSize(25, 25));
        l = measure(small);
        EXPECT_EQ(l.scale, 1);
        EXPECT_TRUE(hasFinderPatterns(small, l));
        const ZXing::Result read = readBack(small);
        ASSERT_TRUE(read.isValid()) << ZXing::ToString(read.error());
        EXPECT_EQ(read.text(), utf8(text));
    }
    // One side below the symbol, the other above it: the small side grows to 25, scale stays 1.
    EXPECT_EQ(Utils::GenerateQRCode(text, 10, 60).size(), QSize(60, 25));
}

TEST(QRCode, NoImage) {
    EXPECT_TRUE(Utils::GenerateQRCode(std::nullopt, 200, 200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(QString(), 200, 200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(QStringLiteral(""), 200, 200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(bytesText(4000), 200, 200).isNull());
    EXPECT_TRUE(
        Utils::GenerateQRCode(QString(3000, QChar(u'7')).repeated(3), 200, 200).isNull()); // > 7089 digits

    const QString text = QStringLiteral("podiumcast");
    EXPECT_TRUE(Utils::GenerateQRCode(text, -1, 200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(text, 200, -200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(text, std::nan(""), 200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(text, 200, std::numeric_limits<double>::infinity()).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(text, 1e12, 200).isNull());
    EXPECT_TRUE(Utils::GenerateQRCode(text, 200, Utils::kMaxSide + 1).isNull());
    EXPECT_EQ(Utils::GenerateQRCode(text, 25, Utils::kMaxSide).size(), QSize(Utils::kMaxSide, 25));
}
