#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// Packs the log folder (the rolling logs and the crash logs) into one zip archive and saves it on the
// Desktop, or in a folder the user picks. One export runs at a time; a second one asked for meanwhile is
// refused with a log line.
class LogHelper {
public:
    // Returns at once: the archive is built on a background thread, saved and reported on the main thread.
    static void ExportLogFiles();
    // The same, always asking for a folder.
    static void ExportLogFilesToUserSelectedFolder();

    // The archive's bytes, each file of the log folder an entry under its bare name with its modification
    // time; nothing (after the error alert) when the working archive cannot be made.
    static std::optional<QByteArray> getLogZipFileData();
    // Saves the bytes at the path atomically and tells the user how it went.
    static void writeZipData(const QByteArray& data, const QString& toFile);
    static QString dateToString(const QDateTime& date, const QString& withDateFormat);

    // The working archive inside the log folder.
    static constexpr const char* kWorkingArchiveName = "feadbackLog.zip";

private:
    static void exportLogFiles(bool toDesktop);
};
