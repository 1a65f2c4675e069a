#include "PowerPointHelper.h"

#include "core/Coercion.h"
#include "core/GlobalQueue.h"
#include "core/Installed.h"
#include "core/Logger.h"
#include "core/Notifications.h"
#include "core/StringHelper.h"
#include "core/ThreadHelper.h"
#include "platform/CommandRunner.h"

#include "PDFHelper.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <filesystem>

namespace {

QString describe(const platform::ScriptError& error) {
    return QStringLiteral("{\n    NSAppleScriptErrorMessage = \"%1\";\n    NSAppleScriptErrorNumber = %2;\n}")
        .arg(error.message)
        .arg(error.number);
}

QString consentScript(const QString& application, const QString& query) {
    return QStringList{
        QStringLiteral(
            "tell application \"System Events\" to set isRunning to exists (processes where name is \"%1\")")
            .arg(application),
        QStringLiteral("if (isRunning) then"),
        QStringLiteral("tell application \"%1\"").arg(application),
        query,
        QStringLiteral("end tell"),
        QStringLiteral("end if"),
        QStringLiteral("return no"),
    }
        .join(u'\n');
}

} // namespace

std::shared_ptr<PowerPointHelper> PowerPointHelper::create(Collaborators collaborators) {
    std::shared_ptr<PowerPointHelper> helper(new PowerPointHelper(std::move(collaborators)));
    helper->init();
    return helper;
}

PowerPointHelper& PowerPointHelper::SharedHelper() {
    return Installed<PowerPointHelper>::get("PowerPointHelper::SharedHelper");
}

void PowerPointHelper::install(std::function<std::shared_ptr<PowerPointHelper>()> factory) {
    Installed<PowerPointHelper>::install(std::move(factory));
}

PowerPointHelper::PowerPointHelper(Collaborators collaborators)
    : collaborators_(std::move(collaborators)) {}

PowerPointHelper::~PowerPointHelper() {
    isAllowRefreshing_ = false;
    {
        std::lock_guard lock(pollMutex_);
        pollWake_.notify_all();
    }
    if (poll_.joinable()) {
        if (poll_.get_id() == std::this_thread::get_id())
            poll_.detach();
        else
            poll_.join();
    }
}

void PowerPointHelper::init() {
    LOG_INFO("Initializing PowerPointHelper...");
    isAllowGeneratePDF_ = Flavours::exportsPdfByDefault(collaborators_.flavour);
    const auto folder = runAppleScript(QStringLiteral("getPdfPath"));
    tempFolderPath_.set(folder ? folder->stringValue() : std::nullopt);
    LOG_DEBUG("_tempFolderPath = {}", tempFolderPath().value_or(QStringLiteral("(null)")));
    clearPdfOfWebFile();
    removeUnfinishedExports();
    startRefreshingWithInterval(collaborators_.pollInterval);
    LOG_INFO("PowerPointHelper init finished.");
}

// ---- Poll ------------------------------------------------------------------------------------------

void PowerPointHelper::startRefreshingWithInterval(double seconds) {
    isAllowRefreshing_ = true;
    if (!poll_.joinable())
        poll_ = std::thread([this, seconds] { pollLoop(seconds); });
}

void PowerPointHelper::pollLoop(double seconds) {
    const auto interval = std::chrono::duration<double>(seconds);
    while (isAllowRefreshing_) {
        refresh();
        std::unique_lock lock(pollMutex_);
        pollWake_.wait_for(lock, interval, [this] { return !isAllowRefreshing_; });
    }
}

void PowerPointHelper::refresh() {
    if (isGeneratingPdf_)
        return;
    LOG_VERBOSE("Refreshing application status.");
    if (!isApplicationStarted())
        LOG_VERBOSE("Neither ppt or keynote opened.");
}

bool PowerPointHelper::isApplicationStarted() {
    if (_isPptOpen()) {
        LOG_VERBOSE("PowerPoint opened.");
        post(Notifications::kUpdatePptStatus, kStatusPowerPoint);
        return true;
    }
    if (_isKeynoteOpen()) {
        LOG_VERBOSE("Keynote opened.");
        post(Notifications::kUpdatePptStatus, kStatusKeynote);
        return true;
    }
    post(Notifications::kUpdatePptStatus, kStatusNone);
    return false;
}

bool PowerPointHelper::_isPptOpen() {
    return testOpenDocument(true);
}

bool PowerPointHelper::_isKeynoteOpen() {
    LOG_VERBOSE("Start _isKeynoteOpen.");
    return testOpenDocument(false);
}

bool PowerPointHelper::testOpenDocument(bool powerPoint) {
    auto& path = powerPoint ? activePptPath_ : activeKeynotePath_;
    const auto result =
        runAppleScript(powerPoint ? QStringLiteral("isPptOpenOrNot") : QStringLiteral("isKeynoteOpenOrNot"));
    if (!result || (result->stringValue() && result->stringValue()->trimmed() == u"no")) {
        path.set(std::nullopt);
        if (powerPoint)
            LOG_VERBOSE("Failed to get ActivePptPath");
        else
            LOG_VERBOSE("Stop _isKeynoteOpen.");
        return false;
    }
    path.set(result->stringValue());
    if (!result->stringValue()) {
        if (powerPoint)
            LOG_VERBOSE("Failed to get ActivePptPath: _activePptPath == nil");
        else
            LOG_VERBOSE("Failed to get ActivePptPath: _activeKeynotePath == nil");
        return false;
    }
    generatePdfFromFile(*result->stringValue());
    return true;
}

bool PowerPointHelper::isSlideShowPlaying() {
    if (isPptOpen())
        return runAppleScript(QStringLiteral("isPptPlayingOrNot")).has_value();
    if (isKeynoteOpen()) {
        const auto result = runAppleScript(QStringLiteral("isKeynotePlayingOrNot"));
        return result && result->booleanValue();
    }
    return false;
}

// ---- Scripts ---------------------------------------------------------------------------------------

std::optional<platform::ScriptDescriptor>
PowerPointHelper::runAppleScript(const std::optional<QString>& name) {
    std::lock_guard lock(lock_);
    if (!name)
        return std::nullopt;
    LOG_VERBOSE("runAppleScript: {}", *name);
    const platform::ScriptRunResult outcome = collaborators_.scripts->run(*name);
    if (outcome.loadError)
        LOG_ERROR("Error init apple script: {}", describe(*outcome.loadError));
    if (outcome.runError) {
        LOG_ERROR("Error running apple script: {}", describe(*outcome.runError));
        if (outcome.runError->number == platform::ScriptRunner::kNotPermittedErrorNumber) {
            grantAuthorizationToKeynote();
            grantAuthorizationToPowerPoint();
        }
    }
    return outcome.result;
}

void PowerPointHelper::grantAuthorizationToPowerPoint() {
    executeOSAScript(consentScript(QStringLiteral("Microsoft PowerPoint"),
                                   QStringLiteral("return name of active presentation")));
}

void PowerPointHelper::grantAuthorizationToKeynote() {
    executeOSAScript(
        consentScript(QStringLiteral("Keynote"), QStringLiteral("return file of the front document")));
}

void PowerPointHelper::executeOSAScript(const QString& source) {
    const platform::CommandResult result = collaborators_.commands->run(
        QStringLiteral("/usr/bin/osascript"), {QStringLiteral("-e ") + source}, std::chrono::seconds(120));
    Logger::plain(QStringLiteral("Error value: ") + result.standardError);
    Logger::plain(QStringLiteral("Output Value: ") + result.standardOutput);
}

// ---- Slide show, slide queries and notes -----------------------------------------------------------

bool PowerPointHelper::startPlaying() {
    QString script;
    if (isPptOpen())
        script = QStringLiteral("playPpt");
    else if (isKeynoteOpen())
        script = QStringLiteral("playKeynote");
    else
        return false;
    GlobalQueue::async([self = shared_from_this(), script] { self->runAppleScript(script); });
    return true;
}

bool PowerPointHelper::pptShowPlaying() {
    return isPptOpen() && isSlideShowPlaying();
}

qint32 PowerPointHelper::getCurrentSlideIndex() {
    return readCurrentSlideIndex(pptShowPlaying());
}

qint32 PowerPointHelper::readCurrentSlideIndex(bool pptPlaying) {
    std::optional<platform::ScriptDescriptor> result;
    if (isPptOpen()) {
        result = runAppleScript(pptPlaying ? QStringLiteral("getPptCurrentSlideIndex")
                                           : QStringLiteral("getPptCurrentSlideNumber"));
    } else if (isKeynoteOpen()) {
        result = runAppleScript(QStringLiteral("getKeynoteCurrentSlideNumber"));
    }
    const qint32 index = result ? result->int32Value() : 0;
    LOG_DEBUG("getCurrentSlideIndex : {}", index);
    return index;
}

PowerPointHelper::SlideView PowerPointHelper::currentSlideView() {
    const bool playing = pptShowPlaying();
    return {playing, readCurrentSlideIndex(playing)};
}

std::optional<PowerPointHelper::SlideView>
PowerPointHelper::waitForSlideChange(std::chrono::steady_clock::time_point deadline) {
    if ((!isPptOpen() && !isKeynoteOpen()) || std::chrono::steady_clock::now() >= deadline)
        return std::nullopt;
    const auto before = lastSlideView_.get();
    if (!before) {
        std::this_thread::sleep_until(deadline);
        return std::nullopt;
    }
    for (;;) {
        const SlideView shown = currentSlideView();
        if (shown != *before || std::chrono::steady_clock::now() + kSlideWatchPause >= deadline)
            return shown;
        std::this_thread::sleep_for(kSlideWatchPause);
    }
}

qint32 PowerPointHelper::getTotalSlideCount() {
    std::optional<platform::ScriptDescriptor> result;
    if (isPptOpen())
        result = runAppleScript(QStringLiteral("getPptTotalSlideCount"));
    else if (isKeynoteOpen())
        result = runAppleScript(QStringLiteral("getKeynoteTotalSlideCount"));
    const qint32 count = result ? result->int32Value() : 0;
    LOG_DEBUG("getTotalSlideCount : {}", count);
    return count;
}

bool PowerPointHelper::isLastSlide() {
    const qint32 total = getTotalSlideCount();
    return total == getCurrentSlideIndex();
}

QSizeF PowerPointHelper::getPptSize() {
    const auto width = runAppleScript(QStringLiteral("getPptWidth"));
    const auto height = runAppleScript(QStringLiteral("getPptHeight"));
    if (!width || !height) {
        LOG_ERROR("Error getting size of ppt");
        return QSizeF(0, 0);
    }
    const auto asFloat = [](const platform::ScriptDescriptor& d) {
        return float(Coercion::doubleValue(d.stringValue().value_or(QString())));
    };
    const float w = asFloat(*width);
    const float h = asFloat(*height);
    if (w == 0 || h == 0) {
        LOG_ERROR("Error: size of ppt is 0");
        return QSizeF(0, 0);
    }
    LOG_DEBUG("getPptSize : ({:f},{:f})", w, h);
    return QSizeF(w, h);
}

void PowerPointHelper::getSlideNotes() {
    getSlideNote(QStringLiteral("Current"));
    getSlideNote(QStringLiteral("Next"));
    getSlideNote(QStringLiteral("Alternate"));
}

void PowerPointHelper::getSlideNote(const QString& word) {
    readSlideNote(word, pptShowPlaying());
}

void PowerPointHelper::readSlideNote(const QString& word, bool pptPlaying) {
    QString script;
    if (isPptOpen())
        script =
            (pptPlaying ? QStringLiteral("getPpt%1SlideNote") : QStringLiteral("getPpt%1PageNote")).arg(word);
    else if (isKeynoteOpen())
        script = QStringLiteral("getKeynote%1SlideNote").arg(word);
    else
        return;
    const auto result = runAppleScript(script);
    if (!result)
        return;
    const auto note = StringHelper::removeEscapeCharacterOfString(result->stringValue());
    if (word == u"Current")
        currentSlideNote_.set(note);
    else if (word == u"Next")
        nextSlideNote_.set(note);
    else if (word == u"Alternate")
        alternateSlideNote_.set(note);
}

// ---- PDF export cache ------------------------------------------------------------------------------

QString PowerPointHelper::md5Encode(const QString& text) {
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString PowerPointHelper::dateToString(const std::optional<QDateTime>& date, const QString& format) {
    if (!date || !date->isValid())
        return QString("");
    return QLocale::system().toString(date->toLocalTime(), format);
}

QString PowerPointHelper::pdfFileNameForDocument(const QString& path) {
    if (path.left(4).toLower() == u"http")
        return QStringLiteral("http-") + md5Encode(path) + QStringLiteral(".pdf");
    const QFileInfo info(path);
    const std::optional<QDateTime> modified =
        info.exists() ? std::optional<QDateTime>(info.lastModified()) : std::nullopt;
    return md5Encode(path + dateToString(modified, QStringLiteral("yyyyMMddHHmmss"))) +
           QStringLiteral(".pdf");
}

void PowerPointHelper::generatePdfFromFile(const QString& path) {
    if (!isAllowGeneratePDF_)
        return;
    generatePdf(pdfFileNameForDocument(path));
}

void PowerPointHelper::generatePdf(const QString& fileName) {
    if (!isAllowGeneratePDF_)
        return;
    LOG_VERBOSE("start generatePdf");
    const auto folder = tempFolderPath();
    if (!folder) {
        LOG_ERROR("_tempFolderPath is nil, stop generatePdf");
        return;
    }
    const QString pdfPath = *folder + fileName;
    activePdfPath_.set(pdfPath);
    if (QFileInfo::exists(pdfPath)) {
        if (isWholeCachedPdf(pdfPath))
            return;
        // An export cut short before the cache took in only whole files, or a file broken since.
        reportExportFailure(
            QStringLiteral("The cached PDF %1 is empty or cannot be read; it is made again.").arg(pdfPath));
        QFile::remove(pdfPath);
    }
    if (!QFileInfo::exists(*folder)) {
        LOG_INFO("Creating temp folder");
        QDir().mkpath(*folder);
    }
    tempPdfFilePath_.set(std::nullopt);
    int kind;
    if (isPptOpen())
        kind = kStatusPowerPoint;
    else if (isKeynoteOpen())
        kind = kStatusKeynote;
    else
        return;
    // The poll holds no owner of the instance: when the last owner lets go during a pass (instances
    // made for tests go away, the process-wide one never does), the instance is already being
    // destroyed, waiting for this pass to end, and there is nothing left to export for.
    auto self = weak_from_this().lock();
    if (!self)
        return;
    GlobalQueue::async([self = std::move(self), kind] { self->runExportTask(kind); });
}

void PowerPointHelper::runExportTask(int kind) {
    post(Notifications::kStartGeneratingPdf, kind);
    isGeneratingPdf_ = true;
    const std::optional<QString> exported = kind == kStatusPowerPoint ? ppt2Pdf() : keynote2Pdf();
    // The export, checked whole and taken into the cache's folder under a name no document has; only the
    // rename below gives it a document's name.
    std::optional<QString> staged;
    if (const auto target = activePdfPath(); exported && target && QFileInfo::exists(*exported)) {
        QString whyNot;
        staged = PDFHelper::StageCompletePdf(*exported, QFileInfo(*target).absolutePath(), &whyNot);
        if (!staged)
            reportExportFailure(QStringLiteral("The exported PDF is not cached: %1.").arg(whyNot));
    }
    tempPdfFilePath_.set(staged);
    ThreadHelper::RunOnMainThread([this, kind] {
        post(Notifications::kFinishedGeneratingPdf, kind);
        isGeneratingPdf_ = false;
        const auto takenIn = tempPdfFilePath();
        const auto target = activePdfPath();
        if (!takenIn || !QFileInfo::exists(*takenIn))
            return;
        // A whole file under the name serves already; the rename replaces anything else there.
        std::error_code error;
        if (target && !(QFileInfo::exists(*target) && isWholeCachedPdf(*target)))
            std::filesystem::rename(QFile::encodeName(*takenIn).toStdString(),
                                    QFile::encodeName(*target).toStdString(), error);
        if (!target || QFileInfo::exists(*takenIn) || error) {
            QFile::remove(*takenIn);
            return;
        }
        if (exportFailureReported_.exchange(false))
            LOG_INFO("The exported PDF is cached again as {}.", *target);
    });
}

bool PowerPointHelper::isWholeCachedPdf(const QString& path) {
    const QFileInfo file(path);
    const CachedPdfStamp stamp{path, file.size(), file.lastModified()};
    if (wholeCachedPdf_.get() == stamp)
        return true;
    if (!PDFHelper::IsCompletePdf(path))
        return false;
    wholeCachedPdf_.set(stamp);
    return true;
}

void PowerPointHelper::reportExportFailure(const QString& message) {
    if (!exportFailureReported_.exchange(true))
        LOG_ERROR("{}", message);
    else
        LOG_DEBUG("{}", message);
}

void PowerPointHelper::removeUnfinishedExports() {
    const auto folder = tempFolderPath();
    if (!folder)
        return;
    // Left by a run that ended during an export: none of them is a whole cached file.
    const QDir cache(QFileInfo(*folder + QStringLiteral("x")).absolutePath());
    for (const QString& name : cache.entryList({QLatin1String(PDFHelper::kStagedPrefix) + u'*'},
                                               QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(cache.filePath(name));
}

std::optional<QString> PowerPointHelper::exportPdf(const char* script, const char* logStart,
                                                   const char* logError) {
    LOG_INFO("{}", logStart);
    const auto result = runAppleScript(QString::fromLatin1(script));
    if (!result) {
        LOG_ERROR("{}", logError);
        return std::nullopt;
    }
    return result->stringValue();
}

std::optional<QString> PowerPointHelper::ppt2Pdf() {
    return exportPdf("ppt2Pdf", "Generating pdf from ppt", "Error: ppt2Pdf");
}

std::optional<QString> PowerPointHelper::keynote2Pdf() {
    return exportPdf("keynote2Pdf", "Generating pdf from keynote", "Error: keynote2Pdf");
}

void PowerPointHelper::clearPdfOfWebFile() {
    LOG_VERBOSE("Start clearPdfOfWebFile");
    const auto folder = tempFolderPath();
    if (!folder)
        return;
    const QDir root(*folder);
    QDirIterator it(*folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    QStringList doomed;
    while (it.hasNext()) {
        const QString relative = root.relativeFilePath(it.next());
        LOG_VERBOSE("found {}", relative);
        if (relative.startsWith(QStringLiteral("http-")))
            doomed.append(relative);
    }
    for (const QString& relative : doomed) {
        LOG_INFO("deleting {}", relative);
        const QString path = *folder + u'/' + relative;
        const QFileInfo info(path);
        if (info.isDir() && !info.isSymLink())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}
