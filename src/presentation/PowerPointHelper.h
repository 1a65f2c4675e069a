#pragma once

#include "InfoDTO.h"

#include "core/AtomicValue.h"
#include "core/Flavour.h"
#include "platform/ScriptRunner.h"

#include <QDateTime>
#include <QImage>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class Image;

namespace platform {
class CommandRunner;
class HostFacts;
} // namespace platform

// The one way the program talks to the presentation applications: it runs the bundle's compiled
// scripts, one at a time behind one lock, keeps the knowledge of which presentation is open fresh with
// an endless poll, and keeps a PDF copy of the open presentation for the slide thumbnails.
// PowerPoint wins over Keynote wherever both could apply.
class PowerPointHelper : public std::enable_shared_from_this<PowerPointHelper> {
public:
    static constexpr int kStatusNone = 0;
    static constexpr int kStatusPowerPoint = 1;
    static constexpr int kStatusKeynote = 2;

    struct Collaborators {
        std::shared_ptr<platform::ScriptRunner> scripts;
        std::shared_ptr<platform::CommandRunner> commands;
        // The operating-system version of the slide-information document.
        std::shared_ptr<platform::HostFacts> host;
        Flavour flavour = Flavour::SlideWand;
        // Seconds between poll passes; the process-wide instance polls every 5 s.
        double pollInterval = 5.0;
    };

    // Runs the start-up: reads the cache folder, clears web-document PDFs left from an earlier run and
    // starts the poll. Hold the instance in a shared pointer: background tasks keep it alive.
    static std::shared_ptr<PowerPointHelper> create(Collaborators collaborators);
    // The process-wide instance the application installed, made on first use from any thread.
    static PowerPointHelper& SharedHelper();
    static void install(std::function<std::shared_ptr<PowerPointHelper>()> factory);
    ~PowerPointHelper();

    // Poll.
    void startRefreshingWithInterval(double seconds);
    void refresh();
    bool isApplicationStarted();
    bool isPptOpen() const { return activePptPath().has_value(); }
    bool isKeynoteOpen() const { return activeKeynotePath().has_value(); }
    bool _isPptOpen();
    bool _isKeynoteOpen();
    bool isSlideShowPlaying();

    // Scripts.
    std::optional<platform::ScriptDescriptor> runAppleScript(const std::optional<QString>& name);
    void grantAuthorizationToPowerPoint();
    void grantAuthorizationToKeynote();
    void executeOSAScript(const QString& source);

    // Slide show, slide queries and notes.
    bool startPlaying();
    qint32 getCurrentSlideIndex();
    qint32 getTotalSlideCount();
    // The slide size in points; the zero size when it cannot be read.
    QSizeF getPptSize();
    bool isLastSlide();
    void getSlideNotes();
    void getSlideNote(const QString& word);

    // What the presentation shows: whether PowerPoint's slide show runs (never asked of Keynote) and the
    // current slide in the view that answer names, counted from 1; 0 when no script gave a number.
    struct SlideView {
        bool playing = false;
        qint32 index = 0;
        bool operator==(const SlideView&) const = default;
    };
    // PowerPoint's playing test, then the current slide: the questions of getCurrentSlideIndex.
    SlideView currentSlideView();
    // Waits until the presentation shows another view than the last slide-information build read,
    // reading it again kSlideWatchPause after each reading, until `deadline` at the latest, and gives the
    // view last read. Without a build before it waits until the deadline and reads nothing; with no
    // presentation open, or the deadline passed, it neither waits nor reads.
    std::optional<SlideView> waitForSlideChange(std::chrono::steady_clock::time_point deadline);
    static constexpr std::chrono::milliseconds kSlideWatchPause{15};

    // Slide-information document.
    static constexpr int kLanThumbWidth = 800;
    static constexpr int kApiThumbWidth = 300;
    // The document of the cloud kind (isApi) or the LAN kind; createTime in seconds since 1970, 0 for
    // now. "" when no presentation is open or its slide size is unknown.
    QString getSlideInfoString(bool isApi, double createTime);
    struct SlideInfoStrings {
        QString lan;
        QString api;
    };
    // Both kinds from one reading of the presentation (notes, slide number and count, pages, size), with
    // the one time: the LAN kind first, then the cloud kind, each as getSlideInfoString makes it.
    // Documents are built one at a time: a build never sees the notes or pages of another. A reading asks
    // each question once. `shown` is the view the caller read just before (waitForSlideChange): the
    // build then asks no playing test, and when the slide it reads after the notes is not that one, the
    // show moved meanwhile and the notes are read again for the slide it shows now.
    SlideInfoStrings getSlideInfoStrings(double createTime, std::optional<SlideView> shown = std::nullopt);
    void getSlideImg();
    // Base64 of a JPEG of the image resized to width x height at the quality (0 to 1); nothing for no image.
    static std::optional<QString> base64StringConvertedFromImage(const std::shared_ptr<Image>& image,
                                                                 float width, float height, float quality);

    // PDF export cache.
    void generatePdfFromFile(const QString& path);
    void generatePdf(const QString& fileName);
    std::optional<QString> ppt2Pdf();
    std::optional<QString> keynote2Pdf();
    static QString md5Encode(const QString& text);
    static QString dateToString(const std::optional<QDateTime>& date, const QString& format);
    // The cache file name of a document: "http-<md5>.pdf" for web addresses, else the MD5 of the path
    // and its modification time.
    static QString pdfFileNameForDocument(const QString& path);
    void clearPdfOfWebFile();
    void setIsAllowGeneratePDF(bool allow) { isAllowGeneratePDF_ = allow; }

    // Fields.
    std::optional<QString> tempFolderPath() const { return tempFolderPath_.get(); }
    std::optional<QString> activePdfPath() const { return activePdfPath_.get(); }
    std::optional<QString> tempPdfFilePath() const { return tempPdfFilePath_.get(); }
    std::optional<QString> currentSlideNote() const { return currentSlideNote_.get(); }
    std::optional<QString> nextSlideNote() const { return nextSlideNote_.get(); }
    std::optional<QString> alternateSlideNote() const { return alternateSlideNote_.get(); }
    std::optional<QString> activePptPath() const { return activePptPath_.get(); }
    std::optional<QString> activeKeynotePath() const { return activeKeynotePath_.get(); }
    std::shared_ptr<Image> currentSlideImage() const { return currentSlideImage_.get(); }
    std::shared_ptr<Image> nextSlideImage() const { return nextSlideImage_.get(); }
    std::shared_ptr<const InfoDTO> currentApiInfo() const { return currentApiInfo_.get(); }
    std::shared_ptr<const InfoDTO> currentLanInfo() const { return currentLanInfo_.get(); }
    std::optional<QString> currentApiInfoString() const { return currentApiInfoString_.get(); }
    std::optional<QString> currentLanInfoString() const { return currentLanInfoString_.get(); }
    bool isGeneratingPdf() const { return isGeneratingPdf_; }
    bool isAllowRefreshing() const { return isAllowRefreshing_; }
    bool isAllowGeneratePDF() const { return isAllowGeneratePDF_; }

private:
    // What one build reads from the presentation; documents of both kinds are made from it.
    struct SlideSnapshot {
        std::optional<QString> note, nextNote, alternateNote;
        std::shared_ptr<Image> currentImage, nextImage;
        QSizeF size;
    };
    explicit PowerPointHelper(Collaborators collaborators);
    // How often a build reads the notes again when the show moved while it read them.
    static constexpr int kSlideRereads = 2;
    // Whether PowerPoint is open and its slide show runs: the playing test, run only for PowerPoint.
    bool pptShowPlaying();
    // The queries with PowerPoint's playing test already answered.
    qint32 readCurrentSlideIndex(bool pptPlaying);
    void readSlideNote(const QString& word, bool pptPlaying);
    // The pages of slide `cur` and the next one; 0 keeps the pages as they are.
    void renderSlideImages(qint32 cur);
    // Nothing when no presentation is open or its slide size is unknown. These run with buildLock_ held.
    std::optional<SlideSnapshot> takeSlideSnapshot(std::optional<SlideView> shown);
    // The content of a document of the kind: notes and thumbnails.
    std::shared_ptr<const InfoDTO> slideInfoRecord(const SlideSnapshot& snapshot, bool isApi);
    // The document stored for the kind, when it was made from a record equal to this one.
    std::optional<QString> storedSlideInfoString(const InfoDTO& record, bool isApi) const;
    // A new document of the record, stored as the kind's.
    QString slideInfoString(const std::shared_ptr<const InfoDTO>& record, bool isApi, double createTime);
    void init();
    bool testOpenDocument(bool powerPoint);
    std::optional<QString> exportPdf(const char* script, const char* logStart, const char* logError);
    void runExportTask(int kind);
    // Whether the cached file at the path is a whole PDF; a file found whole is not read again until it
    // changes.
    bool isWholeCachedPdf(const QString& path);
    // Logs a failure to cache an export as an error the first time, then quietly until an export is
    // cached again.
    void reportExportFailure(const QString& message);
    void removeUnfinishedExports();
    void pollLoop(double seconds);

    Collaborators collaborators_;
    std::mutex lock_;      // held around each single script run
    std::mutex buildLock_; // held around each slide-information build, from its reading to its documents
    bool storedTogether_ = false; // the stored documents of both kinds came from one build
    AtomicValue<std::optional<SlideView>> lastSlideView_; // what the last build read

    AtomicValue<std::optional<QString>> tempFolderPath_;
    AtomicValue<std::optional<QString>> activePdfPath_;
    AtomicValue<std::optional<QString>> tempPdfFilePath_;
    AtomicValue<std::optional<QString>> currentSlideNote_;
    AtomicValue<std::optional<QString>> nextSlideNote_;
    AtomicValue<std::optional<QString>> alternateSlideNote_;
    AtomicValue<std::shared_ptr<Image>> nextSlideImage_;
    AtomicValue<std::shared_ptr<Image>> currentSlideImage_;
    AtomicValue<std::optional<QString>> activePptPath_;
    AtomicValue<std::optional<QString>> activeKeynotePath_;
    AtomicValue<std::shared_ptr<const InfoDTO>> currentApiInfo_;
    AtomicValue<std::shared_ptr<const InfoDTO>> currentLanInfo_;
    AtomicValue<std::optional<QString>> currentApiInfoString_;
    AtomicValue<std::optional<QString>> currentLanInfoString_;
    struct CachedPdfStamp {
        QString path;
        qint64 size = 0;
        QDateTime modified;
        bool operator==(const CachedPdfStamp&) const = default;
    };
    AtomicValue<std::optional<CachedPdfStamp>> wholeCachedPdf_; // the cached file last found whole
    std::atomic<bool> exportFailureReported_{false};
    std::atomic<bool> isGeneratingPdf_{false};
    std::atomic<bool> isAllowRefreshing_{false};
    std::atomic<bool> isAllowGeneratePDF_{true};

    // The poll thread; stopped and joined when an instance made for a test goes away.
    std::thread poll_;
    std::mutex pollMutex_;
    std::condition_variable pollWake_;
};
