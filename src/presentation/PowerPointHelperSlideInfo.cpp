// The slide-information document of the bridge: notes, thumbnails of the current and next slide and the
// machine's identity, in the LAN kind (large thumbnails) and the cloud kind (small ones).
#include "PDFHelper.h"
#include "PowerPointHelper.h"

#include "core/Image.h"
#include "core/LocalUtils.h"
#include "core/Logger.h"
#include "core/PListHelper.h"
#include "platform/HostFacts.h"

#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageWriter>
#include <QUuid>

namespace {

QString nowText() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
}

QString orNull(const std::optional<QString>& value) {
    return value.value_or(QStringLiteral("(null)"));
}

double secondsOf(const QElapsedTimer& timer) {
    return timer.isValid() ? double(timer.nsecsElapsed()) / 1e9 : -1.0;
}

} // namespace

// The rendered pages are dense enough for the LAN thumbnails, which are only ever scaled down from them.
static_assert(PowerPointHelper::kLanThumbWidth <= PDFHelper::kLargestThumbnailWidth);

std::optional<QString> PowerPointHelper::base64StringConvertedFromImage(const std::shared_ptr<Image>& image,
                                                                        float width, float height,
                                                                        float quality) {
    if (!image)
        return std::nullopt;
    // Resize a copy that shares the bitmap: the cached page keeps its own size, so two builds at once
    // never change one image under each other.
    Image copy(image->bitmap(), image->size());
    const auto resized = copy.resizeImageToNewSize(QSizeF(width, height));
    if (!resized)
        return std::nullopt;
    QBuffer jpeg;
    jpeg.open(QIODevice::WriteOnly);
    QImageWriter writer(&jpeg, "jpg");
    writer.setQuality(qRound(quality * 100));
    if (!writer.write(resized->bitmap().convertToFormat(QImage::Format_RGB32)))
        return std::nullopt;
    return QString::fromLatin1(jpeg.data().toBase64());
}

void PowerPointHelper::getSlideImg() {
    LOG_DEBUG("Start getSlideImg");
    renderSlideImages(getCurrentSlideIndex());
}

void PowerPointHelper::renderSlideImages(qint32 cur) {
    if (cur == 0)
        return;
    const qint32 total = getTotalSlideCount();
    const qint32 next = cur != total ? cur + 1 : cur;
    nextSlideImage_.set(nullptr);
    currentSlideImage_.set(nullptr);
    const auto pdf = activePdfPath();
    if (!pdf || !QFileInfo::exists(*pdf)) {
        LOG_DEBUG("Invalid activePdfPath. Stop getSlideImg");
        return;
    }
    if (!isPptOpen() && !isKeynoteOpen()) {
        LOG_DEBUG("Neither Powerpoint nor Keynote is opened. Stop getSlideImg");
        return;
    }
    QElapsedTimer timer;
    timer.start();
    nextSlideImage_.set(PDFHelper::GetImageOfPdfFile(pdf, next));
    const double nextTime = secondsOf(timer);
    timer.restart();
    currentSlideImage_.set(PDFHelper::GetImageOfPdfFile(pdf, cur));
    LOG_DEBUG("getNextSlideImageTime = {:f}, getCurrentSlideImageTime = {:f}", nextTime, secondsOf(timer));
}

QString PowerPointHelper::getSlideInfoString(bool isApi, double createTime) {
    std::lock_guard build(buildLock_);
    LOG_INFO("start getSlideInfoString, isApi = {}, createTime = {}", int(isApi), nowText());
    if (createTime == 0.0)
        createTime = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const auto snapshot = takeSlideSnapshot(std::nullopt);
    if (!snapshot)
        return QString("");
    const auto record = slideInfoRecord(*snapshot, isApi);
    if (const auto same = storedSlideInfoString(*record, isApi))
        return *same;
    storedTogether_ = false;
    return slideInfoString(record, isApi, createTime);
}

PowerPointHelper::SlideInfoStrings PowerPointHelper::getSlideInfoStrings(double createTime,
                                                                         std::optional<SlideView> shown) {
    std::lock_guard build(buildLock_);
    LOG_INFO("start getSlideInfoString, isApi = 0, createTime = {}", nowText());
    if (createTime == 0.0)
        createTime = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const auto snapshot = takeSlideSnapshot(shown);
    if (!snapshot)
        return {QString(""), QString("")};
    const auto lanRecord = slideInfoRecord(*snapshot, false);
    LOG_INFO("start getSlideInfoString, isApi = 1, createTime = {}", nowText());
    const auto apiRecord = slideInfoRecord(*snapshot, true);
    // The stored pair comes back only as a pair, so the two documents always carry one time.
    if (storedTogether_) {
        const auto lan = storedSlideInfoString(*lanRecord, false);
        const auto api = storedSlideInfoString(*apiRecord, true);
        if (lan && api)
            return {*lan, *api};
    }
    SlideInfoStrings documents{slideInfoString(lanRecord, false, createTime),
                               slideInfoString(apiRecord, true, createTime)};
    storedTogether_ = true;
    return documents;
}

std::optional<PowerPointHelper::SlideSnapshot>
PowerPointHelper::takeSlideSnapshot(std::optional<SlideView> shown) {
    if (!isPptOpen() && !isKeynoteOpen())
        return std::nullopt;

    // The playing test once, its answer serving the note scripts and the slide number.
    SlideView view = shown ? *shown : SlideView{pptShowPlaying(), 0};
    double notesTime = 0, imgTime = 0;
    QElapsedTimer timer;
    for (int round = 0;; ++round) {
        timer.start();
        for (const char* word : {"Current", "Next", "Alternate"})
            readSlideNote(QString::fromLatin1(word), view.playing);
        notesTime += secondsOf(timer);
        timer.restart();
        LOG_DEBUG("Start getSlideImg");
        const qint32 index = readCurrentSlideIndex(view.playing);
        imgTime += secondsOf(timer);
        if (!shown || index == view.index || round == kSlideRereads) {
            view.index = index;
            break;
        }
        // The show moved while the notes were read: read them again, for the slide it shows now.
        timer.restart();
        view = currentSlideView();
        imgTime += secondsOf(timer);
    }
    timer.restart();
    renderSlideImages(view.index);
    imgTime += secondsOf(timer);
    LOG_DEBUG("getSlideNotesTime = {:f}, getSlideImgTime = {:f}", notesTime, imgTime);
    lastSlideView_.set(view);

    // Only builds write the notes and pages, one at a time, so these are this build's own.
    SlideSnapshot snapshot{currentSlideNote(),  nextSlideNote(),  alternateSlideNote(),
                           currentSlideImage(), nextSlideImage(), QSizeF(0, 0)};
    if (isPptOpen())
        snapshot.size = getPptSize();
    else if (isKeynoteOpen() && snapshot.nextImage)
        snapshot.size = snapshot.nextImage->size();
    if (snapshot.size.width() <= 0 || snapshot.size.height() <= 0)
        return std::nullopt;
    return snapshot;
}

std::shared_ptr<const InfoDTO> PowerPointHelper::slideInfoRecord(const SlideSnapshot& snapshot, bool isApi) {
    const int width = isApi ? kApiThumbWidth : kLanThumbWidth;
    const float height = float(double(width) * snapshot.size.height() / snapshot.size.width());
    const float quality = isApi ? 0.4f : 0.8f;
    auto nextThumb = base64StringConvertedFromImage(snapshot.nextImage, float(width), height, quality);
    auto currentThumb = base64StringConvertedFromImage(snapshot.currentImage, float(width), height, quality);
    return std::make_shared<const InfoDTO>(snapshot.note, snapshot.nextNote, snapshot.alternateNote,
                                           std::move(currentThumb), std::move(nextThumb));
}

std::optional<QString> PowerPointHelper::storedSlideInfoString(const InfoDTO& record, bool isApi) const {
    const auto stored = (isApi ? currentApiInfo_ : currentLanInfo_).get();
    if (stored && stored->isEqual(record))
        return (isApi ? currentApiInfoString_ : currentLanInfoString_).get();
    return std::nullopt;
}

QString PowerPointHelper::slideInfoString(const std::shared_ptr<const InfoDTO>& record, bool isApi,
                                          double createTime) {
    const QString machineId = LocalUtils::GetMachineIndex();
    const QString infoId = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().remove(u'-');
    const QString osVersion = collaborators_.host->operatingSystemVersionString();
    const QVariant version = PListHelper::GetValueForKey(QStringLiteral("CFBundleVersion"));

    auto& storedInfo = isApi ? currentApiInfo_ : currentLanInfo_;
    auto& storedString = isApi ? currentApiInfoString_ : currentLanInfoString_;
    // An equal record stays: only its document is made again.
    if (const auto stored = storedInfo.get(); !stored || !stored->isEqual(*record))
        storedInfo.set(record);

    const QString separator = u',' + QString(27, u' ');
    const auto member = [](const char* key, const QString& value) -> QString {
        return u'"' + QLatin1String(key) + QStringLiteral("\":\"") + value + u'"';
    };
    const QStringList members{
        member("Id", machineId),
        member("InfoId", infoId),
        member("CreatedTimeInterval", QString::asprintf("%f", createTime)),
        member("Note", orNull(record->Note)),
        member("NextNote", orNull(record->NextNote)),
        member("AlternateNote", orNull(record->AlternateNote)),
        member("CurrentThumb", orNull(record->CurrentThumbString)),
        member("NextThumb", orNull(record->NextThumbString)),
        member("PcAppVersion", version.isValid() ? version.toString() : QStringLiteral("(null)")),
        member("OsVersion", QStringLiteral("macOS ") + osVersion),
        member("OfficeVersion", QString("")),
        member("InstalledSoftwares", LocalUtils::InstalledSoftwareString(*collaborators_.host)),
        member("RunningProcesses", QString("")),
    };
    const QString document = u'{' + members.join(separator) + u'}';
    LOG_INFO("Finished create slide info string at {}", nowText());
    storedString.set(document);
    return document;
}
