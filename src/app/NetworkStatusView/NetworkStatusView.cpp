#include "NetworkStatusView.h"

#include "core/Logger.h"
#include "core/Notifications.h"
#include "platform/Bundle.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QTimer>

namespace {

constexpr int kLight = 12;

QPixmap picture(const platform::Bundle& bundle, const QString& name) {
    return QPixmap(bundle.pathForResource(name, QStringLiteral("png")).value_or(QString()));
}

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(13);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->adjustSize();
    return label;
}

} // namespace

NetworkStatusView::NetworkStatusView(const platform::Bundle& bundle, QWidget* parent,
                                     std::chrono::milliseconds tick)
    : QWidget(parent)
    , bundle_(bundle)
    , greenLight_(picture(bundle, QStringLiteral("greenLight")))
    , redLight_(picture(bundle, QStringLiteral("redLight"))) {
    loadUI();
    registerObservers();
    timeLeft_ = kTimeLeft;
    lanHeartbeatCountDownTimer = new QTimer(this);
    lanHeartbeatCountDownTimer->setInterval(tick);
    connect(lanHeartbeatCountDownTimer, &QTimer::timeout, this, &NetworkStatusView::checkTimeLeft);
    lanHeartbeatCountDownTimer->start();
}

NetworkStatusView::~NetworkStatusView() {
    NotificationCenter::defaultCenter().removeObserver(apiObserver_);
    NotificationCenter::defaultCenter().removeObserver(lanObserver_);
}

void NetworkStatusView::loadUI() {
    const auto light = [this] {
        auto* view = new QLabel(this);
        view->setFixedSize(kLight, kLight);
        view->setScaledContents(true);
        view->setPixmap(redLight_);
        return view;
    };
    lanIndicatorImageView = light();
    lanLightLabel = caption(bundle_.localizedString(QStringLiteral("LAN")), this);
    apiIndicatorImageView = light();
    apiLightLabel = caption(bundle_.localizedString(QStringLiteral("Internet")), this);
    // Screen readers (and the accessibility tree) tell the lights by name and state.
    lanIndicatorImageView->setAccessibleName(lanLightLabel->text());
    apiIndicatorImageView->setAccessibleName(apiLightLabel->text());
    lanIndicatorImageView->setAccessibleDescription(lanLight_);
    apiIndicatorImageView->setAccessibleDescription(apiLight_);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(lanIndicatorImageView, 0, Qt::AlignVCenter);
    row->addSpacing(8);
    row->addWidget(lanLightLabel, 0, Qt::AlignVCenter);
    row->addSpacing(12);
    row->addWidget(apiIndicatorImageView, 0, Qt::AlignVCenter);
    row->addSpacing(8);
    row->addWidget(apiLightLabel, 0, Qt::AlignVCenter);
    // The captions' widths are taken once, here.
    setFixedSize(lanLightLabel->width() + apiLightLabel->width() + 28 + 24, 17);
}

void NetworkStatusView::registerObservers() {
    apiObserver_ = observe(Notifications::kApiConnectionStatusChanged,
                           [this](bool on) { apiConnectionStatusChanged(on); });
    lanObserver_ = observe(Notifications::kLanConnectionStatusChanged,
                           [this](bool on) { lanConnectionStatusChanged(on); });
}

void NetworkStatusView::checkTimeLeft() {
    // The read and the decrement are one step, so a reset from another thread is never lost.
    if (timeLeft_.fetch_sub(1) > 1)
        return;
    post(Notifications::kLanConnectionStatusChanged, false);
}

void NetworkStatusView::lanConnectionStatusChanged(bool on) {
    if (on)
        timeLeft_ = kTimeLeft;
    showLight(lanIndicatorImageView, lanLight_,
              on ? QStringLiteral("greenLight") : QStringLiteral("redLight"),
              "lan: turning lanConnectionStatusLight to {}");
}

void NetworkStatusView::apiConnectionStatusChanged(bool on) {
    showLight(apiIndicatorImageView, apiLight_,
              on ? QStringLiteral("greenLight") : QStringLiteral("redLight"),
              "api: turning apiConnectionStatusLight to {}");
}

void NetworkStatusView::showLight(QLabel* light, QString& shown, const QString& image,
                                  const char* logFormat) {
    QMetaObject::invokeMethod(
        this,
        [this, light, &shown, image, logFormat] {
            // The countdown posts "off" every second once heartbeats stop: a light that shows its picture
            // already is left alone, so the window is not repainted for nothing.
            if (image == shown)
                return;
            LOG_INFO(fmt::runtime(logFormat), image);
            shown = image;
            light->setPixmap(image == u"greenLight" ? greenLight_ : redLight_);
            light->setAccessibleDescription(image);
        },
        Qt::QueuedConnection);
}
