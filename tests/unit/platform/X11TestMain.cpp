// Entry of the tests that drive a real X display: the xcb platform when a display with XTest is
// reachable (the tests then open windows on it), otherwise offscreen, and every test skips itself.
#include "platform/X11EventPoster.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    const bool display = platform::X11EventPoster::open() != nullptr;
    qputenv("QT_QPA_PLATFORM", display ? "xcb" : "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
