#include "RollingFileSink.h"

#include "Logger.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

const QString kDateFormat = QStringLiteral("yyyy-MM-dd--HH-mm-ss-zzz");
const QString kSuffix = QStringLiteral(".log");

// Two files made within the same millisecond would get the same name; the later one moves on by a
// millisecond per clash, so the name stays in the one pattern and the order of the files is kept.
constexpr int kMaxNameClashes = 1000;

} // namespace

RollingFileSink::RollingFileSink(const QString& logsDirectory, const QString& prefix,
                                 RollingFileLimits limits, Clock clock)
    : base_sink(Logger::makeFormatter())
    , directory_(QDir::cleanPath(QDir(logsDirectory).absolutePath()))
    , prefix_(prefix)
    , limits_(limits)
    , clock_(std::move(clock)) {
    try {
        QDir().mkpath(directory_);
        const qint64 now = clock_().toMSecsSinceEpoch();
        const std::vector<LogFile> files = logFiles();
        const bool reuse = !files.empty() && !tooOld(files.front().created, now) && !full(files.front().size);
        if (!(reuse && openExisting(files.front())))
            openNew(now);
        deleteOldLogFiles();
    } catch (...) {
        // Nothing open yet: the first write tries again.
        file_.close();
    }
}

QString RollingFileSink::currentFilePath() {
    std::lock_guard lock(mutex_);
    return path_;
}

std::optional<QDateTime> RollingFileSink::creationTimeOf(const QString& fileName) const {
    const qsizetype dateLength = kDateFormat.size();
    if (fileName.size() != prefix_.size() + 1 + dateLength + kSuffix.size() ||
        !fileName.startsWith(prefix_) || fileName.at(prefix_.size()) != QLatin1Char(' ') ||
        !fileName.endsWith(kSuffix))
        return std::nullopt;
    const QString date = fileName.mid(prefix_.size() + 1, dateLength);
    const QDateTime created = QDateTime::fromString(date, kDateFormat);
    // The round trip rejects what the parser would let through loosely (signs, blanks).
    if (!created.isValid() || created.toString(kDateFormat) != date)
        return std::nullopt;
    return created;
}

void RollingFileSink::sink_it_(const spdlog::details::log_msg& msg) {
    try {
        spdlog::memory_buf_t line;
        formatter_->format(msg, line);
        write(line.data(), qint64(line.size()));
    } catch (...) {
        // A log call never fails its caller; the line is lost and the next one tries again.
    }
}

void RollingFileSink::flush_() {
    if (file_.isOpen())
        file_.flush();
}

void RollingFileSink::write(const char* data, qint64 size) {
    // Times are kept as milliseconds since the epoch: comparing local times costs a time-zone lookup.
    const qint64 now = clock_().toMSecsSinceEpoch();
    // The file (or its whole folder) was removed under us: go on in a new file, not in the unlinked one.
    if (file_.isOpen() && !QFileInfo::exists(path_))
        file_.close();
    if (!file_.isOpen() && !reopen(now))
        return;
    if (tooOld(created_, now) || full(size_)) {
        file_.close();
        if (!openNew(now))
            return;
        deleteOldLogFiles();
    }
    const qint64 written = file_.write(data, size);
    if (written > 0)
        size_ += written;
    if (written != size)
        file_.close(); // disk full or the file went away: the next write opens again
}

std::vector<RollingFileSink::LogFile> RollingFileSink::logFiles() const {
    std::vector<LogFile> files;
    const QFileInfoList entries =
        QDir(directory_).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (const auto created = creationTimeOf(entry.fileName()))
            files.push_back({entry.absoluteFilePath(), created->toMSecsSinceEpoch(), entry.size()});
    }
    std::sort(files.begin(), files.end(), [](const LogFile& a, const LogFile& b) {
        return a.created != b.created ? a.created > b.created : a.path > b.path;
    });
    return files;
}

bool RollingFileSink::openExisting(const LogFile& file) {
    file_.setFileName(file.path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    path_ = file.path;
    created_ = file.created;
    size_ = file_.size();
    return true;
}

bool RollingFileSink::openNew(qint64 now) {
    QDir().mkpath(directory_);
    for (qint64 created = now; created < now + kMaxNameClashes; ++created) {
        const QString path = directory_ + QLatin1Char('/') + prefix_ + QLatin1Char(' ') +
                             QDateTime::fromMSecsSinceEpoch(created).toString(kDateFormat) + kSuffix;
        file_.setFileName(path);
        if (file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            path_ = path;
            created_ = created;
            size_ = 0;
            return true;
        }
        if (!QFileInfo::exists(path))
            return false; // not a clash: the folder cannot be made or written to
    }
    return false;
}

bool RollingFileSink::reopen(qint64 now) {
    if (!path_.isEmpty() && QFileInfo::exists(path_) && openExisting({path_, created_, 0}))
        return true;
    if (!openNew(now))
        return false;
    deleteOldLogFiles();
    return true;
}

bool RollingFileSink::tooOld(qint64 created, qint64 now) const {
    return limits_.rollingFrequency.count() > 0 &&
           now - created >= qint64(limits_.rollingFrequency.count()) * 1000;
}

bool RollingFileSink::full(qint64 size) const {
    return limits_.maximumFileSize > 0 && size >= limits_.maximumFileSize;
}

void RollingFileSink::deleteOldLogFiles() {
    std::vector<LogFile> archived = logFiles();
    qint64 total = file_.isOpen() ? size_ : 0;
    const QString current = QFileInfo(path_).fileName();
    std::erase_if(archived, [&current](const LogFile& f) { return QFileInfo(f.path).fileName() == current; });
    for (const LogFile& f : archived)
        total += f.size;
    const size_t keep =
        limits_.maximumNumberOfLogFiles > 0 ? size_t(limits_.maximumNumberOfLogFiles - 1) : archived.size();
    while (!archived.empty() &&
           (archived.size() > keep || (limits_.logFilesDiskQuota > 0 && total > limits_.logFilesDiskQuota))) {
        QFile::remove(archived.back().path);
        total -= archived.back().size;
        archived.pop_back();
    }
}
