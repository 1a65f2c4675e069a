// The welcome and settings window, the hint and the debug window on recording services.
#include "app/AppDelegateSlideWand.h"
#include "app/DebugViewController/DebugViewController.h"
#include "app/HintViewController/HintViewController.h"
#include "app/SWDWelcomeWindowController/SWDWelcomeViewController.h"
#include "app/SWDWelcomeWindowController/SWDWelcomeWindowController.h"
#include "app/WelcomeWindowServices.h"

#include "Fakes.h"
#include "core/UserDefaultHelper.h"
#include "platform/Bundle.h"
#include "ui_DebugViewController.h"
#include "ui_HintViewController.h"
#include "ui_SWDWelcomeViewController.h"

#include <QDir>
#include <QMenu>
#include <gtest/gtest.h>

namespace {

struct Services : WelcomeWindowServices {
    const platform::Bundle& bundle() override { return bundle_; }
    platform::Alerts& alerts() override { return alerts_; }
    QMenu* applicationMenu() override { return &menu; }
    QWidget* instantiateWindow(const QString& identifier) override { return opened << identifier, nullptr; }
    platform::Bundle bundle_{QString(PC_BUNDLES_DIR) + "/PodiumCast.app"};
    RecordingAlerts alerts_;
    QMenu menu;
    QStringList opened;
};

// The window shows and its content appears; PC_SCREENSHOTS_DIR: where scripts/screenshots wants a picture.
void appear(QWidget& window, const char* picture = nullptr) {
    window.show();
    QCoreApplication::processEvents();
    if (const QString dir = qEnvironmentVariable("PC_SCREENSHOTS_DIR"); picture && !dir.isEmpty()) {
        EXPECT_TRUE(QDir().mkpath(dir) && window.grab().save(dir + "/" + picture + ".png"));
    }
}

} // namespace

TEST(WelcomeWindowTest, VersionChoiceRememberedOrAskedThenOkOpensTheMainWindow) {
    // Stored version and remembered; the boxes on once the window appeared (bit 0: version 1); a box clicked
    // and the remember box; the main window opened; the version stored at the end.
    using Case = std::tuple<int, bool, int, int, bool, const char*, int>;
    for (const auto& [stored, remembered, boxesOn, click, remember, opens, finalVersion] :
         {Case{0, false, 0b010, 0, false, "PodiumCast", 2}, Case{1, true, 0b001, 0, false, "SlideWand", 1},
          Case{2, true, 0b010, 0, false, "PodiumCast", 2}, Case{3, true, 0b100, 0, false, "SlideWand", 3},
          Case{7, true, 0, 0, false, "PodiumCast", 0}, Case{7, false, 0, 0, false, "PodiumCast", 0},
          Case{0, false, 0b010, 3, true, "SlideWand", 3}, Case{1, false, 0b001, 1, false, "SlideWand", 1}}) {
        SCOPED_TRACE(testing::Message() << stored << remembered << click);
        UserDefaultHelper::SaveSelectedVersion(stored);
        UserDefaultHelper::SaveIsStoppedShowingWelcome(remembered);
        Services services;
        for (const char* item : {"0", "1", "2", "3"})
            services.menu.addAction(item);
        SWDWelcomeWindowController window(services);
        Ui::SWDWelcomeViewController& ui = window.contentViewController()->ui();
        QCheckBox* b[] = {ui.checkBox1, ui.checkBox2, ui.checkBox3};
        const auto on = [&] {
            return b[0]->isChecked() | b[1]->isChecked() << 1 | b[2]->isChecked() << 2;
        };
        appear(window, stored == 0 && !click ? "welcome" : nullptr);
        EXPECT_EQ(on(), boxesOn);
        EXPECT_EQ(UserDefaultHelper::SelectedVersion(), boxesOn == 0b100 ? 3 : boxesOn);
        EXPECT_FALSE(services.menu.actions()[2]->isEnabled());
        EXPECT_EQ(services.menu.actions()[2]->isVisible(), remembered);
        if (click) {
            b[click - 1]->click();
            EXPECT_EQ(on(), 1 << (click - 1)) << "radio behaviour";
        }
        ui.checkBoxRemember->setChecked(remember);
        if (!remembered)
            ui.confirmButton->click();
        EXPECT_EQ(services.opened, QStringList{opens + QString("WindowController")});
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(UserDefaultHelper::SelectedVersion(), finalVersion);
        EXPECT_EQ(UserDefaultHelper::IsStoppedShowingWelcome(), remembered || remember);
    }
}

TEST(WelcomeWindowTest, PreferencesShowsOneSettingsWindowThatStoresAtOnceAndOnlyAsksForARestart) {
    UserDefaultHelper::SaveIsStoppedShowingWelcome(true);
    Services services;
    AppDelegate::Collaborators collaborators;
    collaborators.instantiateWelcomeWindowController = [&] {
        return std::make_unique<SWDWelcomeWindowController>(services);
    };
    AppDelegateSlideWand delegate(collaborators);
    delegate.tapPreferences();
    SWDWelcomeWindowController* window = delegate.settingWindowController();
    ASSERT_TRUE(window);
    Ui::SWDWelcomeViewController& ui = window->contentViewController()->ui();
    ui.checkBoxRemember->setChecked(true);
    appear(*window, "settings");
    EXPECT_EQ(window->windowTitle() + ui.titleLabel->text(), "SettingSetting");
    EXPECT_TRUE(ui.checkBoxRemember->isHidden() && !ui.checkBoxRemember->isChecked());
    ui.checkBox1->click();
    window->close(); // without OK: the click stays stored
    delegate.tapPreferences();
    EXPECT_TRUE(delegate.settingWindowController() == window && window->isVisible());
    EXPECT_EQ(UserDefaultHelper::SelectedVersion(), 1);
    ui.confirmButton->click();
    ASSERT_EQ(services.alerts_.shown().size(), 1u);
    const platform::AlertRequest restart = services.alerts_.shown()[0];
    EXPECT_EQ(std::tuple(restart.messageText, restart.informativeText, restart.buttons),
              std::tuple(QString("Success"), QString("Please restart this app to take effect!"),
                         QStringList{"OK"}));
    EXPECT_TRUE(services.opened.isEmpty() && !window->isVisible());
}

TEST(WelcomeWindowTest, HintStoresOnlyATickedBoxAndDebugDropsLineFeedsAndSpaces) {
    for (const auto& [earlier, ticked] :
         {std::pair{false, true}, std::pair{true, false}, std::pair{false, false}}) {
        UserDefaultHelper::SaveIsStoppedShowingHint(earlier);
        HintViewController hint;
        appear(hint, "hint");
        hint.ui().noShowCheckBox->setChecked(ticked);
        ticked ? hint.ui().confirmButton->click() : (void)hint.close(); // OK, or the close button
        EXPECT_EQ(UserDefaultHelper::IsStoppedShowingHint(), earlier || ticked) << earlier << ticked;
    }
    UserDefaultHelper::SaveDebugInfo(QStringLiteral("stored before"));
    DebugViewController debug;
    appear(debug, "debug");
    EXPECT_TRUE(debug.ui().infoTextField->text().isEmpty()) << "the window does not show the stored value";
    for (const auto& [typed, stored] : {std::pair{" a b\n\tc\r\n ", "ab\tc\r"}, std::pair{" \n \n", ""}}) {
        debug.ui().infoTextField->setText(typed);
        debug.ui().okButton->click();
        EXPECT_EQ(UserDefaultHelper::DebugInfo(), stored);
    }
    debug.ui().clearButton->click();
    EXPECT_EQ(debug.ui().infoTextField->text() + "|" + UserDefaultHelper::DebugInfo().value_or("absent"),
              "|");
}
