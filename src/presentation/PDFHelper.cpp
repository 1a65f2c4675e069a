#include "PDFHelper.h"

#include "core/Image.h"
#include "core/Logger.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMetaEnum>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfDocumentRenderOptions>
#include <QTemporaryFile>
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <unordered_map>

namespace {

// The largest bitmap side a page is rendered at when it is dense enough for the thumbnails.
constexpr double kLargestSide = 8192;

struct CachedPage {
    std::shared_ptr<Image> image;
    qsizetype bytes = 0;
    QString path;
    quint64 lastUse = 0;
};

struct OpenDocument {
    std::unique_ptr<QPdfDocument> pdf;
    // What the file looked like when it was opened: a file written anew under the path is opened anew.
    QDateTime modified;
    qint64 size = 0;
    quint64 lastUse = 0;
};

// The page-thumbnail cache, keyed by "<path>_<page>", with the files it renders from kept open.
struct PageCache {
    std::recursive_mutex lock; // held around every lookup, rendering and store
    QHash<QString, CachedPage> pages;
    // Pages let go while a caller may still hold them: such a page comes back as the same object.
    QHash<QString, std::weak_ptr<Image>> letGo;
    std::unordered_map<QString, OpenDocument> documents;
    QString activePath; // the file asked for last, whose pages go last
    qsizetype bytes = 0;
    quint64 clock = 0;

    QPdfDocument* document(const QString& path);
    void store(const QString& key, const QString& path, std::shared_ptr<Image> image);
    void evict();
};

PageCache& pageCache() {
    static PageCache* cache = new PageCache; // never destroyed, so a call during shutdown still finds it
    return *cache;
}

QPdfDocument* PageCache::document(const QString& path) {
    const QFileInfo file(path);
    const QDateTime modified = file.lastModified();
    const qint64 size = file.size();
    if (const auto open = documents.find(path); open != documents.end()) {
        if (open->second.modified == modified && open->second.size == size) {
            open->second.lastUse = clock;
            return open->second.pdf.get();
        }
        documents.erase(open);
    }
    auto pdf = std::make_unique<QPdfDocument>();
    const QPdfDocument::Error error = pdf->load(path);
    if (error != QPdfDocument::Error::None) {
        LOG_DEBUG("GetImageOfPdfFile: cannot load the PDF: {}",
                  QMetaEnum::fromType<QPdfDocument::Error>().valueToKey(int(error)));
        return nullptr;
    }
    QPdfDocument* opened = pdf.get();
    documents[path] = OpenDocument{std::move(pdf), modified, size, clock};
    while (documents.size() > size_t(PDFHelper::kOpenDocuments)) {
        auto oldest = documents.end();
        for (auto it = documents.begin(); it != documents.end(); ++it)
            if (it->first != path &&
                (oldest == documents.end() || it->second.lastUse < oldest->second.lastUse))
                oldest = it;
        documents.erase(oldest);
    }
    return opened;
}

void PageCache::store(const QString& key, const QString& path, std::shared_ptr<Image> image) {
    const qsizetype size = image->bitmap().sizeInBytes();
    letGo.remove(key);
    pages.insert(key, CachedPage{std::move(image), size, path, clock});
    bytes += size;
    evict();
}

void PageCache::evict() {
    if (bytes <= PDFHelper::kPageCacheBytes)
        return;
    letGo.removeIf([](const auto& entry) { return entry.value().expired(); });
    // Other files' pages before the active file's, each the one used longest ago first. The page stored
    // last has the latest use of all, so it goes only when it is alone.
    const auto goesFirst = [this](const CachedPage& a, const CachedPage& b) {
        const bool aActive = a.path == activePath, bActive = b.path == activePath;
        return aActive != bActive ? bActive : a.lastUse < b.lastUse;
    };
    while (bytes > PDFHelper::kPageCacheBytes && pages.size() > 1) {
        auto victim = pages.begin();
        for (auto it = pages.begin(); it != pages.end(); ++it)
            if (goesFirst(*it, *victim))
                victim = it;
        bytes -= victim->bytes;
        letGo.insert(victim.key(), victim->image);
        pages.erase(victim);
    }
}

// Renders one page of an open document; nothing when the document has no such page.
std::shared_ptr<Image> renderPage(QPdfDocument& document, qint32 page) {
    const qint64 index = qint64(page) - 1;
    if (index < 0 || index >= document.pageCount()) {
        LOG_DEBUG("GetImageOfPdfFile: no page {} in a document of {} pages", page, document.pageCount());
        return nullptr;
    }
    const QSizeF thumbnailSize = document.pagePointSize(int(index)) * 0.5;
    if (!(thumbnailSize.width() > 0 && thumbnailSize.height() > 0)) {
        LOG_DEBUG("GetImageOfPdfFile: page {} has no size to draw at", page);
        return nullptr;
    }
    // Twice the density of the size in points, as a double-density display draws it, and at least dense
    // enough that the widest thumbnail is made by scaling down; no denser than needed beyond that.
    const double width = PDFHelper::kLargestThumbnailWidth;
    const double scale =
        std::min({std::max(2.0, width / thumbnailSize.width()), 2 * width / thumbnailSize.width(),
                  kLargestSide / std::max(thumbnailSize.width(), thumbnailSize.height())});
    const std::optional<QSize> pixels = Image::pixelSizeFor(thumbnailSize * scale);
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
    if (pdfFilePath) {
        const QString key = *pdfFilePath + u'_' + QString::number(page);
        cache.activePath = *pdfFilePath;
        ++cache.clock;
        if (const auto cached = cache.pages.find(key); cached != cache.pages.end()) {
            LOG_DEBUG("GetImageOfPdfFile: returning cachedImage");
            cached->lastUse = cache.clock;
            return cached->image;
        }
        if (std::shared_ptr<Image> held = cache.letGo.take(key).lock()) {
            LOG_DEBUG("GetImageOfPdfFile: returning cachedImage");
            cache.store(key, *pdfFilePath, held);
            return held;
        }
        if (QFileInfo::exists(*pdfFilePath)) {
            QPdfDocument* document = cache.document(*pdfFilePath);
            std::shared_ptr<Image> image = document ? renderPage(*document, page) : nullptr;
            if (!image)
                return nullptr;
            LOG_INFO("finish GetImageOfPdfFile Page:{}", page);
            cache.store(key, *pdfFilePath, image);
            return image;
        }
        cache.documents.erase(*pdfFilePath);
    }
    LOG_DEBUG("Invalid pdfFilePath. Stop GetImageOfPdfFile");
    return nullptr;
}

qsizetype PDFHelper::cachedPageBytes() {
    PageCache& cache = pageCache();
    std::lock_guard lock(cache.lock);
    return cache.bytes;
}

bool PDFHelper::IsCompletePdf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return false;
    // The mark ends the file, followed by a line end at most, so it lies in the last bytes.
    constexpr qint64 kTail = 1024;
    if (!file.seek(std::max<qint64>(0, file.size() - kTail)) || !file.read(kTail).contains("%%EOF"))
        return false;
    file.close();
    PageCache& cache = pageCache(); // the PDF library takes one caller at a time
    std::lock_guard lock(cache.lock);
    QPdfDocument document;
    return document.load(path) == QPdfDocument::Error::None && document.pageCount() > 0;
}

namespace {

// Copies the file whole: every write checked, the copy as long as the source.
bool copyWhole(const QString& from, const QString& to, QString* whyNot) {
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly)) {
        *whyNot = in.errorString();
        return false;
    }
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *whyNot = out.errorString();
        return false;
    }
    while (!in.atEnd()) {
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty() && in.error() != QFileDevice::NoError) {
            *whyNot = in.errorString();
            return false;
        }
        if (out.write(block) != block.size()) {
            *whyNot = out.errorString();
            return false;
        }
    }
    if (out.size() != in.size()) {
        *whyNot = QStringLiteral("the copy holds %1 of %2 bytes").arg(out.size()).arg(in.size());
        return false;
    }
    return true;
}

} // namespace

std::optional<QString> PDFHelper::StageCompletePdf(const QString& exported, const QString& folder,
                                                   QString* whyNot) {
    const std::shared_ptr<void> removeExported(nullptr, [&](void*) { QFile::remove(exported); });
    if (!IsCompletePdf(exported)) {
        *whyNot = QStringLiteral("%1 is no complete PDF").arg(exported);
        return std::nullopt;
    }
    QTemporaryFile staging(folder + u'/' + QLatin1String(kStagedPrefix) + QStringLiteral("XXXXXX.pdf"));
    staging.setAutoRemove(false);
    if (!staging.open()) {
        *whyNot = QStringLiteral("no file can be made in %1: %2").arg(folder, staging.errorString());
        return std::nullopt;
    }
    const QString staged = staging.fileName();
    staging.close();
    std::error_code moveError;
    std::filesystem::rename(QFile::encodeName(exported).toStdString(),
                            QFile::encodeName(staged).toStdString(), moveError);
    // On another file system: copied, and as whole as the file checked above once every byte of it is
    // written.
    if (QString copyError; moveError && !copyWhole(exported, staged, &copyError)) {
        *whyNot = QStringLiteral("%1 cannot be copied into %2: %3").arg(exported, folder, copyError);
        QFile::remove(staged);
        return std::nullopt;
    }
    return staged;
}
