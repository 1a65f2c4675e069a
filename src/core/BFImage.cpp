#include "BFImage.h"

#include <QPainter>
#include <algorithm>

BFImage::BFImage(QImage bitmap, BFEdgeInsets insets)
    : Image(bitmap, QSizeF(bitmap.size()))
    , stretchInsets_(insets) {}

std::shared_ptr<BFImage> BFImage::initWithImage(const Image& image, BFEdgeInsets insets) {
    if (!image.isValid())
        return nullptr;
    QImage bitmap = image.bitmap();
    bitmap.setDevicePixelRatio(1);
    return std::shared_ptr<BFImage>(new BFImage(std::move(bitmap), insets));
}

std::shared_ptr<Image> BFImage::sliceFromRect(const QRectF& rect) {
    return Image::imageWithSize(rect.size(), [&](QPainter& painter) {
        drawInRect(painter, QRectF(QPointF(0, 0), rect.size()), rect, CompositingOperation::Copy, 1.0);
    });
}

void BFImage::setSliceImages(std::optional<Slices> slices) {
    std::lock_guard lock(monitor_);
    sliceImages_ = std::move(slices);
}

BFImage::Slices BFImage::sliceImages() {
    std::lock_guard lock(monitor_);
    if (sliceImages_)
        return *sliceImages_;

    // While the flag is up this image draws as a plain picture, which is how the pieces are cut.
    struct SlicingFlag {
        BFImage& image;
        explicit SlicingFlag(BFImage& i)
            : image(i) {
            image.setSlicing(true);
        }
        ~SlicingFlag() { image.setSlicing(false); }
    } flag(*this);

    const BFEdgeInsets insets = stretchInsets();
    const QSizeF own = size();
    const double w = own.width();
    const double h = own.height();
    const double t = insets.top;
    const double l = insets.left;
    const double b = insets.bottom;
    const double r = insets.right;
    // Rectangles in the image's own space: origin bottom-left, y upward.
    const Slices slices = {
        sliceFromRect(QRectF(0, h - t, l, t)),
        sliceFromRect(QRectF(l, h - t, w - l - r, t)),
        sliceFromRect(QRectF(w - r, h - t, r, t)),
        sliceFromRect(QRectF(0, b, l, h - t - b)),
        sliceFromRect(QRectF(l, b, w - l - r, h - t - b)),
        sliceFromRect(QRectF(w - r, b, r, h - t - b)),
        sliceFromRect(QRectF(0, 0, l, b)),
        sliceFromRect(QRectF(l, 0, w - l - r, b)),
        sliceFromRect(QRectF(w - r, 0, r, b)),
    };
    sliceImages_ = slices;
    return slices;
}

void BFImage::drawInRect(QPainter& painter, const QRectF& dst, const QRectF& fromRect,
                         CompositingOperation operation, double fraction, bool respectFlipped,
                         const QVariantMap& hints) {
    if (slicing()) {
        Image::drawInRect(painter, dst, fromRect, operation, fraction, respectFlipped, hints);
        return;
    }
    const QSizeF size = dst.size();
    if (cachedImageSize() != size) {
        setCachedImage(nullptr);
        setCachedImageSize(size);
    }
    std::shared_ptr<Image> cached = cachedImage();
    // The second test catches a cache that a drawing at another size on another thread stored meanwhile.
    if (!cached || cached->size() != size) {
        const Slices slices = sliceImages();
        cached = Image::imageWithSize(size, [&](QPainter& target) {
            drawNinePartImage(target, QRectF(QPointF(0, 0), size), slices, CompositingOperation::SourceOver,
                              1.0);
        });
        if (!cached->isValid())
            return;
        setCachedImage(cached);
    }
    // The cached picture goes where the caller asked, whatever the destination's origin.
    cached->drawInRect(painter, QRectF(dst.topLeft(), size), QRectF(), CompositingOperation::SourceOver, 1.0);
}

void BFImage::drawInRect(QPainter& painter, const QRectF& dst) {
    if (slicing()) {
        Image::drawInRect(painter, dst, QRectF(), CompositingOperation::SourceOver, 1.0, false, {});
        return;
    }
    drawNinePartImage(painter, dst, sliceImages(), CompositingOperation::SourceOver, 1.0);
}

void BFImage::drawNinePartImage(QPainter& painter, const QRectF& frame, const Slices& slices,
                                CompositingOperation operation, double alpha) {
    const auto extent = [](const std::shared_ptr<Image>& piece) {
        return piece ? piece->size() : QSizeF();
    };
    // std::max keeps 0 for a negative or NaN extent.
    const double left = std::max(0.0, extent(slices[0]).width());
    const double top = std::max(0.0, extent(slices[0]).height());
    const double right = std::max(0.0, extent(slices[8]).width());
    const double bottom = std::max(0.0, extent(slices[8]).height());

    const double x0 = frame.left();
    const double x1 = x0 + left;
    const double x3 = frame.right();
    const double x2 = x3 - right;
    const double y0 = frame.top();
    const double y1 = y0 + top;
    const double y3 = frame.bottom();
    const double y2 = y3 - bottom;
    const std::array<QRectF, 9> areas = {
        QRectF(QPointF(x0, y0), QPointF(x1, y1)), QRectF(QPointF(x1, y0), QPointF(x2, y1)),
        QRectF(QPointF(x2, y0), QPointF(x3, y1)), QRectF(QPointF(x0, y1), QPointF(x1, y2)),
        QRectF(QPointF(x1, y1), QPointF(x2, y2)), QRectF(QPointF(x2, y1), QPointF(x3, y2)),
        QRectF(QPointF(x0, y2), QPointF(x1, y3)), QRectF(QPointF(x1, y2), QPointF(x2, y3)),
        QRectF(QPointF(x2, y2), QPointF(x3, y3)),
    };
    for (size_t i = 0; i < slices.size(); ++i) {
        if (slices[i] && areas[i].width() > 0 && areas[i].height() > 0)
            slices[i]->drawInRect(painter, areas[i], QRectF(), operation, alpha);
    }
}
