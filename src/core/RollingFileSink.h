#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <spdlog/sinks/base_sink.h>
#include <vector>

// When the rolling file sink starts a new file and which old files it keeps. A zero turns that limit off.
struct RollingFileLimits {
    std::chrono::seconds rollingFrequency{864000}; // 10 days, counted from the file's creation
    qint64 maximumFileSize = 52428800;             // 50 MiB
    int maximumNumberOfLogFiles = 7;               // the current file included
    qint64 logFilesDiskQuota = 20971520;           // 20 MiB over all the log files, the current one included
};

// A sink that writes the log lines into "<prefix> yyyy-MM-dd--HH-mm-ss-zzz.log" files in one folder (created
// when missing). The time in the name is the file's creation time, in local time.
//
// At start it goes on with the newest log file in the folder when that file is younger than the rolling
// frequency and smaller than the maximum size, and starts a new file otherwise. Before a write it rolls to a
// new file once the current one is as old as the rolling frequency or as large as the maximum size. At start
// and after every roll it deletes the oldest files other than the current one until at most
// maximumNumberOfLogFiles remain and their total size is within the disk quota. Only files named with this
// sink's prefix and pattern are counted or deleted; the current file is never deleted.
//
// Each line goes to the file as it is logged, so nothing is lost when the process dies. A write never throws:
// when the file or its folder is gone, or the disk refuses the line, the line is dropped and the next write
// starts over (recreating the folder and a file as needed).
class RollingFileSink final : public spdlog::sinks::base_sink<std::mutex> {
public:
    using Clock = std::function<QDateTime()>;

    RollingFileSink(const QString& logsDirectory, const QString& prefix, RollingFileLimits limits = {},
                    Clock clock = &QDateTime::currentDateTimeUtc);

    QString logsDirectory() const { return directory_; }
    QString prefix() const { return prefix_; }
    const RollingFileLimits& limits() const { return limits_; }

    // The file the next line goes to; empty while no file could be opened.
    QString currentFilePath();

    // The creation time a log file of this sink carries in its name; nothing for any other file name.
    std::optional<QDateTime> creationTimeOf(const QString& fileName) const;

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override;

private:
    struct LogFile {
        QString path;
        qint64 created; // milliseconds since the epoch
        qint64 size;
    };

    void write(const char* data, qint64 size);
    std::vector<LogFile> logFiles() const; // newest first
    bool openExisting(const LogFile& file);
    bool openNew(qint64 now);
    bool reopen(qint64 now);
    bool tooOld(qint64 created, qint64 now) const;
    bool full(qint64 size) const;
    void deleteOldLogFiles();

    const QString directory_;
    const QString prefix_;
    const RollingFileLimits limits_;
    const Clock clock_;

    // Guarded by the sink's mutex.
    QFile file_;
    QString path_;
    qint64 created_ = 0;
    qint64 size_ = 0;
};
