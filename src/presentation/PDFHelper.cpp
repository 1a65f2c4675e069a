#include "PDFHelper.h"

#include "core/Image.h"
#include "core/Logger.h"

#include <QFileInfo>
#include <QHash>
#include <QMetaEnum>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfDocumentRenderOptions>
#include <mutex>

namespace {

// The page-thumbnail cache, keyed by "<path>_<page>". It only grows: no entry is ever replaced or removed.
struct PageCache {
    std::recursive_mutex lock; // held around every lookup, rendering and store
    QHash<QString, std::shared_ptr<Image>> images;
};

PageCache& pageCache() {
    static PageCache* cache = new PageCache; // never destroyed, so a call during shutdown still finds it
    return *cache;
}

// Renders one page; nothing when the file is no readable PDF or has no such page. The document lives and
// dies on the calling thread, inside this call.
std::shared_ptr<Image> renderPage(const QString& path, qint32 page) {
    QPdfDocument document;
    const QPdfDocument::Error error = document.load(path);
    if (error != QPdfDocument::Error::None) {
        LOG_DEBUG("GetImageOfPdfFile: cannot load the PDF: {}",
                  QMetaEnum::fromType<QPdfDocument::Error>().valueToKey(int(error)));
        return nullptr;
    }
    const qint64 index = qint64(page) - 1;
    if (index < 0 || index >= document.pageCount()) {
        LOG_DEBUG("GetImageOfPdfFile: no page {} in a document of {} pages", page, document.pageCount());
        return nullptr;
    }
    const QSizeF thumbnailSize = document.pagePointSize(int(index)) * 0.5;
    const std::optional<QSize> pixels = Image::pixelSizeFor(thumbnailSize);
    if (!pixels) {
        LOG_DEBUG("GetImageOfPdfFile: page {} has no size to draw at", page);
        return nullptr;
    }
    QPdfDocumentRenderOptions options;
    options.setRenderFlags(QPdfDocumentRenderOptions::RenderFlag::Annotations);
    const QImage rendered = document.render(int(index), *pixels, options);
    QImage bitmap(*pixels, QImage::Format_RGB32);
    if (rendered.isNull() || bitmap.isNull())
        return nullptr;
    // The renderer leaves what the page does not paint transparent; thumbnails end up as JPEG.
    bitmap.fill(Qt::white);
    QPainter painter(&bitmap);
    painter.drawImage(0, 0, rendered);
    painter.end();
    return std::make_shared<Image>(std::move(bitmap), thumbnailSize);
}

} // namespace

std::shared_ptr<Image> PDFHelper::GetImageOfPdfFile(const std::optional<QString>& pdfFilePath, qint32 page) {
    LOG_INFO("start GetImageOfPdfFile Page:{}", page);
    PageCache& cache = pageCache();
    std::lock_guard lock(cache.lock);

    // An absent path has no key: the text "(null)" could name a real file.
    const QString key = pdfFilePath ? *pdfFilePath + u'_' + QString::number(page) : QString();
    if (pdfFilePath) {
        const auto cached = cache.images.constFind(key);
        if (cached != cache.images.cend()) {
            LOG_DEBUG("GetImageOfPdfFile: returning cachedImage");
            return *cached;
        }
    }
    if (!pdfFilePath || !QFileInfo::exists(*pdfFilePath)) {
        LOG_DEBUG("Invalid pdfFilePath. Stop GetImageOfPdfFile");
        return nullptr;
    }

    std::shared_ptr<Image> image = renderPage(*pdfFilePath, page);
    if (!image)
        return nullptr;
    LOG_INFO("finish GetImageOfPdfFile Page:{}", page);
    cache.images.insert(key, image);
    return image;
}
