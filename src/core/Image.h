#pragma once

#include "core/AtomicValue.h"
#include "core/BFEdgeInsets.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

class BFImage;
class QPainter;

// How a drawing combines the picture with what the target already holds.
enum class CompositingOperation : quint64 {
    Clear = 0,
    Copy = 1,
    SourceOver = 2,
    SourceIn = 3,
    SourceOut = 4,
    SourceAtop = 5,
    DestinationOver = 6,
    DestinationIn = 7,
    DestinationOut = 8,
    DestinationAtop = 9,
    Xor = 10,
};

// A picture with a size in points of its own. The bitmap is fixed when the image is made, so an image is
// shared between threads by its shared pointer and every holder sees the same object; the size may be
// set apart from the bitmap, and drawing maps the whole bitmap onto the size.
//
// Coordinates: a source rectangle is in the image's own space (origin at its bottom-left corner, y
// growing upward); a destination rectangle is in the painter's space (Qt's: origin top-left, y growing
// downward). Every bitmap this class makes has one pixel per point.
class Image {
public:
    // An image of the bitmap, sized by the bitmap's device-independent size.
    explicit Image(QImage bitmap);
    // An image of the bitmap with a size of its own; a null bitmap makes an image that cannot be drawn.
    Image(QImage bitmap, QSizeF size);
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    virtual ~Image();

    // The picture in a file. A file with no readable picture gives an image that cannot be drawn, sized
    // from the file's header when the header at least is readable.
    static std::shared_ptr<Image> imageByReferencingFile(const QString& path);
    // A new image of the size, its picture painted by draw on a transparent bitmap, with the painter in
    // points (origin top-left). A size without a positive and plausible width and height gives an image of
    // that size that cannot be drawn; draw is then not called.
    static std::shared_ptr<Image> imageWithSize(QSizeF size, const std::function<void(QPainter&)>& draw = {});
    // The bitmap size for a size in points: one pixel per point, at least one pixel a side. Nothing for a
    // size without a positive width and height, or too large to hold (over 16384 pixels a side).
    static std::optional<QSize> pixelSizeFor(QSizeF size);

    // Whether there is a bitmap to draw.
    bool isValid() const;
    QSizeF size() const;
    void setSize(QSizeF size);
    QImage bitmap() const;

    // Draws the part fromRect of the picture (a null rectangle: the whole picture) into dst. The flip flag
    // and the hints change nothing here: pictures are always drawn upright.
    void drawInRect(QPainter& painter, const QRectF& dst, const QRectF& fromRect,
                    CompositingOperation operation, double fraction);
    virtual void drawInRect(QPainter& painter, const QRectF& dst, const QRectF& fromRect,
                            CompositingOperation operation, double fraction, bool respectFlipped,
                            const QVariantMap& hints);
    // The whole picture into dst, source-over, opaque.
    virtual void drawInRect(QPainter& painter, const QRectF& dst);

    // A new image of exactly newSize holding the whole picture, or nothing when this image cannot be
    // drawn or newSize gives no bitmap (then this image is left as it was). The change lasts: this image's
    // own size becomes newSize.
    std::shared_ptr<Image> resizeImageToNewSize(QSizeF newSize);
    // A new image of the rectangle (fromPoint, size) of the bitmap, in pixels from its top-left corner and
    // rounded outward to whole pixels, cut to the part inside the bitmap; its size is the cut's pixel size.
    // Nothing when no pixel of the bitmap lies inside.
    std::shared_ptr<Image> cropImageToSize(QSizeF size, QPointF fromPoint) const;
    // A stretchable copy with the insets top = bottom = topCapHeight, left = right = leftCapWidth.
    std::shared_ptr<BFImage> stretchableImageWithLeftCapWidth(double leftCapWidth, double topCapHeight) const;
    std::shared_ptr<BFImage> stretchableImageWithEdgeInsets(BFEdgeInsets insets) const;

private:
    const QImage bitmap_;
    AtomicValue<QSizeF> size_;
};
