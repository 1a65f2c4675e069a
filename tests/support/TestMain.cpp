// Entry of every unit-test executable: a private home and configuration folder for the process, so the
// user defaults and the log folder of a test never touch the real ones, and a Qt application object.
#include <QApplication>
#include <QTemporaryDir>
#include <QThreadPool>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Let Qt's pool threads (image scaling uses them) end now rather than while the process exits.
    QThreadPool::globalInstance()->waitForDone();
    return result;
}
