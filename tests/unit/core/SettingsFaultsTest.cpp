// The user defaults when their file is broken or cannot be written.
#include "core/LocalUtils.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"

#include "LogRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

TEST(SettingsFaultsTest, AnUnreadableFileIsKeptAsideAndTheMachineIdHoldsWhenNothingCanBeStored) {
    const QString path = UserDefaults::filePath();
    const QDir folder = QFileInfo(path).dir();
    LogRecorder log;
    ASSERT_TRUE(folder.mkpath("."));
    {
        QFile broken(path);
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("{\"MachineIndex\": \"AB");
    }
    UserDefaultHelper::SaveSelectedVersion(3);
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 3);
    const QStringList aside = folder.entryList({QFileInfo(path).fileName() + ".unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(folder.filePath(aside[0]));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "{\"MachineIndex\": \"AB");
    EXPECT_EQ(log.at(spdlog::level::warn).size(), 2u); // unreadable, and kept aside

    // A folder where the file should be: nothing can be stored, and the id still holds.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::remove(folder.filePath(aside[0])));
    ASSERT_TRUE(folder.mkdir(QFileInfo(path).fileName()));
    const QString first = LocalUtils::GetMachineIndex();
    EXPECT_EQ(first.size(), 32);
    EXPECT_EQ(LocalUtils::GetMachineIndex(), first);
    EXPECT_EQ(LocalUtils::GetMachineIndex(), first);
    EXPECT_EQ(
        log.count(spdlog::level::warn,
                  "The machine id cannot be stored in the user defaults; it holds until the program ends."),
        1);
    ASSERT_TRUE(folder.rmdir(QFileInfo(path).fileName()));
    EXPECT_EQ(LocalUtils::GetMachineIndex(), first) << "stored again once the file can be written";
    EXPECT_EQ(UserDefaultHelper::MachineIndex(), first);
    QFile::remove(path);
}
