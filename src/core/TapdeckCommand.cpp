#include "TapdeckCommand.h"

#include "Logger.h"
#include "platform/Bundle.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

const QString kIconNamePrefix = QStringLiteral("iconName:");
constexpr double kLongestIconSide = 200.0;

// An image of the application bundle, looked up by name among its PNG resources.
std::optional<QImage> applicationImage(const QString& name) {
    if (name.isEmpty())
        return std::nullopt;
    const auto path = platform::Bundle::main()->pathForResource(name, QStringLiteral("png"));
    if (!path)
        return std::nullopt;
    QImage image(*path);
    if (image.isNull())
        return std::nullopt;
    return image;
}

// A copy of the image in one colour, its transparency kept.
QImage tinted(const QImage& image, const QColor& color) {
    QImage copy = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&copy);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(copy.rect(), color);
    painter.end();
    return copy;
}

std::optional<QImage> maybeTinted(std::optional<QImage> image, const std::optional<QColor>& tintColor) {
    if (image && tintColor && tintColor->isValid())
        return tinted(*image, *tintColor);
    return image;
}

// Strict standard base64: ASCII only, a length that is a multiple of four (the "=" padding the standard
// requires), no characters outside the alphabet. Absent or empty text decodes to nothing.
std::optional<QByteArray> decodeBase64(const QString& text) {
    if (text.isEmpty() || text.size() % 4 != 0)
        return std::nullopt;
    for (const QChar c : text) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
    }
    auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return std::nullopt;
    return std::move(decoded.decoded);
}

// A side in points as a whole number of pixels: at least one, nothing for a side no image can have.
std::optional<int> pixelSide(float points) {
    if (!std::isfinite(points) || points <= 0.0f || points > float(std::numeric_limits<int>::max() / 2))
        return std::nullopt;
    return std::max(1, int(std::lround(points)));
}

} // namespace

TapdeckCommand::TapdeckCommand(QString nameText, QString typeText, QString parameterText,
                               std::optional<QString> icon, bool needsConfirm)
    : name(std::move(nameText))
    , commandType(std::move(typeText))
    , parameter(std::move(parameterText))
    , iconImageEncoded(std::move(icon))
    , isNeedConfirm(needsConfirm) {}

std::optional<QImage> TapdeckCommand::iconImage() const {
    return iconImageWithTintColor(std::nullopt);
}

std::optional<QImage> TapdeckCommand::iconImageWithTintColor(const std::optional<QColor>& tintColor) const {
    if (!iconImageEncoded) {
        const bool ownIcon =
            commandType == u"sendKey" || commandType == u"openUrl" || commandType == u"launchApp";
        const QString imageName =
            ownIcon ? commandType + QStringLiteral("CommandIcon") : QStringLiteral("defaultCommandIcon");
        return maybeTinted(applicationImage(imageName), tintColor);
    }
    const QString& value = *iconImageEncoded;
    if (value.startsWith(kIconNamePrefix)) {
        // The name runs from the first ":" to the next one or to the end.
        const qsizetype start = kIconNamePrefix.size();
        const qsizetype end = value.indexOf(u':', start);
        const QString imageName = value.mid(start, end < 0 ? -1 : end - start);
        return maybeTinted(applicationImage(imageName), tintColor);
    }
    const auto data = decodeBase64(value);
    if (!data)
        return std::nullopt;
    QImage image = QImage::fromData(*data);
    if (image.isNull())
        return std::nullopt;
    return image;
}

void TapdeckCommand::setIconImage(const std::optional<QImage>& image) {
    if (!image) {
        LOG_ERROR("Failed to set icon image: Invalid image.");
        return;
    }
    const QSizeF size = image->deviceIndependentSize();
    const double w = size.width();
    const double h = size.height();
    double width = w;
    double height = h;
    if (w > h && w > kLongestIconSide) {
        width = kLongestIconSide;
        height = h * kLongestIconSide / w;
    } else if (h >= w && h > kLongestIconSide) {
        width = w * kLongestIconSide / h;
        height = kLongestIconSide;
    }
    iconImageEncoded = base64StringConvertedFromImage(*image, float(width), float(height), 1.0f);
}

std::optional<QString> TapdeckCommand::base64StringConvertedFromImage(const QImage& image, float width,
                                                                      float height, float quality) {
    if (image.isNull()) {
        LOG_ERROR("Invalid Image");
        return std::nullopt;
    }
    const auto pixelWidth = pixelSide(width);
    const auto pixelHeight = pixelSide(height);
    if (!pixelWidth || !pixelHeight)
        return std::nullopt;

    const QImage resized =
        image.scaled(*pixelWidth, *pixelHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (resized.isNull())
        return std::nullopt;
    // JPEG has no transparency: transparent parts come out white.
    QImage flat(resized.size(), QImage::Format_RGB32);
    if (flat.isNull())
        return std::nullopt;
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, resized);
    painter.end();

    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    const float boundedQuality = std::isfinite(quality) ? std::clamp(quality, 0.0f, 1.0f) : 1.0f;
    writer.setQuality(int(std::lround(boundedQuality * 100.0f)));
    if (!writer.write(flat)) {
        LOG_ERROR("Failed to encode the icon image as JPEG: {}", writer.errorString());
        return std::nullopt;
    }
    return QString::fromLatin1(jpeg.toBase64());
}
