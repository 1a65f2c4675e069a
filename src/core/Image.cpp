#include "Image.h"

#include "BFImage.h"
#include "Logger.h"

#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

// A bound on bitmap sides, so that a wild size (a script's garbage, a hostile document) never asks for
// gigabytes.
constexpr double kMaxPixelsPerSide = 16384;

QPainter::CompositionMode compositionModeOf(CompositingOperation operation) {
    switch (operation) {
    case CompositingOperation::Clear:
        return QPainter::CompositionMode_Clear;
    case CompositingOperation::Copy:
        return QPainter::CompositionMode_Source;
    case CompositingOperation::SourceOver:
        return QPainter::CompositionMode_SourceOver;
    case CompositingOperation::SourceIn:
        return QPainter::CompositionMode_SourceIn;
    case CompositingOperation::SourceOut:
        return QPainter::CompositionMode_SourceOut;
    case CompositingOperation::SourceAtop:
        return QPainter::CompositionMode_SourceAtop;
    case CompositingOperation::DestinationOver:
        return QPainter::CompositionMode_DestinationOver;
    case CompositingOperation::DestinationIn:
        return QPainter::CompositionMode_DestinationIn;
    case CompositingOperation::DestinationOut:
        return QPainter::CompositionMode_DestinationOut;
    case CompositingOperation::DestinationAtop:
        return QPainter::CompositionMode_DestinationAtop;
    case CompositingOperation::Xor:
        return QPainter::CompositionMode_Xor;
    }
    return QPainter::CompositionMode_SourceOver;
}

bool isPositive(QSizeF size) {
    return size.width() > 0 && size.height() > 0;
} // false for NaN too

} // namespace

Image::Image(QImage bitmap)
    : bitmap_(std::move(bitmap))
    , size_(bitmap_.isNull() ? QSizeF(0, 0) : bitmap_.deviceIndependentSize()) {}

Image::Image(QImage bitmap, QSizeF size)
    : bitmap_(std::move(bitmap))
    , size_(size) {}

Image::~Image() = default;

std::shared_ptr<Image> Image::imageByReferencingFile(const QString& path) {
    QImageReader reader(path);
    const QSize headerSize = reader.size();
    QImage picture = reader.read();
    if (picture.isNull())
        return std::make_shared<Image>(QImage(), headerSize.isValid() ? QSizeF(headerSize) : QSizeF(0, 0));
    return std::make_shared<Image>(std::move(picture));
}

std::optional<QSize> Image::pixelSizeFor(QSizeF size) {
    if (!isPositive(size) || size.width() > kMaxPixelsPerSide || size.height() > kMaxPixelsPerSide)
        return std::nullopt;
    return QSize(std::max(1, qRound(size.width())), std::max(1, qRound(size.height())));
}

std::shared_ptr<Image> Image::imageWithSize(QSizeF size, const std::function<void(QPainter&)>& draw) {
    const std::optional<QSize> pixels = pixelSizeFor(size);
    if (!pixels)
        return std::make_shared<Image>(QImage(), size);
    QImage bitmap(*pixels, QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull()) // out of memory
        return std::make_shared<Image>(QImage(), size);
    bitmap.fill(Qt::transparent);
    if (draw) {
        QPainter painter(&bitmap);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.scale(pixels->width() / size.width(), pixels->height() / size.height());
        draw(painter);
    }
    return std::make_shared<Image>(std::move(bitmap), size);
}

bool Image::isValid() const {
    return !bitmap_.isNull();
}

QSizeF Image::size() const {
    return size_.get();
}

void Image::setSize(QSizeF size) {
    size_.set(size);
}

QImage Image::bitmap() const {
    return bitmap_;
}

void Image::drawInRect(QPainter& painter, const QRectF& dst, const QRectF& fromRect,
                       CompositingOperation operation, double fraction) {
    drawInRect(painter, dst, fromRect, operation, fraction, false, {});
}

void Image::drawInRect(QPainter& painter, const QRectF& dst, const QRectF& fromRect,
                       CompositingOperation operation, double fraction, bool, const QVariantMap&) {
    const QSizeF own = size();
    if (bitmap_.isNull() || !isPositive(own) || !isPositive(dst.size()))
        return;
    const QRectF whole(QPointF(0, 0), QSizeF(bitmap_.size()));
    QRectF source = whole;
    QRectF target = dst;
    if (!fromRect.isNull()) {
        // From the image's own space (y upward, in points) to the bitmap's (y downward, in pixels).
        const double sx = bitmap_.width() / own.width();
        const double sy = bitmap_.height() / own.height();
        const QRectF wanted(fromRect.x() * sx, (own.height() - fromRect.y() - fromRect.height()) * sy,
                            fromRect.width() * sx, fromRect.height() * sy);
        if (!isPositive(wanted.size()))
            return;
        source = wanted.intersected(whole);
        if (!isPositive(source.size()))
            return;
        // The part of the wanted rectangle outside the bitmap holds nothing: shrink the target alike.
        const double kx = dst.width() / wanted.width();
        const double ky = dst.height() / wanted.height();
        target = QRectF(dst.x() + (source.x() - wanted.x()) * kx, dst.y() + (source.y() - wanted.y()) * ky,
                        source.width() * kx, source.height() * ky);
    }
    painter.save();
    painter.setCompositionMode(compositionModeOf(operation));
    painter.setOpacity(fraction);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, bitmap_, source);
    painter.restore();
}

void Image::drawInRect(QPainter& painter, const QRectF& dst) {
    drawInRect(painter, dst, QRectF(), CompositingOperation::SourceOver, 1.0);
}

std::shared_ptr<Image> Image::resizeImageToNewSize(QSizeF newSize) {
    if (!isValid()) {
        LOG_ERROR("Invalid Image");
        return nullptr;
    }
    bool drawn = false;
    auto resized = imageWithSize(newSize, [&](QPainter& painter) {
        setSize(newSize);
        // The whole picture, whatever size another holder of this image may set meanwhile.
        drawInRect(painter, QRectF(QPointF(0, 0), newSize), QRectF(), CompositingOperation::Copy, 1.0);
        drawn = true;
    });
    if (!drawn) {
        LOG_ERROR("Invalid image size {}x{}", newSize.width(), newSize.height());
        return nullptr;
    }
    return resized;
}

std::shared_ptr<Image> Image::cropImageToSize(QSizeF size, QPointF fromPoint) const {
    if (bitmap_.isNull())
        return nullptr;
    const QRectF wanted = QRectF(fromPoint, size).normalized();
    if (!std::isfinite(wanted.left()) || !std::isfinite(wanted.top()) || !std::isfinite(wanted.right()) ||
        !std::isfinite(wanted.bottom()))
        return nullptr;
    const double left = std::max(0.0, std::floor(wanted.left()));
    const double top = std::max(0.0, std::floor(wanted.top()));
    const double right = std::min(double(bitmap_.width()), std::ceil(wanted.right()));
    const double bottom = std::min(double(bitmap_.height()), std::ceil(wanted.bottom()));
    if (!(right > left && bottom > top))
        return nullptr;
    QImage cut = bitmap_.copy(QRect(int(left), int(top), int(right - left), int(bottom - top)));
    if (cut.isNull())
        return nullptr;
    cut.setDevicePixelRatio(1);
    const QSizeF pixels(cut.size());
    return std::make_shared<Image>(std::move(cut), pixels);
}

std::shared_ptr<BFImage> Image::stretchableImageWithLeftCapWidth(double leftCapWidth,
                                                                 double topCapHeight) const {
    return BFImage::initWithImage(*this,
                                  BFEdgeInsets{topCapHeight, leftCapWidth, topCapHeight, leftCapWidth});
}

std::shared_ptr<BFImage> Image::stretchableImageWithEdgeInsets(BFEdgeInsets insets) const {
    return BFImage::initWithImage(*this, insets);
}
