#include "SWDWelcomeViewController.h"

#include "ui_SWDWelcomeViewController.h"

#include "app/WelcomeWindowServices.h"
#include "core/UserDefaultHelper.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"

#include <QMenu>

SWDWelcomeViewController::SWDWelcomeViewController(WelcomeWindowServices& services, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , ui_(std::make_unique<Ui::SWDWelcomeViewController>()) {
    ui_->setupUi(this);
    for (QAbstractButton* box : {ui_->checkBox1, ui_->checkBox2, ui_->checkBox3})
        connect(box, &QAbstractButton::clicked, this, [this, box] { tapCheckBox(box); });
    connect(ui_->confirmButton, &QPushButton::clicked, this, &SWDWelcomeViewController::tapOkButton);
}

SWDWelcomeViewController::~SWDWelcomeViewController() = default;

QString SWDWelcomeViewController::mainWindowIdentifier(qint64 version) {
    return version == 1 || version == 3 ? QStringLiteral("SlideWandWindowController")
                                        : QStringLiteral("PodiumCastWindowController");
}

void SWDWelcomeViewController::viewDidLoad() {
    QLabel* const images[] = {ui_->imageView1, ui_->imageView2, ui_->imageView3};
    for (int version = 1; version <= 3; ++version) {
        const auto path = services_.bundle().pathForResource(QStringLiteral("version%1").arg(version),
                                                             QStringLiteral("png"));
        QLabel* image = images[version - 1];
        image->setStyleSheet(QStringLiteral("border: 1px solid rgb(170, 170, 170);")); // light grey
        image->setPixmap(QPixmap(path.value_or(QString())));
    }
}

QAbstractButton* SWDWelcomeViewController::viewWithTag(qint64 tag) const {
    for (QAbstractButton* box : {ui_->checkBox1, ui_->checkBox2, ui_->checkBox3}) {
        if (box->property("tag").toLongLong() == tag)
            return box;
    }
    return nullptr;
}

void SWDWelcomeViewController::viewDidAppear() {
    if (isSettingPage_) {
        ui_->titleLabel->setText(QStringLiteral("Setting"));
        ui_->checkBoxRemember->hide();
        ui_->checkBoxRemember->setChecked(false);
    }
    const qint64 stored = UserDefaultHelper::SelectedVersion();
    tapCheckBox(stored != 0 ? viewWithTag(stored) : ui_->checkBox2);
    if (isSettingPage_)
        return;
    if (UserDefaultHelper::IsStoppedShowingWelcome()) {
        services_.instantiateWindow(mainWindowIdentifier(UserDefaultHelper::SelectedVersion()));
        window()->close();
    } else if (QMenu* menu = services_.applicationMenu(); menu && menu->actions().size() > 2) {
        menu->actions()[2]->setVisible(false);
    }
}

void SWDWelcomeViewController::tapCheckBox(QAbstractButton* sender) {
    for (QAbstractButton* box : {ui_->checkBox1, ui_->checkBox2, ui_->checkBox3})
        box->setChecked(false);
    if (sender)
        sender->setChecked(true);
    UserDefaultHelper::SaveSelectedVersion(sender ? sender->property("tag").toLongLong() : 0);
}

void SWDWelcomeViewController::tapOkButton() {
    if (isSettingPage_) {
        services_.alerts().runModal({QStringLiteral("Success"),
                                     QStringLiteral("Please restart this app to take effect!"),
                                     {QStringLiteral("OK")},
                                     platform::AlertStyle::Informational});
        window()->close();
        return;
    }
    const bool slideWand = ui_->checkBox1->isChecked() || ui_->checkBox3->isChecked();
    services_.instantiateWindow(slideWand ? QStringLiteral("SlideWandWindowController")
                                          : QStringLiteral("PodiumCastWindowController"));
    if (ui_->checkBoxRemember->isChecked())
        UserDefaultHelper::SaveIsStoppedShowingWelcome(true);
    window()->close();
}
