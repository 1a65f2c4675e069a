// Entry of every unit-test executable: a private home, configuration and runtime folder for the process,
// so the user defaults, the log folder and the bridges the scripts start never touch the real ones, and a
// Qt application object.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

int main(int argc, char** argv) {
    // A death test's child runs in its parent's folders, which it inherits: it ends without removing
    // anything of its own.
    const bool deathTestChild = std::any_of(argv + 1, argv + argc, [](const char* argument) {
        return std::strncmp(argument, "--gtest_internal_run_death_test", 31) == 0;
    });
    std::optional<QTemporaryDir> home;
    if (!deathTestChild) {
        home.emplace();
        const QString runtime = home->path() + QStringLiteral("/run");
        qputenv("HOME", home->path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home->path() + QStringLiteral("/.config")).toUtf8());
        if (home->isValid() && QDir().mkdir(runtime) &&
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        else
            qunsetenv("XDG_RUNTIME_DIR"); // the scripts then start no bridge
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Let Qt's pool threads (image scaling uses them) end now rather than while the process exits.
    QThreadPool::globalInstance()->waitForDone();
    return result;
}
