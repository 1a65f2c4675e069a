#pragma once

#include <QString>
#include <memory>
#include <optional>

class Image;

// Page thumbnails of the PDF copies the bridge keeps of the open presentation.
class PDFHelper {
public:
    PDFHelper() = delete;

    // The page (counted from 1) of the PDF file at pdfFilePath, rendered onto white at half its size in
    // points, one pixel per point. Each path text and page number is rendered once in the life of the
    // process and then kept in a process-wide cache: every later call for it returns the very same image
    // object, without opening the file, even after the file is gone. Nothing, and nothing cached, for an
    // absent path, no file at the path, a file that is no readable PDF (corrupt, empty, locked by a
    // password) or a page outside the document.
    // Any thread, several at once: one lock serialises the lookups and the renderings.
    static std::shared_ptr<Image> GetImageOfPdfFile(const std::optional<QString>& pdfFilePath, qint32 page);
};
