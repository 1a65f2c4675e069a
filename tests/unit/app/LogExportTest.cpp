// The log export: the archive read back with minizip, the Desktop and the folder chooser.
#include "app/LogHelper.h"

#include "Fakes.h"
#include "LogRecorder.h"
#include "Wait.h"
#include "core/Logger.h"
#include "platform/Platform.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>
#include <unzip.h>

namespace {

struct Entry {
    QString name;
    QByteArray content;
    QDateTime modified;
    bool operator==(const Entry&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Entry& e) {
        return out << e.name.toStdString() << " (" << e.content.size() << " bytes, "
                   << e.modified.toString(Qt::ISODate).toStdString() << ")";
    }
};

std::vector<Entry> entriesOf(const QString& archive) {
    std::vector<Entry> entries;
    unzFile zip = unzOpen64(QFile::encodeName(archive).constData());
    if (!zip)
        return entries;
    for (int more = unzGoToFirstFile(zip); more == UNZ_OK; more = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        char name[256];
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        QByteArray content(qsizetype(info.uncompressed_size), '\0');
        unzOpenCurrentFile(zip);
        unzReadCurrentFile(zip, content.data(), unsigned(content.size()));
        unzCloseCurrentFile(zip);
        const tm_unz& t = info.tmu_date;
        entries.push_back({QString::fromUtf8(name), content,
                           QDateTime(QDate(int(t.tm_year), int(t.tm_mon) + 1, int(t.tm_mday)),
                                     QTime(int(t.tm_hour), int(t.tm_min), int(t.tm_sec)))});
    }
    unzClose(zip);
    return entries;
}

class LogExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Platform::setAlerts(alerts);
        platform::Platform::setHostFacts(host);
        Logger::addLogger(std::make_shared<spdlog::sinks::null_sink_mt>(), LogLevel::Verbose, logs.path());
    }
    void write(const QString& name, const QByteArray& content, const QDateTime& modified) {
        QFile file(logs.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.flush();
        file.setFileTime(modified, QFileDevice::FileModificationTime);
    }
    // Runs one export from the main thread's point of view and gives the archive it saved.
    QString exportAndWait() {
        const size_t shown = alerts->shown().size();
        const int panels = alerts->folderPanels;
        LogHelper::ExportLogFiles();
        EXPECT_TRUE(
            waitUntil([&] { return alerts->shown().size() > shown || alerts->folderPanels > panels; }, 5000))
            << "the export never finished";
        const QStringList saved = QDir(home()).entryList({"*.zip"}, QDir::Files);
        return saved.isEmpty() ? QString() : home() + "/" + saved.first();
    }
    static QString home() { return QDir::homePath() + "/Desktop"; }

    LogRecorder log; // the folder's logger is added after it, so that it is the last one
    QTemporaryDir logs;
    std::shared_ptr<RecordingAlerts> alerts = std::make_shared<RecordingAlerts>();
    std::shared_ptr<FakeHostFacts> host = std::make_shared<FakeHostFacts>();
};

} // namespace

TEST_F(LogExportTest, EveryReadableFileBecomesAnEntryUnderItsNameWithItsTime) {
    const QDateTime when(QDate(2025, 11, 30), QTime(21, 4, 6));
    write("app 2026-12-01--10-00-00-000.log", QByteArray(300000, 'x') + "end", when);
    write("crash-20261201100102.log", "crashTime: ...", when.addDays(1));
    QDir(logs.path()).mkdir("older");
    QFile::link(logs.filePath("removed meanwhile"), logs.filePath("dangling.log"));

    const std::optional<QByteArray> data = LogHelper::getLogZipFileData();
    ASSERT_TRUE(data);
    EXPECT_FALSE(QFile::exists(logs.filePath(LogHelper::kWorkingArchiveName)));
    QTemporaryDir out;
    QFile archive(out.filePath("a.zip"));
    ASSERT_TRUE(archive.open(QIODevice::WriteOnly));
    archive.write(*data);
    archive.close();
    const std::vector<Entry> expected{
        {"app 2026-12-01--10-00-00-000.log", QByteArray(300000, 'x') + "end", when},
        {"crash-20261201100102.log", "crashTime: ...", when.addDays(1)}};
    EXPECT_EQ(entriesOf(archive.fileName()), expected);

    QDir(logs.path()).removeRecursively(); // nothing left to pack: still an archive, of no entries
    QDir().mkpath(logs.path());
    EXPECT_EQ(LogHelper::getLogZipFileData(), QByteArray("PK\x05\x06") + QByteArray(18, '\0'));
}

TEST_F(LogExportTest, SavedOnTheDesktopOrInAChosenFolderOneExportAtATime) {
    write("a.log", "line", QDateTime::currentDateTime());

    // No Desktop: the folder chooser; cancelling leaves nothing and says nothing.
    QDir(home()).removeRecursively();
    exportAndWait();
    EXPECT_EQ(alerts->folderPanels, 1);
    EXPECT_TRUE(alerts->shown().empty());
    QTemporaryDir chosen;
    alerts->folderAnswer = chosen.path();
    exportAndWait();
    const QStringList inChosen = QDir(chosen.path()).entryList({"tester-*.zip"}, QDir::Files);
    ASSERT_EQ(inChosen.size(), 1);
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown()[0].informativeText,
              "Log files has been exported to " + chosen.filePath(inChosen[0]));

    // A Desktop: saved there without asking, the login name without "/"; a second export meanwhile is
    // refused.
    QDir().mkpath(home());
    host->user = "ann/lee";
    LogHelper::ExportLogFiles();
    const QString saved = exportAndWait();
    EXPECT_EQ(log.count(spdlog::level::info, "A log export is running already; this one is not started."), 1);
    ASSERT_TRUE(QRegularExpression("/Desktop/annlee-\\d{14}\\.zip$").match(saved).hasMatch())
        << saved.toStdString();
    ASSERT_EQ(alerts->shown().size(), 2u);
    const platform::AlertRequest success = alerts->shown()[1];
    EXPECT_EQ(success.messageText, "Success");
    EXPECT_EQ(success.informativeText, "Log files has been exported to " + saved);
    EXPECT_EQ(success.style, platform::AlertStyle::Informational);
    EXPECT_EQ(entriesOf(saved).size(), 1u);

    LogHelper::writeZipData("bytes", "/nonexistent folder/x.zip");
    ASSERT_EQ(alerts->shown().size(), 3u);
    EXPECT_EQ(alerts->shown()[2].messageText, "Error");
    EXPECT_EQ(alerts->shown()[2].informativeText, "Failed to export log files to /nonexistent folder/x.zip");
    EXPECT_EQ(alerts->shown()[2].style, platform::AlertStyle::Warning);
}
