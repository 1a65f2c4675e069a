#pragma once

#include "core/AtomicValue.h"
#include "core/BFEdgeInsets.h"
#include "core/Image.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

// A stretchable picture: four insets cut it into nine pieces, and a stretched drawing keeps the corners at
// their size while the edges and the centre fill the rest. The pieces are cut on the first stretched
// drawing and kept; the picture assembled for one destination size is cached and reused while the size
// stays the same.
class BFImage : public Image {
public:
    // The nine pieces, in this order: top-left, top, top-right, left, centre, right, bottom-left, bottom,
    // bottom-right.
    using Slices = std::array<std::shared_ptr<Image>, 9>;

    // A stretchable copy of the image's bitmap, sized by the bitmap; nothing when the image has no bitmap.
    static std::shared_ptr<BFImage> initWithImage(const Image& image, BFEdgeInsets insets);

    // A new image of the rectangle's size holding that part (in the image's own space) of the picture; a
    // rectangle without a positive width and height gives an image that cannot be drawn.
    std::shared_ptr<Image> sliceFromRect(const QRectF& rect);
    // Replaces the pieces; nothing makes the next read cut them again from the current insets and size.
    void setSliceImages(std::optional<Slices> slices);
    // The pieces, cut from the insets and the image's own size on first use.
    Slices sliceImages();

    using Image::drawInRect;
    // The picture assembled for dst's size (cached by that size) drawn into dst. Source rectangle,
    // operation, fraction, flip flag and hints only count while the pieces are being cut, when the
    // image draws as a plain picture.
    void drawInRect(QPainter& painter, const QRectF& dst, const QRectF& fromRect,
                    CompositingOperation operation, double fraction, bool respectFlipped,
                    const QVariantMap& hints) override;
    // The nine pieces laid straight into dst on every call, source-over; the cache is neither read nor
    // changed.
    void drawInRect(QPainter& painter, const QRectF& dst) override;

    QSizeF cachedImageSize() const { return cachedImageSize_.get(); }
    void setCachedImageSize(QSizeF size) { cachedImageSize_.set(size); }
    std::shared_ptr<Image> cachedImage() const { return cachedImage_.get(); }
    void setCachedImage(std::shared_ptr<Image> image) { cachedImage_.set(std::move(image)); }
    bool slicing() const { return slicing_; }
    void setSlicing(bool slicing) { slicing_ = slicing; }
    BFEdgeInsets stretchInsets() const { return stretchInsets_.get(); }
    void setStretchInsets(BFEdgeInsets insets) { stretchInsets_.set(insets); }

private:
    BFImage(QImage bitmap, BFEdgeInsets insets);
    // Corners at their own size, edges and centre stretched over the rest of frame.
    static void drawNinePartImage(QPainter& painter, const QRectF& frame, const Slices& slices,
                                  CompositingOperation operation, double alpha);

    AtomicValue<QSizeF> cachedImageSize_{QSizeF(0, 0)};
    AtomicValue<std::shared_ptr<Image>> cachedImage_;
    std::recursive_mutex monitor_; // guards sliceImages_
    std::optional<Slices> sliceImages_;
    std::atomic<bool> slicing_{false};
    AtomicValue<BFEdgeInsets> stretchInsets_;
};
