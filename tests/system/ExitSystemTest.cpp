// The application's end while its children run: the bundle's executable with the fake presentation
// application, ended by SIGTERM in the middle of an export.
#include "SystemTestSupport.h"

#include "FakeCloud.h"
#include "FakePresentation.h"
#include "TestBundle.h"
#include "Wait.h"

#include <QDir>
#include <QFile>

#include <csignal>

#include <gtest/gtest.h>

namespace {

// The processes of the group that have not ended (a zombie nobody reaped yet has ended).
QStringList runningInGroup(qint64 group) {
    QStringList running;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!entry.front().isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // "pid (name) state ppid pgrp ...": the name may hold anything, so the fields count from its end.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[2].toLongLong() == group && fields[0] != "Z")
            running << entry + u' ' + QString::fromUtf8(line.left(line.lastIndexOf(')') + 1));
    }
    return running;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

TEST(ExitSystemTest, ATerminationMidExportEndsTheExportWithItsChildrenAndLeavesNoPdf) {
    FakeCloud cloud;
    ASSERT_TRUE(cloud.start());
    AppProcess host("PodiumCast", {{"ApiRoot", cloud.root()}});
    FakePresentation fake(host.bundle());
    fake.openPpt("/decks/talk.pptx");
    fake.setSlide(FakePresentation::App::PowerPoint, 1, 3);
    fake.setPdfPages(FakePresentation::App::PowerPoint, 3);
    // The first poll exports the deck; the export hangs with half its file written.
    fake.setExportHold(60);
    ASSERT_TRUE(host.start()) << host.output().toStdString();
    ASSERT_TRUE(waitUntil([&] {
        return fake.lastProcessId("ppt2Pdf") && !filesIn(fake.exportFolder()).isEmpty();
    })) << host.output().toStdString();
    const qint64 exporter = fake.lastProcessId("ppt2Pdf");
    // The script leads a group of its own, with the waits it runs.
    ASSERT_FALSE(runningInGroup(exporter).isEmpty());

    EXPECT_EQ(host.terminate(), 0) << host.output().toStdString();
    const QStringList left = runningInGroup(exporter);
    EXPECT_TRUE(left.isEmpty()) << left.join(u'\n').toStdString();
    if (!left.isEmpty()) // nothing of the test outlives it
        ::kill(-pid_t(exporter), SIGKILL);
    // The export was asked to end before it was killed, and removed its half; nothing came into the cache.
    EXPECT_TRUE(filesIn(fake.exportFolder()).isEmpty())
        << filesIn(fake.exportFolder()).join(' ').toStdString();
    EXPECT_TRUE(filesIn(fake.cacheFolder()).isEmpty()) << filesIn(fake.cacheFolder()).join(' ').toStdString();
}
