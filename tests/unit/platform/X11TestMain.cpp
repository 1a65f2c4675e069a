// Entry of the tests that drive a real X display: the xcb platform when a display with XTest is
// reachable (the tests then open windows on it), otherwise offscreen, and every test skips itself.
#include "platform/X11EventPoster.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    // Qt's runtime folder too, closed to others as Qt wants it.
    const QString runtime = home.path() + QStringLiteral("/run");
    if (QDir().mkdir(runtime) &&
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    const bool display = platform::X11EventPoster::open() != nullptr;
    qputenv("QT_QPA_PLATFORM", display ? "xcb" : "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
