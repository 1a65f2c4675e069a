#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

class Image;

// Page thumbnails of the PDF copies the bridge keeps of the open presentation.
class PDFHelper {
public:
    PDFHelper() = delete;

    // The widest thumbnail made from a page: the page is rendered with at least this many pixels across,
    // so that thumbnails are only ever scaled down from it.
    static constexpr int kLargestThumbnailWidth = 800;
    // What the rendered pages kept for later calls may hold in bitmap bytes, all files together. Past it
    // the pages used longest ago go first, those of other files before those of the file asked for last.
    static constexpr qsizetype kPageCacheBytes = qsizetype(64) * 1024 * 1024;
    // Files kept open between calls; the one asked for last is always one of them.
    static constexpr int kOpenDocuments = 3;

    // The page (counted from 1) of the PDF file at pdfFilePath, rendered onto white. The image measures half
    // the page's size in points; its bitmap has twice that density, more where that would still be
    // narrower than kLargestThumbnailWidth pixels, and at most twice that width.
    // Each path text and page number is rendered once and kept: a later call returns the very same image
    // object without reading the file, even after the file is gone. When the cache has let the page go, it
    // is rendered again from the file, pixel for pixel the same, and while any caller still holds the
    // image let go, that same object comes back. Nothing, and nothing cached, for an absent path, no file
    // at the path, a file that is no readable PDF (corrupt, empty, locked by a password) or a page outside
    // the document.
    // Any thread, several at once: one lock serialises the lookups and the renderings.
    static std::shared_ptr<Image> GetImageOfPdfFile(const std::optional<QString>& pdfFilePath, qint32 page);

    // Bitmap bytes of the pages the cache holds now.
    static qsizetype cachedPageBytes();

    // Whether the file is a whole PDF: not empty, ending in its end-of-file mark (a file cut short while
    // written has none), and readable with at least one page. Reads the file; any thread.
    static bool IsCompletePdf(const QString& path);

    // Files of the cache folder that an export has not finished yet, by their names' beginning.
    static constexpr const char* kStagedPrefix = ".export-";
    // Takes the PDF at `exported` into the folder, under a name of kStagedPrefix that no cached file has:
    // moved where the folder is on the same file system, else copied with every write checked, so that
    // the file in the folder is always complete. The file at `exported` is gone afterwards either way.
    // Nothing, and why in whyNot, when it is no complete PDF or cannot be taken in (a full disk).
    static std::optional<QString> StageCompletePdf(const QString& exported, const QString& folder,
                                                   QString* whyNot);
};
