#include "LogHelper.h"

#include "core/ErrorHelper.h"
#include "core/GlobalQueue.h"
#include "core/Logger.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"
#include "platform/HostFacts.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <atomic>
#include <zip.h>

namespace {

std::atomic<bool> exporting{false};

QString localized(const char* key) {
    return platform::Bundle::main()->localizedString(QString::fromUtf8(key));
}

// Adds one file under its bare name; false when it could not be read.
bool addFile(zipFile zip, const QFileInfo& file) {
    QFile in(file.filePath());
    if (!file.isFile() || !in.open(QIODevice::ReadOnly))
        return false;
    const QDateTime modified = file.lastModified();
    zip_fileinfo info{};
    info.tmz_date.tm_sec = uInt(modified.time().second());
    info.tmz_date.tm_min = uInt(modified.time().minute());
    info.tmz_date.tm_hour = uInt(modified.time().hour());
    info.tmz_date.tm_mday = uInt(modified.date().day());
    info.tmz_date.tm_mon = uInt(modified.date().month() - 1);
    info.tmz_date.tm_year = uInt(modified.date().year());
    const QByteArray name = file.fileName().toUtf8();
    constexpr uLong kUtf8Names = 1 << 11;
    if (zipOpenNewFileInZip4_64(zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                nullptr, 0, 0, kUtf8Names, 0) != ZIP_OK)
        return false;
    bool ok = true;
    QByteArray chunk;
    while (ok && !(chunk = in.read(1 << 16)).isEmpty())
        ok = zipWriteInFileInZip(zip, chunk.constData(), unsigned(chunk.size())) == ZIP_OK;
    return zipCloseFileInZip(zip) == ZIP_OK && ok && in.error() == QFile::NoError;
}

void onMainThread(std::function<void()> work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

} // namespace

QString LogHelper::dateToString(const QDateTime& date, const QString& withDateFormat) {
    return date.toLocalTime().toString(withDateFormat);
}

std::optional<QByteArray> LogHelper::getLogZipFileData() {
    const QString folder = Logger::lastLogsDirectory().value_or(QString());
    LOG_DEBUG("logDirectory = {}", folder);
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    names.removeAll(QString::fromLatin1(kWorkingArchiveName));
    LOG_DEBUG("logsNameArray = ({})", names.join(QStringLiteral(", ")));

    const QString archivePath = folder + u'/' + QString::fromLatin1(kWorkingArchiveName);
    zipFile zip = folder.isEmpty()
                      ? nullptr
                      : zipOpen64(QFile::encodeName(archivePath).constData(), APPEND_STATUS_CREATE);
    if (!zip) {
        ErrorHelper::ShowErrorMessage(localized("Failed to create zip file"));
        QFile::remove(archivePath);
        return std::nullopt;
    }
    LOG_DEBUG("Create zip file succeed: {}", archivePath);
    for (const QString& name : names)
        addFile(zip, QFileInfo(folder + u'/' + name)); // a file that cannot be read is left out
    const bool closed = zipClose(zip, nullptr) == ZIP_OK;
    QFile archive(archivePath);
    std::optional<QByteArray> bytes;
    if (closed && archive.open(QIODevice::ReadOnly))
        bytes = archive.readAll();
    archive.close();
    archive.remove();
    if (!bytes)
        ErrorHelper::ShowErrorMessage(localized("Failed to create zip file"));
    return bytes;
}

void LogHelper::writeZipData(const QByteArray& data, const QString& toFile) {
    QSaveFile file(toFile);
    const bool saved = file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
    platform::AlertRequest alert;
    alert.buttons = {localized("OK")};
    if (saved) {
        alert.style = platform::AlertStyle::Informational;
        alert.messageText = localized("Success");
        alert.informativeText =
            localized("Log files has been exported to %@").replace(QStringLiteral("%@"), toFile);
    } else {
        alert.style = platform::AlertStyle::Warning;
        alert.messageText = localized("Error");
        alert.informativeText =
            localized("Failed to export log files to %@").replace(QStringLiteral("%@"), toFile);
    }
    platform::Platform::alerts()->runModal(alert);
}

void LogHelper::ExportLogFiles() {
    exportLogFiles(true);
}

void LogHelper::ExportLogFilesToUserSelectedFolder() {
    exportLogFiles(false);
}

void LogHelper::exportLogFiles(bool toDesktop) {
    if (exporting.exchange(true)) {
        LOG_INFO("A log export is running already; this one is not started.");
        return;
    }
    GlobalQueue::async([toDesktop] {
        std::optional<QByteArray> data = getLogZipFileData();
        onMainThread([toDesktop, data = std::move(data)] {
            const auto done = [] {
                exporting = false;
            };
            if (!data)
                return done();
            const QString user = platform::Platform::hostFacts()->userName();
            const QString time = dateToString(QDateTime::currentDateTime(), QStringLiteral("yyyyMMddHHmmss"));
            const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
            if (toDesktop && !desktop.isEmpty() && QFileInfo(desktop).isDir()) {
                writeZipData(*data, QDir::cleanPath(desktop) + u'/' + QString(user).remove(u'/') + u'-' +
                                        time + QStringLiteral(".zip"));
                return done();
            }
            platform::Platform::alerts()->beginFolderPanel(
                [data = *data, user, time, done](std::optional<QString> folder) {
                    if (folder)
                        writeZipData(data, *folder + u'/' + user + u'-' + time + QStringLiteral(".zip"));
                    done();
                });
        });
    });
}
