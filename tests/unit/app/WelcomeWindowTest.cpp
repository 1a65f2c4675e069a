// The welcome and settings window, the hint and the debug window on recording services, and the settings
// window reached through the application's own menu.
#include "app/AppDelegateSlideWand.h"
#include "app/AppServices.h"
#include "app/DebugViewController/DebugViewController.h"
#include "app/HintViewController/HintViewController.h"
#include "app/SWDWelcomeWindowController/SWDWelcomeViewController.h"
#include "app/SWDWelcomeWindowController/SWDWelcomeWindowController.h"

#include "Fakes.h"
#include "core/UserDefaultHelper.h"
#include "core/UserDefaults.h"
#include "platform/Bundle.h"
#include "ui_DebugViewController.h"
#include "ui_HintViewController.h"
#include "ui_SWDWelcomeViewController.h"

#include <QDir>
#include <QKeyEvent>
#include <QMenu>
#include <gtest/gtest.h>

namespace {

struct RecordingServices : WelcomeWindowServices {
    RecordingServices() {
        for (const char* item : {"0", "1", "2", "3"})
            menu.addAction(item);
    }
    const platform::Bundle& bundle() override { return bundle_; }
    platform::Alerts& alerts() override { return alerts_; }
    QMenu* applicationMenu() override { return &menu; }
    QWidget* instantiateWindow(const QString& identifier) override {
        opened << identifier;
        return nullptr;
    }
    platform::Bundle bundle_{QString(PC_BUNDLES_DIR) + "/PodiumCast.app"};
    RecordingAlerts alerts_;
    QMenu menu;
    QStringList opened;
};

void storeDefaults(qint64 version, bool remembered) {
    for (const char* key :
         {"SelectedVersion", "IsStoppedShowingWelcome", "IsStoppedShowingHint", "DebugInfo"})
        UserDefaults::remove(key);
    if (version)
        UserDefaultHelper::SaveSelectedVersion(version);
    if (remembered)
        UserDefaultHelper::SaveIsStoppedShowingWelcome(true);
}

void appear(QWidget& window, const char* picture = nullptr) {
    window.show();
    QCoreApplication::processEvents();
    if (const QString dir = qEnvironmentVariable("PC_SCREENSHOTS_DIR"); !dir.isEmpty() && picture) {
        EXPECT_TRUE(QDir().mkpath(dir) && window.grab().save(dir + "/" + picture + ".png"));
    }
}

void pressReturn(QWidget& window) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &press);
}

} // namespace

TEST(WelcomeWindowTest, VersionChoiceRememberedOrAskedThenOk) {
    const char *slideWand = "SlideWandWindowController", *podiumCast = "PodiumCastWindowController";
    struct Case {
        qint64 stored;
        bool remembered;
        const char* boxesOn; // after the window appears
        std::vector<int> clicks;
        bool remember;
        const char* opens;
        qint64 finalVersion;
    };
    for (const Case& c : std::vector<Case>{{0, false, "010", {}, false, podiumCast, 2},
                                           {1, true, "100", {}, false, slideWand, 1},
                                           {2, true, "010", {}, false, podiumCast, 2},
                                           {3, true, "001", {}, false, slideWand, 3},
                                           {7, true, "000", {}, false, podiumCast, 0},
                                           {7, false, "000", {}, false, podiumCast, 0},
                                           {0, false, "010", {3}, true, slideWand, 3},
                                           {2, false, "010", {1, 1}, false, slideWand, 1}}) {
        SCOPED_TRACE(testing::Message() << c.stored << c.remembered << c.clicks.size());
        storeDefaults(c.stored, c.remembered);
        RecordingServices services;
        SWDWelcomeWindowController window(services);
        Ui::SWDWelcomeViewController& ui = window.contentViewController()->ui();
        appear(window, c.stored == 0 && c.clicks.empty() ? "welcome" : nullptr);
        QCheckBox* boxes[] = {ui.checkBox1, ui.checkBox2, ui.checkBox3};
        const auto boxesOn = [&] {
            return QString("%1%2%3")
                .arg(boxes[0]->isChecked())
                .arg(boxes[1]->isChecked())
                .arg(boxes[2]->isChecked());
        };
        EXPECT_EQ(boxesOn(), c.boxesOn);
        EXPECT_EQ(UserDefaultHelper::SelectedVersion(), c.boxesOn == QString("000") ? 0
                                                        : c.stored                  ? c.stored
                                                                                    : 2);
        EXPECT_FALSE(services.menu.actions()[2]->isEnabled());
        EXPECT_EQ(services.menu.actions()[2]->isVisible(), c.remembered);
        if (!c.remembered) {
            EXPECT_TRUE(services.opened.isEmpty() && window.isVisible());
            for (const int version : c.clicks) {
                boxes[version - 1]->click();
                EXPECT_EQ(boxesOn(), QString("000").replace(version - 1, 1, "1"));
            }
            ui.checkBoxRemember->setChecked(c.remember);
            pressReturn(window);
        }
        EXPECT_EQ(services.opened, QStringList{c.opens});
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(UserDefaultHelper::SelectedVersion(), c.finalVersion);
        EXPECT_EQ(UserDefaultHelper::IsStoppedShowingWelcome(), c.remembered || c.remember);
    }
}

TEST(WelcomeWindowTest, SettingsPageStoresAtOnceAndOnlyAsksForARestart) {
    storeDefaults(2, true);
    RecordingServices services;
    SWDWelcomeWindowController window(services);
    Ui::SWDWelcomeViewController& ui = window.contentViewController()->ui();
    window.setIsSettingPage(true);
    window.contentViewController()->setIsSettingPage(true);
    ui.checkBoxRemember->setChecked(true);
    appear(window, "settings");
    EXPECT_EQ(window.windowTitle() + ui.titleLabel->text(), "SettingSetting");
    EXPECT_TRUE(!ui.checkBoxRemember->isVisible() && !ui.checkBoxRemember->isChecked());
    EXPECT_TRUE(services.menu.actions()[2]->isEnabled() && services.menu.actions()[2]->isVisible());
    ui.checkBox1->click();
    window.close(); // without OK: the click stays stored
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 1);
    appear(window);
    EXPECT_TRUE(ui.checkBox1->isChecked());
    pressReturn(window);
    ASSERT_EQ(services.alerts_.shown().size(), 1u);
    EXPECT_EQ(services.alerts_.shown()[0].messageText + "|" + services.alerts_.shown()[0].informativeText,
              "Success|Please restart this app to take effect!");
    EXPECT_TRUE(services.opened.isEmpty() && !window.isVisible());
}

TEST(WelcomeWindowTest, PreferencesMenuItemShowsOneSettingsWindow) {
    storeDefaults(0, false);
    AppServices services(std::make_shared<platform::Bundle>(QString(PC_BUNDLES_DIR) + "/SlideWand.app"));
    const auto podiumCast = AppDelegate::create("AppDelegatePodiumCast", services.delegateCollaborators());
    services.buildApplicationMenu(*podiumCast);
    EXPECT_TRUE(services.applicationMenu()->actions()[2]->isSeparator());
    const auto delegate = AppDelegate::create("AppDelegateSlideWand", services.delegateCollaborators());
    services.buildApplicationMenu(*delegate);
    const auto& slideWand = static_cast<AppDelegateSlideWand&>(*delegate);
    services.applicationMenu()->actions()[2]->trigger();
    SWDWelcomeWindowController* first = slideWand.settingWindowController();
    ASSERT_TRUE(first && first->isVisible());
    first->close();
    services.applicationMenu()->actions()[2]->trigger();
    EXPECT_EQ(slideWand.settingWindowController(), first);
    EXPECT_TRUE(first->isVisible() && first->windowTitle() == "Setting");
}

TEST(WelcomeWindowTest, HintStoresOnlyATickedBoxAndDebugDropsLineFeedsAndSpaces) {
    for (const auto& [earlier, ticked, byOk] :
         {std::tuple{false, true, true}, std::tuple{false, true, false}, std::tuple{false, false, true},
          std::tuple{true, false, false}}) {
        storeDefaults(0, false);
        UserDefaultHelper::SaveIsStoppedShowingHint(earlier);
        HintViewController hint;
        appear(hint, "hint");
        hint.ui().noShowCheckBox->setChecked(ticked);
        byOk ? hint.ui().confirmButton->click() : (void)hint.close();
        EXPECT_FALSE(hint.isVisible());
        EXPECT_EQ(UserDefaultHelper::IsStoppedShowingHint(), earlier || ticked) << earlier << ticked << byOk;
    }
    DebugViewController debug;
    appear(debug, "debug");
    for (const auto& [typed, stored] : {std::pair{" a b\n\tc\r\n ", "ab\tc\r"}, std::pair{" \n \n", ""}}) {
        debug.ui().infoTextField->setText(typed);
        debug.ui().okButton->click();
        EXPECT_EQ(UserDefaultHelper::DebugInfo(), stored);
    }
    UserDefaultHelper::SaveDebugInfo("stored");
    debug.ui().clearButton->click();
    EXPECT_EQ(debug.ui().infoTextField->text() + "|" + UserDefaultHelper::DebugInfo().value_or("absent"),
              "|");
    EXPECT_TRUE(DebugViewController().ui().infoTextField->text().isEmpty()) << "opens with its own text";
}
